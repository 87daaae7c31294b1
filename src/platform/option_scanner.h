#ifndef STAMPLINE_PLATFORM_OPTION_SCANNER_H_
#define STAMPLINE_PLATFORM_OPTION_SCANNER_H_

#include <cstdio>

namespace stampline {

// A long option as GNU getopt_long takes it ("--name", "--name=value",
// "--name value", or any unique abbreviation of the name). A table ends with
// an entry whose name is null. `code` is what the scan returns for it.
struct LongOption {
  const char* name;
  bool takesValue;
  int code;
};

// Scans options with GNU getopt_long's observable behaviour, for option
// strings of plain letters (none takes an argument of its own), on any C
// library:
// - elements that are not options ("word", a lone "-") are moved behind the
//   options as scanning goes on, exactly as GNU does it: each block of them
//   is rotated past the options that follow it when the scan moves on to the
//   next element, so the vector and `index` match GNU's after every call;
// - "--" ends the options and is moved in front of the words left over;
// - letters grouped in one element ("-os") come back one by one;
// - a letter not in the string comes back as '?' after the diagnostic
//   "PROGRAM: invalid option -- 'X'" on `diagnostics`;
// - "--name" is a long option: an exact name wins, else a prefix of exactly
//   one name; its value follows '=' or is the next element, whatever that
//   holds. An unknown, ambiguous, missing or unexpected value comes back as
//   '?' after glibc's own diagnostic;
// - with POSIXLY_CORRECT set when a scan starts, scanning stops at the first
//   element that is not an option;
// - at the end the scanner returns -1 with `index` on the first element that
//   is not an option.
class OptionScanner {
 public:
  // The next option letter, a long option's code, '?' or -1. Setting `index`
  // to 0 starts a fresh scan (POSIXLY_CORRECT is read again). Diagnostics go
  // to `diagnostics`, or nowhere when it is null.
  int next(int argc, char** argv, const char* letters, const LongOption* longOptions,
           std::FILE* diagnostics);

  int index = 0;                     // the element scanned next, as getopt's optind
  const char* argument = nullptr;    // a long option's value, as getopt's optarg

 private:
  void moveWordsBehindOptions(char** argv);
  int longOption(int argc, char** argv, const LongOption* longOptions, std::FILE* diagnostics);

  const char* pending_ = nullptr;  // rest of a grouped element
  int firstWord_ = 1;              // the block of words skipped so far
  int endOfWords_ = 1;
  bool inOrder_ = false;  // POSIXLY_CORRECT: stop at the first word
};

// The scan the program uses: glibc's own getopt_long on glibc (unless the
// build asks for the portable scanner), the OptionScanner everywhere else.
// Diagnostics go to standard error.
void startOptionScan();
int nextOption(int argc, char** argv, const char* letters, const LongOption* longOptions);
int optionIndex();
const char* optionArgument();

}  // namespace stampline

#endif  // STAMPLINE_PLATFORM_OPTION_SCANNER_H_
