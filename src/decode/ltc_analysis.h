#ifndef STAMPLINE_DECODE_LTC_ANALYSIS_H_
#define STAMPLINE_DECODE_LTC_ANALYSIS_H_

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "decode/channel_report.h"
#include "decode/ltc_decoder.h"
#include "decode/rate_part.h"
#include "timecode/frame_rate.h"

namespace stampline {

// What an analysis knows of the file beyond its samples.
struct AnalysisSettings {
  int32_t sampleRate = 48000;
  std::optional<FrameRate> statedRate;    // the rate, when the user gives it
  std::optional<uint64_t> timeReference;  // the bext chunk's, where there is one
};

// What the edge finder measured of a channel, for its report.
struct ChannelMeasures {
  double peak = 0;          // the largest finite sample magnitude
  double fullScale = 1;     // the largest sample value
  double riseSamples = 0;   // the mean 10-90 % rise, in samples (0: none measured)
  uint64_t nonFinite = 0;   // samples that were no number or infinite
};

// Makes a channel's report from the frames read from it, in order.
//
// A frame read whole, with its sync word, parity and digits right, is only
// a candidate: it becomes a label (a row, a first or last, a count) when a
// neighbour confirms it. The frame confirmed last predicts, for the time
// elapsed since it (to within 0.4 of a frame), the label, flags and user
// bits of the next (counting on, back when played backwards, across
// midnight, a date moving with it); a frame that it predicts is confirmed.
// One it does not predict waits: if the frame read after it is the one it
// predicts in turn, both are confirmed, and the first starts a new count
// (a jump, a repeat, a change of direction, of user bits or of drop-frame,
// each an event). A frame that fits neither side (a splice's hybrid, two
// cell errors that parity missed) is an `invalid` event, `unconfirmed`.
// So the first frame after a jump counts once the next one agrees, and a
// right frame between two unreadable ones does not count.
//
// The rate: the frame numbers of confirmed frames rule out the nominal
// rates below them (a number above 23 rules out 24, above 24 rules out 25),
// as the drop-frame flag rules out all but 30, and so does a count that
// passes a second boundary; until one rate is left, a count is tried in
// each. Timing decides 23.976/24 and 29.97/30 at the end (the nearer) and
// gives the speed. Frames that no rate left can count are a new part, at
// the new count's first frame: a `rate` event, and a rate, speed and
// drop-frame of its own. Which of frame bits 27 and 59 is the phase bit
// (the other a group flag) is read from which one changes.
//
// Between confirmed frames: a frame's length or more without one is a
// `gap`, or `unreadable` where more than one and a half frames of it held a
// signal like LTC (frames read but refused, or cells read whole without a
// frame).
//
// Rows and events are given once the frames around them are confirmed,
// the phase bit is known and the first rate has been settled (one second of
// the channel's frames), and otherwise as they are read.
class ChannelAnalysis {
 public:
  ChannelAnalysis(int channel, const AnalysisSettings& settings);

  // A frame (or a mark of cells read without one) from the channel, in
  // order. The rows confirmed and ready are appended to `rows`.
  void add(const ReadFrame& read, std::vector<FrameRecord>& rows);
  // The channel ends at sample `endSample`; `truncated` when the file is cut
  // short.
  void finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample, const ChannelMeasures& measures);
  const ChannelReport& report() const { return report_; }
  // The events found since the last call, in the order found, appended to
  // `events` (the report lists only the first of them).
  void takeEvents(std::vector<Event>& events);

 private:
  // A frame read, taken apart.
  struct Candidate {
    FrameRecord record;
    double end = 0;
    uint8_t flagBits = 0;  // frame bits 27, 43, 58, 59 as bits 0 to 3
    uint32_t frameNumber = 0;
    bool rising = false;
    // Whether a frame read before it, still unconfirmed, predicts it: that
    // frame's place, and the counts in which it does.
    bool follows = false;
    double after = 0;
    uint8_t nominals = 0;
  };
  // A prediction that came true: in which nominal counts.
  struct Prediction {
    bool holds = false;
    uint8_t nominals = 0;
  };
  struct HeldRow {
    FrameRecord record;
    uint8_t flagBits;
    size_t count;  // its count's place in countPhases_
  };

  void take(const ReadFrame& read);
  Candidate candidate(const ReadFrame& read) const;
  const char* refusal(const Candidate& c) const;
  Prediction predicts(const Candidate& from, const Candidate& to, uint8_t nominals, bool ownLength) const;
  double lengthFrom(const Candidate& c, bool ownLength) const;
  uint8_t phaseBit(size_t count) const;
  void confirm(const Candidate& c, bool newCount, uint8_t nominals);
  void reject(const Candidate& c, const char* why);
  bool startsCount(Candidate& c);
  void expirePending(double now);
  void noteSignal(double from, double to);
  void noteStretch(double until, bool atEnd);
  void classifyBreak(const Candidate& c, uint64_t slots);
  void describeFirst(const FrameRecord& record);
  void checkTimeStamp(const FrameRecord& record);
  void release(std::vector<FrameRecord>& rows, bool all);
  void note(EventType type, uint64_t sample, const FrameRecord* after, const std::string& detail = "",
            uint64_t length = 0);
  void readFlags(FrameRecord& record, uint8_t flagBits, size_t count) const;

  AnalysisSettings settings_;
  ChannelReport report_;
  RateParts parts_;
  std::optional<Candidate> last_;  // the frame confirmed last
  std::deque<Candidate> pending_;  // read, not yet confirmed
  double recentLength_ = 0;        // of frames confirmed one after another
  // Between the last confirmed frame and now: where it ended, and whether
  // and where a signal like LTC was seen since (a frame refused, cells
  // without a frame); before any frame is confirmed, the longest such frame.
  double confirmedEnd_ = 0;
  bool haveConfirmed_ = false;
  bool signalSince_ = false;
  double signalFrom_ = 0;
  double signalEnd_ = 0;
  double signalCovered_ = 0;  // samples of it
  double signalFrameLength_ = 0;
  // Which of bits 27 and 59 changed between the confirmed frames of each
  // count whose rows are held, the last the current count's: the phase
  // bit, which a splice may move.
  std::vector<uint8_t> countPhases_ = {0};
  // The frame before the current count, and before the current part.
  FrameRecord beforeBreak_;
  const FrameRecord* beforePart_ = nullptr;
  // Rows and events waiting for the phase bit and the first rate, or for a
  // new count's rate (this many frames more).
  std::vector<HeldRow> held_;
  std::vector<Event> heldEvents_;
  int holdFrames_ = 0;
  bool described_ = false;
  bool timeStampSeen_ = false;
  bool timeStampOff_ = false;
  uint64_t rising_ = 0, falling_ = 0;
  std::vector<Event> fresh_;  // given, not yet taken
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_LTC_ANALYSIS_H_
