#ifndef STAMPLINE_CLI_BLOCK_RENDERER_H_
#define STAMPLINE_CLI_BLOCK_RENDERER_H_

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "synth/ltc_encoder.h"
#include "timecode/timecode.h"

namespace stampline {

// Renders a run's frames into blocks of whole frames, little-endian and
// ready for the file, one block ahead of the writer: on a second thread
// where one can be had, so that rendering the next block overlaps the
// system's copy of the last one; otherwise on demand. Two blocks in all.
class BlockRenderer {
 public:
  struct Block {
    const int16_t* samples = nullptr;
    size_t bytes = 0;
    uint64_t frames = 0;          // frames in the block
    TimecodeWord lastLabel = 0;   // the label of its last frame
  };

  // Allocates both blocks (throws std::bad_alloc). `encoder` is set up and
  // used by this object alone until it goes.
  BlockRenderer(LtcEncoder& encoder, uint64_t totalFrames, uint64_t framesPerBlock,
                int32_t samplesPerFrame);
  ~BlockRenderer();
  BlockRenderer(const BlockRenderer&) = delete;
  BlockRenderer& operator=(const BlockRenderer&) = delete;

  // Starts rendering ahead on a thread of its own, if the system gives one.
  void startAhead();
  // The next block in order; waits for it to be rendered. Only while frames
  // are left.
  Block next();
  // The block from next() has been written; its memory may be reused.
  void release();

 private:
  struct AlignedDelete {
    void operator()(int16_t* p) const { ::operator delete[](p, std::align_val_t{4096}); }
  };

  void renderAhead();
  Block render(size_t slot, uint64_t blockIndex);

  LtcEncoder& encoder_;
  uint64_t totalFrames_;
  uint64_t framesPerBlock_;
  int32_t samplesPerFrame_;
  uint64_t valuesPerFrame_;
  uint64_t blockCount_;
  std::array<std::unique_ptr<int16_t[], AlignedDelete>, 2> memory_;
  std::array<Block, 2> blocks_;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t rendered_ = 0;  // blocks rendered so far
  uint64_t released_ = 0;  // blocks written and handed back
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace stampline

#endif  // STAMPLINE_CLI_BLOCK_RENDERER_H_
