#ifndef STAMPLINE_TIMECODE_USER_BITS_H_
#define STAMPLINE_TIMECODE_USER_BITS_H_

#include <cstdint>

namespace stampline {

// What the 32 user bits of a run's frames carry: nothing (zeros), a word
// of the user's (a reel number, say), or the date of the frame's label.
struct UserBits {
  enum class Kind { kNone, kWord, kDate };
  Kind kind = Kind::kNone;
  uint32_t word = 0;     // kWord: group 8 in the top four bits, group 1 in the lowest
  int64_t startDay = 0;  // kDate: the start label's day, in days since 1970-01-01
};

// Days since 1970-01-01 of a date of the Gregorian calendar, and back.
int64_t daysFromDate(int64_t year, unsigned month, unsigned day);
void dateFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);

// The user bits of a date as SMPTE 309M lays it out and LTC decoders read
// it: day, month and two-digit year as two BCD digits each, units first
// (groups 1 to 6), then the time-zone code 00, UTC (groups 7 and 8). Read
// as hexadecimal the word shows YYMMDD.
uint32_t dateUserBits(int64_t days);

// The word in the frames labelled `daysAfterStart` midnights after the
// start label.
uint32_t userBitsWord(const UserBits& bits, uint64_t daysAfterStart);
// The binary group flags that announce it (BGF2 BGF1 BGF0 as bits 2 to 0):
// 100 for a date and time zone, 000 (unspecified) otherwise.
unsigned groupFlags(const UserBits& bits);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_USER_BITS_H_
