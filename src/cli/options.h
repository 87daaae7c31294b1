#ifndef STAMPLINE_CLI_OPTIONS_H_
#define STAMPLINE_CLI_OPTIONS_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "timecode/timecode.h"

namespace stampline {

// The parameters of one run, with the defaults a run without options uses.
struct Settings {
  std::string outputPath = "output.wav";
  int32_t sampleRate = 44100;
  int32_t channels = 2;
  std::string startText = "01:00:00:00";  // "HH:MM:SS:FF"; only its length is checked
  int32_t durationFrames = 1800;
  double framesPerSecond = 30.0;
  bool dropFrame = false;
  double volume = 0.5;
  bool clean = false;
};

// Applies the options in argv to `settings` (in command-line order, a later
// repeat winning), echoing each one to `out`. Returns false when the run must
// not go ahead: after -h, an unknown letter, a missing or invalid value, or
// drop-frame counting asked for at 25 fps; the message and the usage text
// have then been printed to `out` and the exit status is 1. Scanning restarts
// from scratch on every call and permutes argv.
[[nodiscard]] bool scanOptions(int argc, char** argv, Settings& settings, std::FILE* out);

// Prints the usage text to `out`.
void printUsage(std::FILE* out);

// Packs "HH:MM:SS:FF" into a TimecodeWord from the low four bits of each digit
// character (two bits for the frame tens). The separators are never read and
// nothing is range-checked; `text` must hold at least 11 characters.
TimecodeWord packTimecodeText(std::string_view text);

}  // namespace stampline

#endif  // STAMPLINE_CLI_OPTIONS_H_
