#include "decode/ltc_analysis.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

#include "timecode/frame_schedule.h"
#include "timecode/ltc_frame.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

// A frame predicts the next to within this share of a frame.
constexpr double kPredictionSlack = 0.4;
// A frame waits for the one that confirms it this many frames at most.
constexpr double kPendingFrames = 4;
constexpr size_t kMostPending = 4;
// Without a confirmed frame: a gap from this share of a frame, unreadable
// from this many frames where a signal like LTC was there.
constexpr double kGapFrames = 0.75;
constexpr double kUnreadableFrames = 1.5;
// Frames whose own lengths differ by more than this ratio were played at
// different speeds.
constexpr double kSpeedChange = 1.05;
// A stretch that a signal like LTC covered to within this many frames (a
// frame read and refused) is no gap.
constexpr double kHeldFrames = 0.5;
// After a new count, its rows wait this many frames for what its rate is.
constexpr int kHoldAfterBreak = 32;
// Frame bits 27 and 59 as they stand in Candidate::flagBits: one is the
// phase bit, the other a group flag.
constexpr uint8_t kBit27 = 0x1;
constexpr uint8_t kBit59 = 0x8;

uint8_t flagBitsOf(const LtcFrame& f) {
  return static_cast<uint8_t>((f.bit(27) ? 1 : 0) | (f.bit(43) ? 2 : 0) | (f.bit(58) ? 4 : 0) | (f.bit(59) ? 8 : 0));
}

// Where `label` stands among a day's labels of `nominal` counting (drop-frame
// or not); none for a label that counting does not have.
std::optional<uint64_t> numberOf(TimecodeWord label, uint32_t nominal, bool dropFrame) {
  const uint64_t number = labelNumber(label, nominal, dropFrame);
  if (labelOfNumber(number, nominal, dropFrame) != label) return std::nullopt;
  return number;
}

// The label `steps` on from `number` (back, played backwards), wrapping at
// midnight, and whether it passed midnight.
struct Step {
  TimecodeWord label;
  bool wrapped;
};
Step stepped(uint64_t number, uint64_t steps, bool forward, uint32_t nominal, bool dropFrame) {
  const uint64_t day = labelsPerDay(nominal, dropFrame);
  steps %= day;
  const uint64_t next = (number + (forward ? steps : day - steps)) % day;
  return {labelOfNumber(next, nominal, dropFrame), forward ? next < number : next > number};
}

}  // namespace

ChannelAnalysis::ChannelAnalysis(int channel, const AnalysisSettings& settings)
    : settings_(settings), parts_(settings.sampleRate, settings.statedRate) {
  report_.channel = channel;
  report_.timeReference = settings.timeReference;
  constexpr uint64_t kSecondsADay = 86400;
  report_.timeReferencePastDay =
      settings.timeReference &&
      *settings.timeReference >= static_cast<uint64_t>(std::max(settings.sampleRate, 1)) * kSecondsADay;
  if (settings.statedRate) {
    report_.rate = *settings.statedRate;
    report_.rateStated = true;
  }
}

ChannelAnalysis::Candidate ChannelAnalysis::candidate(const ReadFrame& read) const {
  Candidate c;
  FrameRecord& r = c.record;
  const double first = std::max(0.0, std::ceil(read.start));
  r.sample = static_cast<uint64_t>(first);
  r.position = read.start;
  r.length = static_cast<uint64_t>(std::max(first, std::ceil(read.end)) - first);
  r.label = frameLabel(read.frame);
  r.dropFrame = frameDropFlag(read.frame);
  r.colourFrame = frameColourFlag(read.frame);
  r.userBits = frameUserBits(read.frame);
  r.forward = read.forward;
  c.end = read.end;
  c.flagBits = flagBitsOf(read.frame);
  c.frameNumber = fieldsOf(r.label).frames;
  c.rising = read.startRising;
  return c;
}

