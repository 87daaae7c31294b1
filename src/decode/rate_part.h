#ifndef STAMPLINE_DECODE_RATE_PART_H_
#define STAMPLINE_DECODE_RATE_PART_H_

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "decode/channel_report.h"
#include "decode/line_fit.h"
#include "timecode/frame_rate.h"

namespace stampline {

// The nominal rates (labels a second) a count may be in, as bits.
inline constexpr uint8_t kNominal24 = 1;
inline constexpr uint8_t kNominal25 = 2;
inline constexpr uint8_t kNominal30 = 4;
inline constexpr uint8_t kAnyNominal = kNominal24 | kNominal25 | kNominal30;
// 24, 25 or 30 for one bit.
uint32_t nominalOf(uint8_t bit);
// The nominal rates that have a frame numbered `frameNumber` (those above
// it) and, with `dropFrame`, drop-frame counting (30 alone).
uint8_t nominalsWith(uint32_t frameNumber, bool dropFrame);

// A channel's confirmed frames, part by part: a part is a stretch at one
// rate. Each part keeps the nominal rates its frames still allow; a frame
// none of them allows starts a new part, at the first frame of its count
// (frames are held a few seconds so that they can move there).
class RateParts {
 public:
  RateParts(int32_t sampleRate, std::optional<FrameRate> stated);

  // The nominal rates the current part's count may be in.
  uint8_t nominals() const { return possible_; }
  // A frame confirmed: `newCount` where it starts a count of its own;
  // `nominals`, the counts in which the frame before predicted it (all for
  // a new count); `slots`, the frames' places since the frame before.
  // Returns whether it starts a new part; firstOfPart() is then the new
  // part's first frame.
  bool add(const FrameRecord& record, bool newCount, uint8_t nominals, uint64_t slots);
  const FrameRecord& firstOfPart() const { return runStart_; }
  // Whether the first part's rate is settled: one nominal rate left (or
  // stated), and a second of frames to time them.
  bool settled() const;
  // The current part's rate as the frames so far give it.
  FrameRate rate() const;
  // Every frame is in: each part's rate, speed and jitter.
  std::vector<RatePart> finish();

 private:
  struct Held {
    FrameRecord record;
    double slot;
  };
  struct Part {
    RatePart report;
    uint8_t possible = kAnyNominal;
    LineFit fit;
    double slot = 0;  // the place of the last frame committed
  };
  void commit(Part& part, const Held& held) const;
  FrameRate decide(const Part& part) const;
  double meanLength(const Part& part) const;

  int32_t sampleRate_;
  std::optional<FrameRate> stated_;
  std::vector<Part> parts_;
  uint8_t possible_ = kAnyNominal;  // of the current part, with its held frames
  std::deque<Held> run_;            // the current count's frames, not yet committed
  FrameRecord runStart_;
  bool runIsNewCount_ = false;
  double slot_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_RATE_PART_H_
