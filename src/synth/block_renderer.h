#ifndef STAMPLINE_SYNTH_BLOCK_RENDERER_H_
#define STAMPLINE_SYNTH_BLOCK_RENDERER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "synth/ltc_encoder.h"

namespace stampline {

// A run's frames rendered block by block into one buffer the renderer owns:
// blocks of whole frames, each rendered over the block before, so that only
// the bytes whose cells differ are copied. A block holds whole periods of
// the schedule's frame lengths where it can, so that every frame lands
// where the block before had one of the same length.
class BlockRenderer {
 public:
  // Blocks of about `blockBytes` (at least one frame, at most the run) for
  // the first `frames` frames of the encoder's schedule. Allocates the block
  // (std::bad_alloc when it cannot).
  BlockRenderer(LtcEncoder& encoder, uint64_t frames, uint64_t blockBytes);

  bool done() const { return framesDone_ == frames_; }
  // Renders the next block and returns its bytes, valid until the next call.
  std::span<const uint8_t> next();
  // Frames rendered so far, and the label of the last of them.
  uint64_t framesDone() const { return framesDone_; }
  TimecodeWord lastLabel() const { return encoder_.currentTc(); }
  uint64_t framesPerBlock() const { return framesPerBlock_; }

 private:
  struct AlignedDelete {
    void operator()(uint8_t* p) const;
  };

  LtcEncoder& encoder_;
  uint64_t frames_;
  uint64_t framesPerBlock_ = 1;
  uint64_t framesDone_ = 0;
  std::unique_ptr<uint8_t[], AlignedDelete> block_;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_BLOCK_RENDERER_H_