// Why a frame read whole cannot be a label, or null: its parity, or a digit
// past its field (frames past the stated rate's, or past 29).
const char* ChannelAnalysis::refusal(const Candidate& c) const {
  LtcFrame frame;
  loadFrame(frame, c.record.label, false);
  if (!digitsInRange(frame)) return "a digit out of range";
  const uint32_t most = settings_.statedRate ? settings_.statedRate->nominal : 30;
  if (c.frameNumber >= most) return "a digit out of range";
  return nullptr;
}

double ChannelAnalysis::lengthFrom(const Candidate& c, bool ownLength) const {
  if (!ownLength && recentLength_ > 0) return recentLength_;
  return std::max(1.0, c.end - c.record.position);
}

// Whether `from` predicts `to` for the time between them, in the counts of
// `nominals`: the label counted on (back, played backwards), the same
// flags but the phase bit, the same user bits (or a date a day on where the
// labels passed midnight).
ChannelAnalysis::Prediction ChannelAnalysis::predicts(const Candidate& from, const Candidate& to, uint8_t nominals,
                                                      bool ownLength) const {
  const FrameRecord& a = from.record;
  const FrameRecord& b = to.record;
  Prediction p;
  if (a.forward != b.forward || a.dropFrame != b.dropFrame || a.colourFrame != b.colourFrame) return p;
  // The frame confirmed last knows its count's phase bit; a new count's
  // first frame compares neither.
  const uint8_t phase = ownLength ? kBit27 | kBit59 : phaseBit(countPhases_.size() - 1);
  if (((from.flagBits ^ to.flagBits) & ~phase & 0xF) != 0) return p;
  const double places = (b.position - a.position) / lengthFrom(from, ownLength);
  const double steps = std::round(places);
  if (steps < 1 || std::abs(places - steps) > kPredictionSlack) return p;
  if (steps == 1 && a.forward && a.userBits == b.userBits) {
    // Most frames: the next label within the second (no rate's count ends
    // there, drop-frame's skips come at second 00), counted digit by digit.
    const TimecodeFields f = fieldsOf(a.label);
    if (f.frames + 1 < 24 && f.frames >= 2 && nextLabel(a.label, 30, a.dropFrame) == b.label) {
      p.nominals = nominals & kAnyNominal;
      p.holds = p.nominals != 0;
      return p;
    }
  }
  for (const uint8_t bit : {kNominal24, kNominal25, kNominal30}) {
    if ((nominals & bit) == 0) continue;
    const uint32_t nominal = nominalOf(bit);
    const std::optional<uint64_t> number = numberOf(a.label, nominal, a.dropFrame);
    if (!number) continue;
    const Step next = stepped(*number, static_cast<uint64_t>(steps), a.forward, nominal, a.dropFrame);
    if (next.label != b.label) continue;
    const bool date = (to.flagBits & ~phase & 0x6) != 0 || (from.flagBits & ~phase & 0x6) != 0 ||
                      (a.userBits != b.userBits && next.wrapped);
    if (a.userBits == b.userBits || (date && next.wrapped && dateMovedBy(a.userBits, b.userBits, a.forward ? 1 : -1))) {
      p.nominals |= bit;
    }
  }
  p.holds = p.nominals != 0;
  return p;
}

uint8_t ChannelAnalysis::phaseBit(size_t count) const {
  const uint8_t changed = countPhases_[count] & (kBit27 | kBit59);
  if (changed == kBit27 || changed == kBit59) return changed;
  return kBit27 | kBit59;  // not yet known: neither is compared
}

void ChannelAnalysis::add(const ReadFrame& read, std::vector<FrameRecord>& rows) {
  take(read);
  release(rows, false);
}

