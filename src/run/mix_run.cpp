#include "run/mix_run.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "run/broadcast.h"
#include "run/generation_run.h"
#include "run/mixed_blocks.h"
#include "run/output_run.h"
#include "run/read_ahead.h"
#include "synth/ltc_encoder.h"
#include "wav/broadcast_wave.h"
#include "wav/input_file.h"
#include "wav/riff_layout.h"
#include "wav/wav_limits.h"
#include "wav/wav_reader.h"

namespace stampline {
namespace {

// The input's speaker positions: its channel mask, or for a plain file of
// one or two channels front centre, or front left and right; 0 for none.
uint32_t inputSpeakers(const WavInfo& info) {
  if (info.formatTag == kFormatExtensible) return info.channelMask;
  if (info.channels == 1) return kSpeakerFrontCentre;
  return info.channels == 2 ? kSpeakersFrontLeftRight : 0;
}

// The output's mask: the input's positions, and the LTC on the first
// reserved one they leave free (none: no positions at all).
uint32_t outputSpeakers(uint32_t input) {
  if (input == 0) return 0;
  uint32_t ltc = kFirstReservedSpeaker;
  while (ltc != 0 && (input & ltc) != 0) ltc <<= 1;
  return ltc == 0 ? 0 : input | ltc;
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Why the output cannot carry `info`'s samples bit for bit as `r` asks, or
// nothing.
std::string refusal(const WavInfo& info, const MixRequest& r) {
  const SampleFormat f = info.format;
  if (!writtenFormat(f)) {
    return "its samples are " + describeFormat(f) + "; the output takes 16, 24 or 32-bit PCM or 32-bit float";
  }
  if (info.sampleRate < kLowestWrittenRate || info.sampleRate > kHighestRate) {
    return "its sample rate is " + std::to_string(info.sampleRate) + " Hz; the output takes " + writtenRates();
  }
  if (info.channels >= kMostChannels) {
    return "it has " + std::to_string(kMostChannels) + " channels already, the most a file takes";
  }
  const int32_t channels = info.channels + 1;
  if (r.sampleRate.value && *r.sampleRate.value != info.sampleRate) {
    return "its sample rate is " + std::to_string(info.sampleRate) + " Hz, and " + r.sampleRate.option +
           " asks for another (nothing is resampled)";
  }
  if (r.format.value && !(*r.format.value == f)) {
    return "its samples are " + describeFormat(f) + ", and " + r.format.option +
           " asks for others (nothing is requantised)";
  }
  if (r.channels.value && *r.channels.value != channels) {
    return "the output has its " + std::to_string(info.channels) + " channels and one of LTC, and " +
           r.channels.option + " asks for another count";
  }
  if (r.timecodeChannel && *r.timecodeChannel > channels) {
    return "the output has " + std::to_string(channels) + " channels, and --timecode-channel=" +
           std::to_string(*r.timecodeChannel) + " asks for another";
  }
  const uint32_t speakers = inputSpeakers(info);
  if (r.timecodeChannel && *r.timecodeChannel != channels && outputSpeakers(speakers) != 0) {
    return "its channels have speaker positions (channel mask " + hex(speakers) +
           "), so the LTC goes after them, and --timecode-channel=" + std::to_string(*r.timecodeChannel) +
           " asks for another place";
  }
  return {};
}

// The input's chunks as the output carries them: its bext with the LTC's
// time stamp, its iXML with the LTC track (or as it is, with a line, where
// it cannot be edited safely), the others as they are.
std::vector<WavChunk> carried(const std::vector<WavChunk>& chunks, const BroadcastInfo& info, int32_t ltcChannel,
                              const std::string& inputName, std::FILE* out, bool& bext, bool& ixml) {
  std::vector<WavChunk> result;
  for (const WavChunk& c : chunks) {
    const std::string id(c.id.begin(), c.id.end());
    if (id == "bext") {
      result.push_back(carriedBext(c, info));
      bext = true;
    } else if (id == "iXML") {
      std::string problem;
      result.push_back(carriedIxml(c, ltcChannel, info, problem));
      if (!problem.empty()) {
        std::fprintf(out, "%s's iXML chunk is carried as it is, without the LTC track: %s\n", inputName.c_str(),
                     problem.c_str());
      }
      ixml = true;
    } else {
      result.push_back(c);
    }
  }
  return result;
}

// The output's chunks, before and after the data where the input had them;
// with --bwf, a new bext and iXML where the input has none.
void mixChunks(const MixRequest& r, OutputPlan& plan, const WavInfo& input, int32_t ltcChannel,
               const std::string& inputName, std::FILE* out, const RunEnvironment& environment) {
  const BroadcastInfo info = timecodeInfo(r.signal, plan.schedule, plan.layout);
  bool bext = false;
  bool ixml = false;
  plan.layout.chunks = carried(input.chunks, info, ltcChannel, inputName, out, bext, ixml);
  plan.layout.chunksAfter = carried(input.chunksAfter, info, ltcChannel, inputName, out, bext, ixml);
  if (!r.broadcastWave || (bext && ixml)) return;
  std::vector<std::string> names;
  for (int32_t c = 1; c <= input.channels; ++c) names.push_back("Track " + std::to_string(c));
  names.insert(names.begin() + (ltcChannel - 1), "LTC");
  const BroadcastChunks made = broadcastChunks(r.signal, plan.schedule, plan.layout,
                                               origination(r.identity, environment.sourceDateEpoch), names);
  if (!bext) plan.layout.chunks.insert(plan.layout.chunks.begin(), made.bext);
  if (!ixml) plan.layout.chunks.push_back(made.ixml);
}

// The WAV sink of a mix: before it is finished, it takes the chunks that a
// stream input gave after its audio.
class MixSink final : public SampleSink {
 public:
  MixSink(WavSink& sink, WavReader& reader, const OutputPlan& plan, int32_t ltcChannel, std::string inputName,
          std::FILE* out, const LtcSignal& signal)
      : sink_(sink), reader_(reader), plan_(plan), ltcChannel_(ltcChannel), inputName_(std::move(inputName)),
        out_(out), signal_(signal) {}

  IoResult begin(StopFlag stop) override { return sink_.begin(stop); }
  IoResult append(std::span<const uint8_t> block, StopFlag stop, Clock::time_point now) override {
    return sink_.append(block, stop, now);
  }
  bool finish() override {
    const std::vector<WavChunk>& after = reader_.info().chunksAfter;
    if (!reader_.seekable() && !after.empty()) {
      if (sink_.seekable()) {
        bool bext = false;
        bool ixml = false;
        const BroadcastInfo info = timecodeInfo(signal_, plan_.schedule, plan_.layout);
        sink_.setChunksAfter(carried(after, info, ltcChannel_, inputName_, out_, bext, ixml));
      } else {
        std::fprintf(out_, "%s has %zu chunk%s after its audio, left out of the stream (its header was "
                           "written before they came)\n",
                     inputName_.c_str(), after.size(), after.size() == 1 ? "" : "s");
      }
    }
    return sink_.finish();
  }
  uint64_t cut() override { return sink_.cut(); }
  bool close() override { return sink_.close(); }
  bool readerGone() const override { return sink_.readerGone(); }
  std::string failure() const override { return sink_.failure(); }

 private:
  WavSink& sink_;
  WavReader& reader_;
  const OutputPlan& plan_;
  int32_t ltcChannel_;
  std::string inputName_;
  std::FILE* out_;
  const LtcSignal& signal_;
};

}  // namespace

int runMix(const MixRequest& request, std::FILE* out, const RunEnvironment& environment) {
  const std::string name = request.inputPath == "-" ? "standard input" : request.inputPath;
  std::string why;
  const std::unique_ptr<InputFile> input = openInputFile(request.inputPath, why, environment.stopSignal);
  if (!input && why.empty()) return interrupted(out, 0, environment.stopSignal);
  if (!input) {
    std::fprintf(out, "Cannot mix %s: %s\n", name.c_str(), why.c_str());
    return 1;
  }
  return mixInput(*input, request, out, environment);
}

int mixInput(InputFile& input, const MixRequest& request, std::FILE* out, const RunEnvironment& environment) {
  const std::string name = request.inputPath == "-" ? "standard input" : request.inputPath;
  std::string why;
  // A stop while the input keeps the run waiting ends it all the same.
  input.stopOn(environment.stopSignal);
  WavReader reader(input);
  if (request.inputPath != "-" && !request.output.standardOutput &&
      namesSameFile(request.inputPath, request.output.path)) {
    why = "it is the output file too";
  } else if (reader.open(why)) {
    why = refusal(reader.info(), request);
  } else if (reader.stopped()) {
    return interrupted(out, 0, environment.stopSignal);
  }
  const WavInfo& info = reader.info();
  if (!why.empty()) {
    std::fprintf(out, "Cannot mix %s: %s\n", name.c_str(), why.c_str());
    return 1;
  }
  const int32_t ltcChannel = request.timecodeChannel.value_or(info.channels + 1);
  const LtcSignal& signal = request.signal;
  OutputPlan plan(FrameSchedule(signal.rate, info.sampleRate, signal.start, signal.dropFrame));
  std::unique_ptr<LtcEncoder> encoder;
  std::unique_ptr<MixedBlocks> blocks;
  std::unique_ptr<WavSink> sink;
  try {
    plan.layout.sampleRate = info.sampleRate;
    plan.layout.channels = info.channels + 1;
    plan.layout.format = info.format;
    plan.layout.channelMask = outputSpeakers(inputSpeakers(info));
    if (request.frames) {
      plan.frames = *request.frames;
    } else if (info.dataBytes && *info.dataBytes < kImpossibleDataBytes) {
      plan.frames = framesCovering(plan.schedule, *info.dataBytes / reader.sampleFrameBytes());
    } else {
      // Read to its end: as many frames as it takes, far beyond any input.
      plan.lengthKnown = false;
      plan.frames = plan.schedule.completeFrames(uint64_t{1} << 50);
    }
    mixChunks(request, plan, info, ltcChannel, name, out, environment);
    EncoderConfig config = encoderConfig(signal, info.format, environment);
    config.channels = 1;
    encoder = std::make_unique<LtcEncoder>(plan.schedule, config);
    blocks = std::make_unique<MixedBlocks>(*encoder, plan, ltcChannel, reader, name, kMixBlockBytes);
    sink = std::make_unique<WavSink>(plan.layout, plan.lengthKnown ? plan.dataBytes() : kUnknownDataBytes,
                                     environment.riffLimit,
                                     [&plan](uint64_t bytes) { return plan.wholeFrameBytes(bytes); });
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }
  int status = 0;
  if (!openSink(*sink, request.output, out, environment.stopSignal, status)) return status;
  MixSink mixSink(*sink, reader, plan, ltcChannel, name, out, signal);
  ReadAhead ahead(*blocks);
  status = writeOutput(plan, ahead, mixSink, out, environment);
  if (status == 0 && info.chunksLeftOut > 0) {
    std::fprintf(out, "%s has %zu chunk%s over 1 MiB, left out of the new file\n", name.c_str(),
                 info.chunksLeftOut, info.chunksLeftOut == 1 ? "" : "s");
  }
  if (status == 0 && blocks->inputEndedEarly()) {
    std::fprintf(out, "%s ended after %llu sample frames, before its header said; %s\n", name.c_str(),
                 static_cast<unsigned long long>(blocks->inputFrames()),
                 plan.lengthKnown ? "silence follows" : "so does the new file");
  }
  return status;
}

}  // namespace stampline
