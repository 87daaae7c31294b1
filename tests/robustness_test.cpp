// Our reader against degraded signals: every label it reports must be one
// the generator wrote, it must read at least as many of them right as
// libltc's decoder does from the same samples, and it must report what was
// done to the signal (a jump, a repeat, a gap, the speed, the direction).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "degraded.h"
#include "independent_readers.h"
#include "ltc_signal.h"
#include "timecode/label_text.h"

namespace stampline::testing {
namespace {

using Samples = std::vector<int16_t>;

constexpr int32_t kRate = 48000;
// 29.97 drop-frame, 10 s from 01:00:00;00: frames of 1601.6 samples.
const TestSignal kSignal{kRate2997, kRate, true, 0x00000001, 300, false, 0.5, {}};
constexpr double kFrameLength = kRate * 1001.0 / 30000;

int16_t clipped(double v) { return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L)); }

Samples mapped(const Samples& in, const std::function<double(double)>& f) {
  Samples out;
  out.reserve(in.size());
  for (const int16_t v : in) out.push_back(clipped(f(v)));
  return out;
}

// The generator's peak (half of full scale) moved to `dbfs`.
Samples atLevel(const Samples& in, double dbfs) {
  return mapped(in, [dbfs](double v) { return v * 32767 * std::pow(10, dbfs / 20) / 16383; });
}

// A one-pole high-pass at `hz`, as a coupling capacitor leaves it.
Samples highPassed(const Samples& in, double hz) {
  const double rc = 1 / (2 * M_PI * hz);
  const double a = rc / (rc + 1.0 / kRate);
  Samples out;
  double y = 0;
  double before = 0;
  for (const int16_t v : in) {
    y = a * (y + v - before);
    before = v;
    out.push_back(clipped(y));
  }
  return out;
}

// White noise of the power that gives `snrDb` against the signal's.
Samples noisy(const Samples& in, double snrDb) {
  double power = 0;
  for (const int16_t v : in) power += static_cast<double>(v) * v;
  power /= static_cast<double>(in.size());
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, std::sqrt(power / std::pow(10, snrDb / 10)));
  return mapped(in, [&](double v) { return v + noise(random); });
}

// Played at `speed` times the speed it was written at, at the same rate
// (linear interpolation).
Samples played(const Samples& in, double speed) {
  Samples out;
  for (double at = 0; at + 1 < static_cast<double>(in.size()); at += speed) {
    const auto i = static_cast<size_t>(at);
    const double f = at - static_cast<double>(i);
    out.push_back(clipped(in[i] * (1 - f) + in[i + 1] * f));
  }
  return out;
}

Samples reversed(Samples in) {
  std::reverse(in.begin(), in.end());
  return in;
}

// Frame `k`'s first sample.
size_t startOf(uint64_t k) { return static_cast<size_t>(kSignal.schedule().frameStart(k)); }

Samples spliced(const Samples& in) {  // frames 100 to 119 left out
  Samples out(in.begin(), in.begin() + static_cast<long>(startOf(100)));
  out.insert(out.end(), in.begin() + static_cast<long>(startOf(120)), in.end());
  return out;
}

Samples repeated(const Samples& in) {  // frame 150 twice
  Samples out(in.begin(), in.begin() + static_cast<long>(startOf(151)));
  out.insert(out.end(), in.begin() + static_cast<long>(startOf(150)), in.end());
  return out;
}

Samples silenced(Samples in) {  // half a second from the middle of frame 150
  const size_t from = startOf(150) + 800;
  std::fill(in.begin() + static_cast<long>(from), in.begin() + static_cast<long>(from + kRate / 2), 0);
  return in;
}

struct Degradation {
  const char* name;
  std::function<Samples(const Samples&)> apply;
  double minimumShare;  // of the frames written, read right
  double speed = 1;     // as played; the rate is then stated
  bool backward = false;
  std::vector<EventType> events = {};
  std::optional<uint64_t> timeReference = std::nullopt;
};

