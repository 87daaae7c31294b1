#include "timecode/timecode.h"

#include <cstdint>

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

uint32_t nibble(TimecodeWord word, int shift) { return (word >> shift) & 0xFU; }

// The start word's digits at face value, as a nominal count of frames from
// midnight (not wrapped: hours may read beyond 23).
uint64_t nominalStart(TimecodeWord start, uint64_t fps) {
  const uint64_t hours = nibble(start, 0) + 10 * nibble(start, 4);
  const uint64_t minutes = nibble(start, 8) + 10 * nibble(start, 12);
  const uint64_t seconds = nibble(start, 16) + 10 * nibble(start, 20);
  const uint64_t frames = nibble(start, 24) + 10 * ((start >> 28) & 0x3U);
  return ((hours * 60 + minutes) * 60 + seconds) * fps + frames;
}

// A label's index among the drop-frame labels of a day; a skipped label
// counts as the next one that exists.
uint64_t dropFrameIndex(TimecodeWord label) {
  uint64_t count = nominalStart(label, 30) % kNominalDay;
  const uint64_t minute = count / kFramesPerMinute;
  if (count % kFramesPerMinute < 2 && minute % 10 != 0) count = minute * kFramesPerMinute + 2;
  return count - 2 * (minute - minute / 10);
}

// The drop-frame label `n` frames after `start`, as a nominal 30-frame count
// from midnight. The start label is turned into its place in the drop-frame
// day, so the skips fall at the labels' own minutes whatever the start; a
// start on a skipped label begins at the next label that exists.
uint64_t dropFrameLabel(uint64_t n, TimecodeWord start) {
  const uint64_t index = (dropFrameIndex(start) + n % kDropFrameDay) % kDropFrameDay;
  const uint64_t blocks = index / kDropFrameTenMinutes;
  const uint64_t withinBlock = index % kDropFrameTenMinutes;
  const uint64_t skippedInBlock =
      withinBlock < 2 ? 0 : 2 * ((withinBlock - 2) / kDropFrameMinute);
  return index + 18 * blocks + skippedInBlock;
}

}  // namespace

int32_t timecodeAt(uint64_t position, int32_t sampleRate, int32_t fps,
                   TimecodeWord& current, const TimecodeWord& start,
                   bool dropFrame) {
  uint64_t n = 0;
  int32_t offset = 0;
  if (position <= UINT32_MAX) {
    // Frame index and offset from double operations in exactly this order,
    // so that every 32-bit position gives the same result on every build.
    const double rate = sampleRate;
    const double framesPerSecond = fps;
    const double d = (static_cast<double>(position) * framesPerSecond) / rate;
    // d is never negative, so truncation is the floor, without a call to
    // the maths library on processors that lack a rounding instruction.
    n = static_cast<uint64_t>(d);
    const double within = ((rate * d) / framesPerSecond) -
                          ((static_cast<double>(n) * rate) / framesPerSecond);
    offset = static_cast<int32_t>(within);
  } else {
    // Beyond 32 bits the double steps lose the offset's precision, so long
    // runs count in exact integers: position = q * sampleRate + r.
    const auto rate = static_cast<uint64_t>(sampleRate);
    const auto perSecond = static_cast<uint64_t>(fps);
    const uint64_t r = position % rate;
    n = (position / rate) * perSecond + (r * perSecond) / rate;
    offset = static_cast<int32_t>(((r * perSecond) % rate) / perSecond);
  }

  const auto nominalFps = static_cast<uint64_t>(fps);
  // Drop-frame counting exists only at 30 frames per second; the front end
  // refuses it at any other rate, and here it falls back to plain counting.
  const uint64_t total = dropFrame && fps == 30 ? dropFrameLabel(n, start)
                                                : n + nominalStart(start, nominalFps);

  // One division by the frame rate; the rest divide by constants.
  const uint64_t totalSeconds = total / nominalFps;
  const uint64_t totalMinutes = totalSeconds / 60;
  const auto frames = static_cast<uint32_t>(total - totalSeconds * nominalFps);
  const auto seconds = static_cast<uint32_t>(totalSeconds % 60);
  const auto minutes = static_cast<uint32_t>(totalMinutes % 60);
  const auto hours = static_cast<uint32_t>((totalMinutes / 60) % 24);

  const TimecodeWord packed = (hours % 10) | (hours / 10) << 4 | (minutes % 10) << 8 |
                              (minutes / 10) << 12 | (seconds % 10) << 16 |
                              (seconds / 10) << 20 | (frames % 10) << 24 |
                              (frames / 10) << 28;
  current = packed | (current & 0xC0000000U);
  return offset;
}

uint64_t labelNumber(TimecodeWord label, uint32_t nominalFps, bool dropFrame) {
  if (dropFrame && nominalFps == 30) return dropFrameIndex(label);
  return nominalStart(label, nominalFps) % labelsPerDay(nominalFps, false);
}

uint64_t labelsPerDay(uint32_t nominalFps, bool dropFrame) {
  if (dropFrame && nominalFps == 30) return kDropFrameDay;
  return uint64_t{nominalFps} * 60 * 60 * 24;
}

}  // namespace stampline
