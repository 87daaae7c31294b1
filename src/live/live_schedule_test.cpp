#include "live/live_schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "live/clock_lock.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

constexpr double kHour = 3600e6;  // in microseconds
constexpr double kJackEpoch = 1e12;
constexpr double kSettleMicros = 2.5e6;

// A simulated sound card and wall clock. JACK's clock is the true time (in
// microseconds); the card's frames run `cardPpm` fast against it; the wall
// clock slews by `slewPpm` for two hours and steps where asked.
struct World {
  double sampleRate = 48000;
  uint32_t period = 1024;
  double cardPpm = 0;
  double jitterMicros = 0;
  double slewPpm = 0;
  double slewFrom = 2 * kHour;
  double slewTo = 4 * kHour;
  std::vector<std::pair<double, int64_t>> steps;  // (true time, nanoseconds)
  // True times of xruns: the card's samples of 1 to 10 cycles are lost,
  // its count standing still while time goes on.
  std::vector<double> xruns;
  // JACK's cycle times after an xrun: off by this much at first, the error
  // decaying with a time constant of kSettleMicros (its time filter
  // settling).
  double settleMicros = 0;
  int64_t wallStart = 0;                          // the wall clock at true time 0

  double cardRate() const { return sampleRate * (1 + cardPpm * 1e-6) / 1e6; }  // frames a microsecond
  double wall(double t) const {
    const double slewed = std::clamp(t, slewFrom, slewTo) - slewFrom;
    double w = static_cast<double>(wallStart) + t * 1000 + slewed * slewPpm * 1e-3;
    for (const auto& [at, step] : steps) {
      if (t >= at) w += static_cast<double>(step);
    }
    return w;
  }
  // The true time at which the wall clock reads `w` (after the last step
  // at or before `after`).
  double timeOf(double w, double after) const {
    double t = after;
    for (int i = 0; i < 4; ++i) t += (w - wall(t)) / 1000 / (1 + (t > slewFrom && t < slewTo ? slewPpm * 1e-6 : 0));
    return t;
  }
};

struct Outcome {
  double worst = 0;      // samples, outside the stretches left out
  size_t jumps = 0;      // frames that start a new count
  size_t stepsSeen = 0;  // steps the lock reported
  size_t missing = 0;    // labels of the whole day checked not played
  size_t repeated = 0;   // and played more than once
};

