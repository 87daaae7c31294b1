#include "synth/block_renderer.h"

#include <algorithm>
#include <new>

namespace stampline {
namespace {

// Blocks start on a page, for the system's copy.
constexpr std::align_val_t kBlockAlignment{4096};

}  // namespace

void BlockRenderer::AlignedDelete::operator()(uint8_t* p) const {
  ::operator delete[](p, kBlockAlignment);
}

BlockRenderer::BlockRenderer(LtcEncoder& encoder, uint64_t frames, uint64_t blockBytes)
    : encoder_(encoder), frames_(frames) {
  const FrameSchedule& schedule = encoder.schedule();
  const uint64_t sampleFrameBytes = static_cast<uint64_t>(encoder.channels()) * encoder.valueBytes();
  const uint64_t longestFrameBytes = schedule.longestFrame() * sampleFrameBytes;
  framesPerBlock_ = std::clamp<uint64_t>(blockBytes / longestFrameBytes, 1, std::max<uint64_t>(frames, 1));
  const uint64_t period = schedule.lengthPeriod();
  if (framesPerBlock_ >= period) framesPerBlock_ -= framesPerBlock_ % period;
  const uint64_t bytes = framesPerBlock_ * longestFrameBytes;
  block_.reset(new (kBlockAlignment) uint8_t[bytes]());
}

std::span<const uint8_t> BlockRenderer::next() {
  const FrameSchedule& schedule = encoder_.schedule();
  const uint64_t count = std::min(framesPerBlock_, frames_ - framesDone_);
  const uint64_t first = schedule.frameStart(framesDone_);
  const auto values = static_cast<uint32_t>((schedule.frameStart(framesDone_ + count) - first) *
                                            static_cast<uint64_t>(encoder_.channels()));
  // The block still holds the last one as rendered.
  const uint32_t written = encoder_.render(block_.get(), first, values, framesDone_ > 0);
  framesDone_ += count;
  return {block_.get(), static_cast<size_t>(written) * encoder_.valueBytes()};
}

}  // namespace stampline
