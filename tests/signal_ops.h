#ifndef STAMPLINE_TESTS_SIGNAL_OPS_H_
#define STAMPLINE_TESTS_SIGNAL_OPS_H_

// What a channel does to a signal, for the degraded cases (degraded.h):
// second-order filters as an input stage, a camera or a console has them,
// clipping, level changes, and playing at another speed.

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace stampline::corpus {

using Signal = std::vector<double>;

// A second-order section (the audio EQ cookbook's), run in place.
class Biquad {
 public:
  enum class Kind { kHighPass, kLowPass, kAllPass };
  Biquad(Kind kind, double hz, double q, double rate) {
    const double w = 2 * M_PI * hz / rate;
    const double alpha = std::sin(w) / (2 * q);
    const double c = std::cos(w);
    double b0 = 0;
    double b1 = 0;
    double b2 = 0;
    switch (kind) {
      case Kind::kHighPass:
        b0 = (1 + c) / 2, b1 = -(1 + c), b2 = (1 + c) / 2;
        break;
      case Kind::kLowPass:
        b0 = (1 - c) / 2, b1 = 1 - c, b2 = (1 - c) / 2;
        break;
      case Kind::kAllPass:
        b0 = 1 - alpha, b1 = -2 * c, b2 = 1 + alpha;
        break;
    }
    const double a0 = 1 + alpha;
    b0_ = b0 / a0, b1_ = b1 / a0, b2_ = b2 / a0, a1_ = -2 * c / a0, a2_ = (1 - alpha) / a0;
  }
  void run(Signal& s) {
    for (double& v : s) {
      const double y = b0_ * v + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
      x2_ = x1_, x1_ = v, y2_ = y1_, y1_ = y;
      v = y;
    }
  }

 private:
  double b0_, b1_, b2_, a1_, a2_;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

inline void highPass(Signal& s, double hz, double rate) { Biquad(Biquad::Kind::kHighPass, hz, M_SQRT1_2, rate).run(s); }
inline void lowPass(Signal& s, double hz, double rate) { Biquad(Biquad::Kind::kLowPass, hz, M_SQRT1_2, rate).run(s); }
inline void allPass(Signal& s, double hz, double rate) { Biquad(Biquad::Kind::kAllPass, hz, 0.7, rate).run(s); }

// A gain, then a hard clip at `limit`.
inline void clip(Signal& s, double gain, double limit) {
  for (double& v : s) v = std::clamp(v * gain, -limit, limit);
}

inline double dbGain(double db) { return std::pow(10.0, db / 20); }

// The source read at a fractional position (cubic Hermite), 0 outside it.
inline double at(const Signal& s, double x) {
  const auto i = static_cast<long>(std::floor(x));
  const double t = x - static_cast<double>(i);
  const auto get = [&s](long k) { return k >= 0 && k < static_cast<long>(s.size()) ? s[static_cast<size_t>(k)] : 0.0; };
  const double p0 = get(i - 1), p1 = get(i), p2 = get(i + 1), p3 = get(i + 2);
  const double a = -0.5 * p0 + 1.5 * p1 - 1.5 * p2 + 0.5 * p3;
  const double b = p0 - 2.5 * p1 + 2 * p2 - 0.5 * p3;
  const double c = -0.5 * p0 + 0.5 * p2;
  return ((a * t + b) * t + c) * t + p1;
}

// Music of a sort, for crosstalk: chords of a few partials that change
// every half second, under a slow swell, with a noise burst on each beat.
inline Signal music(size_t samples, double rate, double peak) {
  Signal m(samples, 0.0);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(-1, 1);
  const double roots[] = {110, 146.8, 164.8, 196, 220, 130.8};
  for (size_t n = 0; n < samples; ++n) {
    const double t = static_cast<double>(n) / rate;
    const auto chord = static_cast<size_t>(t * 2) % 6;
    double v = 0;
    for (const double ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) {
      v += std::sin(2 * M_PI * roots[chord] * ratio * t) / ratio;
    }
    const double beat = std::fmod(t, 0.5);
    v = v * (0.6 + 0.4 * std::sin(2 * M_PI * 0.2 * t)) / 3 + (beat < 0.05 ? unit(random) * (1 - beat / 0.05) : 0);
    m[n] = v;
  }
  double top = 0;
  for (const double v : m) top = std::max(top, std::abs(v));
  for (double& v : m) v *= peak / top;
  return m;
}

}  // namespace stampline::corpus

#endif  // STAMPLINE_TESTS_SIGNAL_OPS_H_
