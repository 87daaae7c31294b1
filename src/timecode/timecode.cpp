#include "timecode/timecode.h"

namespace stampline {
namespace {

constexpr uint64_t kFramesPerMinute = uint64_t{30} * 60;
constexpr uint64_t kNominalDay = kFramesPerMinute * 60 * 24;
// Drop-frame counting leaves out labels 00 and 01 at second 00 of every
// minute except each tenth: a ten-minute block holds 18000 - 18 labels, its
// first minute 1800 and the other nine 1798 each.
constexpr uint64_t kDropFrameMinute = kFramesPerMinute - 2;
constexpr uint64_t kDropFrameTenMinutes = 10 * kFramesPerMinute - 18;
constexpr uint64_t kDropFrameDay = kDropFrameTenMinutes * 6 * 24;

bool countsDropFrame(uint32_t nominalFps, bool dropFrame) { return dropFrame && nominalFps == 30; }

// The word's digits at face value, as a nominal count of frames from
// midnight (not wrapped: hours may read beyond 23).
uint64_t nominalCount(TimecodeWord label, uint64_t fps) {
  const TimecodeFields f = fieldsOf(label);
  return ((uint64_t{f.hours} * 60 + f.minutes) * 60 + f.seconds) * fps + f.frames;
}

}  // namespace

uint64_t labelsPerDay(uint32_t nominalFps, bool dropFrame) {
  if (countsDropFrame(nominalFps, dropFrame)) return kDropFrameDay;
  return uint64_t{nominalFps} * 60 * 60 * 24;
}

uint64_t labelNumber(TimecodeWord label, uint32_t nominalFps, bool dropFrame) {
  if (!countsDropFrame(nominalFps, dropFrame)) {
    return nominalCount(label, nominalFps) % labelsPerDay(nominalFps, false);
  }
  uint64_t count = nominalCount(label, 30) % kNominalDay;
  const uint64_t minute = count / kFramesPerMinute;
  if (count % kFramesPerMinute < 2 && minute % 10 != 0) count = minute * kFramesPerMinute + 2;
  return count - 2 * (minute - minute / 10);
}

TimecodeWord labelOfNumber(uint64_t number, uint32_t nominalFps, bool dropFrame) {
  const uint64_t fps = nominalFps;
  uint64_t total = number % labelsPerDay(nominalFps, dropFrame);
  if (countsDropFrame(nominalFps, dropFrame)) {
    // Back to the nominal count: 18 labels skipped in every whole ten-minute
    // block, and two in each minute of the block begun after its first.
    const uint64_t blocks = total / kDropFrameTenMinutes;
    const uint64_t withinBlock = total % kDropFrameTenMinutes;
    const uint64_t skippedInBlock =
        withinBlock < 2 ? 0 : 2 * ((withinBlock - 2) / kDropFrameMinute);
    total += 18 * blocks + skippedInBlock;
  }
  // One division by the frame rate; the rest divide by constants.
  const uint64_t totalSeconds = total / fps;
  const uint64_t totalMinutes = totalSeconds / 60;
  const auto frames = static_cast<uint32_t>(total - totalSeconds * fps);
  const auto seconds = static_cast<uint32_t>(totalSeconds % 60);
  const auto minutes = static_cast<uint32_t>(totalMinutes % 60);
  const auto hours = static_cast<uint32_t>(totalMinutes / 60);
  return wordOf({hours, minutes, seconds, frames});
}

TimecodeWord nextLabel(TimecodeWord label, uint32_t nominalFps, bool dropFrame) {
  // Most labels only count up their frame units, which no skip follows.
  constexpr int kFrameUnits = kDigitShift[7];
  const uint32_t units = (label >> kFrameUnits) & kDigitMask[7];
  if (units < 9 && fieldsOf(label).frames + 1 < nominalFps) return label + (1U << kFrameUnits);
  TimecodeFields f = fieldsOf(label);
  if (++f.frames == nominalFps) {
    f.frames = 0;
    if (++f.seconds == 60) {
      f.seconds = 0;
      if (++f.minutes == 60) {
        f.minutes = 0;
        if (++f.hours == 24) f.hours = 0;
      }
    }
  }
  // Labels 00 and 01 of second 00 are left out but in each tenth minute.
  if (countsDropFrame(nominalFps, dropFrame) && f.seconds == 0 && f.frames == 0 &&
      f.minutes % 10 != 0) {
    f.frames = 2;
  }
  return wordOf(f);
}

}  // namespace stampline
