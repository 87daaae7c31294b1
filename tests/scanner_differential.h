#ifndef STAMPLINE_TESTS_SCANNER_DIFFERENTIAL_H_
#define STAMPLINE_TESTS_SCANNER_DIFFERENTIAL_H_

// Runs one argument vector through glibc's getopt_long and through our own
// OptionScanner side by side, with the program's option letters and long
// options, comparing after every call the letter or long option returned,
// its value, the index, the whole vector's order and the diagnostic text.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/long_options.h"
#include "platform/option_scanner.h"

namespace stampline::testing {

inline constexpr const char* kProgramLetters = "osctdfnaqh";

// The program's long options as glibc takes them.
inline const option* glibcLongOptions() {
  static const std::vector<option> table = [] {
    std::vector<option> t;
    for (const LongOption* o = longOptionTable(); o->name != nullptr; ++o) {
      t.push_back({o->name, o->takesValue ? required_argument : no_argument, nullptr, o->code});
    }
    t.push_back({nullptr, 0, nullptr, 0});
    return t;
  }();
  return table.data();
}

// The argument vectors of the command-line tests (program name not included).
std::vector<std::vector<std::string>> commandLineTestVectors();

// Captures what is written to file descriptor 2 (where glibc's getopt
// prints) while it is alive.
class StandardErrorCapture {
 public:
  StandardErrorCapture() : file_(std::tmpfile()), saved_(dup(2)) {
    std::fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~StandardErrorCapture() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    std::fclose(file_);
  }
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
  // What was written since the last call.
  std::string take() {
    std::fflush(stderr);
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    std::rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) std::abort();
    return text;
  }

 private:
  std::FILE* file_;
  int saved_;
};

// Empty when both scanners agree on `args` (program name first), else what
// differed first. `calls` counts the calls compared.
inline std::string compareScanners(const std::vector<std::string>& args, bool posixlyCorrect,
                                   StandardErrorCapture& errors, long& calls) {
  if (posixlyCorrect) {
    setenv("POSIXLY_CORRECT", "1", 1);
  } else {
    unsetenv("POSIXLY_CORRECT");
  }
  std::vector<std::string> strings = args;
  std::vector<char*> theirs;
  std::vector<char*> ours;
  for (std::string& s : strings) theirs.push_back(s.data());
  theirs.push_back(nullptr);
  ours = theirs;
  const int argc = static_cast<int>(strings.size());

  OptionScanner scanner;
  optind = 0;
  std::string difference;
  for (int step = 0; step < 4 * argc + 4 && difference.empty(); ++step) {
    const int theirLetter =
        getopt_long(argc, theirs.data(), kProgramLetters, glibcLongOptions(), nullptr);
    const char* theirArgument = optarg;
    const std::string theirError = errors.take();
    char* ourText = nullptr;
    size_t ourSize = 0;
    std::FILE* ourErrors = open_memstream(&ourText, &ourSize);
    const int ourLetter =
        scanner.next(argc, ours.data(), kProgramLetters, longOptionTable(), ourErrors);
    std::fclose(ourErrors);
    const std::string ourError(ourText, ourSize);
    std::free(ourText);
    ++calls;
    // Both vectors hold the same strings, so the values compare as pointers.
    if (theirLetter != ourLetter || optind != scanner.index || theirArgument != scanner.argument ||
        theirs != ours || theirError != ourError) {
      difference = "call " + std::to_string(step) + ": getopt_long " +
                   std::to_string(theirLetter) + " at " + std::to_string(optind) + " '" +
                   theirError + "', ours " + std::to_string(ourLetter) + " at " +
                   std::to_string(scanner.index) + " '" + ourError + "'" +
                   (theirs != ours ? ", vectors differ" : "") +
                   (theirArgument != scanner.argument ? ", values differ" : "");
    }
    if (theirLetter == -1) break;
  }
  unsetenv("POSIXLY_CORRECT");
  return difference;
}

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_SCANNER_DIFFERENTIAL_H_
