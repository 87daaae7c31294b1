#ifndef STAMPLINE_CLI_LONG_OPTIONS_H_
#define STAMPLINE_CLI_LONG_OPTIONS_H_

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "cli/options.h"
#include "platform/option_scanner.h"

namespace stampline {

// One long option: its name, its value (null: it takes none), what a value
// may be (for messages), its line in --help, the fixed values shell
// completion offers ("FILE" for file names), and how a value is taken.
struct LongOptionRow {
  // What an option is for: making a file (or playing live), reading one
  // back, either, playing live alone, or a file alone (not playing).
  enum class Use { kWriting, kAnalyzing, kBoth, kPlaying, kFileOnly };
  const char* name;
  const char* valueName;
  const char* accepted;
  const char* help;
  const char* completions;
  // Stores `value` (null for an option without one) in `scan`; false when it
  // is refused, with `why` set where the reason is more than `accepted`.
  bool (*take)(const char* value, OptionScan& scan, std::string& why);
  Use use = Use::kWriting;
};

// The long options, in the order --help lists them.
std::span<const LongOptionRow> longOptionRows();
// The same for the scanner: the code of row i is kFirstLongCode + i.
inline constexpr int kFirstLongCode = 0x100;
const LongOption* longOptionTable();
// The codes of the options the scan treats itself.
int longCode(const char* name);

// Prints "Invalid --NAME 'VALUE': WHY" ("Invalid --NAME: WHY" for an option
// without a value), an empty line and the pointer to --help: the message of
// every refused long option.
void printRefusal(std::FILE* out, const char* name, const char* value, const std::string& why);

// The checks that need the whole command line: drop-frame against the frame
// rate, the frames of --start, and the length of the run in frames. False
// after the message has been printed.
[[nodiscard]] bool finishLongOptions(OptionScan& scan, std::FILE* out);
// The same for --analyze: only the options an analysis takes, and the CSV
// and the JSON not both on standard output.
[[nodiscard]] bool finishAnalysisOptions(const OptionScan& scan, std::FILE* out);
// The same for --play: no option that only a file takes, no short option,
// and none that only --play takes without it.
[[nodiscard]] bool finishPlayOptions(const OptionScan& scan, std::FILE* out);

}  // namespace stampline

#endif  // STAMPLINE_CLI_LONG_OPTIONS_H_
