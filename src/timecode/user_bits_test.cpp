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

}  // namespace
}  // namespace stampline
