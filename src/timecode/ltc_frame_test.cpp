#include "timecode/ltc_frame.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>

namespace stampline {
namespace {

std::string hex(const LtcFrame& frame) {
  std::string out;
  char byte[4];
  for (const uint8_t b : frame.bytes) {
    std::snprintf(byte, sizeof byte, "%s%02X", out.empty() ? "" : " ", b);
    out += byte;
  }
  return out;
}

int ones(const LtcFrame& frame) {
  int count = 0;
  for (const uint8_t b : frame.bytes) count += std::popcount(b);
  return count;
}

TEST(LtcFrameTest, FreshFrameHoldsOnlyTheSyncWord) {
  EXPECT_EQ(hex(LtcFrame{}), "00 00 00 00 00 00 00 00 FC BF");
}

TEST(LtcFrameTest, LoadAndPhaseBitOnAFreshFrame) {
  struct Case {
    TimecodeWord word;
    bool drop;
    const char* bytes;
    int ones;
  };
  const Case cases[] = {
      {0x00000000, false, "00 00 00 08 00 00 00 00 FC BF", 14},
      {0x00000000, true, "00 04 00 00 00 00 00 00 FC BF", 14},
      {0x00000001, false, "00 00 00 00 00 00 01 00 FC BF", 14},
      {0x00000010, true, "00 04 00 08 00 00 00 01 FC BF", 16},
      {0x02000100, true, "02 04 00 00 01 00 00 00 FC BF", 16},
      {0x29563412, false, "09 02 06 0D 04 03 02 01 FC BF", 26},
      {0x29595923, true, "09 06 09 05 09 05 03 02 FC BF", 28},
  };
  for (const Case& c : cases) {
    LtcFrame frame;
    loadFrame(frame, c.word, c.drop);
    setPhaseBit(frame);
    EXPECT_EQ(hex(frame), c.bytes) << std::hex << c.word;
    EXPECT_EQ(ones(frame), c.ones) << std::hex << c.word;
  }
}

TEST(LtcFrameTest, ReloadingReplacesFieldsButKeepsTheDropFlag) {
  LtcFrame frame;
  loadFrame(frame, 0x29563412, false);
  setPhaseBit(frame);
  ASSERT_TRUE(frame.bit(27));
  // Bit 27 enters set from the previous frame and is corrected again.
  loadFrame(frame, 0x00000000, false);
  setPhaseBit(frame);
  EXPECT_EQ(hex(frame), "00 00 00 08 00 00 00 00 FC BF");

  loadFrame(frame, 0x00000000, true);
  loadFrame(frame, 0x29563412, false);
  setPhaseBit(frame);
  EXPECT_TRUE(frame.bit(10)) << "the drop-frame flag is never cleared";
}

TEST(LtcFrameTest, EveryLabelOfADayHasEvenParityAndClearFlagBits) {
  for (const uint32_t fps : {25U, 30U}) {
    for (const bool drop : {false, true}) {
      LtcFrame frame;
      for (uint32_t count = 0; count < 24 * 3600 * fps; ++count) {
        const uint32_t f = count % fps;
        const uint32_t s = count / fps % 60;
        const uint32_t m = count / fps / 60 % 60;
        const uint32_t h = count / fps / 3600;
        const TimecodeWord w = (h % 10) | (h / 10) << 4 | (m % 10) << 8 | (m / 10) << 12 |
                               (s % 10) << 16 | (s / 10) << 20 | (f % 10) << 24 | (f / 10) << 28;
        loadFrame(frame, w, drop);
        setPhaseBit(frame);
        ASSERT_EQ(ones(frame) % 2, 0) << std::hex << w;
        // User bits, colour frame and group flags (bits 11, 43, 58, 59).
        for (const int b : {11, 43, 58, 59}) ASSERT_FALSE(frame.bit(b)) << b;
        for (size_t k = 0; k < 8; ++k) ASSERT_EQ(frame.bytes[k] & 0xF0, 0) << k;
        ASSERT_EQ(frame.bytes[8], 0xFC);
        ASSERT_EQ(frame.bytes[9], 0xBF);
        ASSERT_EQ(frame.bit(10), drop);
      }
    }
  }
}

}  // namespace
}  // namespace stampline
