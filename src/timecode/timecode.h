#ifndef STAMPLINE_TIMECODE_TIMECODE_H_
#define STAMPLINE_TIMECODE_TIMECODE_H_

#include <cstdint>

namespace stampline {

// Packed BCD timecode. Read as hexadecimal it shows frames, seconds, minutes,
// hours (12:34:56:29 is 0x29563412):
//   bits  0-3  hour units     bits 16-19 second units
//   bits  4-7  hour tens      bits 20-23 second tens
//   bits  8-11 minute units   bits 24-27 frame units
//   bits 12-15 minute tens    bits 28-29 frame tens
//   bits 30-31 not part of the timecode; readers ignore them.
// Readers take every nibble at its face value 0-15 without validating it.
using TimecodeWord = uint32_t;

// Writes into `current` the timecode of the frame that holds sample frame
// `position` (counted per channel from the start of the output) and returns
// how many sample frames `position` lies after that frame's first sample.
//
// Without drop-frame counting the elapsed frame index is added to `start`
// as a plain count. With it (at 30 fps only; other rates count plainly) the
// labels run in the standard drop-frame sequence from the start label: two
// labels skipped at second 00 of every minute except each tenth, a start on a
// skipped label beginning at the next one. Start digits are read at face
// value, the hours wrap at 24, and only bits 0-29 of `current` change. The
// caller guarantees `sampleRate` > 0 and `fps` > 0; positions stay exact up
// to 2^53.
int32_t timecodeAt(uint64_t position, int32_t sampleRate, int32_t fps,
                   TimecodeWord& current, const TimecodeWord& start,
                   bool dropFrame);

// A label's place in a day of timecode counted at `nominalFps` labels a
// second: its nominal count since midnight, or with drop-frame counting (30
// labels a second only) its index among the labels that exist, a skipped
// label counting as the one after it. Digits are read at face value and the
// count wraps at midnight.
uint64_t labelNumber(TimecodeWord label, uint32_t nominalFps, bool dropFrame);
// How many labels a day of that counting holds.
uint64_t labelsPerDay(uint32_t nominalFps, bool dropFrame);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_TIMECODE_H_