void ChannelAnalysis::take(const ReadFrame& read) {
  expirePending(read.start);
  if (read.cellsOnly) {
    // A frame's worth of cells at half to twice the speed of some rate.
    const double frame = read.end - read.start;
    const double rate = settings_.sampleRate;
    if (frame < rate / 60 || frame > rate / 12) return;
    noteSignal(read.start, read.end);
    if (!haveConfirmed_) signalFrameLength_ = std::max(signalFrameLength_, read.end - read.start);
    return;
  }
  Candidate c = candidate(read);
  if (read.syncDamaged) {
    // Only the frame confirmed last vouches for it, in the count it is in;
    // where it does not, nothing was read there.
    const bool predicted = last_ && hasEvenParity(read.frame) && refusal(c) == nullptr &&
                           predicts(*last_, c, parts_.nominals(), false).holds;
    if (!predicted) return;
  }
  if (!hasEvenParity(read.frame)) {
    reject(c, "the parity is odd");
    return;
  }
  if (const char* why = refusal(c); why != nullptr) {
    reject(c, why);
    return;
  }
  if (last_) {
    // In the counts the part allows; else in another, a change of rate
    // (the part then ends where this count began).
    Prediction p = predicts(*last_, c, parts_.nominals(), false);
    if (!p.holds) p = predicts(*last_, c, kAnyNominal & ~parts_.nominals(), false);
    if (p.holds) {
      for (const Candidate& before : pending_) reject(before, "unconfirmed");
      pending_.clear();
      confirm(c, false, p.nominals);
      return;
    }
  }
  if (startsCount(c)) return;
  pending_.push_back(c);
  if (pending_.size() > kMostPending) {
    reject(pending_.front(), "unconfirmed");
    pending_.pop_front();
  }
}

// A new count: frames in a row that predict each other start it, two at
// the start, three after a confirmed frame (where two can carry one error
// alike: a channel distorts two frames alike where their bits are alike,
// and frames in a row differ in few). Confirms the count's frames, or
// notes in `c` the frame still unconfirmed that predicts it.
bool ChannelAnalysis::startsCount(Candidate& c) {
  for (size_t i = pending_.size(); i-- > 0;) {
    const Prediction p = predicts(pending_[i], c, kAnyNominal, true);
    if (!p.holds) continue;
    const Candidate before = pending_[i];
    const auto first = std::find_if(pending_.begin(), pending_.end(), [&](const Candidate& f) {
      return before.follows && f.record.position == before.after;
    });
    if (last_ && first == pending_.end()) {
      c.follows = true;
      c.after = before.record.position;
      c.nominals = p.nominals;
      return false;
    }
    std::vector<Candidate> count;
    if (first != pending_.end()) count.push_back(*first);
    count.push_back(before);
    for (const Candidate& other : pending_) {
      const double at = other.record.position;
      if (at != before.record.position && at != count.front().record.position) reject(other, "unconfirmed");
    }
    pending_.clear();
    confirm(count.front(), last_.has_value(), kAnyNominal);
    if (count.size() > 1) confirm(count.back(), false, count.back().nominals);
    confirm(c, false, p.nominals);
    return true;
  }
  return false;
}

// Frames that waited too long for a frame to confirm them are refused.
void ChannelAnalysis::expirePending(double now) {
  while (!pending_.empty() &&
         now - pending_.front().record.position > kPendingFrames * lengthFrom(pending_.front(), true)) {
    reject(pending_.front(), "unconfirmed");
    pending_.pop_front();
  }
}

void ChannelAnalysis::noteSignal(double from, double to) {
  if (!signalSince_) {
    signalFrom_ = from;
    signalCovered_ = 0;
    signalEnd_ = from;
  }
  signalSince_ = true;
  // What this adds beyond what was seen (marks and frames come in order).
  signalCovered_ += std::max(0.0, to - std::max(from, signalEnd_));
  signalEnd_ = std::max(signalEnd_, to);
}

