#include "cli/block_renderer.h"

#include <algorithm>
#include <system_error>

#include "cli/process.h"
#include "wav/wav_writer.h"

namespace stampline {

BlockRenderer::BlockRenderer(LtcEncoder& encoder, uint64_t totalFrames, uint64_t framesPerBlock,
                             int32_t samplesPerFrame)
    : encoder_(encoder),
      totalFrames_(totalFrames),
      framesPerBlock_(framesPerBlock),
      samplesPerFrame_(samplesPerFrame),
      valuesPerFrame_(static_cast<uint64_t>(samplesPerFrame) *
                      static_cast<uint64_t>(encoder.channels())),
      blockCount_((totalFrames + framesPerBlock - 1) / framesPerBlock) {
  for (auto& block : memory_) {
    block.reset(new (std::align_val_t{4096}) int16_t[framesPerBlock_ * valuesPerFrame_]);
  }
}

BlockRenderer::~BlockRenderer() {
  if (thread_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
}

void BlockRenderer::startAhead() {
  if (blockCount_ < 2) return;  // nothing to overlap
  try {
    thread_ = startQuietThread([this] { renderAhead(); });
  } catch (const std::system_error&) {
    // No second thread: next() renders each block when it is asked for.
  } catch (const std::bad_alloc&) {
    // Likewise.
  }
}

BlockRenderer::Block BlockRenderer::render(size_t slot, uint64_t blockIndex) {
  const uint64_t first = blockIndex * framesPerBlock_;
  Block block;
  block.frames = std::min(framesPerBlock_, totalFrames_ - first);
  const auto values = static_cast<uint32_t>(block.frames * valuesPerFrame_);
  int16_t* samples = memory_[slot].get();
  encoder_.render(samples, first * static_cast<uint64_t>(samplesPerFrame_), values);
  samplesToLittleEndian(samples, values);
  block.samples = samples;
  block.bytes = size_t{values} * 2;
  block.lastLabel = encoder_.currentTc();
  return block;
}

void BlockRenderer::renderAhead() {
  for (uint64_t index = 0; index < blockCount_; ++index) {
    {
      // Both blocks full: wait until the writer hands one back.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this, index] { return quit_ || index - released_ < 2; });
      if (quit_) return;
    }
    const Block block = render(index % 2, index);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      blocks_[index % 2] = block;
      rendered_ = index + 1;
    }
    changed_.notify_all();
  }
}

BlockRenderer::Block BlockRenderer::next() {
  if (!thread_.joinable()) {
    blocks_[released_ % 2] = render(released_ % 2, released_);
    return blocks_[released_ % 2];
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return rendered_ > released_; });
  return blocks_[released_ % 2];
}

void BlockRenderer::release() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++released_;
  }
  changed_.notify_all();
}

}  // namespace stampline
