#ifndef STAMPLINE_DECODE_CHANNEL_REPORT_H_
#define STAMPLINE_DECODE_CHANNEL_REPORT_H_

#include <array>
#include <cmath>
#include <limits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "timecode/frame_rate.h"
#include "timecode/timecode.h"

namespace stampline {

// One frame read whole and valid from a channel.
struct FrameRecord {
  uint64_t sample = 0;    // its first sample in the file's order
  double position = 0;    // the same, to a fraction of a sample
  uint64_t length = 0;    // in samples, to the next frame's first sample
  TimecodeWord label = 0;
  bool dropFrame = false;
  bool colourFrame = false;
  unsigned groupFlags = 0;  // BGF2 BGF1 BGF0 as bits 2 to 0
  uint32_t userBits = 0;    // group 8 in the top four bits
  bool forward = true;
};

// What can happen in a channel's timecode, each with a name for reports.
enum class EventType {
  kJump,        // a label that does not follow the one before
  kRepeat,      // the label before again
  kGap,         // a frame's length or more without a frame that can be read
  kDirection,   // played the other way from here
  kDropFrame,   // the drop-frame flag changes, or disagrees with the labels
  kUserBits,    // the user bits change (not a date moving on at midnight)
  kTimeStamp,   // the file's time stamp puts this frame half a frame or more away
  kInvalid,     // a frame read whole that fails its parity or digit ranges, or that no neighbour confirms
  kTruncated,   // the file ends before its header says
  kRate,        // the frame rate changes: a part of its own from here
  kUnreadable,  // longer than a frame of a signal like LTC, without a frame confirmed (the last type)
};
inline constexpr size_t kEventTypes = static_cast<size_t>(EventType::kUnreadable) + 1;
const char* eventName(EventType type);

struct Event {
  EventType type;
  uint64_t sample = 0;
  // The labels either side, where there are frames there.
  std::optional<TimecodeWord> before;
  std::optional<TimecodeWord> after;
  uint64_t length = 0;  // a gap's or an unreadable stretch's, in samples
  std::string detail;   // a few words where the type says too little
  // Whether those frames say drop-frame (their labels show ';').
  bool beforeDropFrame = false;
  bool afterDropFrame = false;
};

// A stretch of a channel's timecode at one frame rate: its frames, their
// rate (the nominal one from the labels, 23.976/24 and 29.97/30 told apart
// by timing), drop-frame, speed and jitter.
struct RatePart {
  uint64_t frames = 0;
  FrameRecord first, last;
  FrameRate rate;
  bool rateKnown = false;  // from at least three confirmed frames (else no rate, speed nor jitter)
  bool dropFrame = false;  // the first frame's flag
  double speedPpm = 0;     // positive: frames shorter than nominal
  double jitterSamples = 0;
};

// Everything a channel's analysis found.
struct ChannelReport {
  int channel = 1;  // 1-based
  uint64_t frames = 0;
  FrameRecord first, last;
  bool forward = false, backward = false;  // which ways it was played
  FrameRate rate;
  bool rateStated = false;  // given on the command line, not detected
  bool dropFrame = false;   // the first frame's flag
  // User bits: the first frame's, and how often they changed; a date and
  // time-zone code where the group flags say they hold one (SMPTE 309M).
  uint32_t userBits = 0;
  uint64_t userBitsChanges = 0;
  unsigned groupFlags = 0;
  bool holdsDate = false;
  unsigned year = 0, month = 0, day = 0;  // two-digit year as the bits hold it
  unsigned timeZone = 0;                   // the code in groups 7 and 8
  double peakDbfs = -std::numeric_limits<double>::infinity();
  int polarity = 0;  // the frames' first reversal: +1 rising, -1 falling, 0 both
  double riseMicroseconds = 0;
  double speedPpm = 0;  // positive: frames shorter than nominal
  double jitterSamples = 0;
  // Against the bext TimeReference: where the time stamp puts each frame's
  // label minus where the frame is, for the first frame and the largest.
  std::optional<uint64_t> timeReference;
  // A time reference of a day's samples or more stands for no time of day:
  // nothing is compared with it.
  bool timeReferencePastDay = false;
  double firstDifference = 0;
  double worstDifference = 0;
  TimecodeWord impliedLabel = 0;  // the label at the time stamp's sample
  std::vector<Event> events;      // the first kMostEventsListed
  std::array<uint64_t, kEventTypes> eventCounts{};
  uint64_t invalidFrames = 0;     // read whole and refused, the unconfirmed among them
  uint64_t unconfirmedFrames = 0;
  uint64_t nonFiniteSamples = 0;  // not a number, or infinite: read as silence
  // Each stretch at one rate, in order; the rate, drop-frame, speed and
  // jitter above are the first part's.
  std::vector<RatePart> parts;

  static constexpr size_t kMostEventsListed = 1000;
  bool carriesLtc() const { return frames > 0; }
  // A signal like LTC that could not be read (and no frame confirmed).
  bool unreadable() const { return frames == 0 && eventCounts[static_cast<size_t>(EventType::kUnreadable)] > 0; }
  uint64_t eventTotal() const;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_CHANNEL_REPORT_H_
