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

uint32_t nibble(TimecodeWord word, int shift) { return (word >> shift) & 0xFU; }

// The word's digits at face value, as a nominal count of frames from
// midnight (not wrapped: hours may read beyond 23).
uint64_t nominalCount(TimecodeWord label, uint64_t fps) {
  const uint64_t hours = nibble(label, 0) + 10 * nibble(label, 4);
  const uint64_t minutes = nibble(label, 8) + 10 * nibble(label, 12);
  const uint64_t seconds = nibble(label, 16) + 10 * nibble(label, 20);
  const uint64_t frames = nibble(label, 24) + 10 * ((label >> 28) & 0x3U);
  return ((hours * 60 + minutes) * 60 + seconds) * fps + frames;
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
  return (hours % 10) | (hours / 10) << 4 | (minutes % 10) << 8 | (minutes / 10) << 12 |
         (seconds % 10) << 16 | (seconds / 10) << 20 | (frames % 10) << 24 | (frames / 10) << 28;
}

}  // namespace stampline
