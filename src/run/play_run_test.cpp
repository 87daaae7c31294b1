#include "run/play_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ltc_signal.h"
#include "synth/frame_writer.h"
#include "timecode/frame_schedule.h"
#include "timecode/label_text.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

using Steady = std::chrono::steady_clock;
constexpr uint64_t kJackEpochMicros = 5'000'000'000;
constexpr int64_t kDayNanos = 86'400'000'000'000;

// A sound card on the real clock: it takes a period of samples whenever a
// period's time has passed since it started, its cycles exactly on time on
// a JACK clock of its own, and keeps what it plays. From `loseAt` seconds
// on, its count stays `lose` samples behind what it played (an xrun that
// lost them), or, `lose` negative, that far ahead (a server whose count
// goes on by the cycles it lost). News comes as the test scripts it, by seconds since the
// start.
class FakeCard : public CardSink {
 public:
  uint32_t rate = 48000;
  uint32_t frames = 256;
  double latencyFrames = 0;
  bool refuse = false;
  double loseAt = 1e9;
  int64_t lose = 0;
  std::function<CardNews(double seconds)> script = [](double) { return CardNews{}; };
  std::vector<float> played = std::vector<float>(size_t{48000} * 8, 0.0F);
  int64_t firstQueued = -1;
  std::vector<uint64_t> queuedAt;  // where each queue() began, those dropped left out

  uint32_t sampleRate() const override { return rate; }
  uint32_t period() const override { return frames; }
  std::vector<std::string> portNames() const override { return {"fake:ltc"}; }
  bool start(std::string& why) override {
    if (refuse) why = "the card said no";
    started_ = Steady::now();
    return !refuse;
  }
  void stop() override {}
  size_t takeCycles(std::span<CardCycle> out) override {
    size_t n = 0;
    for (; n < out.size() && nextCycle_ * frames < playedTo(); ++n, ++nextCycle_) {
      const uint64_t first = nextCycle_ * frames;
      out[n] = {first - lostBy(first), kJackEpochMicros + first * 1'000'000 / rate, frames};
    }
    return n;
  }
  uint64_t clockMicros() override { return kJackEpochMicros + static_cast<uint64_t>(elapsed().count() / 1000); }
  double latency() override { return latencyFrames; }
  CardNews news() override { return script(static_cast<double>(elapsed().count()) / 1e9); }
  void wait(std::chrono::nanoseconds most) override { std::this_thread::sleep_for(most); }
  uint64_t takenTo() const override { return playedTo() - lostBy(playedTo()); }
  uint64_t queuedTo() const override { return queuedTo_; }
  size_t room() const override { return 1 << 16; }
  void queue(uint64_t at, const float* samples, size_t count) override {
    if (firstQueued < 0) firstQueued = static_cast<int64_t>(at);
    // Queued elsewhere: what was not taken is dropped.
    if (at != queuedTo_) {
      const uint64_t taken = takenTo();
      for (uint64_t f = taken; f < queuedTo_ && f < played.size(); ++f) played[static_cast<size_t>(f)] = 0;
      std::erase_if(queuedAt, [taken](uint64_t start) { return start >= taken; });
    }
    queuedAt.push_back(at);
    for (size_t i = 0; i < count && at + i < played.size(); ++i) played[static_cast<size_t>(at + i)] = samples[i];
    queuedTo_ = at + count;
  }
  // The samples as they left the card: where its count went on past some
  // (`lose` negative), those never left. (Where it stood back, `played`
  // is taken as it is.)
  std::vector<float> heard() const {
    if (lose >= 0) return played;
    const size_t from = lostFrom();
    const size_t past = from + static_cast<size_t>(-lose);
    if (past >= played.size()) return played;
    std::vector<float> out(played.begin(), played.begin() + static_cast<ptrdiff_t>(from));
    out.insert(out.end(), played.begin() + static_cast<ptrdiff_t>(past), played.end());
    return out;
  }
  // The first sample frame lost (the first cycle's from `loseAt` on).
  size_t lostFrom() const { return static_cast<size_t>(std::ceil(loseAt * rate / frames)) * frames; }
  std::chrono::nanoseconds elapsed() const { return Steady::now() - started_; }
  uint64_t playedTo() const {
    return static_cast<uint64_t>(elapsed().count()) * rate / 1'000'000'000 / frames * frames;
  }
  // (Unsigned: a count ahead wraps back.)
  uint64_t lostBy(uint64_t frame) const {
    return static_cast<double>(frame) >= loseAt * rate ? static_cast<uint64_t>(lose) : 0;
  }
  // An xrun at `seconds` that loses `samples`, said as one xrun.
  void loseOnce(double seconds, int64_t samples) {
    loseAt = seconds;
    lose = samples;
    script = [told = false, seconds](double s) mutable {
      CardNews n;
      if (s > seconds && !told) n.xruns = 1, told = true;
      return n;
    };
  }

