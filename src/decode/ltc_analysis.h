#ifndef STAMPLINE_DECODE_LTC_ANALYSIS_H_
#define STAMPLINE_DECODE_LTC_ANALYSIS_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/channel_report.h"
#include "decode/line_fit.h"
#include "decode/ltc_decoder.h"
#include "timecode/frame_rate.h"

namespace stampline {

// What an analysis knows of the file beyond its samples.
struct AnalysisSettings {
  int32_t sampleRate = 48000;
  std::optional<FrameRate> statedRate;     // the rate, when the user gives it
  std::optional<uint64_t> timeReference;   // the bext chunk's, where there is one
};

// Makes a channel's report from the frames read from it, in order.
//
// The frame rate is the one stated, or else the rate LTC runs at whose
// frames are nearest in length to those read (the median distance between
// frame starts) over their first two seconds: 29.97 and 30 differ by 1000
// ppm, two samples a frame at 48 kHz. Until then frames wait (at most two
// seconds' worth), since what a frame says depends on the rate (the frames
// a second, the 25 fps layout of the group flags). Each frame is then
// checked against the one before: that its label follows (in the counting
// its drop-frame flag gives), that nothing changed that should not, that
// no frame is missing between them. The frame starts are fitted with a
// straight line for the speed and the jitter.
class ChannelAnalysis {
 public:
  ChannelAnalysis(int channel, const AnalysisSettings& settings);

  // A frame read from the channel. The valid frames whose rate is settled
  // are appended to `rows` as they are taken.
  void add(const ReadFrame& read, std::vector<FrameRecord>& rows);
  // The channel ends at sample `endSample`; `truncated` when the file is cut
  // short. `peak` and `riseSamples` are the edge finder's, `fullScale` the
  // largest sample value.
  void finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample, double peak,
              double fullScale, double riseSamples);
  const ChannelReport& report() const { return report_; }
  // The events found since the last call, in the order found, appended to
  // `events` (the report lists only the first of them).
  void takeEvents(std::vector<Event>& events);

 private:
  void settle(std::vector<FrameRecord>& rows);
  void take(const ReadFrame& read, std::vector<FrameRecord>& rows);
  FrameRecord recordOf(const ReadFrame& read) const;
  bool valid(const ReadFrame& read) const;
  void follow(const FrameRecord& record);
  uint64_t slotsSinceLast(const FrameRecord& record) const;
  void checkUserBits(const FrameRecord& record, bool pastMidnight);
  void checkTimeStamp(const FrameRecord& record);
  void note(EventType type, uint64_t sample, const FrameRecord* after, const std::string& detail = "",
            uint64_t length = 0);

  AnalysisSettings settings_;
  ChannelReport report_;
  std::vector<ReadFrame> waiting_;
  bool settled_ = false;
  double nominalLength_ = 0;   // samples a frame at the rate
  double measuredLength_ = 0;  // the frames' median length
  bool haveSync_ = false;
  double syncEnd_ = 0;         // the end of the last frame read, valid or not
  bool haveLast_ = false;
  FrameRecord last_;
  LineFit fit_;
  double slot_ = 0;
  bool timeStampOff_ = false;
  uint64_t rising_ = 0, falling_ = 0;
  std::vector<Event> fresh_;  // found, not yet taken
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_LTC_ANALYSIS_H_
