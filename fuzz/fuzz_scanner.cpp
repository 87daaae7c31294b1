// Our option scanner against glibc's getopt on arbitrary command lines: the
// first byte chooses whether POSIXLY_CORRECT is set, the rest splits at NUL
// bytes into the argument vector. Any difference in a returned letter, the
// index, the vector's order or the diagnostic is a failure.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_arguments.h"
#include "scanner_differential.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<std::string> args = fuzzArguments(data, size);
  if (args.empty()) return 0;

  static stampline::testing::StandardErrorCapture errors;
  long calls = 0;
  const std::string difference =
      stampline::testing::compareScanners(args, (data[0] & 1U) != 0, errors, calls);
  if (!difference.empty()) {
    std::fprintf(stdout, "%s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
