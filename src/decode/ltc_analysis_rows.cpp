#include "decode/ltc_analysis.h"

#include <cmath>
#include <cstdio>

#include "timecode/frame_schedule.h"
#include "timecode/user_bits.h"

// What the rows tell the report as they are given: the first row's user
// bits and date, and each row's place against its time stamp.
namespace stampline {

// The user bits, flags and date the report names: the first row's.
void ChannelAnalysis::describeFirst(const FrameRecord& record) {
  described_ = true;
  report_.userBits = record.userBits;
  report_.groupFlags = record.groupFlags;
  report_.holdsDate = (record.groupFlags & kDateGroupFlags) != 0;
  const UserBitsDate date = readDateUserBits(record.userBits);
  report_.day = date.day;
  report_.month = date.month;
  report_.year = date.year;
  report_.timeZone = date.timeZone;
}

// Where the time stamp puts the frame's label against where the frame is.
void ChannelAnalysis::checkTimeStamp(const FrameRecord& record) {
  if (!settings_.timeReference || report_.timeReferencePastDay) return;
  const FrameRate rate = parts_.rate();
  const FrameSchedule day(rate, settings_.sampleRate, 0, record.dropFrame);
  const uint64_t number = labelNumber(record.label, rate.nominal, record.dropFrame);
  const double difference = static_cast<double>(*settings_.timeReference + record.sample) -
                            static_cast<double>(day.frameStart(number));
  const bool first = !timeStampSeen_;
  timeStampSeen_ = true;
  if (first) {
    report_.firstDifference = difference;
    report_.impliedLabel = day.label(day.frameAt(*settings_.timeReference).frame);
  }
  if (first || std::abs(difference) > std::abs(report_.worstDifference)) report_.worstDifference = difference;
  const double frameLength = static_cast<double>(settings_.sampleRate) * rate.denominator / rate.numerator;
  const bool off = std::abs(difference) >= frameLength / 2;
  if (off && !timeStampOff_) {
    char detail[64];
    std::snprintf(detail, sizeof detail, "%+.0f samples", difference);
    note(EventType::kTimeStamp, record.sample, &record, detail);
  }
  timeStampOff_ = off;
}

}  // namespace stampline
