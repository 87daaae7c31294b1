#include "run/mixed_blocks.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace stampline {
namespace {

// Copies whole eight-byte words covering `bytes` bytes: up to seven more
// are read and written, which the caller allows for.
void copyWords(uint8_t* out, const uint8_t* in, size_t bytes) {
  for (size_t i = 0; i < bytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, in + i, 8);
    std::memcpy(out + i, &word, 8);
  }
}

}  // namespace

uint64_t framesCovering(const FrameSchedule& schedule, uint64_t samples) {
  const uint64_t whole = schedule.completeFrames(samples);
  return schedule.frameStart(whole) < samples ? whole + 1 : whole;
}

MixedBlocks::MixedBlocks(LtcEncoder& encoder, const OutputPlan& plan, int32_t ltcChannel, WavReader& reader,
                         std::string inputName, uint64_t blockBytes)
    : plan_(plan),
      reader_(reader),
      ltc_(encoder, plan.frames, blockBytes / static_cast<uint64_t>(plan.layout.channels)),
      sampleBytes_(bytesPerSample(plan.layout.format)),
      inputFrameBytes_(sampleBytes_ * static_cast<size_t>(plan.layout.channels - 1)),
      before_(sampleBytes_ * static_cast<size_t>(ltcChannel - 1)),
      inputName_(std::move(inputName)) {}

std::span<const uint8_t> MixedBlocks::next() {
  const uint64_t first = plan_.schedule.frameStart(ltc_.framesDone());
  const std::span<const uint8_t> ltc = ltc_.next();
  const size_t samples = ltc.size() / sampleBytes_;
  const size_t outFrameBytes = inputFrameBytes_ + sampleBytes_;
  // Room past the end for the eight-byte stores of the last frame. Two
  // blocks in turn: the one handed out before stays whole while this one
  // is made.
  which_ = 1 - which_;
  std::vector<uint8_t>& block = blocks_[which_];
  block.resize(samples * outFrameBytes + kSlack);
  size_t got = 0;
  while (got < samples && !inputEnded_) {
    const std::span<const uint8_t> input = reader_.next(samples - got);
    if (input.empty()) {
      inputEnded_ = true;
      if (reader_.stopped()) return {};
      if (reader_.error() != 0) {
        failure_ = "Error reading " + inputName_ + ": " + std::strerror(reader_.error());
        return {};
      }
      break;
    }
    const size_t frames = input.size() / inputFrameBytes_;
    interleave(input.data(), ltc.data() + got * sampleBytes_, block.data() + got * outFrameBytes, frames);
    got += frames;
  }
  inputFrames_ += got;
  // Past the input's end: silence beside the LTC.
  for (size_t i = got; i < samples; ++i) {
    uint8_t* out = block.data() + i * outFrameBytes;
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
  // A stream's chunks after its audio come once the audio is read.
  if (done()) reader_.readChunksAfter();
  return {block.data(), length * outFrameBytes};
}

// The input's channels around the LTC's place, frame by frame. Each part
// is copied in whole words, in order, so that what a word writes past its
// part is written over by the parts after; the last frames, whose words
// would read past the input, byte for byte.
void MixedBlocks::interleave(const uint8_t* in, const uint8_t* ltc, uint8_t* out, size_t frames) const {
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

}  // namespace stampline
