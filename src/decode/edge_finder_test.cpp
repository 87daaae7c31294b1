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

}  // namespace
}  // namespace stampline
