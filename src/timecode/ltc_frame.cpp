#include "timecode/ltc_frame.h"

#include <bit>

namespace stampline {
namespace {

// Where each timecode field goes: the frame byte, how many low bits of it the
// field fills, and where the field sits in the TimecodeWord.
struct FieldPlacement {
  int byte;
  int width;
  int wordShift;
};

constexpr std::array<FieldPlacement, 8> kFields{{
    {0, 4, 24},  // frame units
    {1, 2, 28},  // frame tens
    {2, 4, 16},  // second units
    {3, 3, 20},  // second tens
    {4, 4, 8},   // minute units
    {5, 3, 12},  // minute tens
    {6, 4, 0},   // hour units
    {7, 2, 4},   // hour tens
}};

constexpr uint8_t kDropFrameFlag = 0x04;  // byte 1, bit 2
constexpr uint8_t kPhaseBit = 0x08;       // byte 3, bit 3

}  // namespace

void loadFrame(LtcFrame& frame, TimecodeWord timecode, bool dropFrame) {
  for (const FieldPlacement& field : kFields) {
    const auto mask = static_cast<uint8_t>((1U << field.width) - 1U);
    const auto value = static_cast<uint8_t>((timecode >> field.wordShift) & mask);
    uint8_t& byte = frame.bytes[static_cast<std::size_t>(field.byte)];
    byte = static_cast<uint8_t>((byte & ~mask) | value);
  }
  if (dropFrame) frame.bytes[1] |= kDropFrameFlag;
}

void setPhaseBit(LtcFrame& frame) {
  int ones = 0;
  for (const uint8_t byte : frame.bytes) ones += std::popcount(byte);
  if (ones % 2 != 0) frame.bytes[3] ^= kPhaseBit;
}

}  // namespace stampline