 private:
  Steady::time_point started_ = Steady::now();
  uint64_t nextCycle_ = 0;
  uint64_t queuedTo_ = 0;
};

struct Heard : PlayListener {
  std::vector<PlayEvent> events;
  std::vector<PlayStatus> statuses;
  bool done = false;
  void started(const std::vector<std::string>&, const std::vector<std::string>&, uint32_t, uint32_t) override {}
  void status(const PlayStatus& s) override { statuses.push_back(s); }
  void event(const PlayEvent& e) override { events.push_back(e); }
  void finished() override { done = true; }
};

// The wall clock `base` nanoseconds at the card's start, running with the
// real one, `offset` from UTC.
WallClock wallFrom(const FakeCard& card, int64_t base, int64_t offset) {
  return {[&card, base] { return base + card.elapsed().count(); }, [offset](int64_t) { return offset; }};
}

struct Played {
  int status = -1;
  std::string out;
};
Played play(const PlayRequest& request, FakeCard& card, Heard& heard, const WallClock& clock) {
  std::FILE* out = std::tmpfile();
  RunEnvironment environment;
  environment.noiseSeed = 3;
  Played p;
  p.status = runPlay(request, card, heard, out, environment, clock);
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) p.out += static_cast<char>(c);
  std::fclose(out);
  return p;
}

TEST(PlayRunTest, AFreeRunPlaysItsFramesWithTodaysDate) {
  // From 23:59:59:20, twenty frames at 25 fps with --date=today an hour
  // east of UTC: the card gets, from its first queued sample on, the frames
  // a writer makes of those labels, the local date moving on with the
  // labels' midnight, time-zone code 25.
  FakeCard card;
  Heard heard;
  PlayRequest request;
  request.signal.rate = kRate25;
  request.signal.start = packTimecodeText("23:59:59:20");
  request.freeRun = true;
  request.dateToday = true;
  request.frames = 20;
  const int64_t today = daysFromDate(2026, 12, 8);
  const Played p = play(request, card, heard, wallFrom(card, today * kDayNanos + 22 * 3'600'000'000'000LL,
                                                        3'600'000'000'000LL));
  ASSERT_EQ(p.status, 0) << p.out;
  EXPECT_TRUE(heard.done);
  ASSERT_GE(card.firstQueued, 0);
  EncoderConfig config = encoderConfig(request.signal, kFloat32, RunEnvironment{});
  config.noiseSeed = 3;
  FrameWriter writer(kRate25, false, 48000, config);
  const FrameSchedule file(kRate25, 48000, request.signal.start, false);
  for (uint64_t k = 0; k < 20; ++k) {
    const auto length = static_cast<uint32_t>(file.frameLength(k));
    std::vector<float> expected(length);
    writer.write(expected.data(), file.label(k), dateUserBits(today + (k < 5 ? 0 : 1), 0x25), length);
    const float* got = card.played.data() + card.firstQueued + file.frameStart(k);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), got)) << "frame " << k;
  }
  // Nothing after the last frame.
  const float* after = card.played.data() + card.firstQueued + file.frameStart(20);
  EXPECT_TRUE(std::all_of(after, after + 4800, [](float v) { return v == 0.0F; }));
}

TEST(PlayRunTest, TheTimeOfDayLeavesOnTheClockAfterTheLatency) {
  // The card's output 480 samples (10 ms) late, frames asked 2 ms early
  // for a delay after it: every frame's first edge, read back from what the
  // card played, leaves at its label's instant within a sample.
  FakeCard card;
  card.latencyFrames = 480;
  Heard heard;
  PlayRequest request;
  request.signal.rate = kRate25;
  request.signal.clean = true;
  request.frames = 40;
  request.downstreamDelay = 0.002;
  const int64_t base = daysFromDate(2026, 12, 8) * kDayNanos + 36'000'000'000'000LL - 300'000'000;
  const Played p = play(request, card, heard, wallFrom(card, base, 0));
  ASSERT_EQ(p.status, 0) << p.out;
  const testing::ReadBack back = testing::readLtc(card.played, 48000);
  ASSERT_GE(back.rows.size(), 38U);
  for (const FrameRecord& row : back.rows) {
    // The edge leaves latency later, on the wall clock, and the labels
    // run 2 ms ahead of what leaves.
    const double leaves = static_cast<double>(base) + (row.position + 480) * 1e9 / 48000;
    const double instant = std::floor(static_cast<double>(base) / kDayNanos) * kDayNanos +
                           static_cast<double>(labelNumber(row.label, 25, false)) * 40e6;
    EXPECT_NEAR((leaves + 2e6 - instant) * 48000 / 1e9, 0.0, 1.0) << formatLabel(row.label, false);
  }
  // Every label once, across the hour.
  for (size_t i = 1; i < back.rows.size(); ++i) {
    EXPECT_EQ(labelNumber(back.rows[i].label, 25, false), labelNumber(back.rows[i - 1].label, 25, false) + 1);
  }
  EXPECT_TRUE(std::any_of(back.rows.begin(), back.rows.end(),
                          [](const FrameRecord& r) { return r.label == packTimecodeText("10:00:00:00"); }));
}

