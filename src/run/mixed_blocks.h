#ifndef STAMPLINE_RUN_MIXED_BLOCKS_H_
#define STAMPLINE_RUN_MIXED_BLOCKS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "run/block_source.h"
#include "run/output_run.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "wav/wav_reader.h"

namespace stampline {

// The blocks of a mixed file: the LTC of whole frames rendered on one
// channel, and as many of the input's sample frames, interleaved with it;
// past the input's end, silence beside the LTC. A block stays valid until
// the call after next (a read-ahead writes one while the next is made).
class MixedBlocks final : public BlockSource {
 public:
  // The LTC goes to channel `ltcChannel` (1-based) of the output; blocks of
  // about `blockBytes`.
  MixedBlocks(LtcEncoder& encoder, const OutputPlan& plan, int32_t ltcChannel, WavReader& reader,
              std::string inputName, uint64_t blockBytes);

  bool done() const override { return done_ || ltc_.done(); }
  std::span<const uint8_t> next() override;
  uint64_t framesDone() const override { return ltc_.framesDone(); }
  TimecodeWord lastLabel() const override { return ltc_.lastLabel(); }
  std::string failed() const override { return failure_; }

  // Sample frames the input gave, and whether it ended before its header
  // said.
  uint64_t inputFrames() const { return inputFrames_; }
  bool inputEndedEarly() const { return inputEnded_ && reader_.truncated(); }

 private:
  static constexpr size_t kSlack = 16;
  void interleave(const uint8_t* in, const uint8_t* ltc, uint8_t* out, size_t frames) const;

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

// The frames that cover `samples` sample frames: the last may run past them.
uint64_t framesCovering(const FrameSchedule& schedule, uint64_t samples);

}  // namespace stampline

#endif  // STAMPLINE_RUN_MIXED_BLOCKS_H_
