#include "run/play_run.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>

#include "live/clock_lock.h"
#include "live/jack_sink.h"
#include "live/live_schedule.h"
#include "platform/wall_clock.h"
#include "run/output_run.h"
#include "synth/frame_writer.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

using Clock = std::chrono::steady_clock;

// The run wakes this often to read the card's cycles and clocks and queue
// frames: about once a frame. Most of what the run costs is its wake-ups
// (a virtual machine's switch to the thread and back costs more than the
// frame's samples); a clock step is seen at the next wake.
constexpr auto kWake = std::chrono::milliseconds(40);
// Paired readings of the two clocks this often; a pair whose wall-clock
// readings lie further apart than kPairSpread, or twice the least apart
// of late, is dropped (the thread was interrupted between them). The
// least creeps up a sixty-fourth a reading, so that a slow machine (or a
// sanitizer's build) keeps its pairs.
constexpr auto kPairEvery = std::chrono::milliseconds(40);
constexpr int64_t kPairSpread = 10'000;
// The output's latency is asked for this often (it changes with the
// connections).
constexpr auto kLatencyEvery = std::chrono::milliseconds(500);
constexpr auto kStatusEvery = std::chrono::seconds(1);
// Frames are queued this far ahead of the card: two periods, and a wake
// and 10 ms more (for a wake-up late on a busy machine).
constexpr double kLeadSeconds = 0.05;
// Frames the card went past that are passed over, one by one, before the
// time of day is found again where the card is.
constexpr int kMostPassedOver = 8;

// The local day (days since 1970-01-01) on `clock` now: a free run's
// --date=today.
int64_t localDay(const WallClock& clock) {
  const int64_t now = clock.now();
  const int64_t local = now + clock.utcOffset(now);
  constexpr int64_t kDay = 86'400'000'000'000;
  return local / kDay - (local % kDay < 0 ? 1 : 0);
}

class Player {
 public:
  Player(const PlayRequest& request, CardSink& card, PlayListener& listener, const RunEnvironment& environment,
         const WallClock& clock)
      : request_(request),
        card_(card),
        listener_(listener),
        environment_(environment),
        clock_(clock),
        lock_(card.sampleRate()),
        schedule_(scheduleSettings(), clock.utcOffset),
        writer_(request.signal.rate, request.signal.dropFrame, static_cast<int32_t>(card.sampleRate()),
                encoderConfig(request.signal, kFloat32, environment)) {}

  // The run's loop; returns the status (after its line on `out`).
  int play(std::FILE* out);

 private:
  LiveSchedule::Settings scheduleSettings() const {
    LiveSchedule::Settings s;
    s.rate = request_.signal.rate;
    s.dropFrame = request_.signal.dropFrame;
    s.sampleRate = static_cast<int32_t>(card_.sampleRate());
    if (request_.freeRun) s.start = request_.signal.start;
    s.aheadNanos = std::llround(request_.downstreamDelay * 1e9);
    return s;
  }
  void readClocks(Clock::time_point now);
  void takeCycles();
  void skipped(uint64_t from, uint64_t to);
  bool fill();
  void forgetUnplayed();
  void sayJumps();
  uint32_t userBitsOf(const LiveFrame& frame) const;
  void report(Clock::time_point now, const CardNews& news, bool draining);

  const PlayRequest& request_;
  CardSink& card_;
  PlayListener& listener_;
  const RunEnvironment& environment_;
  const WallClock& clock_;
  ClockLock lock_;
  LiveSchedule schedule_;
  FrameWriter writer_;
  std::vector<float> samples_;
  // The last frames queued, for the status line; `jumped`: a jump not said yet.
  std::deque<LiveFrame> queued_;
  double latency_ = 0;
  uint64_t xruns_ = 0;
  uint32_t period_ = 0;  // the buffer size last reported
  uint64_t framesQueued_ = 0;  // those begun or still to begin
  uint64_t framesPassed_ = 0;  // a free run's frames that the card went past
  bool replace_ = false;  // the frames queued are placed again from the next
  bool jumpDue_ = false;  // a jump's first frame was passed over or dropped: said with the next
  uint64_t cycledTo_ = 0;  // the end of the last cycle the card played, of those seen
  int64_t leastSpread_ = kPairSpread;  // of the pairs' wall-clock readings, of late
  int64_t startDay_ = 0;
  Clock::time_point nextPair_{}, nextLatency_{}, nextStatus_{};
};

