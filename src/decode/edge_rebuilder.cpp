#include "decode/edge_rebuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <complex>

namespace stampline {
namespace {

// The cell rates looked for: half the speed of 24 fps to twice that of 30
// (80 cells a frame).
constexpr double kLowestCellRate = 80 * 24 * 0.5;
constexpr double kHighestCellRate = 80 * 30 * 2.0;
// The strongest line stands clear where its power is this many times the
// band's mean (LTC gives some hundreds; music, speech and noise a few
// tens); the others of its family where this many.
constexpr double kLineClear = 100;
constexpr double kLineStands = 10;
// The longest stretch whose spectrum is taken, and the shortest.
constexpr size_t kMostSpectrum = size_t{1} << 15;
constexpr size_t kLeastSpectrum = size_t{1} << 12;

// The equalizer's length at 48 kHz (1.3 ms), its learning step, and the
// timing loop's gains on the instant and on the half cell.
constexpr double kTapsAt48k = 64;
constexpr double kLearn = 0.1;
constexpr double kMoveInstant = 0.02;
constexpr double kMoveHalfCell = 0.0005;
// How often each parity of boundaries reversed is followed by this share
// a boundary of it (some sixteen cells); the cells stand clear where one
// parity reversed at least kCellsClear of the time, and kCellsApart more
// often than the other.
constexpr double kFollowReversals = 1.0 / 16;
constexpr double kCellsClear = 0.8;
constexpr double kCellsApart = 0.15;
// An opening that did not reverse, with both instants beside it at least
// this far from 0 (the equalizer makes their squares near 1), is no
// opening's noise: the signal runs back the way it came there.
constexpr double kTurnLevel = 0.7;
// The input's power is followed with this time constant (seconds).
constexpr double kPowerSeconds = 0.05;
// The band-pass's edges, in cell rates, and its longest length.
constexpr double kBandLow = 0.25;
constexpr double kBandHigh = 1.5;
constexpr size_t kMostBandTaps = 1023;

// An in-place radix-2 FFT (the length a power of two).
void transform(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t length = 2; length <= n; length <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(length);
    const std::complex<double> unit(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += length) {
      std::complex<double> w(1);
      for (size_t k = 0; k < length / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + length / 2] * w;
        a[i + k] = u + v;
        a[i + k + length / 2] = u - v;
        w *= unit;
      }
    }
  }
}

// The half-cell rates that the power spectrum of the slope's energy shows
// (bins `binHz` apart). Every cell steps at its start and a one in its
// middle too, so that this energy repeats at the cell rate: its spectrum
// has a family of lines at the cell rate's multiples, the second (the
// half-cell rate) the strongest where ones and zeros mix, the first where
// zeros are many (though a band-limited channel may leave it faint), and
// more with sharp steps. The strongest line is the half-cell rate, or (a
// line at half its rate standing, and one at a quarter) the one above it:
// the other is tried next. A line with no other of its family is a tone's
// as well as LTC's.
std::optional<EdgeRebuilder::CellLine> lineOf(const std::vector<double>& power, double binHz) {
  const auto binOf = [binHz](double hz) { return static_cast<size_t>(std::lround(hz / binHz)); };
  const size_t low = std::max<size_t>(binOf(kLowestCellRate), 2);
  const size_t high = std::min(binOf(2 * kHighestCellRate), power.size() - 3);
  if (high <= low + 4) return std::nullopt;
  size_t peak = low;
  double mean = 0;
  for (size_t k = low; k <= high; ++k) {
    mean += power[k];
    if (power[k] > power[peak]) peak = k;
  }
  mean /= static_cast<double>(high - low + 1);
  if (!(power[peak] > kLineClear * mean)) return std::nullopt;
  // Between bins: the vertex of the parabola through the logs of three.
  const double a = std::log(power[peak - 1] + 1e-300);
  const double b = std::log(power[peak]);
  const double c = std::log(power[peak + 1] + 1e-300);
  const double curve = a - 2 * b + c;
  const double hz = (static_cast<double>(peak) + (curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0)) * binHz;
  const auto stands = [&](double at) {
    const size_t k = binOf(at);
    return k >= 2 && k + 1 < power.size() && std::max({power[k - 1], power[k], power[k + 1]}) > kLineStands * mean;
  };
  const bool half = stands(hz / 2);
  const bool quarter = stands(hz / 4);
  EdgeRebuilder::CellLine line;
  line.family = half || quarter || stands(2 * hz);
  line.halfCells = {1 / hz, half ? 2 / hz : 0};
  if (half && quarter) std::swap(line.halfCells[0], line.halfCells[1]);
  return line;
}

}  // namespace

