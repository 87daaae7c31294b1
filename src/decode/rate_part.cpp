#include "decode/rate_part.h"

#include <bit>
#include <cmath>
#include <limits>

#include "timecode/timecode.h"

namespace stampline {
namespace {

// A count's frames are held this long before they count in their part: a
// change of rate shows within a second of labels (a number past the old
// rate's, or a second that ends elsewhere), two at half speed.
constexpr size_t kHeldFrames = 64;

uint8_t bitOf(uint32_t nominal) {
  return nominal == 24 ? kNominal24 : nominal == 25 ? kNominal25 : nominal == 30 ? kNominal30 : 0;
}

}  // namespace

uint32_t nominalOf(uint8_t bit) { return bit == kNominal24 ? 24 : bit == kNominal25 ? 25 : 30; }

uint8_t nominalsWith(uint32_t frameNumber, bool dropFrame) {
  if (dropFrame) return frameNumber < 30 ? kNominal30 : 0;
  uint8_t allowed = 0;
  for (const uint32_t nominal : {24U, 25U, 30U}) {
    if (frameNumber < nominal) allowed |= bitOf(nominal);
  }
  return allowed;
}

RateParts::RateParts(int32_t sampleRate, std::optional<FrameRate> stated)
    : sampleRate_(sampleRate), stated_(stated), parts_(1) {
  if (stated_) possible_ = bitOf(stated_->nominal);
  parts_.back().possible = possible_;
}

bool RateParts::add(const FrameRecord& record, bool newCount, uint8_t nominals, uint64_t slots) {
  slot_ += static_cast<double>(slots);
  if (newCount || run_.empty()) {
    // The count before is settled in its part.
    for (const Held& held : run_) commit(parts_.back(), held);
    run_.clear();
    runStart_ = record;
    runIsNewCount_ = newCount;
  }
  const uint8_t evidence = nominalsWith(fieldsOf(record.label).frames, record.dropFrame) & nominals;
  bool newPart = false;
  if (!stated_ && (possible_ & evidence) == 0 && evidence != 0) {
    // No rate left counts this: a new part, from the first frame of this
    // count when it began with a break, else from here.
    parts_.back().possible = possible_;
    std::deque<Held> moved;
    if (runIsNewCount_) {
      moved.swap(run_);
    } else {
      for (const Held& held : run_) commit(parts_.back(), held);
      run_.clear();
      runStart_ = record;
    }
    parts_.emplace_back();
    possible_ = evidence;
    for (const Held& held : moved) {
      const uint8_t allowed = possible_ & nominalsWith(fieldsOf(held.record.label).frames, held.record.dropFrame);
      possible_ = allowed != 0 ? allowed : possible_;
    }
    run_ = std::move(moved);
    newPart = true;
  } else if ((possible_ & evidence) != 0) {
    possible_ &= evidence;
  }
  parts_.back().possible = possible_;
  run_.push_back({record, slot_});
  if (run_.size() > kHeldFrames) {
    commit(parts_.back(), run_.front());
    run_.pop_front();
    runIsNewCount_ = false;  // too late to move: its first frame is in
  }
  return newPart;
}

void RateParts::commit(Part& part, const Held& held) const {
  RatePart& r = part.report;
  if (r.frames == 0) {
    r.first = held.record;
    r.dropFrame = held.record.dropFrame;
  }
  r.last = held.record;
  ++r.frames;
  part.fit.add(held.slot, held.record.position);
  part.slot = held.slot;
}

bool RateParts::settled() const {
  if (parts_.size() > 1) return true;
  const Part& first = parts_.front();
  const bool nominalKnown = stated_ || std::popcount(possible_) == 1;
  const uint64_t frames = first.report.frames + run_.size();
  return nominalKnown && frames >= nominalOf(static_cast<uint8_t>(std::bit_floor(possible_)));
}

double RateParts::meanLength(const Part& part) const {
  if (part.fit.count() >= 2) return part.fit.slope();
  return static_cast<double>(part.report.last.length);
}

// The rate LTC runs at, among those the part's frames allow, whose frames
// are nearest in length to the part's (23.976 played 1.001x fast is 24).
FrameRate RateParts::decide(const Part& part) const {
  if (stated_) return *stated_;
  const double length = meanLength(part);
  FrameRate best = kRate30;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (const FrameRate& candidate : kLtcRates) {
    if ((part.possible & bitOf(candidate.nominal)) == 0) continue;
    const double nominal = static_cast<double>(sampleRate_) * candidate.denominator / candidate.numerator;
    const double distance = std::abs(std::log(length / nominal));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best;
}

FrameRate RateParts::rate() const {
  Part now = parts_.back();
  now.possible = possible_;
  for (const Held& held : run_) commit(now, held);
  return decide(now);
}

std::vector<RatePart> RateParts::finish() {
  for (const Held& held : run_) commit(parts_.back(), held);
  run_.clear();
  parts_.back().possible = possible_;
  std::vector<RatePart> reports;
  for (const Part& part : parts_) {
    if (part.report.frames == 0) continue;
    RatePart r = part.report;
    r.rate = decide(part);
    r.rateKnown = r.frames >= 3;
    if (r.rateKnown) {
      const double nominal = static_cast<double>(sampleRate_) * r.rate.denominator / r.rate.numerator;
      const double length = meanLength(part);
      if (length > 0) r.speedPpm = (nominal / length - 1) * 1e6;
      r.jitterSamples = part.fit.largestDistance();
    }
    reports.push_back(r);
  }
  return reports;
}

}  // namespace stampline
