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
// The frame is updated in place for every timecode: only the timecode fields,
// the drop-frame flag and the phase-correction bit ever change.
struct LtcFrame {
  std::array<uint8_t, 10> bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0xBF};

  bool bit(int n) const { return ((bytes[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1U) != 0; }
};

// Copies the eight timecode fields of `timecode` (which must hold decimal
// digits, as `timecodeAt` writes them) into their frame fields, leaving every
// other bit as it was. The drop-frame flag is set when `dropFrame` is true and
// never cleared.
void loadFrame(LtcFrame& frame, TimecodeWord timecode, bool dropFrame);

// Sets the phase-correction bit (frame bit 27) so that the frame holds an even
// number of ones; the signal then ends every frame with the polarity it began
// with.
void setPhaseBit(LtcFrame& frame);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_LTC_FRAME_H_
