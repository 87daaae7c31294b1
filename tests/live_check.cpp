#include "live_check.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <utility>

#include "ltc_signal.h"
#include "timecode/timecode.h"

namespace stampline::testing {
namespace {

// A straight line y = a + b x through points, by least squares (about the
// first point, to keep the sums small).
struct Line {
  double x0 = 0, y0 = 0, a = 0, b = 0;
  static Line through(const std::vector<std::pair<double, double>>& points) {
    Line l;
    if (points.empty()) return l;
    l.x0 = points.front().first;
    l.y0 = points.front().second;
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [x, y] : points) {
      const double u = x - l.x0;
      const double v = y - l.y0;
      n += 1, sx += u, sy += v, sxx += u * u, sxy += u * v;
    }
    l.b = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    l.a = (sy - l.b * sx) / n;
    return l;
  }
  double at(double x) const { return y0 + a + b * (x - x0); }
};

// Lines through the points (sorted by x) within kWindow of each place
// asked, so that a long recording follows the slow wander of the clocks
// against each other (a slew) rather than one line for all of it.
class LocalLine {
 public:
  LocalLine(std::vector<std::pair<double, double>> points, double window)
      : points_(std::move(points)), window_(window) {
    std::sort(points_.begin(), points_.end());
  }
  double at(double x) {
    const auto from = std::lower_bound(points_.begin(), points_.end(), std::make_pair(x - window_, -1e300));
    const auto to = std::upper_bound(points_.begin(), points_.end(), std::make_pair(x + window_, 1e300));
    if (to - from < 2) return Line::through(points_).at(x);
    // Fitted again only where the window has moved on by a tenth of it.
    if (!fitted_ || std::abs(x - fittedAt_) > window_ / 10) {
      line_ = Line::through({from, to});
      fittedAt_ = x;
      fitted_ = true;
    }
    return line_.at(x);
  }

 private:
  std::vector<std::pair<double, double>> points_;
  double window_;
  Line line_;
  double fittedAt_ = 0;
  bool fitted_ = false;
};

// The server's own cycle times off the line they are measured against
// (`lineAt`: JACK microseconds of a card frame, where it is measured), each
// averaged over the second about it.
void measureWander(EdgeOffsets& out, const std::vector<std::pair<double, double>>& cycles,
                   const std::function<std::optional<double>(double)>& lineAt) {
  std::vector<std::pair<double, double>> off;  // card frame, samples
  // (A stretch of fewer than two cycles has no line: it says nothing.)
  for (const auto& [frame, micros] : cycles) {
    const auto line = lineAt(frame);
    if (line && std::isfinite(*line)) off.emplace_back(frame, (micros - *line) * out.sampleRate / 1e6);
  }
  const double half = 0.5 * out.sampleRate;
  size_t from = 0, to = 0;
  double sum = 0, squares = 0;
  for (const auto& [frame, samples] : off) {
    for (; to < off.size() && off[to].first <= frame + half; ++to) sum += off[to].second;
    for (; off[from].first < frame - half; ++from) sum -= off[from].second;
    const double mean = sum / static_cast<double>(to - from);
    squares += mean * mean;
    out.wanderLargest = std::max(out.wanderLargest, std::abs(mean));
  }
  if (!off.empty()) out.wanderRms = std::sqrt(squares / static_cast<double>(off.size()));
}

}  // namespace

