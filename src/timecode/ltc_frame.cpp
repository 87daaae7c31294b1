#include "timecode/ltc_frame.h"


namespace stampline {
namespace {

// Replaces the low `width` bits of `byte` with `value`.
inline void setLowBits(uint8_t& byte, int width, uint32_t value) {
  const auto mask = static_cast<uint8_t>((1U << width) - 1U);
  byte = static_cast<uint8_t>((byte & ~mask) | (value & mask));
}

constexpr uint8_t kDropFrameFlag = 0x04;  // byte 1, bit 2
constexpr uint8_t kColourFrameFlag = 0x08;  // byte 1, bit 3

// Where each timecode digit lies, in written order (hours tens first): the
// low `width` bits of frame byte `byte`.
struct DigitField {
  size_t byte;
  int width;
};
constexpr std::array<DigitField, 8> kDigitFields{{
    {7, 2}, {6, 4},  // hours
    {5, 3}, {4, 4},  // minutes
    {3, 3}, {2, 4},  // seconds
    {1, 2}, {0, 4},  // frames
}};
// The largest value of each digit in written order: hours to 23, minutes
// and seconds to 59, frame tens to 3 (the width's limit).
constexpr std::array<uint32_t, 8> kLargestDigit = {2, 9, 5, 9, 5, 9, 3, 9};

}  // namespace

void loadFrame(LtcFrame& frame, TimecodeWord timecode, bool dropFrame) {
  const TimecodeDigits d = digitsOf(timecode);
  for (size_t i = 0; i < kDigitFields.size(); ++i) {
    setLowBits(frame.bytes[kDigitFields[i].byte], kDigitFields[i].width, d[i]);
  }
  if (dropFrame) frame.bytes[1] |= kDropFrameFlag;
}

void setPhaseBit(LtcFrame& frame, int phaseBit) {
  // The parity of the ones, folded down to one bit.
  uint8_t folded = 0;
  for (const uint8_t byte : frame.bytes) folded ^= byte;
  folded ^= static_cast<uint8_t>(folded >> 4);
  folded ^= static_cast<uint8_t>(folded >> 2);
  folded ^= static_cast<uint8_t>(folded >> 1);
  if ((folded & 1U) != 0) {
    frame.bytes[static_cast<size_t>(phaseBit / 8)] ^= static_cast<uint8_t>(1U << (phaseBit % 8));
  }
}

void setUserBits(LtcFrame& frame, uint32_t word) {
  // Group g is the high half of byte g - 1.
  for (size_t g = 0; g < 8; ++g) {
    const auto nibble = static_cast<uint8_t>((word >> (4 * g)) & 0xFU);
    frame.bytes[g] = static_cast<uint8_t>((frame.bytes[g] & 0x0FU) | unsigned{nibble} << 4);
  }
}

void setGroupFlags(LtcFrame& frame, const FrameLayout& layout, unsigned flags) {
  for (size_t i = 0; i < 3; ++i) {
    const int bit = layout.groupFlagBits[i];
    uint8_t& byte = frame.bytes[static_cast<size_t>(bit / 8)];
    const auto mask = static_cast<uint8_t>(1U << (bit % 8));
    byte = static_cast<uint8_t>(((flags >> i) & 1U) != 0 ? byte | mask : byte & ~mask);
  }
}

TimecodeWord frameLabel(const LtcFrame& frame) {
  TimecodeDigits d{};
  for (size_t i = 0; i < kDigitFields.size(); ++i) {
    const DigitField& field = kDigitFields[i];
    d[i] = frame.bytes[field.byte] & ((1U << field.width) - 1U);
  }
  return wordOfDigits(d);
}

bool frameDropFlag(const LtcFrame& frame) { return (frame.bytes[1] & kDropFrameFlag) != 0; }
bool frameColourFlag(const LtcFrame& frame) { return (frame.bytes[1] & kColourFrameFlag) != 0; }

uint32_t frameUserBits(const LtcFrame& frame) {
  uint32_t word = 0;
  for (size_t g = 0; g < 8; ++g) word |= static_cast<uint32_t>(frame.bytes[g] >> 4U) << (4 * g);
  return word;
}

unsigned frameGroupFlags(const LtcFrame& frame, const FrameLayout& layout) {
  unsigned flags = 0;
  for (size_t i = 0; i < 3; ++i) flags |= (frame.bit(layout.groupFlagBits[i]) ? 1U : 0U) << i;
  return flags;
}

bool hasEvenParity(const LtcFrame& frame) {
  // The bytes folded onto one: its bits' parity is theirs (and a portable
  // popcount is a library call).
  unsigned folded = 0;
  for (const uint8_t byte : frame.bytes) folded ^= byte;
  folded ^= folded >> 4;
  folded ^= folded >> 2;
  folded ^= folded >> 1;
  return (folded & 1U) == 0;
}

bool digitsInRange(const LtcFrame& frame) {
  const TimecodeDigits d = digitsOf(frameLabel(frame));
  for (size_t i = 0; i < d.size(); ++i) {
    if (d[i] > kLargestDigit[i]) return false;
  }
  return d[0] * 10 + d[1] < 24;
}

}  // namespace stampline