template <typename T>
std::optional<EdgeRebuilder::CellLine> EdgeRebuilder::cellLine(const T* samples, size_t stride, size_t count, int32_t sampleRate) {
  if (count <= kLeastSpectrum || sampleRate <= 0) return std::nullopt;
  const size_t n = std::min(kMostSpectrum, std::bit_floor(count - 2));
  // The slope's energy, less its mean, under a Hann window. (The slope
  // over two samples: near half the sample rate it fades, so that a sharp
  // step's energy has fewer harmonics to fold back into the band.)
  std::vector<std::complex<double>> energy(n);
  double mean = 0;
  for (size_t i = 0; i < n; ++i) {
    const double slope = static_cast<double>(samples[(i + 2) * stride]) - static_cast<double>(samples[i * stride]);
    energy[i] = slope * slope;
    mean += slope * slope;
  }
  mean /= static_cast<double>(n);
  for (size_t i = 0; i < n; ++i) {
    energy[i] = (energy[i] - mean) * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n)));
  }
  transform(energy);
  std::vector<double> power(n / 2);
  for (size_t k = 0; k < power.size(); ++k) power[k] = std::norm(energy[k]);
  std::optional<CellLine> line = lineOf(power, static_cast<double>(sampleRate) / static_cast<double>(n));
  // In samples.
  if (line) {
    for (double& half : line->halfCells) half *= sampleRate;
  }
  return line;
}

EdgeRebuilder::EdgeRebuilder(double halfCell, uint64_t firstSample, int32_t sampleRate, bool bandLimited)
    : next_(firstSample), follow_(1 / (kPowerSeconds * std::max(sampleRate, 1))), half_(halfCell) {
  const auto taps = static_cast<size_t>(std::clamp(std::round(kTapsAt48k * sampleRate / 48000.0), 16.0, 256.0));
  taps_.assign(taps, 0.0);
  taps_[taps / 2] = 1;
  recent_.assign(std::bit_ceil(2 * taps + 2 * static_cast<size_t>(halfCell) + 8), 0.0);
  at_ = static_cast<double>(firstSample + taps) + halfCell;
  if (bandLimited) {
    // A windowed sinc (Blackman) from a quarter of the cell rate to one and
    // a half times it, four periods of the lower edge long.
    const double cellRate = 1 / (2 * halfCell);  // cycles a sample
    const double low = kBandLow * cellRate;
    const double high = std::min(kBandHigh * cellRate, 0.45);
    const size_t half = std::min<size_t>(static_cast<size_t>(2 / low), kMostBandTaps / 2);
    band_.resize(2 * half + 1);
    for (size_t k = 0; k < band_.size(); ++k) {
      const double x = static_cast<double>(k) - static_cast<double>(half);
      const auto sinc = [x](double f) { return x == 0 ? 2 * f : std::sin(2 * std::numbers::pi * f * x) / (std::numbers::pi * x); };
      const double phase = 2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(band_.size() - 1);
      band_[k] = (sinc(high) - sinc(low)) * (0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase));
    }
    raw_.assign(std::bit_ceil(band_.size()), 0.0);
    at_ += static_cast<double>(half);
  }
}

// The band-pass's output for the next input sample `v`.
double EdgeRebuilder::bandPassed(double v) {
  const size_t mask = raw_.size() - 1;
  raw_[static_cast<size_t>(next_ & mask)] = v;
  double sum = 0;
  for (size_t k = 0; k < band_.size(); ++k) sum += band_[k] * raw_[static_cast<size_t>((next_ - k) & mask)];
  return sum;
}

double EdgeRebuilder::outputAt(uint64_t n) const {
  const size_t mask = recent_.size() - 1;
  double sum = 0;
  for (size_t k = 0; k < taps_.size(); ++k) sum += taps_[k] * recent_[static_cast<size_t>((n - k) & mask)];
  return sum;
}

// The output between samples, by linear interpolation.
double EdgeRebuilder::output(double at) const {
  const double whole = std::floor(at);
  const auto n = static_cast<uint64_t>(whole);
  const double share = at - whole;
  return outputAt(n) * (1 - share) + outputAt(n + 1) * share;
}

