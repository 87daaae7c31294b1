#ifndef STAMPLINE_TIMECODE_FRAME_SCHEDULE_H_
#define STAMPLINE_TIMECODE_FRAME_SCHEDULE_H_

#include <cstdint>

#include "timecode/frame_rate.h"
#include "timecode/timecode.h"

namespace stampline {

// Where every frame of a run lies in its samples, and which label it
// carries: one exact sample grid for every frame rate and sample rate,
// anchored at midnight of the start label.
//
// With the rate NUM/DEN, R samples a second and N the start label's number
// in the run's counting (its nominal count since midnight, or with
// drop-frame its index among the labels that exist), frame k of the run
// starts at sample floor((N + k) * R * DEN / NUM) - floor(N * R * DEN / NUM)
// and carries label N + k. Every frame boundary therefore lies where it would
// in a run started at midnight, and runs from different starts line up sample
// for sample. Where R * DEN / NUM is whole, frame k simply starts at k times
// that many samples. All of it is integer arithmetic, exact for every
// sample position below 2^63.
class FrameSchedule {
 public:
  // The caller guarantees sampleRate > 0 and a rate with numerator,
  // denominator and nominal > 0. Start digits are read at face value; with
  // drop-frame counting (30 labels a second only) a skipped start label
  // counts as the next one.
  FrameSchedule(FrameRate rate, int32_t sampleRate, TimecodeWord start, bool dropFrame);
  FrameSchedule() : FrameSchedule(FrameRate{}, 48000, 0, false) {}

  // The first sample frame of frame k, counted from the run's first sample.
  uint64_t frameStart(uint64_t k) const;
  uint64_t frameLength(uint64_t k) const { return frameStart(k + 1) - frameStart(k); }
  // Frames take one of these two lengths (the same where the grid is whole).
  uint64_t shortestFrame() const { return shortest_; }
  uint64_t longestFrame() const { return shortest_ + (wholeFrames_ ? 0 : 1); }
  // The lengths repeat every this many frames: 5 at 29.97 and 48000 Hz
  // (1601, 1602, 1601, 1602, 1602), 1 where the grid is whole.
  uint64_t lengthPeriod() const;

  // The frame that holds sample frame `position`, and how far into it the
  // position lies.
  struct Place {
    uint64_t frame;
    uint64_t offset;
  };
  Place frameAt(uint64_t position) const;
  // How many whole frames the first `samples` sample frames hold.
  uint64_t completeFrames(uint64_t samples) const { return frameAt(samples).frame; }

  // The label frame k carries (bits 0-29 of the word), wrapping at midnight.
  TimecodeWord label(uint64_t k) const;

  // Frames one after another from frame k, each with its length and label:
  // the same as frameLength() and label() give, stepped on by counting
  // instead of dividing, for the tight loop of rendering.
  class Walk {
   public:
    Walk(const FrameSchedule& schedule, uint64_t k);
    uint64_t frame() const { return frame_; }
    uint64_t length() const { return length_; }
    TimecodeWord label() const { return label_; }
    void next();

   private:
    uint64_t frame_;
    uint64_t numerator_;  // NUM
    uint64_t spare_;      // R * DEN mod NUM
    uint64_t shortest_;
    uint64_t remainder_;  // (N + frame) * R * DEN mod NUM
    uint64_t length_;
    TimecodeWord label_;
    uint32_t nominal_;
    bool dropFrame_;
  };

  const FrameRate& rate() const { return rate_; }
  int32_t sampleRate() const { return sampleRate_; }
  bool dropFrame() const { return dropFrame_; }
  // N, the start label's number in the run's counting.
  uint64_t startNumber() const { return startNumber_; }
  // The first sample's place on the day's grid: sample frames from midnight.
  uint64_t startSample() const { return origin_; }

 private:
  // floor(x * R * DEN / NUM) without overflow for any result below 2^64.
  uint64_t gridSample(uint64_t x) const;

  FrameRate rate_;
  int32_t sampleRate_;
  bool dropFrame_;
  uint64_t samplesPerSecondTimesDen_;  // R * DEN
  uint64_t shortest_;                  // floor(R * DEN / NUM)
  bool wholeFrames_;                   // every frame shortest_ samples long
  uint64_t startNumber_;
  uint64_t origin_;
};

// Writes into `current` the label of the frame that holds sample frame
// `position` of the run (bits 0-29; bits 30-31 keep what they held) and
// returns how many sample frames `position` lies after that frame's first
// sample.
int32_t timecodeAt(uint64_t position, const FrameSchedule& schedule, TimecodeWord& current);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_FRAME_SCHEDULE_H_