// Plays `hours` from `startLocal` after midnight (UTC) through the lock and
// the schedule; every frame's start against where the truth puts its
// instant.
// The day counted is day 20001 (the one after the start's).
constexpr int64_t kStartDay = 20000;
Outcome play(const World& world, FrameRate rate, bool dropFrame, double hours, double startLocal,
             const LiveSchedule::UtcOffset& offset = [](int64_t) { return int64_t{0}; }) {
  ClockLock lock(world.sampleRate);
  LiveSchedule schedule({rate, dropFrame, static_cast<int32_t>(world.sampleRate), std::nullopt, 0}, offset);
  World w = world;
  w.wallStart = static_cast<int64_t>(startLocal * 1000) + kStartDay * 86'400'000'000'000;
  std::mt19937 random(9);
  std::uniform_real_distribution<double> jitter(-w.jitterMicros, w.jitterMicros);
  Outcome out;
  // How often each label of the day checked was played.
  const uint64_t perDay = labelsPerDay(rate.nominal, dropFrame);
  std::vector<uint8_t> seen(static_cast<size_t>(perDay), 0);
  double nextPair = 0;
  int64_t nextStart = -1;
  size_t xrun = 0;
  double lost = 0;        // card time lost to xruns, microseconds
  double lastXrun = -1e12;
  double lastLost = 0;
  // The frames queued and not yet played: start, label number, whether of
  // the day checked. Placed again, they are played once.
  struct Queued {
    int64_t start;
    uint64_t label;
    bool counted;
    int64_t instant;  // the label's instant on the wall clock
    bool judged;
  };
  std::vector<Queued> queued;
  // Frames are placed this far ahead of the cycle being played.
  const double lead = 2.0 * w.period + 0.02 * w.sampleRate;
  for (uint64_t k = 0;; ++k) {
    if (xrun < w.xruns.size() && static_cast<double>(k * w.period) / w.cardRate() + lost >= w.xruns[xrun]) {
      lastLost = static_cast<double>((1 + xrun % 10) * w.period) / w.cardRate();
      lost += lastLost;
      lastXrun = w.xruns[xrun];
      lock.xrun(static_cast<uint64_t>(kJackEpoch + lastXrun + lastLost));
      ++xrun;
    }
    const double t = static_cast<double>(k * w.period) / w.cardRate() + lost;
    if (t > hours * kHour) break;
    // Frames are judged as they play, by the card time lost so far (those
    // placed again never play).
    const auto played = static_cast<int64_t>(k * w.period);
    // (Where cycle times settle, the ten seconds after the xrun are not
    // judged, as in the live measurement.)
    const double inXrun = (lead + static_cast<double>(ClockLock::kCyclesToMove * w.period)) / w.cardRate() +
                          (w.settleMicros != 0 ? 10e6 : 0);
    std::erase_if(queued, [&](const Queued& q) {
      if (q.start >= played) return false;
      const double when = static_cast<double>(q.start) / w.cardRate() + lost;
      // (The frames that play in the cycles an xrun's move takes to be
      // confirmed play late; so do those placed before it.)
      if (q.judged && !(when > lastXrun && when < lastXrun + lastLost + inXrun)) {
        // (Its first edge lies half a sample before its first sample.)
        const double truth = (w.timeOf(static_cast<double>(q.instant), t - 2e6) - lost) * w.cardRate();
        out.worst = std::max(out.worst, std::abs(static_cast<double>(q.start) - 0.5 - truth));
      }
      return true;
    });
    // (JACK's clock counts from its own start, long before.)
    const double settling = t < lastXrun ? 0 : w.settleMicros * std::exp(-(t - lastXrun) / kSettleMicros);
    if (lock.cycle(k * w.period, static_cast<uint64_t>(std::llround(kJackEpoch + t + settling + jitter(random)))) != 0) {
      // The count moved: the frames from two periods on are placed again.
      const int64_t from = played + 2 * int64_t{w.period};
      schedule.relocate(false);
      for (const Queued& q : queued) {
        if (q.start >= from && q.counted) --seen[static_cast<size_t>(q.label)];
      }
      std::erase_if(queued, [from](const Queued& q) { return q.start >= from; });
      nextStart = -1;
    }
    for (; nextPair <= t; nextPair += 20'000) {
      if (lock.pair(static_cast<uint64_t>(kJackEpoch + nextPair), static_cast<int64_t>(w.wall(nextPair))) != 0) {
        ++out.stepsSeen;
      }
    }
    if (!lock.ready()) continue;
    const auto due = static_cast<int64_t>(static_cast<double>(k * w.period) + lead);
    while (nextStart < due) {
      const LiveFrame f = schedule.next(lock, 0, static_cast<int64_t>(k * w.period + 2 * uint64_t{w.period}));
      if (f.length == 0 || f.length > 4 * w.sampleRate) {
        ADD_FAILURE() << "a frame of " << f.length << " samples at " << f.start;
        return out;
      }
      nextStart = f.start + f.length;
      out.jumps += f.jumped ? 1 : 0;
      const double when = static_cast<double>(f.start) / w.cardRate() + lost;
      // (After a step back the wall clock reads the same second twice: the
      // truth is not told there.)
      bool nearStep = when < 1e6;
      for (const auto& [at, step] : w.steps) nearStep = nearStep || (when > at - 1e5 && when < at + 2e6);
      const uint64_t label = labelNumber(f.label, rate.nominal, dropFrame);
      const auto at = static_cast<size_t>(label);
      if (f.day == kStartDay + 1) seen[at] = static_cast<uint8_t>(std::min(seen[at] + 1, 2));
      queued.push_back({f.start, label, f.day == kStartDay + 1, f.instantNanos, !nearStep});
    }
  }
  // Every label of the day after the start's once.
  for (const uint8_t count : seen) {
    out.missing += count == 0 ? 1 : 0;
    out.repeated += count > 1 ? 1 : 0;
  }
  return out;
}

