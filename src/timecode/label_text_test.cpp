#include "timecode/label_text.h"

#include <gtest/gtest.h>

namespace stampline {
namespace {

TEST(LabelTextTest, PacksLowBitsOfEachDigit) {
  const struct {
    const char* text;
    TimecodeWord word;
  } cases[] = {
      {"01:00:00:00", 0x00000001U}, {"10:20:30:24", 0x24302010U}, {"23:59:59:29", 0x29595923U},
      {"99:99:99:99", 0x19999999U}, {"12:34:56:29", 0x29563412U}, {"01-00-00-00", 0x00000001U},
      {"01x00;00.00", 0x00000001U}, {"00:00:00:39", 0x39000000U}, {"??:??:??:??", 0x3FFFFFFFU},
  };
  for (const auto& c : cases) EXPECT_EQ(packTimecodeText(c.text), c.word) << c.text;
}

TEST(LabelTextTest, ParsesOnlyLabelsOfTheDay) {
  const TimecodeFields untouched{99, 99, 99, 99};
  const struct {
    const char* text;
    TimecodeFields fields;
  } cases[] = {
      {"00:00:00:00", {0, 0, 0, 0}},    {"23:59:59:29", {23, 59, 59, 29}},
      {"00:59:59;29", {0, 59, 59, 29}}, {"01:00:00.00", {1, 0, 0, 0}},
      {"12:34:56:98", {12, 34, 56, 98}}, {"24:00:00:00", untouched},
      {"00:60:00:00", untouched},       {"00:00:60:00", untouched},
      {"1:00:00:00", untouched},        {"01;00:00:00", untouched},
      {"01:00:00:0", untouched},        {"01:00:00:000", untouched},
      {"0a:00:00:00", untouched},       {"", untouched},
  };
  for (const auto& c : cases) {
    TimecodeFields fields = untouched;
    EXPECT_EQ(parseLabel(c.text, fields), !(c.fields == untouched)) << c.text;
    EXPECT_EQ(fields, c.fields) << c.text;
  }
  EXPECT_TRUE(framesFit({0, 0, 0, 29}, 30));
  EXPECT_FALSE(framesFit({0, 0, 0, 25}, 25));
}

TEST(LabelTextTest, FormatsEveryDigitAsItStands) {
  EXPECT_EQ(formatLabel(0x29563412U), "12:34:56:29");
  EXPECT_EQ(formatLabel(0x02000100U, true), "00:01:00;02");
  EXPECT_EQ(formatLabel(0x3FFFFFFFU), "??:??:??:3?");
  for (const char* text : {"00:00:00:00", "23:59:59:29", "09:08:07:06"}) {
    TimecodeFields fields;
    ASSERT_TRUE(parseLabel(text, fields));
    EXPECT_EQ(formatLabel(wordOf(fields)), text);
    EXPECT_EQ(formatLabel(packTimecodeText(text)), text);
  }
}

}  // namespace
}  // namespace stampline