void Player::takeCycles() {
  std::array<CardCycle, 256> cycles{};
  for (size_t n = card_.takeCycles(cycles); n > 0; n = card_.takeCycles(cycles)) {
    for (size_t i = 0; i < n; ++i) {
      const CardCycle& c = cycles[i];
      if (cycledTo_ != 0 && c.firstFrame > cycledTo_) skipped(cycledTo_, c.firstFrame);
      cycledTo_ = c.firstFrame + c.frames;
      // The card's count moved against its clock (an xrun): the frames
      // queued leave late by that much, and are placed again.
      if (lock_.cycle(c.firstFrame, c.startMicros) != 0 && !request_.freeRun) {
        schedule_.relocate(false);
        replace_ = true;
      }
    }
  }
}

// The card's count went on past frames from `from` to `to` without playing
// them (an xrun; or cycles whose records came too late to keep): a jump
// whose first frame starts there never left, and is said with the frame
// after it.
void Player::skipped(uint64_t from, uint64_t to) {
  for (size_t i = 0; i < queued_.size(); ++i) {
    LiveFrame& f = queued_[i];
    const auto start = static_cast<uint64_t>(f.start);
    if (!f.jumped || start < from || start >= to) continue;
    f.jumped = false;
    if (i + 1 < queued_.size()) {
      queued_[i + 1].jumped = true;
    } else {
      jumpDue_ = true;
    }
  }
}

void Player::readClocks(Clock::time_point now) {
  takeCycles();
  if (now >= nextPair_) {
    nextPair_ = now + kPairEvery;
    const int64_t before = clock_.now();
    const uint64_t micros = card_.clockMicros();
    const int64_t after = clock_.now();
    const int64_t spread = after - before;
    leastSpread_ = std::min(leastSpread_ + leastSpread_ / 64 + 1, std::max<int64_t>(spread, 0));
    if (spread >= 0 && spread <= std::max(kPairSpread, 2 * leastSpread_)) {
      if (const int64_t step = lock_.pair(micros, before + (after - before) / 2); step != 0) {
        schedule_.clockStepped(step);
        PlayEvent e;
        e.type = PlayEvent::Type::kClockStep;
        e.nanos = step;
        listener_.event(e);
      }
    }
  }
  if (now >= nextLatency_) {
    nextLatency_ = now + kLatencyEvery;
    latency_ = card_.latency();
  }
}

