#include "decode/ltc_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

#include "timecode/frame_schedule.h"
#include "timecode/label_text.h"
#include "timecode/ltc_frame.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

// The rate is detected from the frames of this many seconds.
constexpr double kDetectSeconds = 2;

// The rate LTC runs at whose frames are nearest to `length` samples long.
FrameRate nearestRate(double length, int32_t sampleRate) {
  FrameRate best = kRate30;
  double bestDistance = INFINITY;
  for (const FrameRate& rate : kLtcRates) {
    const double nominal = static_cast<double>(sampleRate) * rate.denominator / rate.numerator;
    const double distance = std::abs(std::log(length / nominal));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = rate;
    }
  }
  return best;
}

// Where `label` stands among the labels of a day, counting drop-frame or
// not; none for a label that counting leaves out.
std::optional<uint64_t> numberOf(TimecodeWord label, uint32_t nominal, bool dropFrame) {
  const uint64_t number = labelNumber(label, nominal, dropFrame);
  if (labelOfNumber(number, nominal, dropFrame) != label) return std::nullopt;
  return number;
}

// Whether `next` is the label `steps` after `before` (before it, played
// backwards): the next one, or one past frames that could not be read.
bool follows(TimecodeWord before, TimecodeWord next, uint32_t nominal, bool dropFrame, bool forward,
             uint64_t steps) {
  // Most frames: the next label, counted up digit by digit from one that
  // drop-frame counting cannot have left out (frames 02 and on).
  if (forward && steps == 1 && fieldsOf(before).frames >= 2) return next == nextLabel(before, nominal, dropFrame);
  const auto a = numberOf(before, nominal, dropFrame);
  const auto b = numberOf(next, nominal, dropFrame);
  const uint64_t day = labelsPerDay(nominal, dropFrame);
  steps %= day;
  return a && b && *b == (*a + (forward ? steps : day - steps)) % day;
}

}  // namespace

ChannelAnalysis::ChannelAnalysis(int channel, const AnalysisSettings& settings)
    : settings_(settings) {
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

void ChannelAnalysis::add(const ReadFrame& read, std::vector<FrameRecord>& rows) {
  if (settled_) {
    take(read, rows);
    return;
  }
  waiting_.push_back(read);
  const double span = read.end - waiting_.front().start;
  if (settings_.statedRate || span >= kDetectSeconds * settings_.sampleRate) settle(rows);
}

// Decides the rate from the frames waiting, and takes them.
void ChannelAnalysis::settle(std::vector<FrameRecord>& rows) {
  settled_ = true;
  if (waiting_.empty()) return;
  std::vector<double> lengths;
  for (size_t i = 1; i < waiting_.size(); ++i) {
    lengths.push_back(waiting_[i].start - waiting_[i - 1].start);
  }
  if (lengths.empty()) lengths.push_back(waiting_[0].end - waiting_[0].start);
  std::nth_element(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2),
                   lengths.end());
  const double median = lengths[lengths.size() / 2];
  // The mean over the frames, counting the frames a gap holds: frame
  // lengths are whole samples that average to the rate's.
  double slots = 0;
  for (size_t i = 1; i < waiting_.size(); ++i) {
    slots += std::max(1.0, std::round((waiting_[i].start - waiting_[i - 1].start) / median));
  }
  measuredLength_ = slots > 0 ? (waiting_.back().start - waiting_.front().start) / slots : median;
  if (!report_.rateStated) report_.rate = nearestRate(measuredLength_, settings_.sampleRate);
  nominalLength_ = static_cast<double>(settings_.sampleRate) * report_.rate.denominator /
                   report_.rate.numerator;
  for (const ReadFrame& read : waiting_) take(read, rows);
  waiting_.clear();
  waiting_.shrink_to_fit();
}

