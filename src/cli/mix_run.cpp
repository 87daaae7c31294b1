#include "cli/mix_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/broadcast.h"
#include "cli/output_coding.h"
#include "cli/read_ahead.h"
#include "platform/process.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_rate.h"
#include "timecode/label_text.h"
#include "wav/broadcast_wave.h"
#include "wav/input_file.h"
#include "wav/wav_reader.h"

namespace stampline {
namespace {

// The output is made about this many bytes at a time, whatever its channels.
constexpr uint64_t kBlockBytes = uint64_t{1} << 20;
constexpr int32_t kLowestRate = 16000;
constexpr int32_t kHighestRate = 384000;
constexpr int32_t kMostChannels = 64;

std::string describe(SampleFormat format) {
  return std::to_string(format.bits) + "-bit " + (format.floating ? "float" : "PCM");
}

// Why the output cannot carry `info`'s samples bit for bit as `s` asks, or
// nothing.
std::string refusal(const WavInfo& info, const Settings& s) {
  const SampleFormat f = info.format;
  const bool writable = f == kPcm16 || f == kPcm24 || f == kPcm32 || f == kFloat32;
  if (!writable) {
    return "its samples are " + describe(f) + "; the output takes 16, 24 or 32-bit PCM or 32-bit float";
  }
  if (info.sampleRate < kLowestRate || info.sampleRate > kHighestRate) {
    return "its sample rate is " + std::to_string(info.sampleRate) + " Hz; the output takes 16000 to 384000";
  }
  if (info.channels >= kMostChannels) return "it has 64 channels already, the most a file takes";
  const int32_t channels = info.channels + 1;
  if (!s.sampleRateGiven.empty() && s.sampleRate != info.sampleRate) {
    return "its sample rate is " + std::to_string(info.sampleRate) + " Hz, and " + s.sampleRateGiven +
           " asks for another (nothing is resampled)";
  }
  if (!s.depthGiven.empty() && !(s.format == f)) {
    return "its samples are " + describe(f) + ", and " + s.depthGiven + " asks for others (nothing is requantised)";
  }
  if (!s.channelsGiven.empty() && s.channels != channels) {
    return "the output has its " + std::to_string(info.channels) + " channels and one of LTC, and " +
           s.channelsGiven + " asks for another count";
  }
  if (s.timecodeChannel && *s.timecodeChannel > channels) {
    return "the output has " + std::to_string(channels) + " channels, and --timecode-channel=" +
           std::to_string(*s.timecodeChannel) + " asks for another";
  }
  return {};
}

// The frames that cover `samples` sample frames: the last may run past them.
uint64_t framesCovering(const FrameSchedule& schedule, uint64_t samples) {
  const uint64_t whole = schedule.completeFrames(samples);
  return schedule.frameStart(whole) < samples ? whole + 1 : whole;
}

// The output's blocks: the LTC of whole frames rendered on one channel,
// and as many of the input's sample frames, interleaved with it. A block
// stays valid until the call after next.
class MixedBlocks final : public BlockSource {
 public:
  // The LTC goes to channel `ltcChannel` (1-based) of the output.
  MixedBlocks(LtcEncoder& encoder, const OutputPlan& plan, int32_t ltcChannel, WavReader& reader,
              std::string inputName)
      : plan_(plan),
        reader_(reader),
        ltc_(encoder, plan.frames, kBlockBytes / static_cast<uint64_t>(plan.layout.channels)),
        sampleBytes_(bytesPerSample(plan.layout.format)),
        inputFrameBytes_(sampleBytes_ * static_cast<size_t>(plan.layout.channels - 1)),
        before_(sampleBytes_ * static_cast<size_t>(ltcChannel - 1)),
        inputName_(std::move(inputName)) {}

  bool done() const override { return done_ || ltc_.done(); }
  uint64_t framesDone() const override { return ltc_.framesDone(); }
  TimecodeWord lastLabel() const override { return ltc_.lastLabel(); }
  std::string failed() const override { return failure_; }
  // Sample frames the input gave, and whether it ended before its header
  // said.
  uint64_t inputFrames() const { return inputFrames_; }
  bool inputEndedEarly() const { return inputEnded_ && reader_.truncated(); }

