// Makes one case of the degraded corpus: LTC from our encoder, played,
// spliced and degraded as a channel would, written as a float WAV file, and
// beside it the truth: every frame that reached the output (whole, or part
// of one), with its first sample in the output (in file order), its label,
// flags and user bits, and the places where the timecode truly changes (a
// splice, a change of direction or of rate).
//
// usage: degrade RATE CASE OUT.wav TRUTH.csv
//   RATE: 24, 25, 29.97df or 30; CASE: see kCases (degrade --list names them)
#include <sndfile.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "run/signal.h"
#include "signal_ops.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_schedule.h"
#include "timecode/label_text.h"

namespace stampline::corpus {
namespace {

constexpr int32_t kRate = 48000;
constexpr double kSeconds = 30;
constexpr size_t kLength = static_cast<size_t>(kRate * kSeconds);

// A source of LTC: its schedule and its samples (peak 0.5 plus noise).
struct Source {
  FrameSchedule schedule;
  uint32_t userBits;
  Signal samples;
};

Source render(FrameRate rate, bool drop, const char* start, uint32_t userBits, double seconds) {
  const FrameSchedule schedule(rate, kRate, packTimecodeText(start), drop);
  EncoderConfig config;
  config.noiseSeed = 5;
  config.channels = 1;
  config.userBits = {UserBits::Kind::kWord, userBits, 0};
  config.coding = outputCoding(kFloat32);
  LtcEncoder encoder(schedule, config);
  const uint64_t frames = schedule.completeFrames(static_cast<uint64_t>(seconds * kRate));
  BlockRenderer blocks(encoder, frames, uint64_t{1} << 20);
  Source s{schedule, userBits, {}};
  while (!blocks.done()) {
    const std::span<const uint8_t> bytes = blocks.next();
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
      float v;
      std::memcpy(&v, bytes.data() + i, 4);
      s.samples.push_back(v);
    }
  }
  return s;
}

// Where each output sample comes from: a source and a position in it.
struct Place {
  int source;  // -1: nothing (silence)
  double x;
};

// Plays sources into the output, piece by piece, keeping every sample's
// place.
class Player {
 public:
  explicit Player(const std::vector<Source>& sources) : sources_(sources) {}
  // `samples` output samples of `source` from `x`, advancing by `speed(t)`
  // per sample (t: seconds into the output; negative: backwards). Returns
  // where it stopped.
  double play(int source, double x, size_t samples, const std::function<double(double)>& speed) {
    for (size_t i = 0; i < samples && out.size() < kLength; ++i) {
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
  Signal out;
  std::vector<Place> places;

 private:
  const std::vector<Source>& sources_;
};

// The truth of a played output: every frame whose every cell was played,
// and the places where the timecode changes.
void writeTruth(const std::vector<Source>& sources, const std::vector<Place>& places, const char* path) {
  std::FILE* f = std::fopen(path, "w");
  std::fputs("start,end,label,drop_frame,user_bits,forward,whole\n", f);
  std::vector<size_t> changes;
  size_t n = 0;
  while (n < places.size()) {
    const Place p = places[n];
    if (p.source < 0) {
      ++n;
      continue;
    }
    const Source& s = sources[static_cast<size_t>(p.source)];
    const uint64_t frame = s.schedule.frameAt(static_cast<uint64_t>(std::max(0.0, p.x))).frame;
    const bool forward = n + 1 < places.size() ? places[n + 1].x >= p.x : true;
    const auto first = static_cast<double>(s.schedule.frameStart(frame));
    const auto last = static_cast<double>(s.schedule.frameStart(frame + 1));
    size_t end = n;
    double low = p.x;
    double high = p.x;
    double step = 0;  // the largest step between samples: how close to its ends a frame can be played
    while (end < places.size() && places[end].source == p.source &&
           s.schedule.frameAt(static_cast<uint64_t>(std::max(0.0, places[end].x))).frame == frame) {
      low = std::min(low, places[end].x);
      high = std::max(high, places[end].x);
      if (end > n) step = std::max(step, std::abs(places[end].x - places[end - 1].x));
      ++end;
    }
    // Whole: every cell of it played, within a step of its ends; part of
    // one: a reader may still read its label where the cut spared its data
    // (bits 0 to 63), which is then right.
    const bool whole = low <= first + step + 0.01 && high >= last - 1 - step - 0.01;
    std::fprintf(f, "%zu,%zu,%s,%d,%08" PRIX32 ",%d,%d\n", n, end,
                 formatLabel(s.schedule.label(frame), s.schedule.dropFrame()).c_str(), s.schedule.dropFrame() ? 1 : 0,
                 s.userBits, forward ? 1 : 0, whole ? 1 : 0);
    n = end;
  }
  // Changes: another source, a jump in position, a turn.
  for (size_t i = 2; i < places.size(); ++i) {
    const Place& a = places[i - 2];
    const Place& b = places[i - 1];
    const Place& c = places[i];
    const bool jump = std::abs((c.x - b.x) - (b.x - a.x)) > 0.5;
    if (c.source != b.source || jump) changes.push_back(i);
  }
  std::fputs("changes", f);
  size_t lastChange = 0;
  for (const size_t c : changes) {
    if (c - lastChange > 100 || lastChange == 0) std::fprintf(f, ",%zu", c);
    lastChange = c;
  }
  std::fputc('\n', f);
  std::fclose(f);
}

struct RateOf {
  FrameRate rate;
  bool drop;
  FrameRate other;  // the rate a change of rate goes to
  bool otherDrop;
};

// One case: fills the player and degrades its output.
using Case = std::function<void(Player&, const RateOf&)>;

void filtered(Player& p, const std::function<void(Signal&)>& f) {
  p.play(0, 0, kLength);
  f(p.out);
}

const std::map<std::string, Case>& cases() {
  static const std::map<std::string, Case> all = [] {
    std::map<std::string, Case> c;
    const double r = kRate;
    c["clean"] = [](Player& p, const RateOf&) { p.play(0, 0, kLength); };
    for (const int hz : {300, 500, 700, 1000, 1500, 2000}) {
      c["hp" + std::to_string(hz)] = [hz, r](Player& p, const RateOf&) { filtered(p, [&](Signal& s) { highPass(s, hz, r); }); };
    }
    c["hp2000_clip"] = [r](Player& p, const RateOf&) {
      filtered(p, [&](Signal& s) { highPass(s, 2000, r), clip(s, 3, 0.5); });
    };
    c["lp3000"] = [r](Player& p, const RateOf&) { filtered(p, [&](Signal& s) { lowPass(s, 3000, r); }); };
    c["lp3000_clip"] = [r](Player& p, const RateOf&) { filtered(p, [&](Signal& s) { lowPass(s, 3000, r), clip(s, 3, 0.6); }); };
    c["allpass"] = [r](Player& p, const RateOf&) {
      filtered(p, [&](Signal& s) { allPass(s, 800, r), allPass(s, 2500, r); });
    };
    // A camera's line input: band-limited, AC-coupled, phase-rotated.
    const auto camera = [r](Signal& s) { lowPass(s, 3000, r), highPass(s, 1000, r), allPass(s, 800, r), allPass(s, 2500, r); };
    c["camera"] = [camera](Player& p, const RateOf&) { filtered(p, camera); };
    c["camera_clip"] = [camera](Player& p, const RateOf&) { filtered(p, [&](Signal& s) { camera(s), clip(s, 4, 0.5); }); };
    c["music6"] = [r](Player& p, const RateOf&) {
      filtered(p, [&](Signal& s) {
        const Signal m = music(s.size(), r, 0.25);
        for (size_t i = 0; i < s.size(); ++i) s[i] += m[i];
      });
    };
    c["noise10"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) {
        std::mt19937 random(3);
        std::normal_distribution<double> noise(0, 0.5 / std::sqrt(10.0));
        for (double& v : s) v += noise(random);
      });
    };
    c["step_down40"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) { for (size_t i = kLength / 3; i < s.size(); ++i) s[i] *= dbGain(-40); });
    };
    c["step_up40"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) { for (size_t i = 0; i < kLength / 3; ++i) s[i] *= dbGain(-40); });
    };
    for (const double speed : {0.5, 0.75, 0.9, 0.95, 1.05, 1.5, 2.0}) {
      char name[32];
      std::snprintf(name, sizeof name, "speed%.2f", speed);
      c[name] = [speed](Player& p, const RateOf&) { p.play(0, 0, kLength, speed); };
    }
    c["ramp0.9-1.1"] = [](Player& p, const RateOf&) {
      p.play(0, 0, kLength, [](double t) { return 0.9 + 0.2 * t / kSeconds; });
    };
    c["steps"] = [](Player& p, const RateOf&) {
      p.play(0, 0, kLength, [](double t) { return t < 10 ? 0.9 : t < 20 ? 1.1 : 1.0; });
    };
    c["vibrato"] = [](Player& p, const RateOf&) {
      p.play(0, 0, kLength, [](double t) { return 1 + 0.02 * std::sin(2 * M_PI * 5 * t); });
    };
    c["shuttle"] = [](Player& p, const RateOf&) {
      double x = p.play(0, 0, kLength / 3);
      x = p.play(0, x, kLength / 6, -0.6);
      p.play(0, x, kLength);
    };
    c["rocking"] = [](Player& p, const RateOf&) {
      double x = 4.0 * kRate;
      for (int i = 0; p.out.size() < kLength; ++i) x = p.play(0, x, kRate, i % 2 == 0 ? 0.5 : -0.5);
    };
    c["splices"] = [](Player& p, const RateOf&) {
      std::mt19937 random(17);
      std::uniform_real_distribution<double> length(1.0, 4.0);
      std::uniform_real_distribution<double> from(0.0, 25.0);
      double x = 0;
      while (p.out.size() < kLength) {
        p.play(0, x, static_cast<size_t>(length(random) * kRate));
        x = from(random) * kRate;
      }
    };
    c["dropout20"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) {
        for (size_t start = kRate * 3; start + kRate < s.size(); start += kRate * 5) {
          for (size_t i = start; i < start + kRate / 5; ++i) s[i] *= dbGain(-20);
        }
      });
    };
    c["dropout_silence"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) {
        for (size_t start = kRate * 3; start + kRate < s.size(); start += kRate * 5) {
          for (size_t i = start; i < start + kRate / 5; ++i) s[i] = 0;
        }
      });
    };
    c["ratechange"] = [](Player& p, const RateOf&) {
      p.play(0, 0, kLength / 2);
      p.play(2, 0, kLength);
    };
    c["nonfinite"] = [](Player& p, const RateOf&) {
      filtered(p, [](Signal& s) {
        for (size_t i = 0; i < 3000; ++i) s[kLength / 3 + i] = (i / 100) % 2 == 0 ? INFINITY : -INFINITY;
        for (size_t start = kLength / 2; start + kRate < s.size(); start += kRate * 3) {
          for (size_t i = start; i < start + 100; ++i) s[i] = NAN;
        }
      });
    };
    return c;
  }();
  return all;
}

