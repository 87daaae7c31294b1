#ifndef STAMPLINE_TIMECODE_LTC_FRAME_H_
#define STAMPLINE_TIMECODE_LTC_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "timecode/timecode.h"

namespace stampline {

// One 80-bit LTC frame. Frame bit n is bit (n % 8) of bytes[n / 8]; bits go
// out from 0 to 79, so byte 0 first and each byte least significant bit first.
//   byte 0  bits 0-3 frame units     bits 4-7 user bits 1
//   byte 1  bits 0-1 frame tens      bit 2 drop-frame flag, bit 3 colour frame,
//                                    bits 4-7 user bits 2
//   byte 2  bits 0-3 second units    bits 4-7 user bits 3
//   byte 3  bits 0-2 second tens     bit 3 phase correction, bits 4-7 user bits 4
//   byte 4  bits 0-3 minute units    bits 4-7 user bits 5
//   byte 5  bits 0-2 minute tens     bit 3 group flag, bits 4-7 user bits 6
//   byte 6  bits 0-3 hour units      bits 4-7 user bits 7
//   byte 7  bits 0-1 hour tens       bits 2-3 group flags, bits 4-7 user bits 8
//   bytes 8-9  sync word FC BF: on the wire 0011 1111 1111 1101
// An encoder updates one frame in place from label to label: loadFrame()
// rewrites the timecode fields, setPhaseBit() the parity; the user bits and
// group flags change only where the run's user bits do (a date passing
// midnight).
struct LtcFrame {
  std::array<uint8_t, 10> bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0xBF};

  bool bit(int n) const { return ((bytes[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1U) != 0; }
};

// Copies the eight timecode fields of `timecode` (which must hold decimal
// digits, as `timecodeAt` writes them) into their frame fields, leaving every
// other bit as it was. The drop-frame flag is set when `dropFrame` is true and
// never cleared.
void loadFrame(LtcFrame& frame, TimecodeWord timecode, bool dropFrame);

// Where a frame keeps its phase-correction bit and its three binary group
// flags BGF0, BGF1, BGF2: the layout of 24 and 30 fps (23.976 and 29.97
// too), or the EBU layout of 25 fps, which frames carrying user bits follow.
// Frames at 25 fps without user bits keep the first.
struct FrameLayout {
  int phaseBit;
  std::array<int, 3> groupFlagBits;
};
inline constexpr FrameLayout kLayout30{27, {43, 58, 59}};
inline constexpr FrameLayout kLayoutEbu{59, {27, 58, 43}};

// Sets the phase-correction bit (frame bit 27 unless the layout says
// otherwise) so that the frame holds an even number of ones; the signal then
// ends every frame with the polarity it began with.
void setPhaseBit(LtcFrame& frame, int phaseBit = kLayout30.phaseBit);

// Writes the 32 user bits: binary group g (g = 1 ... 8, frame bits
// 8g - 4 ... 8g - 1) takes bits 4g - 4 ... 4g - 1 of `word`, so that the word
// read as hexadecimal shows group 8 first.
void setUserBits(LtcFrame& frame, uint32_t word);
// Sets the binary group flags to `flags` (BGF2 BGF1 BGF0 as its bits 2 to 0)
// at the places `layout` gives them.
void setGroupFlags(LtcFrame& frame, const FrameLayout& layout, unsigned flags);

// Reading a frame back, the inverse of the above.

// The eight timecode fields, each digit as the frame holds it.
TimecodeWord frameLabel(const LtcFrame& frame);
bool frameDropFlag(const LtcFrame& frame);
bool frameColourFlag(const LtcFrame& frame);
// The 32 user bits, group 8 in the top four bits.
uint32_t frameUserBits(const LtcFrame& frame);
// BGF2 BGF1 BGF0 as bits 2 to 0, read where `layout` puts them.
unsigned frameGroupFlags(const LtcFrame& frame, const FrameLayout& layout);
// Whether the 80 bits hold an even number of ones, as the phase-correction
// bit makes them.
bool hasEvenParity(const LtcFrame& frame);
// Whether every timecode digit is a decimal digit within its field: units
// 0-9, hours below 24, minutes and seconds below 60 (the frames, below 40
// by their width, are for the frame rate to bound).
bool digitsInRange(const LtcFrame& frame);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_LTC_FRAME_H_
