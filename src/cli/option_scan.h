#ifndef STAMPLINE_CLI_OPTION_SCAN_H_
#define STAMPLINE_CLI_OPTION_SCAN_H_

#include <cstdint>
#include <string>

#include "cli/options.h"
#include "timecode/duration.h"
#include "timecode/timecode.h"

namespace stampline {

// How a setting was last given. The short options keep their own fixed
// checks; a setting given by a long option gets the full ones.
enum class Spelling { kDefault, kShort, kLong };

// Everything a scan of the command line gathers: the settings, and what the
// checks that need the whole command line must know.
struct OptionScan {
  Settings settings;
  Spelling start = Spelling::kDefault;
  Spelling dropFrame = Spelling::kDefault;
  Spelling rate = Spelling::kDefault;
  // The run's length, when a long option gave it in a form that needs the
  // final frame rate or counting: a time, or the label after the last
  // frame. `lengthText` is the value as typed, for messages.
  enum class Length { kFrames, kTime, kEnd } length = Length::kFrames;
  TimeLength time;
  TimecodeFields end;
  std::string lengthText;
  std::string startText;  // the --start value as typed
  std::string rateText;   // the --frame-rate value as typed
  // Which user-bit options were given, and the last one with its value.
  bool userBitsGiven = false;
  bool dateGiven = false;
  std::string userBitsOption;
  std::string userBitsText;
};

}  // namespace stampline

#endif  // STAMPLINE_CLI_OPTION_SCAN_H_