TEST(RobustnessTest, DegradedSignalsReadRightAndNeverWrong) {
  const Samples written = renderLtc(kSignal);
  const FrameSchedule schedule = kSignal.schedule();
  std::set<TimecodeWord> labels;
  for (uint64_t k = 0; k < kSignal.frames; ++k) labels.insert(schedule.label(k));
  const Degradation cases[] = {
      {"-50 dBFS", [](const Samples& s) { return atLevel(s, -50); }, 1},
      {"-60 dBFS", [](const Samples& s) { return atLevel(s, -60); }, 1},
      {"inverted", [](const Samples& s) { return mapped(s, [](double v) { return -v; }); }, 1},
      {"DC offset of 15 %", [](const Samples& s) { return mapped(s, [](double v) { return v + 0.15 * 32767; }); }, 1},
      {"high-pass at 300 Hz", [](const Samples& s) { return highPassed(s, 300); }, 1},
      {"white noise at 10 dB SNR", [](const Samples& s) { return noisy(s, 10); }, 0.95},
      {"0.999x", [](const Samples& s) { return played(s, 0.999); }, 1, 0.999},
      {"1.001x", [](const Samples& s) { return played(s, 1.001); }, 1, 1.001},
      {"0.5x", [](const Samples& s) { return played(s, 0.5); }, 1, 0.5},
      {"2x", [](const Samples& s) { return played(s, 2); }, 1, 2},
      {"reversed", reversed, 1, 1, true, {}},
      {"20 frames spliced out", spliced, 280.0 / 300, 1, false, {EventType::kJump}},
      {"a frame repeated", repeated, 1, 1, false, {EventType::kRepeat}},
      {"half a second silenced", silenced, 284.0 / 300, 1, false, {EventType::kGap}},
      {"the time stamp right", [](const Samples& s) { return s; }, 1, 1, false, {}, schedule.startSample()},
      {"a time stamp 2000 samples late", [](const Samples& s) { return s; }, 1, 1, false,
       {EventType::kTimeStamp}, schedule.startSample() + 2000},
  };
  for (const Degradation& d : cases) {
    SCOPED_TRACE(d.name);
    const Samples signal = d.apply(written);
    const bool stated = d.speed != 1;
    const ReadBack back = readLtc(signal, kRate, stated ? std::optional(kRate2997) : std::nullopt,
                                  d.timeReference);
    std::set<TimecodeWord> ours;
    for (const FrameRecord& row : back.rows) {
      ASSERT_TRUE(labels.count(row.label)) << "a label never written: " << formatLabel(row.label, true);
      EXPECT_EQ(row.forward, !d.backward);
      ours.insert(row.label);
    }
    EXPECT_GE(static_cast<double>(ours.size()), d.minimumShare * static_cast<double>(kSignal.frames));
    std::set<TimecodeWord> theirs;
    for (const DecodedFrame& f : decodeLtc(signal, static_cast<int>(kFrameLength / d.speed))) {
      if (labels.count(f.timecode)) theirs.insert(f.timecode);
    }
    EXPECT_GE(ours.size(), theirs.size()) << "libltc read more frames right";
    for (const EventType type : d.events) {
      EXPECT_GE(back.report.eventCounts[static_cast<size_t>(type)], 1U) << eventName(type);
    }
    // Nothing else happens; frames lost in noise leave gaps, nothing more.
    for (const Event& e : back.report.events) {
      const bool expected = std::find(d.events.begin(), d.events.end(), e.type) != d.events.end() ||
                            (e.type == EventType::kGap && d.minimumShare < 1);
      EXPECT_TRUE(expected) << eventName(e.type) << " at sample " << e.sample;
    }
    EXPECT_EQ(back.report.rate, kRate2997);
    EXPECT_TRUE(back.report.dropFrame);
    // Read in blocks of two parts each, as on two threads: the same frames
    // (in noise, where a frame is read or not by chance, as many).
    const ReadBack parts = readLtc(signal, kRate, stated ? std::optional(kRate2997) : std::nullopt,
                                   d.timeReference, 100000);
    if (d.minimumShare < 1) {
      EXPECT_GE(static_cast<double>(parts.rows.size()), d.minimumShare * static_cast<double>(kSignal.frames));
    } else {
      ASSERT_EQ(parts.rows.size(), back.rows.size());
      for (size_t i = 0; i < back.rows.size(); ++i) {
        ASSERT_EQ(parts.rows[i].label, back.rows[i].label) << i;
        // The envelope the fresh part starts with moves a crossing by a
        // hair, which may carry a start over a sample boundary.
        ASSERT_NEAR(parts.rows[i].position, back.rows[i].position, 0.25) << i;
      }
      EXPECT_EQ(parts.report.eventCounts, back.report.eventCounts);
    }
    if (stated) {
      const double truth = (d.speed - 1) * 1e6;
      EXPECT_NEAR(back.report.speedPpm, truth, std::abs(truth) * 0.05);
    }
  }
}

