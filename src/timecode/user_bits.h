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
// (groups 1 to 6), then the time-zone code (groups 7 and 8; 00 is UTC).
// Read as hexadecimal the word shows ZZYYMMDD.
uint32_t dateUserBits(int64_t days, uint8_t timeZone = 0);
// The time-zone code of a local time `offsetMinutes` east of UTC, or
// kUnlistedTimeZone for an offset the codes leave out (such as +05:45).
inline constexpr uint8_t kUnlistedTimeZone = 0x38;
uint8_t timeZoneCode(int64_t offsetMinutes);

// The binary group flags (BGF2 BGF1 BGF0) that say the user bits hold a
// date and time zone.
inline constexpr unsigned kDateGroupFlags = 0x4;

// A date read back from the user bits: each field as its two BCD digits
// read (a digit above 9 counts as its value), and the time-zone code.
struct UserBitsDate {
  unsigned year = 0;  // two digits
  unsigned month = 0;
  unsigned day = 0;
  uint8_t timeZone = 0;
};
UserBitsDate readDateUserBits(uint32_t word);
// Whether `after` holds the day `days` days (1 or -1) from the date
// `before` holds, in the same time zone. The two-digit year counts in
// either century where they differ (00 is 2000, a leap year, or 2100,
// which is not), so a date passes midnight rightly whichever it is.
bool dateMovedBy(uint32_t before, uint32_t after, int days);

// The word in the frames labelled `daysAfterStart` midnights after the
// start label.
uint32_t userBitsWord(const UserBits& bits, uint64_t daysAfterStart);
// The binary group flags that announce it (BGF2 BGF1 BGF0 as bits 2 to 0):
// 100 for a date and time zone, 000 (unspecified) otherwise.
unsigned groupFlags(const UserBits& bits);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_USER_BITS_H_