  std::span<const uint8_t> next() override {
    const uint64_t first = plan_.schedule.frameStart(ltc_.framesDone());
    const std::span<const uint8_t> ltc = ltc_.next();
    const size_t samples = ltc.size() / sampleBytes_;
    const size_t outFrameBytes = inputFrameBytes_ + sampleBytes_;
    // Room past the end for the eight-byte stores of the last frame.
    // Two blocks in turn: the one handed out before stays whole while this
    // one is made (a read-ahead writes it meanwhile).
    which_ = 1 - which_;
    std::vector<uint8_t>& block_ = blocks_[which_];
    block_.resize(samples * outFrameBytes + kSlack);
    size_t got = 0;
    while (got < samples && !inputEnded_) {
      const std::span<const uint8_t> input = reader_.next(samples - got);
      if (input.empty()) {
        inputEnded_ = true;
        if (reader_.error() != 0) {
          failure_ = "Error reading " + inputName_ + ": " + std::strerror(reader_.error());
          return {};
        }
        break;
      }
      const size_t frames = input.size() / inputFrameBytes_;
      interleave(input.data(), ltc.data() + got * sampleBytes_, block_.data() + got * outFrameBytes, frames);
      got += frames;
    }
    inputFrames_ += got;
    // Past the input's end: silence beside the LTC.
    for (size_t i = got; i < samples; ++i) {
      uint8_t* out = block_.data() + i * outFrameBytes;
      std::memset(out, 0, outFrameBytes);
      std::memcpy(out + before_, ltc.data() + i * sampleBytes_, sampleBytes_);
    }
    size_t length = samples;
    // A run as long as its input ends with the frame its last sample is in.
    if (!plan_.lengthKnown && inputEnded_) {
      const uint64_t end = plan_.schedule.frameStart(framesCovering(plan_.schedule, inputFrames_));
      length = static_cast<size_t>(std::min<uint64_t>(end - first, samples));
      done_ = true;
    }
    return {block_.data(), length * outFrameBytes};
  }

 private:
  static constexpr size_t kSlack = 16;

  // Copies whole eight-byte words covering `bytes` bytes: up to seven more
  // are read and written, which the caller allows for.
  static void copyWords(uint8_t* out, const uint8_t* in, size_t bytes) {
    for (size_t i = 0; i < bytes; i += 8) {
      uint64_t word;
      std::memcpy(&word, in + i, 8);
      std::memcpy(out + i, &word, 8);
    }
  }

  // The input's channels around the LTC's place, frame by frame. Each part
  // is copied in whole words, in order, so that what a word writes past its
  // part is written over by the parts after; the last frames, whose words
  // would read past the input, byte for byte.
  void interleave(const uint8_t* in, const uint8_t* ltc, uint8_t* out, size_t frames) const {
    const size_t after = inputFrameBytes_ - before_;
    const size_t outFrameBytes = inputFrameBytes_ + sampleBytes_;
    const size_t wordsSafe = frames > kSlack ? frames - kSlack : 0;
    size_t i = 0;
    if (before_ <= 8 && after <= 8) {
      // Frames of a few channels: a word for each part.
      for (; i < wordsSafe; ++i, in += inputFrameBytes_, ltc += sampleBytes_, out += outFrameBytes) {
        uint64_t head;
        uint64_t tail;
        uint32_t sample;
        std::memcpy(&head, in, 8);
        std::memcpy(&tail, in + before_, 8);
        std::memcpy(&sample, ltc, 4);
        std::memcpy(out, &head, 8);
        std::memcpy(out + before_, &sample, 4);
        std::memcpy(out + before_ + sampleBytes_, &tail, 8);
      }
    }
    for (; i < wordsSafe; ++i, in += inputFrameBytes_, ltc += sampleBytes_, out += outFrameBytes) {
      copyWords(out, in, before_);
      uint32_t sample;
      std::memcpy(&sample, ltc, 4);
      std::memcpy(out + before_, &sample, 4);
      copyWords(out + before_ + sampleBytes_, in + before_, after);
    }
    for (; i < frames; ++i, in += inputFrameBytes_, ltc += sampleBytes_, out += outFrameBytes) {
      std::memcpy(out, in, before_);
      std::memcpy(out + before_, ltc, sampleBytes_);
      std::memcpy(out + before_ + sampleBytes_, in + before_, after);
    }
  }

