#ifndef STAMPLINE_CLI_OPTIONS_H_
#define STAMPLINE_CLI_OPTIONS_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "timecode/duration.h"
#include "timecode/frame_rate.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"
#include "wav/sample_format.h"

namespace stampline {

// The parameters of one run, with the defaults a run without options uses.
struct Settings {
  std::string outputPath = "output.wav";
  bool toStandardOutput = false;  // --output=-: a stream on standard output
  int32_t sampleRate = 44100;
  int32_t channels = 2;
  SampleFormat format = kPcm16;   // --depth
  std::string startText = "01:00:00:00";  // "HH:MM:SS:FF"; -t checks only its length
  int32_t durationFrames = 1800;          // 0 or less: no frames
  bool durationGiven = false;             // by -d, --duration or --end
  FrameRate frameRate = kRate30;
  bool dropFrame = false;
  double volume = 0.5;
  bool clean = false;
  bool broadcastWave = false;  // bext and iXML chunks with the start's time stamp
  UserBits userBits;           // what every frame's user bits carry
  // --mix: this file's channels, with the LTC on a channel of its own.
  bool mix = false;
  std::string mixPath;
  // The options that set the sample rate, the channels and the depth, as
  // typed ("--depth=24", "-s 48000"), where given: --mix takes these from
  // its input and refuses others.
  std::string sampleRateGiven, channelsGiven, depthGiven;
  // --analyze: read this file back and report on it instead of writing one.
  bool analyze = false;
  std::string analyzePath;
  // Writing: the one channel that carries the LTC; --analyze: the one read.
  std::optional<int32_t> timecodeChannel;  // 1-based
  bool frameRateGiven = false;             // --frame-rate: the rate is stated
  bool json = false;
  std::string csvPath;  // "-": standard output
  // --play: LTC live to a sound card through JACK.
  bool play = false;
  std::string clientName = "stampline";
  std::vector<std::string> connect;  // the i-th port to the i-th
  double downstreamDelay = 0;        // seconds
  bool dateToday = false;            // --date=today
  bool startGiven = false;           // a start label given: a free run
};

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
  // The first option given that only writing takes, as typed ("--output",
  // "-s"), the first that only --analyze takes, the first that only --play
  // takes, the first that only a file takes (of those writing takes), and
  // the first short option.
  std::string firstWriting;
  std::string firstAnalyzing;
  std::string firstPlaying;
  std::string firstFileOnly;
  std::string firstShort;

};

// How a scan of the command line ended.
enum class ScanResult {
  kRun,       // the settings are complete: go ahead with the run
  kAnalyze,   // --analyze: read the file back
  kPlay,      // --play: LTC live to a sound card
  kFinished,  // --help or --version was answered: exit status 0
  kRefused,   // a message has been printed: exit status 1
};

// Applies the options in argv to `settings` (in command-line order, a later
// setting winning whatever its spelling), echoing each one to `out` unless
// --quiet is given anywhere. Refused: after -h, an unknown option, a missing
// or invalid value, or a combination the run cannot make; the message (and
// for the short options the usage text) has then been printed to `out`.
// Scanning restarts from scratch on every call and permutes argv.
[[nodiscard]] ScanResult scanOptions(int argc, char** argv, Settings& settings, std::FILE* out);

// Whether the command line writes the file to standard output (--output=-
// given last of the output options, and no --analyze): every message then
// goes to standard error.
bool writesStandardOutput(int argc, char** argv);

}  // namespace stampline

#endif  // STAMPLINE_CLI_OPTIONS_H_
