#include "decode/reach.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

namespace stampline {
namespace {

// The whole-number bounds against the comparison in doubles, for every
// 16-bit sample and samples around the bounds of 32-bit ones, at middles
// and reaches with and without fractions, exactly on a sample, and past
// the samples' range.
TEST(ReachTest, WholeNumberBoundsPartAsTheComparisonInDoubles) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> middles(-40000, 40000);
  std::uniform_real_distribution<double> reaches(0, 30000);
  struct Row {
    double middle;
    double reach;
  };
  std::vector<Row> rows = {{0, 0}, {0.5, 0.5}, {-3, 4}, {12.25, 100}, {32767, 1}, {-32768, 0.25}, {1e9, 1}, {0, 1e12}};
  for (int i = 0; i < 200; ++i) rows.push_back({middles(random), reaches(random)});
  const auto inDoubles = [](double v, double middle, double reach, bool rising) {
    return (rising ? v - middle : middle - v) >= reach;
  };
  for (const Row& row : rows) {
    const Reach<int16_t> reach16(row.middle, row.reach);
    for (int v = std::numeric_limits<int16_t>::min(); v <= std::numeric_limits<int16_t>::max(); ++v) {
      for (const bool rising : {false, true}) {
        ASSERT_EQ(reach16.past(static_cast<int16_t>(v), rising), inDoubles(v, row.middle, row.reach, rising))
            << v << " middle " << row.middle << " reach " << row.reach << " rising " << rising;
      }
    }
    // 32-bit samples scaled up, around where each bound falls.
    const double middle = row.middle * 65536 + 0.375;
    const double reach = row.reach * 65536;
    const Reach<int32_t> reach32(middle, reach);
    for (const double at : {middle + reach, middle - reach}) {
      for (int64_t v = static_cast<int64_t>(at) - 3; v <= static_cast<int64_t>(at) + 3; ++v) {
        if (v < INT32_MIN || v > INT32_MAX) continue;
        for (const bool rising : {false, true}) {
          ASSERT_EQ(reach32.past(static_cast<int32_t>(v), rising),
                    inDoubles(static_cast<double>(v), middle, reach, rising))
              << v << " middle " << middle << " reach " << reach;
        }
      }
    }
  }
}

}  // namespace
}  // namespace stampline
