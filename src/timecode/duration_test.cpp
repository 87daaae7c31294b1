#include "timecode/duration.h"

#include <gtest/gtest.h>

#include <climits>

#include "timecode/frame_rate.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

TEST(DurationTest, TimeInFramesRoundedUpExactly) {
  const struct {
    const char* text;
    FrameRate rate;
    uint64_t frames;
  } cases[] = {
      {"1h", kRate25, 90000},
      {"1.5h", kRate30, 162000},
      {".5h", kRate30, 54000},
      {"90s", kRate30, 2700},
      {"0.000001s", kRate30, 1},
      // 3600 * 30000 / 1001 = 107892.107..., an hour at 29.97; 24000 / 1001
      // a second at 23.976, 23.976...
      {"1h", kRate2997, 107893},
      {"1s", kRate23976, 24},
      {"10m", kRate23976, 14386},  // 600 * 24000 / 1001 = 14385.6
      {"0s", kRate2997, 0},
      {"19884.1m", kRate30, 35791380},
  };
  for (const auto& c : cases) {
    TimeLength length;
    ASSERT_TRUE(parseTimeLength(c.text, length)) << c.text;
    EXPECT_EQ(framesCovering(length, c.rate, INT32_MAX), c.frames) << c.text;
  }
  for (const char* text : {"1.5", "h", "-5s", "1,5h", "1.5.0h", "1e3s", "1234567890s"}) {
    TimeLength length;
    EXPECT_FALSE(parseTimeLength(text, length)) << text;
  }
}

TEST(DurationTest, TheFrameCountLimit) {
  // 2^31 - 1 frames fit, one more does not: at 25 fps 85899345.88 s.
  TimeLength length;
  ASSERT_TRUE(parseTimeLength("85899345.88s", length));
  EXPECT_EQ(framesCovering(length, kRate25, INT32_MAX), INT32_MAX);
  ASSERT_TRUE(parseTimeLength("85899345.92s", length));
  EXPECT_EQ(framesCovering(length, kRate25, INT32_MAX), std::nullopt);
  ASSERT_TRUE(parseTimeLength("999999999h", length));
  EXPECT_EQ(framesCovering(length, kRate30, INT32_MAX), std::nullopt);
}

TEST(DurationTest, FramesUntilAnEndLabel) {
  const struct {
    const char* start;
    const char* end;
    uint32_t fps;
    bool drop;
    uint64_t frames;
  } cases[] = {
      {"01:00:00:00", "01:00:00:00", 30, false, 0},
      {"23:00:00:00", "01:00:00:00", 30, false, 216000},
      {"00:00:00;00", "23:59:59;29", 30, true, 2589407},
      {"00:00:59;28", "00:01:00;02", 30, true, 2},  // over the skipped 00 and 01
      {"23:59:59:00", "00:00:01:00", 25, false, 50},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(framesUntil(packTimecodeText(c.start), packTimecodeText(c.end), c.fps, c.drop),
              c.frames)
        << c.start << " to " << c.end;
  }
}

TEST(FrameRateTest, SpellingsAndTheirNames) {
  const struct {
    const char* text;
    FrameRate rate;
    const char* name;
    const char* fraction;
  } cases[] = {
      {"23.976", kRate23976, "23.976", "24000/1001"}, {"23.98", kRate23976, "23.976", "24000/1001"},
      {"24", kRate24, "24", "24/1"},                  {"25", kRate25, "25", "25/1"},
      {"30000/1001", kRate2997, "29.97", "30000/1001"}, {"30", kRate30, "30", "30/1"},
  };
  for (const auto& c : cases) {
    FrameRate rate;
    ASSERT_TRUE(parseFrameRate(c.text, rate)) << c.text;
    EXPECT_EQ(rate, c.rate);
    EXPECT_EQ(rateName(rate), c.name);
    EXPECT_EQ(rateFraction(rate), c.fraction);
  }
  FrameRate rate;
  EXPECT_FALSE(parseFrameRate("29.976", rate));
  EXPECT_STREQ(ltcRateForVideo("59.94"), "29.97");
  EXPECT_EQ(ltcRateForVideo("29.97"), nullptr);
}

}  // namespace
}  // namespace stampline
