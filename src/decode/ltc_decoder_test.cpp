#include "decode/ltc_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ltc_signal.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

using testing::readLtc;
using testing::renderLtc;
using testing::TestSignal;

// Every frame read back as the schedule wrote it: its label, flags, user
// bits and first sample.
void expectExact(const TestSignal& signal, const testing::ReadBack& back) {
  const FrameSchedule schedule = signal.schedule();
  ASSERT_EQ(back.rows.size(), signal.frames);
  for (uint64_t k = 0; k < signal.frames; ++k) {
    const FrameRecord& row = back.rows[static_cast<size_t>(k)];
    ASSERT_EQ(row.label, schedule.label(k)) << "frame " << k << ": " << formatLabel(row.label);
    ASSERT_EQ(row.sample, schedule.frameStart(k)) << "frame " << k;
    ASSERT_EQ(row.length, schedule.frameLength(k)) << "frame " << k;
    ASSERT_EQ(row.dropFrame, signal.dropFrame) << "frame " << k;
    ASSERT_TRUE(row.forward);
  }
  EXPECT_EQ(back.report.rate, signal.rate);
  EXPECT_EQ(back.report.dropFrame, signal.dropFrame);
  EXPECT_EQ(back.report.eventTotal(), 0U);
}

TEST(LtcDecoderTest, EveryRateAndSampleRateExactly) {
  for (const FrameRate rate : kLtcRates) {
    for (const bool drop : {false, true}) {
      if (drop && rate.nominal != 30) continue;
      for (const int32_t sampleRate : {16000, 44100, 48000, 192000}) {
        SCOPED_TRACE(rateName(rate) + (drop ? " DF at " : " at ") + std::to_string(sampleRate));
        // Three seconds from just before a drop-frame minute.
        TestSignal signal{rate, sampleRate, drop, 0x28590900, uint64_t{3} * rate.nominal, true, 0.5, {}};
        expectExact(signal, readLtc(renderLtc(signal), sampleRate));
      }
    }
  }
}

TEST(LtcDecoderTest, NoisySignalsUserBitsAndDates) {
  const struct {
    FrameRate rate;
    bool drop;
    UserBits bits;
    unsigned flags;  // BGF2 BGF1 BGF0
  } cases[] = {
      {kRate25, false, {UserBits::Kind::kWord, 0x1234ABCD, 0}, 0},
      {kRate25, false, {UserBits::Kind::kDate, 0, daysFromDate(2026, 12, 31)}, 4},
      {kRate2997, true, {UserBits::Kind::kDate, 0, daysFromDate(2024, 2, 29)}, 4},
      {kRate24, false, {UserBits::Kind::kNone, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rateName(c.rate));
    TestSignal signal{c.rate, 44100, c.drop, 0x00000001, 2 * c.rate.nominal + 5, false, 0.5, c.bits};
    const testing::ReadBack back = readLtc(renderLtc(signal), 44100);
    expectExact(signal, back);
    for (const FrameRecord& row : back.rows) {
      ASSERT_EQ(row.userBits, userBitsWord(c.bits, 0));
      ASSERT_EQ(row.groupFlags, c.flags);
    }
    EXPECT_EQ(back.report.holdsDate, c.flags == 4);
  }
}

TEST(LtcDecoderTest, MeasuresLevelRiseAndPolarity) {
  TestSignal signal{kRate30, 48000, false, 0x00000001, 90, true, 0.25, {}};
  const testing::ReadBack back = readLtc(renderLtc(signal), 48000);
  // 8191 of 32767, -12.04 dBFS; a clean reversal is one sample step, whose
  // 10 to 90 % take 0.8 of a sample (16.7 us at 48 kHz).
  EXPECT_NEAR(back.report.peakDbfs, 20 * std::log10(8191.0 / 32767), 0.01);
  EXPECT_NEAR(back.report.riseMicroseconds, 0.8 / 48000 * 1e6, 0.5);
  EXPECT_EQ(back.report.polarity, -1);  // frames start with a fall to the low level
  EXPECT_NEAR(back.report.speedPpm, 0, 1);
  EXPECT_LT(back.report.jitterSamples, 0.05);
}

}  // namespace
}  // namespace stampline
