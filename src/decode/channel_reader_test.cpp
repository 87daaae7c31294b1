#include "decode/channel_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
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
