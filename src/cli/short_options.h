#ifndef STAMPLINE_CLI_SHORT_OPTIONS_H_
#define STAMPLINE_CLI_SHORT_OPTIONS_H_

#include <cstdio>
#include <span>
#include <string>

#include "cli/options.h"

namespace stampline {

// One short option, the program's original interface: its letter, its
// value and line in --help, how its value is converted and stored, and the
// check that may refuse it. Each takes the command-line element after its
// letter as its value, and is echoed as "letter = code value" between
// storing and checking.
struct ShortOptionRow {
  char letter;
  const char* valueName;  // null: the option takes no value (-h)
  const char* help;
  void (*store)(const char* value, OptionScan& scan);
  // Prints the refusal (without the usage text) and returns false; null
  // when every value is taken.
  bool (*check)(const char* value, const OptionScan& scan, std::FILE* out);
};

// The short options, in the order --help lists them.
std::span<const ShortOptionRow> shortOptionRows();
// Their letters as the option scanner takes them. No letter is marked as
// taking an argument: each option's value is the element the scan stands
// on when the letter comes back, which is what gives the command line its
// documented quirks (-s48000 reads as 0, -os 48000 sets the path to "-os",
// a value typed as -5 is also scanned as options).
const char* shortOptionLetters();
// The row of `letter`, or null.
const ShortOptionRow* shortOption(int letter);

}  // namespace stampline

#endif  // STAMPLINE_CLI_SHORT_OPTIONS_H_
