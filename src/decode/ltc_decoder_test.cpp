#include "decode/ltc_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ltc_signal.h"
#include "timecode/label_text.h"
#include "timecode/ltc_frame.h"

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

// Frames 10:00:00:00 on, as reversals of 20-sample cells, played either
// way; `flips` lists frame and bit pairs sent inverted, `extra` a frame
// whose cell 30 gets a stray reversal too soon to fit (a cell lost).
std::vector<Edge> cellsOf(int frames, bool forward, const std::vector<std::pair<int, int>>& flips, int extra) {
  std::vector<bool> bits;
  for (int k = 0; k < frames; ++k) {
    LtcFrame frame;
    loadFrame(frame, wordOfDigits({1, 0, 0, 0, 0, 0, static_cast<uint8_t>(k / 10), static_cast<uint8_t>(k % 10)}), false);
    setPhaseBit(frame);
    for (int n = 0; n < 80; ++n) {
      const bool flipped = std::count(flips.begin(), flips.end(), std::pair{k, n}) != 0;
      bits.push_back(frame.bit(n) != flipped);
    }
  }
  if (!forward) std::reverse(bits.begin(), bits.end());
  std::vector<Edge> edges;
  int64_t at = 5120;
  bool rising = true;
  const auto reverse = [&](int64_t where) { edges.push_back({where, rising = !rising}); };
  for (size_t i = 0; i < bits.size(); ++i) {
    reverse(at);
    if (bits[i]) reverse(at + 2560);
    if (static_cast<int>(i) == extra * 80 + 30) reverse(at + 600);
    at += 5120;
  }
  reverse(at);
  return edges;
}

TEST(LtcDecoderTest, AFrameWhoseSyncWordCameWrongIsReadWhereTheCellsPlaceIt) {
  const struct {
    const char* name;
    bool forward;
    std::vector<std::pair<int, int>> flips;
    int extra;
    int read;      // frames read of 8
    int damaged;   // the one marked, or -1
  } cases[] = {
      {"two bits of frame 3's sync word", true, {{3, 70}, {3, 71}}, -1, 8, 3},
      {"one bit, played backwards", false, {{4, 64}}, -1, 8, 3},
      {"four bits", true, {{3, 64}, {3, 70}, {3, 75}, {3, 79}}, -1, 8, 3},
      {"five bits: no frame", true, {{3, 64}, {3, 65}, {3, 70}, {3, 75}, {3, 79}}, -1, 7, -1},
      {"the first frame's: no frame before it", true, {{0, 66}}, -1, 7, -1},
      {"a cell lost in the frame", true, {{3, 66}}, 3, 7, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Edge> edges = cellsOf(8, c.forward, c.flips, c.extra);
    LtcDecoder decoder;
    std::vector<ReadFrame> frames;
    decoder.add(edges, frames);
    std::erase_if(frames, [](const ReadFrame& f) { return f.cellsOnly; });
    ASSERT_EQ(static_cast<int>(frames.size()), c.read);
    for (size_t i = 0; i < frames.size(); ++i) {
      const ReadFrame& f = frames[i];
      EXPECT_EQ(f.forward, c.forward);
      EXPECT_EQ(f.syncDamaged, static_cast<int>(i) == c.damaged) << i;
      EXPECT_TRUE(hasEvenParity(f.frame) || !f.syncDamaged) << i;
    }
    if (c.damaged >= 0) {
      const ReadFrame& f = frames[static_cast<size_t>(c.damaged)];
      EXPECT_EQ(f.frame.bytes[8], 0xFC);
      EXPECT_EQ(f.frame.bytes[9], 0xBF);
      EXPECT_NEAR(f.end - f.start, 1600, 1);
    }
  }
}

}  // namespace
}  // namespace stampline
