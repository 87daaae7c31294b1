#include "timecode/user_bits.h"

#include <initializer_list>

namespace stampline {
namespace {

constexpr unsigned kDateAndTimeZone = 0x4;  // BGF2 set

uint32_t bcd(int64_t value) {
  return static_cast<uint32_t>((value / 10) % 10 * 16 + value % 10);
}

}  // namespace

// Counting days through 400-year eras of 146097 days, each year taken from
// March on so that the leap day falls last.
int64_t daysFromDate(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void dateFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

uint32_t dateUserBits(int64_t days, uint8_t timeZone) {
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  dateFromDays(days, year, month, day);
  const int64_t twoDigitYear = (year % 100 + 100) % 100;
  return bcd(day) | bcd(month) << 8 | bcd(twoDigitYear) << 16 | uint32_t{timeZone} << 24;
}

uint8_t timeZoneCode(int64_t offsetMinutes) {
  // SMPTE 309M's codes: the offsets west of UTC count up from 01, those east
  // down from 25 (UTC+1), the half hours in codes of their own.
  struct Zone {
    int16_t minutes;
    uint8_t code;
  };
  static constexpr Zone kZones[] = {
      {0, 0x00},     {-60, 0x01},   {-120, 0x02},  {-180, 0x03},  {-240, 0x04},  {-300, 0x05},  {-360, 0x06},
      {-420, 0x07},  {-480, 0x08},  {-540, 0x09},  {-30, 0x0A},   {-90, 0x0B},   {-150, 0x0C},  {-210, 0x0D},
      {-270, 0x0E},  {-330, 0x0F},  {-600, 0x10},  {-660, 0x11},  {-720, 0x12},  {780, 0x13},   {720, 0x14},
      {660, 0x15},   {600, 0x16},   {540, 0x17},   {480, 0x18},   {420, 0x19},   {-390, 0x1A},  {-450, 0x1B},
      {-510, 0x1C},  {-570, 0x1D},  {-630, 0x1E},  {-690, 0x1F},  {360, 0x20},   {300, 0x21},   {240, 0x22},
      {180, 0x23},   {120, 0x24},   {60, 0x25},    {690, 0x2A},   {630, 0x2B},   {570, 0x2C},   {510, 0x2D},
      {450, 0x2E},   {390, 0x2F},   {765, 0x32},   {330, 0x3A},   {270, 0x3B},   {210, 0x3C},   {150, 0x3D},
      {90, 0x3E},    {30, 0x3F},
  };
  for (const Zone& z : kZones) {
    if (z.minutes == offsetMinutes) return z.code;
  }
  return kUnlistedTimeZone;
}

UserBitsDate readDateUserBits(uint32_t word) {
  const auto pair = [word](int units) { return ((word >> (4 * units)) & 0xFU) + 10 * ((word >> (4 * (units + 1))) & 0xFU); };
  return {pair(4), pair(2), pair(0), static_cast<uint8_t>(word >> 24)};
}

bool dateMovedBy(uint32_t before, uint32_t after, int days) {
  const UserBitsDate date = readDateUserBits(before);
  for (const int64_t century : {2000, 2100}) {
    const int64_t day = daysFromDate(century + date.year, date.month, date.day);
    if (dateUserBits(day + days, date.timeZone) == after) return true;
  }
  return false;
}

uint32_t userBitsWord(const UserBits& bits, uint64_t daysAfterStart) {
  switch (bits.kind) {
    case UserBits::Kind::kWord:
      return bits.word;
    case UserBits::Kind::kDate:
      return dateUserBits(bits.startDay + static_cast<int64_t>(daysAfterStart));
    case UserBits::Kind::kNone:
      break;
  }
  return 0;
}

unsigned groupFlags(const UserBits& bits) {
  return bits.kind == UserBits::Kind::kDate ? kDateAndTimeZone : 0;
}

}  // namespace stampline
