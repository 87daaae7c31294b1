#include "degraded.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include "run/signal.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_schedule.h"
#include "timecode/label_text.h"
#include "wav/sample_format.h"

namespace stampline::corpus {
namespace {

constexpr double kRate = kSampleRate;

// A source of LTC: its schedule and its samples (peak 0.5 plus noise).
struct Source {
  FrameSchedule schedule;
  uint32_t userBits;
  Signal samples;
};

Source render(FrameRate rate, bool drop, const char* start, uint32_t userBits, double seconds) {
  const FrameSchedule schedule(rate, kSampleRate, packTimecodeText(start), drop);
  EncoderConfig config;
  config.noiseSeed = 5;
  config.channels = 1;
  config.userBits = {UserBits::Kind::kWord, userBits, 0};
  config.coding = outputCoding(kFloat32);
  LtcEncoder encoder(schedule, config);
  const uint64_t frames = schedule.completeFrames(static_cast<uint64_t>(seconds * kRate));
  BlockRenderer blocks(encoder, frames, uint64_t{1} << 20);
  Source s{schedule, userBits, {}};
  std::vector<uint8_t> scratch;
  while (!blocks.done()) {
    // (The encoder's floats are little-endian, as a file holds them.)
    const SampleView view = readSamples(kFloat32, 1, blocks.next(), scratch);
    const auto* floats = static_cast<const float*>(view.data);
    s.samples.insert(s.samples.end(), floats, floats + view.frames);
  }
  return s;
}

// Where each output sample comes from: a source and a position in it.
struct Place {
  int source;  // -1: nothing (silence)
  double x;
};

// Plays sources into the output, piece by piece, keeping every sample's
// place, up to `length` samples.
class Player {
 public:
  Player(const std::vector<Source>& sources, size_t samples) : length(samples), sources_(sources) {}
  // `samples` output samples of `source` from `x`, advancing by `speed(t)`
  // per sample (t: seconds into the output; negative: backwards). Returns
  // where it stopped.
  double play(int source, double x, size_t samples, const std::function<double(double)>& speed) {
    for (size_t i = 0; i < samples && out.size() < length; ++i) {
      const Signal& s = sources_[static_cast<size_t>(source)].samples;
      out.push_back(at(s, x));
      places.push_back({source, x});
      x += speed(static_cast<double>(out.size()) / kRate);
    }
    return x;
  }
  double play(int source, double x, size_t samples, double speed = 1) {
    return play(source, x, samples, [speed](double) { return speed; });
  }
  double seconds() const { return static_cast<double>(length) / kRate; }
  const size_t length;
  Signal out;
  std::vector<Place> places;

