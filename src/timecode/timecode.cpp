#include "timecode/timecode.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace stampline {
namespace {

// Drop-frame counting works on the 30-frame count whatever the frame rate:
// an hour holds 108000 - 108 frames, and a minute is taken as 1798.2 frames
// long so that "minutes begun" comes out of one multiplication.
constexpr uint64_t kDropFrameHour = 107892;
// The double nearest 1/107892.
constexpr double kInverseDropFrameHour = std::bit_cast<double>(0x3EE37000C2600798ULL);
// One unit in the last place above the double nearest 1/1798.2, so that a
// frame index exactly on a minute boundary never truncates to the minute
// before.
constexpr double kInverseDropFrameMinute = std::bit_cast<double>(0x3F423900B63A071FULL);

uint32_t nibble(TimecodeWord word, int shift) { return (word >> shift) & 0xFU; }

// Frame index to the nominal count whose label the frame carries: two frame
// numbers are skipped for every minute begun, except every tenth minute.
uint64_t dropFrameCount(uint64_t n, uint64_t fps) {
  const auto hoursDone =
      static_cast<uint64_t>(static_cast<double>(n) * kInverseDropFrameHour);
  const auto minutesInHour = static_cast<uint64_t>(
      std::fmod(static_cast<double>(n), static_cast<double>(kDropFrameHour)) *
      kInverseDropFrameMinute);
  const uint64_t minutesBegun = 60 * hoursDone + minutesInHour;
  uint64_t label = n + 2 * (minutesBegun - minutesBegun / 10);

  // The 1798.2-frame minute starts minutes 1-5 of each ten one frame early;
  // that frame would read ss=00, ff=01 of the new minute, so it goes back to
  // the last label of the minute before.
  const uint64_t labelSeconds = label / fps;
  const uint64_t frames = label - labelSeconds * fps;
  const uint64_t seconds = labelSeconds % 60;
  const uint64_t minutes = (labelSeconds / 60) % 60;
  if (frames <= 1 && seconds == 0 && minutes % 10 > 0) label -= 2;
  return label;
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
    n = static_cast<uint64_t>(std::floor(d));
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
  const uint64_t label = dropFrame ? dropFrameCount(n, nominalFps) : n;

  const uint64_t startHours = nibble(start, 0) + 10 * nibble(start, 4);
  const uint64_t startMinutes = nibble(start, 8) + 10 * nibble(start, 12);
  const uint64_t startSeconds = nibble(start, 16) + 10 * nibble(start, 20);
  const uint64_t startFrames = nibble(start, 24) + 10 * ((start >> 28) & 0x3U);
  const uint64_t startCount =
      ((startHours * 60 + startMinutes) * 60 + startSeconds) * nominalFps + startFrames;
  const uint64_t total = label + startCount;

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

}  // namespace stampline
