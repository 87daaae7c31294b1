#ifndef STAMPLINE_CLI_LONG_OPTIONS_H_
#define STAMPLINE_CLI_LONG_OPTIONS_H_

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "cli/option_scanner.h"
#include "cli/options.h"

namespace stampline {

// How a setting was last given. The short options keep their own fixed
// checks; a setting given by a long option gets the full ones.
enum class Spelling { kDefault, kShort, kLong };

// Everything a scan gathers: the settings, and what the checks that need the
// whole command line must know.
struct OptionScan {
  Settings settings;
  Spelling start = Spelling::kDefault;
  Spelling dropFrame = Spelling::kDefault;
  Spelling rate = Spelling::kDefault;
  // The run's length, when a long option gave it in a form that needs the
  // final frame rate or counting: a time (`mantissa` / 10^`scaleDigits`
  // units of `unitSeconds`), or the label after the last frame. `lengthText`
  // is the value as typed, for messages.
  enum class Length { kFrames, kTime, kEnd } length = Length::kFrames;
  uint64_t mantissa = 0;
  uint32_t scaleDigits = 0;
  uint32_t unitSeconds = 0;
  std::string lengthText;
  std::string startText;  // the --start value as typed
  std::string rateText;   // the --frame-rate value as typed
  // Which user-bit options were given, and the last one with its value.
  bool userBitsGiven = false;
  bool dateGiven = false;
  std::string userBitsOption;
  std::string userBitsText;
};

// One long option: its name, its value (null: it takes none), what a value
// may be (for messages), its line in --help, the fixed values shell
// completion offers ("FILE" for file names), and how a value is taken.
struct LongOptionRow {
  const char* name;
  const char* valueName;
  const char* accepted;
  const char* help;
  const char* completions;
  // Stores `value` (null for an option without one) in `scan`; false when it
  // is refused, with `why` set where the reason is more than `accepted`.
  bool (*take)(const char* value, OptionScan& scan, std::string& why);
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

}  // namespace stampline

#endif  // STAMPLINE_CLI_LONG_OPTIONS_H_
