#include "timecode/ltc_frame.h"


namespace stampline {
namespace {

// Replaces the low `width` bits of `byte` with `value`.
inline void setLowBits(uint8_t& byte, int width, uint32_t value) {
  const auto mask = static_cast<uint8_t>((1U << width) - 1U);
  byte = static_cast<uint8_t>((byte & ~mask) | (value & mask));
}

constexpr uint8_t kDropFrameFlag = 0x04;  // byte 1, bit 2

}  // namespace

void loadFrame(LtcFrame& frame, TimecodeWord timecode, bool dropFrame) {
  auto& b = frame.bytes;
  setLowBits(b[0], 4, timecode >> 24);  // frame units
  setLowBits(b[1], 2, timecode >> 28);  // frame tens
  setLowBits(b[2], 4, timecode >> 16);  // second units
  setLowBits(b[3], 3, timecode >> 20);  // second tens
  setLowBits(b[4], 4, timecode >> 8);   // minute units
  setLowBits(b[5], 3, timecode >> 12);  // minute tens
  setLowBits(b[6], 4, timecode);        // hour units
  setLowBits(b[7], 2, timecode >> 4);   // hour tens
  if (dropFrame) b[1] |= kDropFrameFlag;
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

}  // namespace stampline
