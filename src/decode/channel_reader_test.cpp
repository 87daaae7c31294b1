#include "decode/channel_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ltc_signal.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

using testing::readLtc;
using testing::renderLtc;
using testing::TestSignal;

TEST(ChannelReaderTest, ABlockReadInTwoPartsGivesEachFrameOnce) {
  // Blocks long enough to be split (two seconds and more), cut so that the
  // parts' seam falls before, on and after a frame start, in a frame's
  // middle, and at blocks of odd lengths: every frame once, where it is.
  const TestSignal signal{kRate2997, 48000, true, 0x00000001, 900, true, 0.5, {}};
  const std::vector<int16_t> samples = renderLtc(signal);
  const testing::ReadBack whole = readLtc(samples, 48000);
  ASSERT_EQ(whole.rows.size(), 900U);
  for (const size_t block : {size_t{96000}, size_t{96001}, size_t{100000}, size_t{123457}, size_t{250000}}) {
    SCOPED_TRACE(block);
    const testing::ReadBack parts = readLtc(samples, 48000, std::nullopt, std::nullopt, block);
    ASSERT_EQ(parts.rows.size(), whole.rows.size());
    for (size_t i = 0; i < whole.rows.size(); ++i) {
      ASSERT_EQ(parts.rows[i].label, whole.rows[i].label) << i;
      ASSERT_EQ(parts.rows[i].sample, whole.rows[i].sample) << i;
    }
    EXPECT_EQ(parts.report.eventTotal(), 0U);
    EXPECT_EQ(parts.report.frames, 900U);
  }
}

TEST(ChannelReaderTest, MeasuresOfBothPartsCount) {
  // The loudest stretch in the first part of a split block: the level is
  // its peak all the same, as it is read whole.
  const TestSignal signal{kRate25, 48000, false, 0x00000001, 250, true, 0.25, {}};
  std::vector<int16_t> samples = renderLtc(signal);
  for (size_t i = 1000; i < 3000; ++i) samples[i] = static_cast<int16_t>(samples[i] * 2);
  const testing::ReadBack whole = readLtc(samples, 48000);
  const testing::ReadBack parts = readLtc(samples, 48000, std::nullopt, std::nullopt, 200000);
  EXPECT_NEAR(whole.report.peakDbfs, 20 * std::log10(16383.0 / 32767.0), 0.01);
  EXPECT_EQ(parts.report.peakDbfs, whole.report.peakDbfs);
  EXPECT_GT(parts.report.riseMicroseconds, 0);
}

}  // namespace
}  // namespace stampline

namespace stampline {
namespace {

// 250 frames of 25 fps at 48 kHz, 16-bit, with something done to them.
struct Pin {
  const char* name;
  std::function<std::vector<float>(std::vector<float>)> change;
  uint64_t frames = 250;  // confirmed, at least
  size_t inParts = 0;     // read in blocks of two parts
  // The frame that a change of speed cuts across may be lost, and is
  // then an unreadable stretch; no other event.
  bool unreadable = false;
};

std::vector<float> ltc25() {
  const std::vector<int16_t> s = testing::renderLtc({kRate25, 48000, false, 0x00000001, 250, false, 0.5, {}});
  return {s.begin(), s.end()};
}

// Played at `speed(t)` times the speed written (t: output seconds).
std::vector<float> played(const std::vector<float>& in, const std::function<double(double)>& speed) {
  std::vector<float> out;
  for (double at = 0; at + 1 < static_cast<double>(in.size()); at += speed(static_cast<double>(out.size()) / 48000)) {
    const auto i = static_cast<size_t>(at);
    const double f = at - static_cast<double>(i);
    out.push_back(static_cast<float>(in[i] * (1 - f) + in[i + 1] * f));
  }
  return out;
}

TEST(ChannelReaderTest, WhatLosesNoFrame) {
  const auto at = [](size_t i, float v) {
    return [i, v](std::vector<float> s) {
      s[i] = v;
      return s;
    };
  };
  const auto changeOfSpeed = [](double from, double to) {
    return [from, to](const std::vector<float>& s) {
      return played(s, [from, to](double t) { return t < 2.1 ? from : to; });
    };
  };
  const Pin pins[] = {
      {"one NaN", at(30000, NAN)},
      {"one -inf", at(30000, -INFINITY)},
      {"8192 samples of silence first", [](std::vector<float> s) {
         s.insert(s.begin(), 8192, 0.0F);
         return s;
       }},
      {"a one-sample spike early on", at(300, -32767)},
      {"a one-sample dropout early on", at(300, 0)},
      {"a jump to 3x across a block split", changeOfSpeed(1, 3), 249, 100000},
      {"a jump from 1.6x", changeOfSpeed(1.6, 1), 249, 100000, true},
      {"a slow-down to 1.3x", changeOfSpeed(1, 1.3), 249, 100000},
      {"1/8 speed", [](std::vector<float> s) {
         s.resize(s.size() / 10);
         return played(s, [](double) { return 0.125; });
       }, 24, 100000},
  };
  for (const Pin& pin : pins) {
    SCOPED_TRACE(pin.name);
    const testing::ReadBack back = readLtc(pin.change(ltc25()), 48000, std::nullopt, std::nullopt, pin.inParts);
    EXPECT_GE(back.report.frames, pin.frames);
    const uint64_t unreadable = back.report.eventCounts[static_cast<size_t>(EventType::kUnreadable)];
    EXPECT_EQ(back.report.eventTotal(), pin.unreadable ? unreadable : 0U);
    EXPECT_EQ(back.report.rate, kRate25);
  }
}

TEST(ChannelReaderTest, NoNumberReachesAFigure) {
  // The level stays the loudest finite sample's, whatever the samples that
  // are no number or infinite say, and they are counted.
  const std::vector<float> plain = ltc25();
  const double level = readLtc(plain, 48000).report.peakDbfs;
  for (const float v : {INFINITY, -INFINITY, NAN}) {
    SCOPED_TRACE(v);
    std::vector<float> s = plain;
    s[200000] = v;  // after the loudest sample, and in the second part of a split block
    s[200001] = v;
    for (const size_t inParts : {size_t{0}, size_t{240000}}) {
      const testing::ReadBack back = readLtc(s, 48000, std::nullopt, std::nullopt, inParts);
      EXPECT_EQ(back.report.peakDbfs, level);
      EXPECT_EQ(back.report.nonFiniteSamples, 2U);
      EXPECT_TRUE(std::isfinite(back.report.riseMicroseconds));
    }
  }
}

TEST(ChannelReaderTest, RateAndPolarityOfTheWhole) {
  // 30 fps with a dropout in its first two seconds is still 30 fps; LTC
  // whose second half is upside down starts its frames both ways.
  std::vector<int16_t> s = testing::renderLtc({kRate30, 48000, false, 0x00000001, 300, false, 0.5, {}});
  std::fill(s.begin() + 20000, s.begin() + 40000, 0);
  EXPECT_EQ(readLtc(s, 48000).report.rate, kRate30);
  std::vector<int16_t> flipped = testing::renderLtc({kRate30, 48000, false, 0x00000001, 300, true, 0.5, {}});
  for (size_t i = flipped.size() / 2; i < flipped.size(); ++i) flipped[i] = static_cast<int16_t>(-flipped[i]);
  EXPECT_EQ(readLtc(flipped, 48000).report.polarity, 0);
}

}  // namespace
}  // namespace stampline