 private:
  const std::vector<Source>& sources_;
};

// The frames of the truth from the places played: each run of samples
// from one frame of one source.
std::vector<TruthFrame> truthOf(const std::vector<Source>& sources, const std::vector<Place>& places) {
  std::vector<TruthFrame> frames;
  size_t n = 0;
  while (n < places.size()) {
    const Place p = places[n];
    if (p.source < 0) {
      ++n;
      continue;
    }
    const Source& s = sources[static_cast<size_t>(p.source)];
    const auto frameOf = [&s](double x) { return s.schedule.frameAt(static_cast<uint64_t>(std::max(0.0, x))).frame; };
    const uint64_t frame = frameOf(p.x);
    const bool forward = n + 1 < places.size() ? places[n + 1].x >= p.x : true;
    const auto first = static_cast<double>(s.schedule.frameStart(frame));
    const auto last = static_cast<double>(s.schedule.frameStart(frame + 1));
    size_t end = n;
    double low = p.x;
    double high = p.x;
    double step = 0;  // the largest step between samples: how close to its ends a frame can be played
    while (end < places.size() && places[end].source == p.source && frameOf(places[end].x) == frame) {
      low = std::min(low, places[end].x);
      high = std::max(high, places[end].x);
      if (end > n) step = std::max(step, std::abs(places[end].x - places[end - 1].x));
      ++end;
    }
    // Whole: every cell of it played, within a step of its ends.
    const bool whole = low <= first + step + 0.01 && high >= last - 1 - step - 0.01;
    frames.push_back({n, end, s.schedule.label(frame), s.schedule.dropFrame(), s.userBits, forward, whole});
    n = end;
  }
  return frames;
}

// The places where the timecode changes: another source, a jump in
// position, a turn (the first of a run of such samples).
std::vector<size_t> changesOf(const std::vector<Place>& places) {
  std::vector<size_t> changes;
  size_t last = 0;
  for (size_t i = 2; i < places.size(); ++i) {
    const Place& a = places[i - 2];
    const Place& b = places[i - 1];
    const Place& c = places[i];
    const bool jump = std::abs((c.x - b.x) - (b.x - a.x)) > 0.5;
    if (c.source != b.source || jump) {
      if (i - last > 100 || last == 0) changes.push_back(i);
      last = i;
    }
  }
  return changes;
}

struct RateOf {
  FrameRate rate;
  bool drop;
  FrameRate other;  // the rate a change of rate goes to
  bool otherDrop;
};

RateOf rateOf(const std::string& name) {
  if (name == "24") return {kRate24, false, kRate30, false};
  if (name == "25") return {kRate25, false, kRate2997, true};
  if (name == "29.97df") return {kRate2997, true, kRate25, false};
  return {kRate30, false, kRate24, false};
}

// One case: fills the player and degrades its output.
using Case = std::function<void(Player&)>;

void filtered(Player& p, const std::function<void(Signal&)>& f) {
  p.play(0, 0, p.length);
  f(p.out);
}

void addFilters(std::map<std::string, Case>& c) {
  for (const int hz : {300, 500, 700, 1000, 1500, 2000}) {
    c["hp" + std::to_string(hz)] = [hz](Player& p) { filtered(p, [&](Signal& s) { highPass(s, hz, kRate); }); };
  }
  c["hp2000_clip"] = [](Player& p) { filtered(p, [&](Signal& s) { highPass(s, 2000, kRate), clip(s, 3, 0.5); }); };
  c["lp3000"] = [](Player& p) { filtered(p, [&](Signal& s) { lowPass(s, 3000, kRate); }); };
  c["lp3000_clip"] = [](Player& p) { filtered(p, [&](Signal& s) { lowPass(s, 3000, kRate), clip(s, 3, 0.6); }); };
  c["allpass"] = [](Player& p) { filtered(p, [&](Signal& s) { allPass(s, 800, kRate), allPass(s, 2500, kRate); }); };
  // A camera's line input: band-limited, AC-coupled, phase-rotated.
  const auto camera = [](Signal& s) {
    lowPass(s, 3000, kRate), highPass(s, 1000, kRate), allPass(s, 800, kRate), allPass(s, 2500, kRate);
  };
  c["camera"] = [camera](Player& p) { filtered(p, camera); };
  c["camera_clip"] = [camera](Player& p) { filtered(p, [&](Signal& s) { camera(s), clip(s, 4, 0.5); }); };
}

void addLevels(std::map<std::string, Case>& c) {
  c["music6"] = [](Player& p) {
    filtered(p, [](Signal& s) {
      const Signal m = music(s.size(), kRate, 0.25);
      for (size_t i = 0; i < s.size(); ++i) s[i] += m[i];
    });
  };
  c["noise10"] = [](Player& p) {
    filtered(p, [](Signal& s) {
      std::mt19937 random(3);
      std::normal_distribution<double> noise(0, 0.5 / std::sqrt(10.0));
      for (double& v : s) v += noise(random);
    });
  };
  c["step_down40"] = [](Player& p) {
    filtered(p, [](Signal& s) { for (size_t i = s.size() / 3; i < s.size(); ++i) s[i] *= dbGain(-40); });
  };
  c["step_up40"] = [](Player& p) {
    filtered(p, [](Signal& s) { for (size_t i = 0; i < s.size() / 3; ++i) s[i] *= dbGain(-40); });
  };
  // Every five seconds from the third, a fifth of a second lost.
  const auto dropouts = [](Signal& s, double gain) {
    for (auto start = static_cast<size_t>(kRate * 3); start + kSampleRate < s.size(); start += kSampleRate * 5) {
      for (size_t i = start; i < start + kSampleRate / 5; ++i) s[i] *= gain;
    }
  };
  c["dropout20"] = [dropouts](Player& p) { filtered(p, [&](Signal& s) { dropouts(s, dbGain(-20)); }); };
  c["dropout_silence"] = [dropouts](Player& p) { filtered(p, [&](Signal& s) { dropouts(s, 0); }); };
  c["nonfinite"] = [](Player& p) {
    filtered(p, [](Signal& s) {
      for (size_t i = 0; i < 3000; ++i) s[s.size() / 3 + i] = (i / 100) % 2 == 0 ? INFINITY : -INFINITY;
      for (size_t start = s.size() / 2; start + kSampleRate < s.size(); start += kSampleRate * 3) {
        for (size_t i = start; i < start + 100; ++i) s[i] = NAN;
      }
    });
  };
}

void addSpeeds(std::map<std::string, Case>& c) {
  for (const double speed : {0.5, 0.75, 0.9, 0.95, 1.05, 1.5, 2.0}) {
    char name[32];
    std::snprintf(name, sizeof name, "speed%.2f", speed);
    c[name] = [speed](Player& p) { p.play(0, 0, p.length, speed); };
  }
  c["ramp0.9-1.1"] = [](Player& p) {
    const double seconds = p.seconds();
    p.play(0, 0, p.length, [seconds](double t) { return 0.9 + 0.2 * t / seconds; });
  };
  c["steps"] = [](Player& p) {
    const double third = p.seconds() / 3;
    p.play(0, 0, p.length, [third](double t) { return t < third ? 0.9 : t < 2 * third ? 1.1 : 1.0; });
  };
  c["vibrato"] = [](Player& p) { p.play(0, 0, p.length, [](double t) { return 1 + 0.02 * std::sin(2 * M_PI * 5 * t); }); };
  c["shuttle"] = [](Player& p) {
    double x = p.play(0, 0, p.length / 3);
    x = p.play(0, x, p.length / 6, -0.6);
    p.play(0, x, p.length);
  };
  c["rocking"] = [](Player& p) {
    double x = 4.0 * kRate;
    for (int i = 0; p.out.size() < p.length; ++i) x = p.play(0, x, kSampleRate, i % 2 == 0 ? 0.5 : -0.5);
  };
}

void addEdits(std::map<std::string, Case>& c) {
  c["splices"] = [](Player& p) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> length(1.0, 4.0);
    std::uniform_real_distribution<double> from(0.0, p.seconds() * 5 / 6);
    double x = 0;
    while (p.out.size() < p.length) {
      p.play(0, x, static_cast<size_t>(length(random) * kRate));
      x = from(random) * kRate;
    }
  };
  c["ratechange"] = [](Player& p) {
    p.play(0, 0, p.length / 2);
    p.play(2, 0, p.length);
  };
}

const std::map<std::string, Case>& cases() {
  static const std::map<std::string, Case> all = [] {
    std::map<std::string, Case> c;
    c["clean"] = [](Player& p) { p.play(0, 0, p.length); };
    addFilters(c);
    addLevels(c);
    addSpeeds(c);
    addEdits(c);
    return c;
  }();
  return all;
}

}  // namespace

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto& [name, c] : cases()) names.push_back(name);
  return names;
}

