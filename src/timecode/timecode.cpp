#include "timecode/timecode.h"

#include <cstddef>

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

// The word, read as hexadecimal, shows frames, seconds, minutes, hours:
//   bits  0-3 hour units    4-7 hour tens     8-11 minute units  12-15 minute tens
//   bits 16-19 second units 20-23 second tens 24-27 frame units  28-29 frame tens
// Here in written order, HH MM SS FF, with the width of each digit.
constexpr std::array<int, 8> kDigitShift = {4, 0, 12, 8, 20, 16, 28, 24};
constexpr std::array<uint32_t, 8> kDigitMask = {0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0x3, 0xF};

}  // namespace

TimecodeDigits digitsOf(TimecodeWord word) {
  TimecodeDigits digits{};
  for (size_t i = 0; i < digits.size(); ++i) digits[i] = (word >> kDigitShift[i]) & kDigitMask[i];
  return digits;
}

TimecodeWord wordOfDigits(const TimecodeDigits& digits) {
  TimecodeWord word = 0;
  for (size_t i = 0; i < digits.size(); ++i) word |= (digits[i] & kDigitMask[i]) << kDigitShift[i];
  return word;
}

TimecodeFields fieldsOf(TimecodeWord word) {
  const TimecodeDigits d = digitsOf(word);
  return {10 * d[0] + d[1], 10 * d[2] + d[3], 10 * d[4] + d[5], 10 * d[6] + d[7]};
}

TimecodeWord wordOf(const TimecodeFields& f) {
  return wordOfDigits({f.hours / 10, f.hours % 10, f.minutes / 10, f.minutes % 10, f.seconds / 10,
                       f.seconds % 10, f.frames / 10, f.frames % 10});
}

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

}  // namespace stampline
