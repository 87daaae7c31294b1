#include "timecode/user_bits.h"

#include <gtest/gtest.h>

namespace stampline {
namespace {

TEST(UserBitsTest, TheDateMovesOnAtMidnightAcrossMonthsAndYears) {
  const struct {
    int64_t year;
    unsigned month, day;
    uint64_t daysLater;
    uint32_t word;  // YYMMDD read as hexadecimal
  } cases[] = {
      {2026, 12, 7, 0, 0x00261207},  {2026, 12, 31, 1, 0x00270101},
      {2024, 2, 28, 1, 0x00240229},  {2024, 2, 29, 1, 0x00240301},  // a leap day
      {2100, 2, 28, 1, 0x00000301},  // 2100 has none
      {2000, 2, 28, 1, 0x00000229},  // 2000 has one
      {1999, 12, 31, 1, 0x00000101},
  };
  for (const auto& c : cases) {
    const UserBits bits{UserBits::Kind::kDate, 0, daysFromDate(c.year, c.month, c.day)};
    EXPECT_EQ(userBitsWord(bits, c.daysLater), c.word) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(groupFlags(bits), 0x4U);
  }
  const UserBits word{UserBits::Kind::kWord, 0x1234ABCD, 0};
  EXPECT_EQ(userBitsWord(word, 5), 0x1234ABCDU);
  EXPECT_EQ(groupFlags(word), 0U);
}

TEST(UserBitsTest, ADateReadBackAndMovedAcrossMidnight) {
  // The fields from their own digits, the time-zone code from groups 7-8.
  const UserBitsDate read = readDateUserBits(0x11261207);
  EXPECT_EQ(read.year, 26U);
  EXPECT_EQ(read.month, 12U);
  EXPECT_EQ(read.day, 7U);
  EXPECT_EQ(read.timeZone, 0x11U);
  EXPECT_EQ(dateUserBits(daysFromDate(2026, 12, 7), 0x11), 0x11261207U);
  // Year 00 may be 2000 (a leap year) or 2100 (not): either next day
  // counts, forwards and backwards, and nothing else does.
  const struct {
    uint32_t before, after;
    int days;
    bool moved;
  } cases[] = {
      {0x00000228, 0x00000229, 1, true},   {0x00000228, 0x00000301, 1, true},
      {0x00000301, 0x00000229, -1, true},  {0x00000301, 0x00000228, -1, true},
      {0x00240228, 0x00240229, 1, true},   {0x00240228, 0x00240301, 1, false},
      {0x00261231, 0x00270101, 1, true},   {0x00270101, 0x00261231, -1, true},
      {0x00261207, 0x00261208, -1, false}, {0x00261207, 0x00261207, 1, false},
      {0x11261207, 0x11261208, 1, true},   {0x11261207, 0x00261208, 1, false},  // the time zone stays
      {0x00991231, 0x00000101, 1, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dateMovedBy(c.before, c.after, c.days), c.moved)
        << std::hex << c.before << " -> " << c.after << " by " << std::dec << c.days;
  }
}

TEST(UserBitsTest, TimeZoneCodesOfLocalOffsets) {
  // West of UTC counts up, east counts down from 25, the half hours apart;
  // an offset without a code gets the unlisted code.
  const struct {
    int64_t minutes;
    uint8_t code;
  } cases[] = {
      {0, 0x00},    {-60, 0x01},  {-300, 0x05}, {-720, 0x12}, {60, 0x25},   {120, 0x24},  {720, 0x14},
      {780, 0x13},  {-30, 0x0A},  {-210, 0x0D}, {330, 0x3A},  {30, 0x3F},   {570, 0x2C},  {765, 0x32},
      {345, kUnlistedTimeZone}, {840, kUnlistedTimeZone}, {-780, kUnlistedTimeZone}, {1, kUnlistedTimeZone},
  };
  for (const auto& c : cases) EXPECT_EQ(timeZoneCode(c.minutes), c.code) << c.minutes << " minutes";
}

}  // namespace
}  // namespace stampline
