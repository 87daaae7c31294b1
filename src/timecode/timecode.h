#ifndef STAMPLINE_TIMECODE_TIMECODE_H_
#define STAMPLINE_TIMECODE_TIMECODE_H_

#include <array>
#include <cstddef>
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

// A label's four fields as numbers.
struct TimecodeFields {
  uint32_t hours = 0;
  uint32_t minutes = 0;
  uint32_t seconds = 0;
  uint32_t frames = 0;

  bool operator==(const TimecodeFields&) const = default;
};

// The eight digits of a label in written order (hours tens, hours units,
// minute tens, ... frame units), each a nibble at face value (the frame tens
// two bits), and the word they make. These two, with the table of where
// each digit lies, are the only places that know the word's layout.
using TimecodeDigits = std::array<uint32_t, 8>;
inline constexpr std::array<int, 8> kDigitShift = {4, 0, 12, 8, 20, 16, 28, 24};
inline constexpr std::array<uint32_t, 8> kDigitMask = {0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0x3, 0xF};

constexpr TimecodeDigits digitsOf(TimecodeWord word) {
  TimecodeDigits digits{};
  for (size_t i = 0; i < digits.size(); ++i) digits[i] = (word >> kDigitShift[i]) & kDigitMask[i];
  return digits;
}

constexpr TimecodeWord wordOfDigits(const TimecodeDigits& digits) {
  TimecodeWord word = 0;
  for (size_t i = 0; i < digits.size(); ++i) word |= (digits[i] & kDigitMask[i]) << kDigitShift[i];
  return word;
}

// The fields of a word, each from its two digits at face value (a digit
// nibble may read 10-15; the frame tens are two bits, 0-3). Nothing wraps.
constexpr TimecodeFields fieldsOf(TimecodeWord word) {
  const TimecodeDigits d = digitsOf(word);
  return {10 * d[0] + d[1], 10 * d[2] + d[3], 10 * d[4] + d[5], 10 * d[6] + d[7]};
}
// The word of fields below 100 each (frames below 40), in decimal digits,
// bits 30-31 clear.
constexpr TimecodeWord wordOf(const TimecodeFields& f) {
  return wordOfDigits({f.hours / 10, f.hours % 10, f.minutes / 10, f.minutes % 10, f.seconds / 10,
                       f.seconds % 10, f.frames / 10, f.frames % 10});
}

// Labels are counted by their number in a day of timecode with `nominalFps`
// labels a second: without drop-frame the nominal count since midnight;
// with it (30 labels a second only; other rates count plainly) the index
// among the labels that exist, where labels 00 and 01 of second 00 are
// skipped in every minute but each tenth.

// A label's number. Digits are read at face value, the count wraps at
// midnight, and a skipped drop-frame label counts as the one after it.
uint64_t labelNumber(TimecodeWord label, uint32_t nominalFps, bool dropFrame);
// The label with number `number`, which wraps at midnight. Only decimal
// digits are written, and bits 30-31 are 0.
TimecodeWord labelOfNumber(uint64_t number, uint32_t nominalFps, bool dropFrame);
// How many labels a day holds.
uint64_t labelsPerDay(uint32_t nominalFps, bool dropFrame);
// The label after `label`, a label of the day in decimal digits: the same as
// labelOfNumber(labelNumber(label, ...) + 1, ...), by counting up the
// digits instead of through the day's count.
TimecodeWord nextLabel(TimecodeWord label, uint32_t nominalFps, bool dropFrame);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_TIMECODE_H_