EdgeOffsets measureRecording(const std::string& samplesPath, const std::string& timesPath, FrameRate rate,
                             bool dropFrame, double skipSeconds, double aheadSeconds) {
  EdgeOffsets out;
  std::ifstream times(timesPath);
  std::vector<std::pair<double, double>> cycles;   // card frame, JACK microseconds
  std::vector<std::pair<double, double>> pairs;    // JACK microseconds, wall nanoseconds
  std::vector<std::pair<uint64_t, uint32_t>> recorded;  // each cycle's first frame and length, in order
  std::vector<double> xrunMicros;                       // as JACK reported them
  std::string line;
  while (std::getline(times, line)) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "rate") words >> out.sampleRate;
    if (kind == "pair") {
      unsigned long long micros = 0;
      long long wall = 0;
      words >> micros >> wall;
      pairs.emplace_back(static_cast<double>(micros), static_cast<double>(wall));
    }
    if (kind == "xrun") {
      unsigned long long micros = 0;
      words >> micros;
      xrunMicros.push_back(static_cast<double>(micros));
    }
    if (kind == "cycle") {
      unsigned long long frame = 0, micros = 0;
      uint32_t frames = 0;
      words >> frame >> micros >> frames;
      cycles.emplace_back(static_cast<double>(frame), static_cast<double>(micros));
      recorded.emplace_back(frame, frames);
    }
  }
  std::ifstream in(samplesPath, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  if (cycles.size() < 2 || pairs.size() < 2 || out.sampleRate == 0) return out;
  // Xruns: those JACK reported (from the first cycle that started a period
  // before), and where a cycle starts half a period or more later than the
  // count says and the next does not make up for it, the card's samples
  // were lost; and changes of buffer size (JACK's count moves on by the new
  // size where the card played the old). Each stretch between them has a
  // line of its own, and its first ten seconds are left out.
  std::vector<double> stretchStarts{cycles.front().first};
  const double firstPeriod = recorded.front().second * 1e6 / out.sampleRate;
  for (const double micros : xrunMicros) {
    const auto c = std::find_if(cycles.begin(), cycles.end(), [&](const auto& p) { return p.second >= micros - firstPeriod; });
    if (c != cycles.end() && c->first > stretchStarts.back()) stretchStarts.push_back(c->first);
  }
  const auto late = [&](size_t c) {
    return cycles[c].second - cycles[c - 1].second - (cycles[c].first - cycles[c - 1].first) * 1e6 / out.sampleRate;
  };
  for (size_t c = 1; c + 1 < recorded.size(); ++c) {
    const double half = 0.5 * recorded[c - 1].second * 1e6 / out.sampleRate;
    const bool resized = recorded[c].second != recorded[c - 1].second;
    if (resized || (late(c) > half && late(c) + late(c + 1) > half)) stretchStarts.push_back(cycles[c].first);
  }
  std::sort(stretchStarts.begin(), stretchStarts.end());
  stretchStarts.erase(std::unique(stretchStarts.begin(), stretchStarts.end()), stretchStarts.end());
  std::vector<LocalLine> jackOfFrames;
  for (size_t s = 0; s < stretchStarts.size(); ++s) {
    const double end = s + 1 < stretchStarts.size() ? stretchStarts[s + 1] : 1e300;
    std::vector<std::pair<double, double>> inStretch;
    for (const auto& c : cycles) {
      if (c.first >= stretchStarts[s] && c.first < end) inStretch.push_back(c);
    }
    // Ten seconds either side: the whole of a short recording.
    jackOfFrames.emplace_back(inStretch, 10 * out.sampleRate);
  }
  out.xruns = stretchStarts.size() - 1;
  LocalLine wallOfJack(pairs, 10e6);
  const ReadBack back = readLtc(values, static_cast<int32_t>(out.sampleRate));
  // A recording's sample to the card's frame: cycle by cycle.
  std::vector<uint64_t> cycleStart(recorded.size() + 1, 0);
  for (size_t c = 0; c < recorded.size(); ++c) cycleStart[c + 1] = cycleStart[c] + recorded[c].second;
  const auto cardFrame = [&](double position) {
    const auto at = static_cast<uint64_t>(std::max(0.0, position));
    const size_t c = static_cast<size_t>(std::upper_bound(cycleStart.begin(), cycleStart.end(), at) - cycleStart.begin()) - 1;
    const size_t k = std::min(c, recorded.size() - 1);
    return static_cast<double>(recorded[k].first) + position - static_cast<double>(cycleStart[k]);
  };
  constexpr double kDay = 86400e9;
  const double first = cardFrame(0);
  // The stretch in which a card frame is measured, or none: the first
  // seconds, and ten seconds after each xrun.
  const auto stretchOf = [&](double frame) -> std::optional<size_t> {
    if (frame - first < skipSeconds * out.sampleRate) return std::nullopt;
    const size_t s = static_cast<size_t>(std::upper_bound(stretchStarts.begin(), stretchStarts.end(), frame) -
                                         stretchStarts.begin()) - 1;
    if (s > 0 && frame - stretchStarts[s] < 10.0 * out.sampleRate) return std::nullopt;
    return s;
  };
  // The wander over the whole recording, the seconds left out above too:
  // the player's lock remembers them when it places the frames measured.
  measureWander(out, cycles, [&](double frame) -> std::optional<double> {
    const auto s = std::upper_bound(stretchStarts.begin(), stretchStarts.end(), frame) - stretchStarts.begin();
    if (s == 0) return std::nullopt;
    return jackOfFrames[static_cast<size_t>(s) - 1].at(frame);
  });
  for (const FrameRecord& row : back.rows) {
    out.everyLabel.push_back(row.label);
    const double frame = cardFrame(row.position);
    const auto s = stretchOf(frame);
    if (!s) continue;
    const double wall = wallOfJack.at(jackOfFrames[*s].at(frame)) + aheadSeconds * 1e9;
    const double midnight = std::floor(wall / kDay) * kDay;
    const uint64_t n = labelNumber(row.label, rate.nominal, dropFrame);
    const double instant = midnight + static_cast<double>(n) * rate.denominator * 1e9 / rate.numerator;
    const double offset = (wall - instant) * out.sampleRate / 1e9;
    out.offsets.push_back(offset);
    out.labels.push_back(row.label);
  }
  std::vector<double> sizes;
  for (const double o : out.offsets) {
    out.rms += o * o;
    sizes.push_back(std::abs(o));
  }
  if (sizes.empty()) return out;
  out.rms = std::sqrt(out.rms / static_cast<double>(sizes.size()));
  std::sort(sizes.begin(), sizes.end());
  out.largest = sizes.back();
  out.p999 = sizes[std::min(sizes.size() - 1, static_cast<size_t>(0.999 * static_cast<double>(sizes.size())))];
  return out;
}

}  // namespace stampline::testing
