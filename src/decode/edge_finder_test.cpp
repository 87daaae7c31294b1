#include "decode/edge_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace stampline {
namespace {

// A square wave of 20-sample cells whose offset falls between two of the
// finder's 4096-sample blocks, so that the middle it follows moves down
// by a few hundred; the last sample of the next block lies on a rising
// reversal, below the middle that block is read against and above the one
// after. That reversal, and every one after it, is found where it lies.
TEST(EdgeFinderTest, AReversalAcrossTheMovingMiddleAtABlocksEnd) {
  constexpr size_t kBlock = 4096;
  std::vector<int16_t> samples(3 * kBlock);
  for (size_t i = 0; i < samples.size(); ++i) {
    // High for the first 20 samples of every 40 counted from the third block.
    const bool high = (i + 40 - 2 * kBlock % 40) % 40 < 20;
    samples[i] = static_cast<int16_t>((high ? 10000 : -10000) + (i < kBlock ? 2000 : 0));
  }
  samples[2 * kBlock - 1] = 1700;  // the middle moves from about 2000 to 1500
  EdgeFinder finder(32767);
  std::vector<double> found;
  for (const Edge& e : finder.scan(samples.data(), 1, samples.size())) {
    const double position = edgeSamples(e.position);
    if (position > static_cast<double>(2 * kBlock - 30)) found.push_back(position);
  }
  ASSERT_FALSE(found.empty());
  EXPECT_NEAR(found.front(), static_cast<double>(2 * kBlock - 21), 0.5);  // the fall before
  for (size_t k = 1; k < found.size(); ++k) EXPECT_NEAR(found[k] - found[k - 1], 20, 0.6) << found[k];
  EXPECT_GE(found.size(), 200U);
}

// A reversal a ten-thousandth of a sample past one sample: the first sample
// at or after it is the next, in the fast way (a fall in a 20-sample square
// wave) and the long way (a rise at the second block's first sample,
// against the last sample before it).
TEST(EdgeFinderTest, AReversalJustPastASampleStartsAtTheNext) {
  constexpr size_t kBlock = 4096;
  std::vector<int16_t> samples(2 * kBlock);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i + 4) / 20 % 2 == 1 ? 10000 : -10000;
  samples[115] = 1;          // the fall at 116 crosses the middle (0) 1/10001 past 115
  samples[kBlock - 1] = -1;  // the rise at the second block's first sample, likewise
  EdgeFinder finder(32767);
  std::vector<double> firstSamples;
  for (const Edge& e : finder.scan(samples.data(), 1, samples.size())) {
    firstSamples.push_back(std::ceil(edgeSamples(e.position)));
  }
  const auto has = [&](size_t sample) {
    return std::find(firstSamples.begin(), firstSamples.end(), static_cast<double>(sample)) != firstSamples.end();
  };
  EXPECT_TRUE(has(116));
  EXPECT_FALSE(has(115));
  EXPECT_TRUE(has(kBlock));
  EXPECT_FALSE(has(kBlock - 1));
}

// The input's end closes the last cell; where its last reversal lies just
// before the end (the channel may have moved the closing one past it), the
// cell closes half a cell after that reversal; and a crossing of the
// middle still on its way past the threshold counts as that reversal.
TEST(EdgeFinderTest, TheLastCellClosesAtTheEndOrHalfACellAfterItsLastReversal) {
  // 20-sample cells, -10000 and +10000 in turn, the last low; the input of
  // the second case ends with the fourth block (the reversal found by the
  // fast way).
  constexpr size_t kCells = 819;
  const struct {
    const char* name;
    std::vector<int16_t> after;  // the samples after the last whole cell
    std::vector<double> closing;
  } cases[] = {
      {"the input ends with a cell", {}, {16379.5}},
      {"four samples after a reversal", {10000, 10000, 10000, 10000}, {16389.5}},
      {"a sample into a crossing", {1000}, {16379 + 10.0 / 11, 16389 + 10.0 / 11}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int16_t> samples(kCells * 20);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = i / 20 % 2 == 0 ? -10000 : 10000;
    samples.insert(samples.end(), c.after.begin(), c.after.end());
    EdgeFinder finder(32767);
    finder.setWindow(20);
    finder.scan(samples.data(), 1, samples.size());
    std::vector<double> closing;
    for (const Edge& e : finder.finish()) closing.push_back(edgeSamples(e.position));
    ASSERT_EQ(closing.size(), c.closing.size());
    for (size_t k = 0; k < closing.size(); ++k) EXPECT_NEAR(closing[k], c.closing[k], 0.01);
  }
}

}  // namespace
}  // namespace stampline
