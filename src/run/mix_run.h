#ifndef STAMPLINE_RUN_MIX_RUN_H_
#define STAMPLINE_RUN_MIX_RUN_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "run/signal.h"
#include "run/run_environment.h"
#include "run/wav_sink.h"
#include "wav/input_file.h"
#include "wav/sample_format.h"

namespace stampline {

// A setting the output must share with the input, where the command line
// gave one: its value, and the option as typed ("--depth=24", "-s 48000"),
// for the message when they differ.
template <typename T>
struct Asked {
  std::optional<T> value;
  std::string option;
};

// The LTC beside another file's audio.
struct MixRequest {
  WavOutput output;
  std::string inputPath;  // "-": standard input
  LtcSignal signal;
  // How many frames; none: as long as the input, rounded up to whole frames.
  std::optional<uint64_t> frames;
  // Where the LTC goes among the input's channels (1-based); none: last.
  std::optional<int32_t> timecodeChannel;
  bool broadcastWave = false;  // new bext and iXML where the input has none
  Asked<int32_t> sampleRate;
  Asked<int32_t> channels;
  Asked<SampleFormat> format;
  // What tells this file from others made at the same moment, as for
  // GenerationRequest.
  std::string identity;
};

// Writes the input's channels, every sample as it is, with the LTC on one
// channel more (the last, or `timecodeChannel` where the input gives no
// speaker positions), at the input's sample rate and format, as long as
// the input rounded up to whole frames (padded with silence) or as
// `frames` says. The input's bext is carried with the LTC's time stamp and
// a line of coding history, its iXML with an LTC track and the time stamp,
// every other chunk as it is, before or after the data where it stood; its
// speaker positions are kept and the LTC takes the first reserved one. An
// input the output cannot carry bit for bit, or that is the output itself,
// is refused with a message and status 1 before the output is touched;
// otherwise the statuses of runGeneration, and 1 after "Error reading ..."
// when the input fails part way (the output then keeps its whole frames).
// A stop ends the run promptly, whatever the input does.
int runMix(const MixRequest& request, std::FILE* out, const RunEnvironment& environment);
// The same for an input already open (`request.inputPath` names it).
int mixInput(InputFile& input, const MixRequest& request, std::FILE* out, const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_RUN_MIX_RUN_H_