void ChannelAnalysis::reject(const Candidate& c, const char* why) {
  ++report_.invalidFrames;
  if (std::string(why) == "unconfirmed") ++report_.unconfirmedFrames;
  note(EventType::kInvalid, c.record.sample, nullptr, why);
  noteSignal(c.record.position, c.end);
  if (!haveConfirmed_) signalFrameLength_ = std::max(signalFrameLength_, c.end - c.record.position);
}

// The stretch since the last confirmed frame, up to `until`: a gap, or
// unreadable where more than one and a half frames of it held a signal like
// LTC (where it covered all of a shorter stretch, the frames refused there
// are reported as such).
void ChannelAnalysis::noteStretch(double until, bool atEnd) {
  const double length = haveConfirmed_ ? lengthFrom(*last_, false) : 0;
  if (!haveConfirmed_ || atEnd) {
    // Before the first confirmed frame, or after the last: only a signal.
    const double from = haveConfirmed_ ? confirmedEnd_ : signalFrom_;
    const double to = atEnd ? signalEnd_ : until;
    const double frame = haveConfirmed_ ? length : std::max(1.0, signalFrameLength_);
    if (signalSince_ && signalCovered_ > kUnreadableFrames * frame) {
      const auto start = static_cast<uint64_t>(std::max(0.0, std::ceil(from)));
      note(EventType::kUnreadable, start, nullptr, "", static_cast<uint64_t>(std::ceil(to)) - start);
    }
    return;
  }
  const double stretch = until - confirmedEnd_;
  if (stretch < kGapFrames * length) return;
  const auto start = static_cast<uint64_t>(std::max(0.0, std::ceil(confirmedEnd_)));
  const auto end = static_cast<uint64_t>(std::max(0.0, std::ceil(until)));
  const bool unreadable = signalSince_ && signalCovered_ > kUnreadableFrames * length;
  // A frame or so read and refused, covering the stretch, is no gap: its
  // own event says so.
  if (!unreadable && signalSince_ && signalCovered_ >= stretch - kHeldFrames * length) return;
  note(unreadable ? EventType::kUnreadable : EventType::kGap, start, nullptr, "", end - start);
}

void ChannelAnalysis::confirm(const Candidate& c, bool newCount, uint8_t nominals) {
  const FrameRecord& record = c.record;
  noteStretch(record.position, false);
  uint64_t slots = 0;
  if (last_) {
    const double elapsed = std::abs(record.position - last_->record.position);
    slots = static_cast<uint64_t>(std::max(1.0, std::round(elapsed / lengthFrom(*last_, false))));
    if (newCount) {
      beforeBreak_ = last_->record;
      countPhases_.push_back(0);
      classifyBreak(c, slots);
      holdFrames_ = kHoldAfterBreak;
      recentLength_ = lengthFrom(c, true);
    } else {
      uint8_t& changed = countPhases_.back();
      changed = static_cast<uint8_t>(changed | ((last_->flagBits ^ c.flagBits) & (kBit27 | kBit59)));
      if (slots == 1) recentLength_ = recentLength_ > 0 ? recentLength_ + (elapsed - recentLength_) / 8 : elapsed;
    }
  } else {
    recentLength_ = lengthFrom(c, true);
  }
  if (parts_.add(record, newCount || !last_, nominals, slots) && last_) {
    const FrameRecord& first = parts_.firstOfPart();
    // The part begins with this frame, or with the first of its count.
    beforePart_ = first.sample == record.sample ? &last_->record : &beforeBreak_;
    note(EventType::kRate, first.sample, &first, "the labels count at another rate");
    holdFrames_ = 0;
  }
  (c.rising ? rising_ : falling_) += 1;
  ++report_.frames;
  if (report_.frames == 1) report_.first = record;
  report_.last = record;
  report_.forward = report_.forward || record.forward;
  report_.backward = report_.backward || !record.forward;
  last_ = c;
  confirmedEnd_ = c.end;
  haveConfirmed_ = true;
  signalSince_ = false;
  held_.push_back({record, c.flagBits, countPhases_.size() - 1});
  if (holdFrames_ > 0) --holdFrames_;
}

