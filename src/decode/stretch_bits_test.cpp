#include "decode/stretch_bits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace stampline {
namespace {

// The widest comparisons the processor has against the plain reading of
// the same samples: every bit, and the extremes, for each sample type and
// for one, two (stereo, every other sample) and three channels.
template <typename T>
void expectSameAsOneByOne(size_t stride, T lowest, T highest) {
  constexpr size_t kStretches = 9;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> between(static_cast<double>(lowest), static_cast<double>(highest));
  // One value more than the stretches hold: the last pair is read whole.
  std::vector<T> samples(kStretches * 64 * stride + 1);
  for (T& s : samples) s = static_cast<T>(between(random));
  samples[17 * stride] = lowest;
  samples[(kStretches * 64 - 1) * stride] = highest;
  for (const T mid : {T{0}, static_cast<T>(highest / 3), lowest}) {
    std::vector<uint64_t> bits(kStretches);
    T high = samples[0];
    T low = samples[0];
    stretchBits(samples.data(), stride, kStretches, mid, bits.data(), high, low);
    T expectedHigh = samples[0];
    T expectedLow = samples[0];
    for (size_t i = 0; i < kStretches * 64; ++i) {
      const T v = samples[i * stride];
      EXPECT_EQ((bits[i / 64] >> (i % 64)) & 1U, v > mid ? 1U : 0U) << "sample " << i << ", stride " << stride;
      expectedHigh = std::max(expectedHigh, v);
      expectedLow = std::min(expectedLow, v);
    }
    EXPECT_EQ(high, expectedHigh) << "stride " << stride;
    EXPECT_EQ(low, expectedLow) << "stride " << stride;
  }
}

TEST(StretchBitsTest, TheWidestComparisonsReadAsTheOneByOne) {
  for (const size_t stride : {size_t{1}, size_t{2}, size_t{3}}) {
    expectSameAsOneByOne<int16_t>(stride, INT16_MIN, INT16_MAX);
    expectSameAsOneByOne<int32_t>(stride, INT32_MIN, INT32_MAX);
    expectSameAsOneByOne<float>(stride, -1.5F, 1.5F);
  }
}

}  // namespace
}  // namespace stampline