FrameRecord ChannelAnalysis::recordOf(const ReadFrame& read) const {
  FrameRecord r;
  const double first = std::max(0.0, std::ceil(read.start));
  r.sample = static_cast<uint64_t>(first);
  r.position = read.start;
  r.length = static_cast<uint64_t>(std::max(first, std::ceil(read.end)) - first);
  r.label = frameLabel(read.frame);
  r.dropFrame = frameDropFlag(read.frame);
  r.colourFrame = frameColourFlag(read.frame);
  // At 25 fps the group flags stand where the EBU layout puts them.
  r.groupFlags = frameGroupFlags(read.frame, report_.rate.nominal == 25 ? kLayoutEbu : kLayout30);
  r.userBits = frameUserBits(read.frame);
  r.forward = read.forward;
  return r;
}

bool ChannelAnalysis::valid(const ReadFrame& read) const {
  return hasEvenParity(read.frame) && digitsInRange(read.frame) &&
         fieldsOf(frameLabel(read.frame)).frames < report_.rate.nominal;
}

void ChannelAnalysis::take(const ReadFrame& read, std::vector<FrameRecord>& rows) {
  const FrameRecord record = recordOf(read);
  // A frame's length or more with nothing read in it.
  if (haveSync_ && read.start - syncEnd_ >= 0.75 * measuredLength_) {
    const auto from = static_cast<uint64_t>(std::max(0.0, std::ceil(syncEnd_)));
    note(EventType::kGap, from, valid(read) ? &record : nullptr, "", record.sample - from);
  }
  haveSync_ = true;
  syncEnd_ = read.end;
  if (!valid(read)) {
    ++report_.invalidFrames;
    note(EventType::kInvalid, record.sample, nullptr,
         hasEvenParity(read.frame) ? "a digit out of range" : "the parity is odd");
    return;
  }
  rows.push_back(record);
  (read.startRising ? rising_ : falling_) += 1;
  follow(record);
  checkTimeStamp(record);
  slot_ += static_cast<double>(slotsSinceLast(record));
  fit_.add(slot_, record.position);
  ++report_.frames;
  report_.last = record;
  report_.forward = report_.forward || record.forward;
  report_.backward = report_.backward || !record.forward;
  last_ = record;
  haveLast_ = true;
}

// Checks a valid frame against the one before.
void ChannelAnalysis::follow(const FrameRecord& record) {
  const uint32_t nominal = report_.rate.nominal;
  if (!haveLast_) {
    report_.first = record;
    report_.dropFrame = record.dropFrame;
    report_.userBits = record.userBits;
    report_.groupFlags = record.groupFlags;
    report_.holdsDate = (record.groupFlags & kDateGroupFlags) != 0;
    const UserBitsDate date = readDateUserBits(record.userBits);
    report_.day = date.day;
    report_.month = date.month;
    report_.year = date.year;
    report_.timeZone = date.timeZone;
    return;
  }
  if (record.forward != last_.forward) note(EventType::kDirection, record.sample, &record);
  if (record.dropFrame != last_.dropFrame) {
    note(EventType::kDropFrame, record.sample, &record,
         record.dropFrame ? "the flag turns on" : "the flag turns off");
  }
  const bool flag = record.dropFrame;
  const bool forward = record.forward;
  const uint64_t steps = slotsSinceLast(record);
  if (record.label == last_.label) {
    note(EventType::kRepeat, record.sample, &record);
  } else if (follows(last_.label, record.label, nominal, flag, forward, steps)) {
    // Whether the labels passed midnight matters only where the user bits
    // change (a date moves on): counted only then.
    bool pastMidnight = false;
    if (record.userBits != last_.userBits) {
      const auto before = numberOf(last_.label, nominal, flag);
      const auto after = numberOf(record.label, nominal, flag);
      pastMidnight = before && after && (forward ? *after < *before : *after > *before);
    }
    checkUserBits(record, pastMidnight);
    return;
  } else if (nominal == 30 && follows(last_.label, record.label, 30, !flag, forward, steps)) {
    note(EventType::kDropFrame, record.sample, &record,
         flag ? "the labels count without drop-frame, the flag says drop-frame"
              : "the labels count drop-frame, the flag says not");
  } else {
    note(EventType::kJump, record.sample, &record);
  }
  checkUserBits(record, false);
}