TEST(LiveScheduleTest, BoundariesStayWithinASampleOfTheClock) {
  const struct {
    const char* name;
    World world;
    double hours;
  } cases[] = {
      {"a card 200 ppm fast, cycles jittered by 20 us", {48000, 256, 200, 20, 0, 0, 0, {}, {}}, 0.5},
      {"a card 200 ppm slow", {48000, 1024, -200, 20, 0, 0, 0, {}, {}}, 0.5},
      {"a slew of 100 ppm", {48000, 1024, 50, 20, 100, 0.1 * kHour, 0.4 * kHour, {}, {}}, 0.5},
      {"xruns of 1 to 10 cycles", {48000, 256, 0, 20, 0, 0, 0, {}, {6e6, 60e6, 600e6, 1200e6}}, 0.5},
      {"xruns whose cycle times settle over seconds", {48000, 1024, 50, 20, 0, 0, 0, {}, {60e6, 600e6, 1200e6}, 300}, 0.5},
  };
  for (const auto& c : cases) {
    for (const FrameRate rate : {kRate25, kRate2997, kRate23976}) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(rate.numerator));
      const Outcome o = play(c.world, rate, rate == kRate2997, c.hours, 1000e6);
      EXPECT_LE(o.worst, 1.0);
      EXPECT_EQ(o.jumps, 0U);
      EXPECT_EQ(o.stepsSeen, 0U);
      EXPECT_EQ(o.repeated, 0U);
    }
  }
}

// A day at each rate, a test each (they run side by side).
struct DayCase {
  const char* name;
  FrameRate rate;
  bool dropFrame;
  size_t missing, repeated;  // beside the steps' second each
};
void PrintTo(const DayCase& c, std::ostream* os) { *os << c.name; }
class DayTest : public ::testing::TestWithParam<DayCase> {};

TEST_P(DayTest, ADayWithSlewStepsXrunsAndMidnight) {
  // From 23:59 for a day and two minutes: a card 120 ppm fast, a slew, a
  // step of a second forward at 06:00 and back at 12:00, xruns. Every
  // boundary within a sample of the clock (but the two seconds after each
  // step); two jumps, the steps seen; the day's labels each once but a
  // second's worth missing and a second's repeated, and, at 29.97 and
  // 23.976, what midnight does: drop-frame repeats the day's first 2.6
  // labels' worth at its end, the others never reach their last 3.6 s an
  // hour's worth.
  World world{48000, 2048, 120, 20, 100, 2 * kHour, 4 * kHour, {}, {}};
  const double from = 23 * kHour + 59 * 60e6;
  world.steps = {{6 * kHour + 60e6, 1'000'000'000}, {12 * kHour + 60e6, -1'000'000'000}};
  world.xruns = {3 * kHour, 9 * kHour, 15 * kHour};
  const DayCase& r = GetParam();
  const Outcome o = play(world, r.rate, r.dropFrame, 24.04, from);
  EXPECT_LE(o.worst, 1.0);
  EXPECT_EQ(o.jumps, 2U);
  EXPECT_EQ(o.stepsSeen, 2U);
  const size_t second = r.rate.nominal;
  // The xruns lose 1, 2 and 3 cycles of output and the labels in them,
  // and at most a label more each where frames are placed again.
  const double lostToXruns = 6.0 * world.period / world.sampleRate * r.rate.numerator / r.rate.denominator;
  const auto missing = static_cast<double>(o.missing) - static_cast<double>(r.missing + second);
  EXPECT_GE(missing, std::floor(lostToXruns) - 1);
  EXPECT_LE(missing, std::ceil(lostToXruns) + 3 + 1);
  EXPECT_NEAR(static_cast<double>(o.repeated), static_cast<double>(r.repeated + second), 1);
}