TEST(PlayRunTest, EndsWithALineWhenTheCardFails) {
  const struct {
    const char* name;
    std::function<void(FakeCard&, PlayRequest&)> set;
    int status;
    const char* line;
  } cases[] = {
      {"a rate not the card's", [](FakeCard&, PlayRequest& r) { r.sampleRate = 44100; }, 1,
       "Invalid --sample-rate=44100: the JACK server runs at 48000 Hz; give that rate, or none\n"},
      {"the card will not start", [](FakeCard& c, PlayRequest&) { c.refuse = true; }, 1, "the card said no\n"},
      {"the server goes away",
       [](FakeCard& c, PlayRequest&) {
         c.script = [](double s) {
           CardNews n;
           n.gone = s > 0.3;
           n.why = "shut down";
           return n;
         };
       },
       1, "The JACK server went away: shut down\n"},
      {"the sample rate changes",
       [](FakeCard& c, PlayRequest&) {
         c.script = [](double s) {
           CardNews n;
           n.sampleRate = s > 0.3 ? 96000 : 0;
           return n;
         };
       },
       1, "The JACK server's sample rate changed to 96000 Hz: the run stops\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCard card;
    Heard heard;
    PlayRequest request;
    request.signal.rate = kRate25;
    request.freeRun = true;
    request.frames = 100;
    c.set(card, request);
    const Played p = play(request, card, heard, wallFrom(card, 0, 0));
    EXPECT_EQ(p.status, c.status);
    EXPECT_EQ(p.out, c.line);
  }
}

TEST(PlayRunTest, XrunsAndStallsAreSaid) {
  // Xruns are counted on; samples the card took before they were queued
  // are said while frames are still to come, not after the last.
  FakeCard card;
  card.script = [told = 0](double s) mutable {
    CardNews n;
    if (s > 0.2 && told == 0) n.xruns = 2, told = 1;
    if (s > 0.4 && told == 1) n.xruns = 1, told = 2;
    if (s > 0.5 && told == 2) n.missingSamples = 256, told = 3;
    return n;
  };
  Heard heard;
  PlayRequest request;
  request.signal.rate = kRate25;
  request.freeRun = true;
  request.frames = 20;
  ASSERT_EQ(play(request, card, heard, wallFrom(card, 0, 0)).status, 0);
  std::vector<uint64_t> xruns;
  uint64_t missing = 0;
  for (const PlayEvent& e : heard.events) {
    if (e.type == PlayEvent::Type::kXrun) xruns.push_back(e.count);
    if (e.type == PlayEvent::Type::kUnderrun) missing += e.count;
  }
  EXPECT_EQ(xruns, (std::vector<uint64_t>{2, 3}));
  EXPECT_EQ(missing, 256U);
}

TEST(PlayRunTest, FramesPlacedAgainAfterAnXrunCountOnce) {
  // At 0.5 s the card loses 512 samples that its count never sees (an
  // xrun, reported): the frames queued ahead are placed again, those not
  // begun dropped, the one playing cut short. Forty frames asked are forty
  // that leave, the labels read back in turn.
  FakeCard card;
  card.loseOnce(0.5, 512);
  Heard heard;
  PlayRequest request;
  request.signal.rate = kRate25;
  request.signal.clean = true;
  request.frames = 40;
  const int64_t base = daysFromDate(2026, 12, 8) * kDayNanos + 36'000'000'000'000LL - 300'000'000;
  ASSERT_EQ(play(request, card, heard, wallFrom(card, base, 0)).status, 0);
  EXPECT_EQ(card.queuedAt.size(), 40U);
  const testing::ReadBack back = testing::readLtc(card.played, 48000);
  ASSERT_GE(back.rows.size(), 35U);
  for (size_t i = 1; i < back.rows.size(); ++i) {
    EXPECT_GT(labelNumber(back.rows[i].label, 25, false), labelNumber(back.rows[i - 1].label, 25, false));
  }
}

TEST(PlayRunTest, AFreeRunEndsWithItsLastLabelWhateverTheCardLost) {
  // A free run of 50 frames from 10:00:00:00; at 0.5 s the card's count
  // goes on by 300 ms that it never played (an xrun), or stands 512
  // samples behind. Its labels keep the card's count: the last that leaves
  // is the run's last, 10:00:01:24, and none after it.
  for (const int64_t lose : {int64_t{-14400}, int64_t{512}, int64_t{0}}) {
    SCOPED_TRACE(lose);
    FakeCard card;
    if (lose != 0) card.loseOnce(0.5, lose);
    Heard heard;
    PlayRequest request;
    request.signal.rate = kRate25;
    request.signal.clean = true;
    request.signal.start = packTimecodeText("10:00:00:00");
    request.freeRun = true;
    request.frames = 50;
    ASSERT_EQ(play(request, card, heard, wallFrom(card, 0, 0)).status, 0);
    const testing::ReadBack back = testing::readLtc(card.heard(), 48000);
    ASSERT_GE(back.rows.size(), 30U);
    const uint64_t last = labelNumber(packTimecodeText("10:00:01:24"), 25, false);
    EXPECT_EQ(labelNumber(back.rows.back().label, 25, false), last);
    for (const auto& row : back.rows) EXPECT_LE(labelNumber(row.label, 25, false), last);
  }
}

TEST(PlayRunTest, AClockStepIsSaidAsAJumpWhateverComesWithIt) {
  // The wall clock steps a second on at 0.5 s; at about that time the
  // card's count stands 512 samples back (an xrun: the frames queued are
  // placed again, the jump's first frame among them where it had not
  // begun), or goes 2048 on (the card never plays what it went past, the
  // jump's first frame among them where it started there), or nothing
  // else happens. Either way the
  // labels jump a second on once, and one jump line names the first label
  // of the new count that began to leave: the first read whole, or the
  // one before it, cut short by the xrun.
  const std::pair<double, int64_t> losses[] = {{1e9, 0},     {0.45, 512},   {0.5, 512},   {0.52, 512},
                                               {0.5, -2048}, {0.56, -1920}, {0.597, -2048}};
  for (const auto& [lossAt, lose] : losses) {
    SCOPED_TRACE(::testing::Message() << lose << " at " << lossAt);
    FakeCard card;
    card.loseOnce(lossAt, lose);
    Heard heard;
    PlayRequest request;
    request.signal.rate = kRate25;
    request.signal.clean = true;
    request.frames = 30;
    const int64_t base = daysFromDate(2026, 12, 8) * kDayNanos + 36'000'000'000'000LL;
    const WallClock clock{[&card, base] {
                            const int64_t t = card.elapsed().count();
                            return base + t + (t >= 500'000'000 ? 1'000'000'000 : 0);
                          },
                          [](int64_t) { return int64_t{0}; }};
    ASSERT_EQ(play(request, card, heard, clock).status, 0);
    std::vector<TimecodeWord> jumps;
    for (const PlayEvent& e : heard.events) {
      if (e.type == PlayEvent::Type::kJump) jumps.push_back(e.label);
    }
    const testing::ReadBack back = testing::readLtc(card.heard(), 48000);
    ASSERT_GE(back.rows.size(), 20U);
    size_t leaps = 0;
    TimecodeWord firstAfter = 0;
    for (size_t i = 1; i < back.rows.size(); ++i) {
      const uint64_t a = labelNumber(back.rows[i - 1].label, 25, false);
      const uint64_t b = labelNumber(back.rows[i].label, 25, false);
      EXPECT_GT(b, a);
      if (b > a + 20) ++leaps, firstAfter = back.rows[i].label;
    }
    EXPECT_EQ(leaps, 1U);
    ASSERT_EQ(jumps.size(), 1U);
    const uint64_t said = labelNumber(jumps.front(), 25, false);
    const uint64_t read = labelNumber(firstAfter, 25, false);
    EXPECT_TRUE(said == read || (lossAt < 1 && said + 1 == read))
        << formatLabel(jumps.front(), false) << " said, " << formatLabel(firstAfter, false) << " heard";
    // Where the count went on, the frame said began in a cycle the card
    // played (before the xrun is found, frame n starts at sample n x 1920).
    if (lose < 0) {
      const uint64_t start = (said - 25 - labelNumber(packTimecodeText("10:00:00:00"), 25, false)) * 1920;
      const uint64_t from = card.lostFrom();
      EXPECT_FALSE(start >= from && start < from + static_cast<uint64_t>(-lose)) << start << " went past";
    }
  }
}

}  // namespace
}  // namespace stampline