// A new count after a confirmed frame: what changed.
void ChannelAnalysis::classifyBreak(const Candidate& c, uint64_t slots) {
  const FrameRecord& before = last_->record;
  const FrameRecord& after = c.record;
  if (after.forward != before.forward) note(EventType::kDirection, after.sample, &after);
  if (after.dropFrame != before.dropFrame) {
    note(EventType::kDropFrame, after.sample, &after, after.dropFrame ? "the flag turns on" : "the flag turns off");
  }
  const uint32_t nominal = nominalOf(static_cast<uint8_t>(std::bit_floor(parts_.nominals())));
  const std::optional<uint64_t> a = numberOf(before.label, nominal, before.dropFrame);
  const std::optional<uint64_t> b = numberOf(after.label, nominal, after.dropFrame);
  // The count goes on: by the frames elapsed, or where the speed changed
  // (the two frames' own lengths differ), by as many as any length between
  // theirs gives.
  const double elapsed = std::abs(after.position - before.position);
  const double shorter = std::min(lengthFrom(*last_, true), lengthFrom(c, true));
  const double longer = std::max(lengthFrom(*last_, true), lengthFrom(c, true));
  const bool speedChanged = longer > kSpeedChange * shorter;
  const auto fewest = speedChanged ? std::max<uint64_t>(1, static_cast<uint64_t>(std::lround(elapsed / longer))) : slots;
  const auto most = speedChanged ? std::max<uint64_t>(fewest, static_cast<uint64_t>(std::lround(elapsed / shorter))) : slots;
  const auto follows = [&](bool dropFrame) {
    const std::optional<uint64_t> from = numberOf(before.label, nominal, dropFrame);
    for (uint64_t k = fewest; from && k <= most; ++k) {
      if (stepped(*from, k, before.forward, nominal, dropFrame).label == after.label) return true;
    }
    return false;
  };
  if (after.forward != before.forward) {
    // Turned round: the labels stay near where they were.
    const uint64_t day = labelsPerDay(nominal, before.dropFrame);
    const uint64_t apart = a && b ? std::min((*a + day - *b) % day, (*b + day - *a) % day) : day;
    if (apart > slots + 2) note(EventType::kJump, after.sample, &after);
  } else if (after.label == before.label) {
    note(EventType::kRepeat, after.sample, &after);
  } else if (follows(before.dropFrame)) {
    // The count goes on: the flags or the user bits changed.
  } else if (nominal == 30 && after.dropFrame == before.dropFrame && follows(!before.dropFrame)) {
    note(EventType::kDropFrame, after.sample, &after,
         before.dropFrame ? "the labels count without drop-frame, the flag says drop-frame"
                          : "the labels count drop-frame, the flag says not");
  } else {
    note(EventType::kJump, after.sample, &after);
  }
  if (after.userBits != before.userBits) {
    const bool date = (c.flagBits & 0x6) != 0;
    const bool pastMidnight = a && b && (before.forward ? *b < *a : *b > *a);
    if (!(date && pastMidnight && dateMovedBy(before.userBits, after.userBits, before.forward ? 1 : -1))) {
      ++report_.userBitsChanges;
      note(EventType::kUserBits, after.sample, &after);
    }
  }
}

// The group flags of a row, read where its count's phase bit leaves them.
void ChannelAnalysis::readFlags(FrameRecord& record, uint8_t flagBits, size_t count) const {
  uint8_t phase = phaseBit(count);
  if (phase == (kBit27 | kBit59)) phase = parts_.rate().nominal == 25 ? kBit59 : kBit27;
  const bool b27 = (flagBits & kBit27) != 0;
  const bool b43 = (flagBits & 0x2) != 0;
  const bool b58 = (flagBits & 0x4) != 0;
  const bool b59 = (flagBits & kBit59) != 0;
  // BGF2 BGF1 BGF0: bits 59, 58, 43 with the phase at 27; 43, 58, 27 with it at 59.
  record.groupFlags = phase == kBit27 ? (b59 ? 4U : 0U) | (b58 ? 2U : 0U) | (b43 ? 1U : 0U)
                                      : (b43 ? 4U : 0U) | (b58 ? 2U : 0U) | (b27 ? 1U : 0U);
}