bool knownRate(const std::string& rate) { return rate == "24" || rate == "25" || rate == "29.97df" || rate == "30"; }

Degraded degraded(const std::string& rate, const std::string& name, double seconds) {
  const RateOf r = rateOf(rate);
  // The source, one of other user bits for splices, one of another rate;
  // long enough for the slowest case.
  const double length = 2 * seconds + 10;
  const std::vector<Source> sources = {
      render(r.rate, r.drop, r.drop ? "09:59:50;00" : "09:59:50:00", 0x10203040, length),
      render(r.rate, r.drop, "14:00:00:00", 0x50607080, length),
      render(r.other, r.otherDrop, "15:00:00:00", 0x90A0B0C0, length)};
  Player player(sources, static_cast<size_t>(seconds * kRate));
  cases().at(name)(player);
  player.out.resize(player.length, 0.0);
  return {std::move(player.out), truthOf(sources, player.places), changesOf(player.places)};
}

Score score(const std::vector<TruthFrame>& truth, const std::vector<Row>& rows) {
  // The delay: the median offset of the rows whose label the truth has.
  std::vector<int64_t> offsets;
  for (const Row& row : rows) {
    int64_t best = INT64_MAX;
    for (const TruthFrame& f : truth) {
      const int64_t offset = row.sample - static_cast<int64_t>(f.start);
      if (f.label == row.label && f.userBits == row.userBits && std::abs(offset) < std::abs(best)) best = offset;
    }
    if (best != INT64_MAX) offsets.push_back(best);
  }
  std::sort(offsets.begin(), offsets.end());
  const int64_t delay = offsets.empty() ? 0 : offsets[offsets.size() / 2];
  Score s;
  std::vector<bool> read(truth.size(), false);
  constexpr int64_t kEndSamples = 8;
  // Half a frame: that of the longest of a frame and its neighbours (where
  // the tape turns, the truth holds a sliver of a frame, or a frame played
  // back and forth as one, a row within which is its).
  const auto reach = [&](size_t i) {
    size_t longest = truth[i].end - truth[i].start;
    if (i > 0) longest = std::max(longest, truth[i - 1].end - truth[i - 1].start);
    if (i + 1 < truth.size()) longest = std::max(longest, truth[i + 1].end - truth[i + 1].start);
    return static_cast<int64_t>(longest) / 2;
  };
  for (const Row& row : rows) {
    const int64_t at = row.sample - delay;
    std::optional<size_t> match;
    for (size_t i = 0; i < truth.size(); ++i) {
      const TruthFrame& f = truth[i];
      const int64_t off = std::abs(static_cast<int64_t>(f.start) - at);
      // (Within, not at its end: a row of the frame after it is not its.)
      const bool within = at >= static_cast<int64_t>(f.start) && at + kEndSamples < static_cast<int64_t>(f.end);
      const bool near = off <= reach(i) || within;
      const bool same = f.label == row.label && f.dropFrame == row.dropFrame && f.userBits == row.userBits;
      if (near && same && (!match || off < std::abs(static_cast<int64_t>(truth[*match].start) - at))) match = i;
    }
    if (match) {
      read[*match] = read[*match] || truth[*match].whole;
    } else {
      ++s.wrong;
    }
  }
  s.right = static_cast<size_t>(std::count(read.begin(), read.end(), true));
  return s;
}

bool nearChange(const Degraded& d, uint64_t sample) {
  return std::any_of(d.changes.begin(), d.changes.end(), [&](size_t change) {
    // The longer of the frames either side of the change.
    size_t length = 0;
    for (const TruthFrame& f : d.frames) {
      if (f.end + 2 * (f.end - f.start) >= change && f.start <= change + 2 * (f.end - f.start)) {
        length = std::max(length, f.end - f.start);
      }
    }
    const double distance = std::abs(static_cast<double>(sample) - static_cast<double>(change));
    return distance <= 1.5 * static_cast<double>(length);
  });
}

}  // namespace stampline::corpus
