#include "synth/frame_writer.h"

#include <cstring>
#include <vector>

#include "timecode/user_bits.h"

namespace stampline {
namespace {

// The most frame lengths whose cells are kept planned (beside a rate's two,
// the ones a clock's corrections and jumps bring).
constexpr size_t kMostPlans = 8;

SampleCoding floats() {
  SampleCoding coding;
  coding.fullScale = 1.0;
  coding.integral = false;
  coding.valueBytes = sizeof(float);
  coding.encode = [](const double* values, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
      const auto v = static_cast<float>(values[i]);
      std::memcpy(out + i * sizeof(float), &v, sizeof v);
    }
  };
  return coding;
}

}  // namespace

FrameWriter::FrameWriter(FrameRate rate, bool dropFrame, int32_t sampleRate, const EncoderConfig& config)
    : dropFrame_(dropFrame),
      layout_(frameLayoutOf(rate, config.userBits)),
      groupFlags_(groupFlags(config.userBits)) {
  EncoderConfig mono = config;
  mono.channels = 1;
  mono.signalChannel = kEveryChannel;
  mono.coding = floats();
  shape_ = cellShapeOf(sampleRate, mono);
  level_ = shape_.amplitude > 0 ? 1 : shape_.amplitude < 0 ? -1 : 0;
  noise_.seed(config.noiseSeed);
}

CellPlan& FrameWriter::plan(uint32_t length) {
  if (const auto found = plans_.find(length); found != plans_.end()) return found->second;
  if (plans_.size() >= kMostPlans) plans_.clear();
  return plans_.try_emplace(length, length, shape_, noise_).first->second;
}

void FrameWriter::write(float* out, TimecodeWord label, uint32_t userBits, uint32_t length) {
  loadFrame(frame_, label, dropFrame_);
  setUserBits(frame_, userBits);
  setGroupFlags(frame_, layout_, groupFlags_);
  setPhaseBit(frame_, layout_.phaseBit);
  level_ = plan(length).writeFrame(reinterpret_cast<uint8_t*>(out), frame_, level_);
}

}  // namespace stampline