// Gives the rows held once the first rate is settled, the phase bit known
// and a new count's rate seen to (or, with `all`, whatever stands).
void ChannelAnalysis::release(std::vector<FrameRecord>& rows, bool all) {
  if (!all && (!parts_.settled() || holdFrames_ > 0)) return;
  for (HeldRow& held : held_) {
    readFlags(held.record, held.flagBits, held.count);
    if (!described_) describeFirst(held.record);
    checkTimeStamp(held.record);
    rows.push_back(held.record);
  }
  held_.clear();
  // What the rows of counts before the last needed of them is done with.
  countPhases_.erase(countPhases_.begin(), countPhases_.end() - 1);
  std::stable_sort(heldEvents_.begin(), heldEvents_.end(),
                   [](const Event& x, const Event& y) { return x.sample < y.sample; });
  fresh_.insert(fresh_.end(), std::make_move_iterator(heldEvents_.begin()), std::make_move_iterator(heldEvents_.end()));
  heldEvents_.clear();
}

void ChannelAnalysis::note(EventType type, uint64_t sample, const FrameRecord* after, const std::string& detail,
                           uint64_t length) {
  ++report_.eventCounts[static_cast<size_t>(type)];
  Event event{type, sample, std::nullopt, std::nullopt, length, detail};
  const FrameRecord* before = type == EventType::kRate ? beforePart_ : last_ ? &last_->record : nullptr;
  if (before != nullptr && type != EventType::kInvalid) {
    event.before = before->label;
    event.beforeDropFrame = before->dropFrame;
  }
  if (after != nullptr) {
    event.after = after->label;
    event.afterDropFrame = after->dropFrame;
  }
  if (report_.events.size() < ChannelReport::kMostEventsListed) report_.events.push_back(event);
  heldEvents_.push_back(std::move(event));
}

void ChannelAnalysis::takeEvents(std::vector<Event>& events) {
  events.insert(events.end(), std::make_move_iterator(fresh_.begin()), std::make_move_iterator(fresh_.end()));
  fresh_.clear();
}

void ChannelAnalysis::finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample,
                             const ChannelMeasures& measures) {
  for (const Candidate& c : pending_) reject(c, "unconfirmed");
  pending_.clear();
  noteStretch(static_cast<double>(endSample), true);
  if (truncated) note(EventType::kTruncated, endSample, nullptr);
  report_.parts = parts_.finish();
  if (!report_.parts.empty()) {
    const RatePart& first = report_.parts.front();
    report_.rate = first.rate;
    report_.dropFrame = first.dropFrame;
    report_.speedPpm = first.speedPpm;
    report_.jitterSamples = first.jitterSamples;
  }
  release(rows, true);
  // The list names the events in the order of the samples, a part's rate
  // at its first frame among them.
  std::stable_sort(report_.events.begin(), report_.events.end(),
                   [](const Event& a, const Event& b) { return a.sample < b.sample; });
  const bool finitePeak = std::isfinite(measures.peak) && measures.peak > 0;
  report_.peakDbfs = finitePeak ? 20 * std::log10(measures.peak / measures.fullScale)
                                : -std::numeric_limits<double>::infinity();
  report_.polarity = falling_ == 0 ? 1 : rising_ == 0 ? -1 : 0;
  report_.riseMicroseconds =
      std::isfinite(measures.riseSamples) ? measures.riseSamples / settings_.sampleRate * 1e6 : 0;
  report_.nonFiniteSamples = measures.nonFinite;
}

}  // namespace stampline
