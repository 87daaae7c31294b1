#ifndef STAMPLINE_FUZZ_FUZZ_ARGUMENTS_H_
#define STAMPLINE_FUZZ_FUZZ_ARGUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A fuzzer's bytes as a command line: the first byte is left to the caller
// (it chooses POSIXLY_CORRECT), the rest splits at NUL bytes into the
// arguments after the program name. Empty when there are too many to be
// worth scanning.
inline std::vector<std::string> fuzzArguments(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"stampline"};
  std::string current;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  if (args.size() > 64) args.clear();
  return args;
}

#endif  // STAMPLINE_FUZZ_FUZZ_ARGUMENTS_H_