// How many frames' places on from the last valid frame `record` stands:
// 1 for the next, more past frames that could not be read.
uint64_t ChannelAnalysis::slotsSinceLast(const FrameRecord& record) const {
  if (!haveLast_) return 0;
  const double slots = std::round(std::abs(record.position - last_.position) / measuredLength_);
  return slots >= 1 && std::isfinite(slots) ? static_cast<uint64_t>(std::min(slots, 1e15)) : 1;
}

void ChannelAnalysis::checkUserBits(const FrameRecord& record, bool pastMidnight) {
  if (record.userBits == last_.userBits) return;
  // A date moves on to the next day where the labels pass midnight (to
  // the day before, played backwards).
  const bool date = (record.groupFlags & kDateGroupFlags) != 0;
  if (date && pastMidnight && dateMovedBy(last_.userBits, record.userBits, record.forward ? 1 : -1)) return;
  ++report_.userBitsChanges;
  note(EventType::kUserBits, record.sample, &record);
}

// Where the time stamp puts the frame's label against where the frame is.
void ChannelAnalysis::checkTimeStamp(const FrameRecord& record) {
  if (!settings_.timeReference || report_.timeReferencePastDay) return;
  const FrameSchedule day(report_.rate, settings_.sampleRate, 0, record.dropFrame);
  const uint64_t number = labelNumber(record.label, report_.rate.nominal, record.dropFrame);
  const double difference = static_cast<double>(*settings_.timeReference + record.sample) -
                            static_cast<double>(day.frameStart(number));
  if (!haveLast_) {
    report_.firstDifference = difference;
    report_.impliedLabel = day.label(day.frameAt(*settings_.timeReference).frame);
  }
  if (std::abs(difference) > std::abs(report_.worstDifference) || !haveLast_) {
    report_.worstDifference = difference;
  }
  const bool off = std::abs(difference) >= nominalLength_ / 2;
  if (off && !timeStampOff_) {
    char detail[64];
    std::snprintf(detail, sizeof detail, "%+.0f samples", difference);
    note(EventType::kTimeStamp, record.sample, &record, detail);
  }
  timeStampOff_ = off;
}

void ChannelAnalysis::note(EventType type, uint64_t sample, const FrameRecord* after,
                           const std::string& detail, uint64_t length) {
  ++report_.eventCounts[static_cast<size_t>(type)];
  Event event{type, sample, std::nullopt, std::nullopt, length, detail};
  if (haveLast_) event.before = last_.label;
  if (after != nullptr) event.after = after->label;
  if (report_.events.size() < ChannelReport::kMostEventsListed) report_.events.push_back(event);
  fresh_.push_back(std::move(event));
}

void ChannelAnalysis::takeEvents(std::vector<Event>& events) {
  events.insert(events.end(), std::make_move_iterator(fresh_.begin()), std::make_move_iterator(fresh_.end()));
  fresh_.clear();
}

void ChannelAnalysis::finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample,
                             double peak, double fullScale, double riseSamples) {
  if (!settled_) settle(rows);
  if (truncated) note(EventType::kTruncated, endSample, nullptr);
  report_.peakDbfs = peak > 0 ? 20 * std::log10(peak / fullScale) : -std::numeric_limits<double>::infinity();
  report_.polarity = falling_ == 0 ? 1 : rising_ == 0 ? -1 : 0;
  report_.riseMicroseconds = riseSamples / settings_.sampleRate * 1e6;
  double length = fit_.slope();
  if (fit_.count() < 2) length = static_cast<double>(last_.length);
  if (length > 0 && nominalLength_ > 0) report_.speedPpm = (nominalLength_ / length - 1) * 1e6;
  report_.jitterSamples = fit_.count() >= 2 ? fit_.largestDistance() : 0;
}

}  // namespace stampline