uint32_t Player::userBitsOf(const LiveFrame& frame) const {
  const UserBits& bits = request_.signal.userBits;
  if (request_.dateToday && !request_.freeRun) {
    return dateUserBits(frame.day, timeZoneCode(frame.utcOffsetNanos / 60'000'000'000));
  }
  if (request_.dateToday) {
    const int64_t offset = clock_.utcOffset(clock_.now());
    return dateUserBits(startDay_ + frame.day, timeZoneCode(offset / 60'000'000'000));
  }
  if (bits.kind == UserBits::Kind::kDate && !request_.freeRun) {
    return userBitsWord(bits, static_cast<uint64_t>(std::max<int64_t>(0, frame.day - startDay_)));
  }
  return userBitsWord(bits, static_cast<uint64_t>(std::max<int64_t>(0, frame.day)));
}

// Queues frames until the card has enough ahead; false once the frames
// asked for are all queued.
bool Player::fill() {
  const double lead = 2.0 * card_.period() + kLeadSeconds * card_.sampleRate();
  const auto target = static_cast<int64_t>(static_cast<double>(card_.takenTo()) + lead);
  // A frame is at most a frame and a bit long, whatever the clock does.
  const double longest = 1.5 * card_.sampleRate() * request_.signal.rate.denominator / request_.signal.rate.numerator;
  int passedOver = 0;
  while (replace_ || static_cast<int64_t>(card_.queuedTo()) < target) {
    // (A free run's labels keep the card's count: the frames it went past
    // are the run's all the same, and it ends with its last label.)
    if (request_.frames && framesQueued_ + framesPassed_ >= *request_.frames) return false;
    // (A schedule found again starts two periods on from the card.)
    const LiveFrame f = schedule_.next(lock_, latency_, static_cast<int64_t>(card_.takenTo() + 2 * uint64_t{card_.period()}));
    if (framesQueued_ == 0) startDay_ = request_.freeRun ? localDay(clock_) : f.day;
    if (f.length == 0 || f.length > longest) {
      // The lock gave no sense (it starts anew): found again at the next wake.
      schedule_.relocate(true);
      return true;
    }
    if (f.length > card_.room() || f.start < static_cast<int64_t>(card_.takenTo())) {
      // The card has gone past it (a stall): the next frames catch up; after
      // a few the time of day is found again where the card is, at the next
      // wake (a free run catches up a few frames a wake).
      // (A jump passed over is said with the next frame queued.)
      jumpDue_ = jumpDue_ || f.jumped;
      if (request_.freeRun) ++framesPassed_;
      if (++passedOver > kMostPassedOver) {
        schedule_.relocate(true);
        return true;
      }
      continue;
    }
    if (static_cast<uint64_t>(f.start) != card_.queuedTo()) forgetUnplayed();
    samples_.resize(f.length);
    writer_.write(samples_.data(), f.label, userBitsOf(f), f.length);
    card_.queue(static_cast<uint64_t>(f.start), samples_.data(), f.length);
    replace_ = false;
    ++framesQueued_;
    queued_.push_back(f);
    queued_.back().jumped = f.jumped || jumpDue_;
    jumpDue_ = false;
    if (queued_.size() > 64) queued_.pop_front();
  }
  return true;
}

// A jump is said once its first frame has begun to leave, in a cycle the
// card played: a frame queued and then dropped (placed again after an
// xrun) or gone past hands its jump on to the next frame queued.
void Player::sayJumps() {
  for (LiveFrame& f : queued_) {
    if (!f.jumped || static_cast<uint64_t>(f.start) >= cycledTo_) continue;
    f.jumped = false;
    PlayEvent e;
    e.type = PlayEvent::Type::kJump;
    e.label = f.label;
    e.dropFrame = request_.signal.dropFrame;
    listener_.event(e);
  }
}

// The card's queue starts again at another place (placed again after an
// xrun, a stall or a jump): the samples not yet taken are dropped, and the
// frames not yet begun with them; they count no more as played.
void Player::forgetUnplayed() {
  const uint64_t taken = card_.takenTo();
  while (!queued_.empty() && static_cast<uint64_t>(queued_.back().start) >= taken) {
    jumpDue_ = jumpDue_ || queued_.back().jumped;
    queued_.pop_back();
    --framesQueued_;
  }
}

void Player::report(Clock::time_point now, const CardNews& news, bool draining) {
  sayJumps();
  if (news.xruns > 0) {
    lock_.xrun(card_.clockMicros());
    xruns_ += news.xruns;
    PlayEvent e;
    e.type = PlayEvent::Type::kXrun;
    e.count = xruns_;
    listener_.event(e);
  }
  // (Past the last frame queued the card plays silence, as it should.)
  if (news.missingSamples > 0 && !draining) {
    PlayEvent e;
    e.type = PlayEvent::Type::kUnderrun;
    e.count = news.missingSamples;
    listener_.event(e);
  }
  if (news.period > 0 && news.period != period_) {
    period_ = news.period;
    PlayEvent e;
    e.type = PlayEvent::Type::kBufferSize;
    e.period = news.period;
    listener_.event(e);
  }
  if (now < nextStatus_ || queued_.empty()) return;
  nextStatus_ = now + kStatusEvery;
  // The last frame the card has begun to play.
  const uint64_t taken = card_.takenTo();
  const LiveFrame* playing = nullptr;
  for (const LiveFrame& f : queued_) {
    if (static_cast<uint64_t>(f.start) < taken) playing = &f;
  }
  if (playing == nullptr) return;
  PlayStatus s;
  s.label = playing->label;
  s.dropFrame = request_.signal.dropFrame;
  if (!request_.freeRun) {
    // Its first edge lies half a sample before its first sample.
    const int64_t left = lock_.wallAt(static_cast<double>(playing->start) - 0.5 + latency_);
    s.offsetMicros = static_cast<double>(left - playing->instantNanos) / 1000;
  }
  s.ppm = lock_.ppm();
  s.xruns = xruns_;
  s.latencySamples = latency_;
  s.sampleRate = card_.sampleRate();
  s.longestCallbackMicros = static_cast<double>(news.longestCycleNanos) / 1000;
  listener_.status(s);
}

int Player::play(std::FILE* out) {
  std::string why;
  if (!card_.start(why)) {
    std::fprintf(out, "%s\n", why.c_str());
    return 1;
  }
  period_ = card_.period();
  listener_.started(card_.portNames(), request_.connect, card_.sampleRate(), period_);
  bool more = true;
  for (;;) {
    const Clock::time_point now = Clock::now();
    readClocks(now);
    if (stopRequested(environment_.stopSignal)) more = false;
    if (more && (request_.freeRun || lock_.ready())) more = fill();
    const CardNews news = card_.news();
    report(now, news, !more);
    if (news.gone || news.sampleRate != 0) {
      listener_.finished();
      if (news.gone) {
        std::fprintf(out, "The JACK server went away%s%s\n", news.why.empty() ? "" : ": ", news.why.c_str());
      } else {
        std::fprintf(out, "The JACK server's sample rate changed to %u Hz: the run stops\n", news.sampleRate);
      }
      card_.stop();
      return 1;
    }
    // Done once the last frame queued has left.
    if (!more && card_.takenTo() >= card_.queuedTo()) break;
    card_.wait(kWake);
  }
  takeCycles();
  sayJumps();
  card_.stop();
  listener_.finished();
  return stopRequested(environment_.stopSignal) ? interrupted(out, framesQueued_, environment_.stopSignal) : 0;
}

}  // namespace

WallClock systemWallClock() {
  WallClock clock;
  const char* shift = std::getenv("STAMPLINE_CLOCK_SHIFT");
  if (shift == nullptr || *shift == '\0') {
    clock.now = wallClockNanos;
  } else {
    const std::string path = shift;
    clock.now = [path] {
      long long nanos = 0;
      std::ifstream(path) >> nanos;
      return wallClockNanos() + nanos;
    };
  }
  clock.utcOffset = utcOffsetNanos;
  return clock;
}

int runPlay(const PlayRequest& request, CardSink& card, PlayListener& listener, std::FILE* out,
            const RunEnvironment& environment, const WallClock& clock) {
  if (request.sampleRate && static_cast<uint32_t>(*request.sampleRate) != card.sampleRate()) {
    std::fprintf(out, "Invalid --sample-rate=%d: the JACK server runs at %u Hz; give that rate, or none\n",
                 *request.sampleRate, card.sampleRate());
    return 1;
  }
  Player player(request, card, listener, environment, clock);
  return player.play(out);
}

int runPlayOnJack(const PlayRequest& request, PlayListener& listener, std::FILE* out,
                  const RunEnvironment& environment) {
  JackSink::Options options;
  options.name = request.name;
  options.channels = request.channels;
  if (request.timecodeChannel) options.timecodeChannel = *request.timecodeChannel - 1;
  options.connect = request.connect;
  std::string why;
  const std::unique_ptr<JackSink> sink = JackSink::open(options, why);
  if (!sink) {
    std::fprintf(out, "Cannot play: %s\n", why.c_str());
    return 1;
  }
  return runPlay(request, *sink, listener, out, environment, systemWallClock());
}

}  // namespace stampline
