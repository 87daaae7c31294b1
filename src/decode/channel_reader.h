#ifndef STAMPLINE_DECODE_CHANNEL_READER_H_
#define STAMPLINE_DECODE_CHANNEL_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/channel_report.h"
#include "decode/edge_finder.h"
#include "decode/ltc_analysis.h"
#include "decode/ltc_decoder.h"

namespace stampline {

// The latest samples a scan has passed over (as floats) while it read no
// frame, so that the half cell's spectral line can be looked for over more
// than one piece: a line that a clipped, phase-turned signal leaves faint
// stands clear only over some 30,000 samples. Its room is taken at the
// first append.
class SampleHistory {
 public:
  static constexpr size_t kLength = (size_t{1} << 15) + 2;
  template <typename T>
  void append(const T* samples, size_t stride, size_t count);
  // The last kLength samples (fewer where fewer came) of those kept and
  // then `count` more, oldest first.
  template <typename T>
  std::vector<float> followedBy(const T* samples, size_t stride, size_t count) const;
  size_t held() const { return held_; }
  void clear() { held_ = 0; }

 private:
  std::vector<float> ring_;  // sample n at n % kLength, the newest at next_ - 1
  size_t next_ = 0;
  size_t held_ = 0;
};

// One channel's way from samples to its report: the edge finder, the
// decoder and the analysis in a row.
//
// A long block can be read in two parts at once (on two threads): the
// first by the reader as it stands, the second by a fresh finder and
// decoder that start a lead before it, long enough to learn the cell and
// find the frames again (half a second: two frames and more at half
// speed). The first part reads on a little past the middle to finish the
// frame it is in; the second part's frames count from the first after
// those. The fresh finder and decoder then read on from there.
class ChannelReader {
 public:
  // Samples are scanned this many sample frames at a time, so that their
  // reversals take little memory (a quarter of a MiB a channel at most):
  // pieces of this length suit it best.
  static constexpr size_t kScanFrames = size_t{1} << 14;

  // `channel` is 1-based; `fullScale` the largest sample value.
  ChannelReader(int channel, double fullScale, const AnalysisSettings& settings);

  // The channel's next samples, `stride` values apart (the file's channel
  // count); T is int16_t, int32_t or float. The frames read whole and valid
  // are appended to `rows`.
  template <typename T>
  void add(const T* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);

  // Whether a block of `frames` sample frames is long enough to be read in
  // two parts.
  bool splits(size_t frames) const { return frames >= 4 * lead_; }
  // Reading such a block in two parts: beginSplit; then the sample frames
  // partRange gives for parts 0 and 1, each part (on a thread of its own if
  // need be) in pieces of any length, in order, with readPiece (part 0
  // appends its rows to `rows`, part 1 none); then endSplit for the rest of
  // the rows.
  struct Range {
    size_t from;   // the part's first sample frame in the block
    size_t count;  // and how many it has
  };
  void beginSplit(size_t frames);
  Range partRange(int part) const;
  template <typename T>
  void readPiece(int part, const T* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);
  void endSplit(std::vector<FrameRecord>& rows);

  // The channel ends after `endSample` samples (`truncated`: cut short).
  void finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample);
  const ChannelReport& report() const { return analysis_.report(); }
  // The events found since the last call, appended to `events`. Frames go
  // to `rows`, and events here, once the analysis has taken them: as they
  // are read, after the first seconds that settle the frame rate (the
  // second part of a block read in two, at endSplit).
  void takeEvents(std::vector<Event>& events) { analysis_.takeEvents(events); }

 private:
  // Samples to frames. The first piece, a piece that read far fewer frames
  // than its length holds, and, after a fifth of a second of a signal
  // without a frame, a piece that read none, are read again the other way
  // (on a copy of the finder and the decoder as they were before it), which
  // is kept where it reads more frames; where neither reads a frame, the
  // next try waits twice as long (five seconds at most), so that a channel
  // without LTC is seldom read twice, once the history below is full (until
  // then every piece is tried, its line looked for over more samples).
  struct Scan {
    Scan(double fullScale, int32_t rate)
        : finder(fullScale), sampleRate(rate), probeAfter(probeSamples(rate)), probeWait(probeAfter) {}
    template <typename T>
    void add(const T* samples, size_t stride, size_t frames, std::vector<ReadFrame>& out);
    template <typename T>
    void addPiece(const T* samples, size_t stride, size_t frames, size_t following, std::vector<ReadFrame>& out);
    void take(std::span<const Edge> edges, std::vector<ReadFrame>& out);
    template <typename T>
    void tryOthers(const T* samples, size_t stride, size_t frames, size_t following, const Scan& before,
                   std::vector<ReadFrame>& out, size_t from, double promised);
    static bool choose(std::vector<ReadFrame>& out, size_t from, const std::vector<ReadFrame>& there, size_t read,
                       double halfFrame);
    static uint64_t probeSamples(int32_t sampleRate) { return static_cast<uint64_t>(std::max(sampleRate, 1)) / 5; }
    EdgeFinder finder;
    LtcDecoder decoder;
    int32_t sampleRate;
    uint64_t probeAfter;
    uint64_t probeWait;       // samples without a frame before the next try
    uint64_t sinceFrame = 0;  // samples since a frame was read, or since the last try
    bool started = false;     // the first piece is read both ways
    bool readBefore = false;  // the piece before gave frames
    Scratch<ReadFrame> tried;
    // (Shared by the copies a piece is read again from, which only read it.)
    std::shared_ptr<SampleHistory> history = std::make_shared<SampleHistory>();
  };
  void analyse(const std::vector<ReadFrame>& frames, std::vector<FrameRecord>& rows);
  size_t middle() const;

  double fullScale_;
  int32_t sampleRate_;
  size_t lead_;            // sample frames the second part starts early
  size_t tail_;            // and the first reads on
  uint64_t samplesRead_ = 0;
  std::unique_ptr<Scan> scan_;
  ChannelAnalysis analysis_;
  std::vector<ReadFrame> frames_;
  // A block in two parts: its length, the last frame the first part read,
  // the second part's scan and frames.
  size_t splitFrames_ = 0;
  bool haveFirstPartFrame_ = false;
  ReadFrame firstPartFrame_;
  std::unique_ptr<Scan> ahead_;
  std::vector<ReadFrame> aheadFrames_;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_CHANNEL_READER_H_