RateOf rateOf(const std::string& name) {
  if (name == "24") return {kRate24, false, kRate30, false};
  if (name == "25") return {kRate25, false, kRate2997, true};
  if (name == "29.97df") return {kRate2997, true, kRate25, false};
  return {kRate30, false, kRate24, false};
}

}  // namespace
}  // namespace stampline::corpus

int main(int argc, char** argv) {
  using namespace stampline::corpus;
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const auto& [name, c] : cases()) std::printf("%s\n", name.c_str());
    return 0;
  }
  if (argc != 5 || cases().count(argv[2]) == 0) {
    std::fputs("usage: degrade RATE CASE OUT.wav TRUTH.csv (degrade --list: the cases)\n", stderr);
    return 2;
  }
  const RateOf rate = rateOf(argv[1]);
  // The source, one of other user bits for splices, one of another rate.
  const std::vector<Source> sources = {
      render(rate.rate, rate.drop, rate.drop ? "09:59:50;00" : "09:59:50:00", 0x10203040, 70),
      render(rate.rate, rate.drop, "14:00:00:00", 0x50607080, 70),
      render(rate.other, rate.otherDrop, "15:00:00:00", 0x90A0B0C0, 70)};
  Player player(sources);
  cases().at(argv[2])(player, rate);
  player.out.resize(kLength, 0.0);
  writeTruth(sources, player.places, argv[4]);
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(argv[3], SFM_WRITE, &info);
  if (file == nullptr) return 1;
  sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
  sf_write_double(file, player.out.data(), static_cast<sf_count_t>(player.out.size()));
  sf_close(file);
  return 0;
}