void EdgeRebuilder::instant(std::vector<Edge>& out) {
  const double y = output(at_);
  const double mid = output(at_ - half_ / 2);
  // The taps move to bring y's square nearer 1.
  const size_t mask = recent_.size() - 1;
  const auto nearest = static_cast<uint64_t>(std::llround(at_));
  const double step = kLearn / static_cast<double>(taps_.size()) * std::clamp(y * (y * y - 1), -4.0, 4.0);
  for (size_t k = 0; k < taps_.size(); ++k) taps_[k] -= step * recent_[static_cast<size_t>((nearest - k) & mask)];
  if (primed_) {
    // The middle taps' delays.
    const double delay = std::floor(static_cast<double>(taps_.size()) / 2) + std::floor(static_cast<double>(band_.size()) / 2);
    decide(y, std::max(0.0, at_ - half_ / 2 - delay), out);
  }
  const double early = primed_ ? std::clamp(mid * (before_ - y), -1.0, 1.0) : 0;
  before_ = y;
  primed_ = true;
  at_ += half_ + kMoveInstant * early;
  half_ += kMoveHalfCell * early;
}

// The boundary between the instant before and `y`'s, at `place`. Where
// the cells stand clear, a cell's opening boundary always reverses, and its
// middle one where the level it opened with (from the instants on both
// sides of its opening, against the reversal there) is that of the next
// cell too: each bit from four instants, not two. An opening where both
// sides stand clearly at one level (the tape turned there, and the signal
// runs back the way it came) tells no level: the middles beside it reverse,
// as elsewhere, where the instants on their two sides differ in sign, and
// it still opens a cell (the decoder reads the frames on both sides).
void EdgeRebuilder::decide(double y, double place, std::vector<Edge>& out) {
  const size_t parity = instants_++ & 1;
  const bool reversed = (y >= 0) != (before_ >= 0);
  reversing_[parity] += kFollowReversals * ((reversed ? 1.0 : 0.0) - reversing_[parity]);
  const size_t opens = reversing_[0] >= reversing_[1] ? 0 : 1;
  if (reversing_[opens] < kCellsClear || reversing_[opens] - reversing_[1 - opens] < kCellsApart) {
    // (A middle still to be told is told by its own two sides.)
    if (middle_ >= 0 && (before_ >= 0) != (twoBefore_ >= 0)) out.push_back({edgeUnits(middle_), before_ >= 0});
    if (reversed) out.push_back({edgeUnits(place), y >= 0});
    opened_ = 0;
    middle_ = -1;
  } else if (parity != opens) {
    middle_ = place;
  } else {
    const double level = (y - before_) / 2;
    const bool telling = reversed || std::min(std::abs(y), std::abs(before_)) < kTurnLevel;
    if (middle_ >= 0) {
      const bool told = opened_ != 0 && telling;  // the levels on both sides of the middle
      const bool middleReversed = told ? (level >= 0) == (opened_ >= 0) : (before_ >= 0) != (twoBefore_ >= 0);
      if (middleReversed) out.push_back({edgeUnits(middle_), told ? level < 0 : before_ >= 0});
    }
    out.push_back({edgeUnits(place), telling ? level >= 0 : before_ < 0});
    opened_ = telling ? level : 0;
    middle_ = -1;
  }
  twoBefore_ = before_;
}

template <typename T>
void EdgeRebuilder::scan(const T* samples, size_t stride, size_t count, std::vector<Edge>& out) {
  if (taps_.empty()) return;
  if (power_ == 0) {
    for (size_t i = 0; i < count; ++i) power_ += std::pow(static_cast<double>(samples[i * stride]), 2);
    power_ = count > 0 ? power_ / static_cast<double>(count) : 0;
  }
  const size_t mask = recent_.size() - 1;
  for (size_t i = 0; i < count; ++i) {
    auto v = static_cast<double>(samples[i * stride]);
    if (!band_.empty()) v = bandPassed(v);
    power_ += follow_ * (v * v - power_);
    recent_[static_cast<size_t>(next_ & mask)] = power_ > 0 ? v / std::sqrt(power_) : 0;
    ++next_;
    // An instant is read once the sample after it has come.
    while (at_ + 2 <= static_cast<double>(next_)) instant(out);
  }
  if (!std::all_of(taps_.begin(), taps_.end(), [](double t) { return std::isfinite(t); })) {
    std::fill(taps_.begin(), taps_.end(), 0.0);
    taps_[taps_.size() / 2] = 1;
  }
}

template std::optional<EdgeRebuilder::CellLine> EdgeRebuilder::cellLine(const int16_t*, size_t, size_t, int32_t);
template std::optional<EdgeRebuilder::CellLine> EdgeRebuilder::cellLine(const int32_t*, size_t, size_t, int32_t);
template std::optional<EdgeRebuilder::CellLine> EdgeRebuilder::cellLine(const float*, size_t, size_t, int32_t);
template void EdgeRebuilder::scan(const int16_t*, size_t, size_t, std::vector<Edge>&);
template void EdgeRebuilder::scan(const int32_t*, size_t, size_t, std::vector<Edge>&);
template void EdgeRebuilder::scan(const float*, size_t, size_t, std::vector<Edge>&);

}  // namespace stampline