INSTANTIATE_TEST_SUITE_P(LiveScheduleTest, DayTest,
                         ::testing::Values(DayCase{"at_25", kRate25, false, 0, 0}, DayCase{"at_24", kRate24, false, 0, 0},
                                           DayCase{"at_30", kRate30, false, 0, 0},
                                           DayCase{"at_29_97_drop_frame", kRate2997, true, 0, 3},
                                           DayCase{"at_29_97", kRate2997, false, 2590, 0},
                                           DayCase{"at_23_976", kRate23976, false, 2072, 0}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(LiveScheduleTest, ALocalTimeChangeJumpsAndFreeRunCountsTheCard) {
  // Summer time at 01:00 UTC: the labels jump an hour on, once, and stay
  // on the clock.
  const World world{48000, 256, 0, 5, 0, 0, 0, {}, {}};
  constexpr int64_t kChange = kStartDay * 86'400'000'000'000 + 3'600'000'000'000;
  const auto summer = [](int64_t wall) { return wall >= kChange ? 7'200'000'000'000 : 3'600'000'000'000; };
  const Outcome o = play(world, kRate25, false, 0.05, kHour - 60e6, summer);
  EXPECT_EQ(o.jumps, 1U);
  EXPECT_EQ(o.stepsSeen, 0U);
  EXPECT_LE(o.worst, 1.0);
  // Free run: a file's frame lengths and labels, from the first frame on.
  ClockLock lock(48000);
  LiveSchedule schedule({kRate2997, true, 48000, packTimecodeText("09:59:59;28"), 0}, {});
  const FrameSchedule file(kRate2997, 48000, packTimecodeText("09:59:59;28"), true);
  for (uint64_t k = 0; k < 100; ++k) {
    const LiveFrame f = schedule.next(lock, 0, 5000);
    EXPECT_EQ(f.start, 5000 + static_cast<int64_t>(file.frameStart(k)));
    EXPECT_EQ(f.length, file.frameLength(k));
    EXPECT_EQ(f.label, file.label(k));
  }
}

TEST(ClockLockTest, CyclesNotOfTheCardAreLeftOut) {
  // A server shutting down or restarting reports cycles whose time goes
  // back or whose count lies far off: left out, the mapping unchanged,
  // until a run of them starts the line anew. A cycle late by more than
  // half a period alone moves nothing; those off alike for 20 ms (five
  // periods of 256) move the line.
  ClockLock lock(48000);
  const auto micros = [](uint64_t frame) { return static_cast<uint64_t>(kJackEpoch + static_cast<double>(frame) * 1e6 / 48000); };
  uint64_t frame = 0;
  for (; frame < uint64_t{256} * 100; frame += 256) EXPECT_EQ(lock.cycle(frame, micros(frame)), 0.0);
  lock.pair(static_cast<uint64_t>(kJackEpoch), 1'000'000'000'000);
  const double before = lock.frameAt(1'000'000'500'000);
  EXPECT_EQ(lock.cycle(frame + (uint64_t{1} << 32), micros(frame)), 0.0);
  EXPECT_EQ(lock.cycle(0, micros(0)), 0.0);
  EXPECT_EQ(lock.cycle(frame, micros(frame) + 3000), 0.0);
  EXPECT_NEAR(lock.frameAt(1'000'000'500'000), before, 1e-6);
  EXPECT_TRUE(lock.ready());
  // An xrun: the count stands still for 512 samples' time. Unreported,
  // it is not taken for a second; reported, at once.
  double moved = 0;
  for (int i = 0; i < 5; ++i, frame += 256) moved += lock.cycle(frame, micros(frame + 512));
  EXPECT_EQ(moved, 0.0);
  lock.xrun(micros(frame + 512));
  for (int i = 0; i < 5; ++i, frame += 256) moved += lock.cycle(frame, micros(frame + 512));
  EXPECT_NEAR(moved, -512, 0.5);
  EXPECT_NEAR(lock.frameAt(1'000'000'500'000), before - 512, 0.5);
  // A new timeline: the line starts anew, not ready until it has cycles.
  for (uint64_t i = 0; i < 16; ++i) lock.cycle(i * 256, micros(frame) + 2'000'000 + i * 5333);
  EXPECT_FALSE(lock.ready());
}

}  // namespace
}  // namespace stampline