  const OutputPlan& plan_;
  WavReader& reader_;
  BlockRenderer ltc_;
  size_t sampleBytes_;
  size_t inputFrameBytes_;
  size_t before_;  // bytes of the input's channels before the LTC's
  std::string inputName_;
  std::vector<uint8_t> blocks_[2];
  int which_ = 0;
  uint64_t inputFrames_ = 0;
  bool inputEnded_ = false;
  bool done_ = false;
  std::string failure_;
};

// The output's chunks: the input's, its bext and iXML carried with the
// LTC's time stamp (and its iXML with the LTC track); with --bwf, new ones
// where the input has none.
std::vector<WavChunk> mixChunks(const Settings& s, const OutputPlan& plan, const WavInfo& input, int32_t ltcChannel,
                                const RunEnvironment& environment) {
  BroadcastInfo b;
  b.timeReference = plan.schedule.startSample();
  b.timecodeRate = rateFraction(s.frameRate);
  b.dropFrame = s.dropFrame;
  b.sampleRate = plan.layout.sampleRate;
  b.channels = plan.layout.channels;
  b.format = plan.layout.format;
  b.codingTool = "Stampline " STAMPLINE_VERSION;
  std::vector<WavChunk> chunks;
  bool bext = false;
  bool ixml = false;
  for (const WavChunk& c : input.chunks) {
    const std::string id(c.id.begin(), c.id.end());
    if (id == "bext") {
      chunks.push_back(carriedBext(c, b));
      bext = true;
    } else if (id == "iXML") {
      chunks.push_back(carriedIxml(c, ltcChannel, b));
      ixml = true;
    } else {
      chunks.push_back(c);
    }
  }
  if (s.broadcastWave && (!bext || !ixml)) {
    std::vector<std::string> names;
    for (int32_t c = 1; c <= input.channels; ++c) names.push_back("Track " + std::to_string(c));
    names.insert(names.begin() + (ltcChannel - 1), "LTC");
    const std::vector<WavChunk> made =
        broadcastChunks(s, plan.schedule, plan.layout, origination(s, environment.sourceDateEpoch), names);
    if (!bext) chunks.insert(chunks.begin(), made[0]);
    if (!ixml) chunks.push_back(made[1]);
  }
  return chunks;
}

}  // namespace

int runMix(const Settings& settings, std::FILE* out, const RunEnvironment& environment) {
  const std::string name = settings.mixPath == "-" ? "standard input" : settings.mixPath;
  std::string why;
  const std::unique_ptr<InputFile> input = openInputFile(settings.mixPath, why);
  if (!input) {
    std::fprintf(out, "Cannot mix %s: %s\n", name.c_str(), why.c_str());
    return 1;
  }
  WavReader reader(*input);
  if (settings.mixPath != "-" && !settings.toStandardOutput && namesSameFile(settings.mixPath, settings.outputPath)) {
    why = "it is the output file too";
  } else if (reader.open(why)) {
    why = refusal(reader.info(), settings);
  }
  const WavInfo& info = reader.info();
  if (!why.empty()) {
    std::fprintf(out, "Cannot mix %s: %s\n", name.c_str(), why.c_str());
    return 1;
  }
  const int32_t ltcChannel = settings.timecodeChannel.value_or(info.channels + 1);
  OutputPlan plan(FrameSchedule(settings.frameRate, info.sampleRate, packTimecodeText(settings.startText),
                                settings.dropFrame));
  std::unique_ptr<LtcEncoder> encoder;
  std::unique_ptr<MixedBlocks> blocks;
  try {
    plan.layout = {info.sampleRate, info.channels + 1, info.format, {}};
    if (settings.durationGiven) {
      plan.frames = settings.durationFrames > 0 ? static_cast<uint64_t>(settings.durationFrames) : 0;
    } else if (info.dataBytes) {
      plan.frames = framesCovering(plan.schedule, *info.dataBytes / reader.sampleFrameBytes());
    } else {
      // Read to its end: as many frames as it takes, far beyond any input.
      plan.lengthKnown = false;
      plan.frames = plan.schedule.completeFrames(uint64_t{1} << 50);
    }
    plan.layout.chunks = mixChunks(settings, plan, info, ltcChannel, environment);
    EncoderConfig config = encoderConfig(settings, environment);
    config.channels = 1;
    config.coding = outputCoding(info.format);
    encoder = std::make_unique<LtcEncoder>(plan.schedule, config);
    blocks = std::make_unique<MixedBlocks>(*encoder, plan, ltcChannel, reader, name);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }
  ReadAhead ahead(*blocks);
  const int status = writeOutput(settings, plan, ahead, out, environment);
  if (status == 0 && info.chunksLeftOut > 0) {
    std::fprintf(out, "%s has %llu chunk%s over 1 MiB, left out of the new file\n", name.c_str(),
                 static_cast<unsigned long long>(info.chunksLeftOut), info.chunksLeftOut == 1 ? "" : "s");
  }
  if (status == 0 && blocks->inputEndedEarly()) {
    std::fprintf(out, "%s ended after %llu sample frames, before its header said; silence follows\n",
                 name.c_str(), static_cast<unsigned long long>(blocks->inputFrames()));
  }
  return status;
}

}  // namespace stampline
