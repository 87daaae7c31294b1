#ifndef STAMPLINE_DECODE_REACH_H_
#define STAMPLINE_DECODE_REACH_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace stampline {

// Whether a sample reaches `reach` past the middle (the edge finder's test
// of a reversal, on its fast way). For integers the bounds are whole
// numbers, found once a block, that part the samples just as the
// comparison in doubles does.
template <typename T>
class Reach {
 public:
  Reach(double middle, double reach) : middle_(middle), reach_(reach) {
    if constexpr (std::is_integral_v<T>) {
      // Past the samples' range (or with no finite bounds), none reaches.
      constexpr auto kLeast = static_cast<double>(std::numeric_limits<T>::min()) - 1;
      constexpr auto kMost = static_cast<double>(std::numeric_limits<T>::max()) + 1;
      const auto bound = [&](double at, double none) {
        return static_cast<int64_t>(std::isfinite(at) ? std::clamp(at, kLeast, kMost) : none);
      };
      const auto upReaches = [&](int64_t v) { return static_cast<double>(v) - middle >= reach; };
      const auto downReaches = [&](int64_t v) { return middle - static_cast<double>(v) >= reach; };
      // Rounded, the bounds lie within one of the exact ones.
      up_ = bound(std::ceil(middle + reach), kMost);
      if (upReaches(up_ - 1)) --up_;
      if (!upReaches(up_)) ++up_;
      down_ = bound(std::floor(middle - reach), kLeast);
      if (downReaches(down_ + 1)) ++down_;
      if (!downReaches(down_)) --down_;
    }
  }
  bool past(T v, bool rising) const {
    if constexpr (std::is_integral_v<T>) {
      return rising ? v >= up_ : v <= down_;
    } else {
      const auto value = static_cast<double>(v);
      return (rising ? value - middle_ : middle_ - value) >= reach_;
    }
  }
  // The difference between two samples, exact for integers.
  static double span(T before, T v) {
    if constexpr (std::is_integral_v<T>) {
      return static_cast<double>(int64_t{v} - int64_t{before});
    } else {
      return static_cast<double>(v) - static_cast<double>(before);
    }
  }

 private:
  double middle_;
  double reach_;
  int64_t up_ = 0;
  int64_t down_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_REACH_H_