// What cameras, codecs' band limits and edits do, from the degraded cases
// (10 s each): no label the truth does not have at its place, no event
// that changes the timecode where it does not change, and a floor of the
// truth's whole frames read right.
TEST(RobustnessTest, ChannelsCamerasAndEditsMakeGiveNoWrongLabel) {
  using corpus::Degraded;
  const struct {
    const char* rate;
    const char* name;
    double floor;  // of the whole frames
    std::vector<EventType> events = {};
    std::vector<FrameRate> parts = {};  // the rates of the parts read
  } cases[] = {
      {"24", "hp2000", 0.98},
      {"25", "hp1000", 0.98},
      {"29.97df", "lp3000_clip", 0.98},
      {"30", "hp2000_clip", 0.98},
      {"24", "camera", 0.97},
      {"25", "allpass", 0.97},
      {"29.97df", "camera_clip", 0.93},
      {"30", "camera_clip", 0.93},
      {"25", "music6", 0.6},
      {"30", "step_down40", 0.97},
      {"24", "step_up40", 0.97},
      {"29.97df", "dropout20", 0.93},
      {"25", "noise10", 0.9},
      {"30", "nonfinite", 0.97},
      {"29.97df", "speed0.50", 0.98, {}, {kRate2997}},
      {"29.97df", "speed0.90", 0.98, {}, {kRate2997}},
      {"24", "speed2.00", 0.98, {}, {kRate24}},
      {"25", "ramp0.9-1.1", 0.95, {}, {kRate25}},
      {"30", "steps", 0.95, {}, {kRate30}},
      {"29.97df", "shuttle", 0.9, {EventType::kDirection}},
      {"25", "rocking", 0.85, {EventType::kDirection}},
      {"30", "splices", 0.85, {EventType::kJump}},
      {"25", "ratechange", 0.97, {EventType::kRate}, {kRate25, kRate2997}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + c.name);
    const Degraded d = corpus::degraded(c.rate, c.name, 10);
    const std::vector<float> samples(d.samples.begin(), d.samples.end());
    const ReadBack back = readLtc(samples, corpus::kSampleRate);
    std::vector<corpus::Row> rows;
    for (const FrameRecord& r : back.rows) rows.push_back({static_cast<int64_t>(r.sample), r.label, r.dropFrame, r.userBits});
    const corpus::Score score = corpus::score(d.frames, rows);
    const auto whole = static_cast<double>(std::count_if(d.frames.begin(), d.frames.end(), [](const auto& f) { return f.whole; }));
    EXPECT_EQ(score.wrong, 0U);
    EXPECT_GE(static_cast<double>(score.right), c.floor * whole) << score.right << " of " << whole;
    for (const EventType type : c.events) EXPECT_GE(back.report.eventCounts[static_cast<size_t>(type)], 1U) << eventName(type);
    for (const Event& e : back.report.events) {
      const bool changes = e.type == EventType::kJump || e.type == EventType::kRepeat ||
                           e.type == EventType::kDirection || e.type == EventType::kRate ||
                           e.type == EventType::kDropFrame || e.type == EventType::kUserBits;
      EXPECT_TRUE(!changes || corpus::nearChange(d, e.sample)) << eventName(e.type) << " at sample " << e.sample;
    }
    if (!c.parts.empty()) {
      ASSERT_EQ(back.report.parts.size(), c.parts.size());
    }
    for (size_t i = 0; i < c.parts.size(); ++i) {
      EXPECT_EQ(back.report.parts[i].rate, c.parts[i]) << i;
      EXPECT_EQ(back.report.parts[i].dropFrame, c.parts[i] == kRate2997) << i;
    }
  }
}

// A recording through a high-pass (a camera's line input, AC coupling)
// is read whole, its first frame (whose first step comes out of the
// silence before the input) and its last (whose closing reversal the
// filter moved past the input's end) among them, and nothing is said to
// be unreadable.
TEST(RobustnessTest, AHighPassedRecordingIsReadFromItsFirstFrameToItsLast) {
  const std::pair<const char*, const char*> cases[] = {{"24", "hp500"},  {"24", "hp1000"}, {"24", "hp1500"},
                                                       {"24", "hp2000"}, {"25", "hp500"},  {"25", "hp700"},
                                                       {"25", "hp1500"}, {"25", "hp2000"}};
  for (const auto& [rate, name] : cases) {
    SCOPED_TRACE(std::string(rate) + " " + name);
    const corpus::Degraded d = corpus::degraded(rate, name, 10);
    const ReadBack back = readLtc(std::vector<float>(d.samples.begin(), d.samples.end()), corpus::kSampleRate);
    std::vector<corpus::Row> rows;
    for (const FrameRecord& r : back.rows) rows.push_back({static_cast<int64_t>(r.sample), r.label, r.dropFrame, r.userBits});
    const corpus::Score score = corpus::score(d.frames, rows);
    EXPECT_EQ(score.wrong, 0U);
    EXPECT_EQ(score.right, static_cast<size_t>(std::count_if(d.frames.begin(), d.frames.end(), [](const auto& f) { return f.whole; })));
    EXPECT_EQ(back.report.events.size(), 0U) << eventName(back.report.events.front().type);
  }
}

}  // namespace
}  // namespace stampline::testing
