#ifndef STAMPLINE_DECODE_EDGE_FINDER_H_
#define STAMPLINE_DECODE_EDGE_FINDER_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <array>
#include <span>
#include <vector>

#include "decode/edge.h"
#include "decode/edge_rebuilder.h"

namespace stampline {

// Finds every polarity reversal of one channel, whatever its level, offset
// or polarity.
//
// The two levels the signal moves between are followed by an envelope: each
// block's middle (its mean) and level (the mean distance from it), taken on
// every few samples and followed from block to block, so that a DC offset,
// a level that changes, or the droop of a high-passed (AC-coupled) signal
// move the midway level with them, and a noise spike moves nothing far. A
// reversal is where the signal crosses that level and then reaches past a
// threshold on the far side (40 % of the level beyond it) before it
// crosses back: a noise spike that crosses and returns is no reversal. A
// level below 1/4096 of full scale is silence.
//
// The crossings are found a 64-sample stretch at a time from one comparison
// of every sample (stretch_bits.h: on x86 with AVX2 sixteen 16-bit samples
// or eight 32-bit or float ones at once, with SSE2 eight 16-bit ones, one by
// one elsewhere); only the samples around each crossing are looked at one
// by one. Each block is judged by the envelope of the blocks before it
// (the first, and one after silence, by its own).
// A buffer of results that a copy of its owner does not take along: a
// copy is a state to read on from, with room of its own.
template <typename T>
struct Scratch {
  std::vector<T> items;
  Scratch() = default;
  Scratch(const Scratch&) {}
  Scratch(Scratch&&) noexcept = default;
  Scratch& operator=(const Scratch&) { return *this; }
  Scratch& operator=(Scratch&&) noexcept = default;
  ~Scratch() = default;
};

class EdgeFinder {
 public:
  // How reversals are found: where the signal crosses its middle (a square
  // wave, however noisy, offset or slowed at its edges), where it steps
  // (one that a high-pass has turned into spikes, whose crossings fall
  // anywhere in a cell), or rebuilt (edge_rebuilder.h: one whose phase a
  // camera's input or a codec has rotated).
  enum class Way { kCrossings, kSteps, kRebuilt };

  explicit EdgeFinder(double fullScale);
  // A finder that starts at sample frame `firstSample` of an input it joins
  // part way: the signal there stands where it is, with no reversal before
  // its first sample.
  EdgeFinder(double fullScale, uint64_t firstSample);

  // Scans `frames` samples of one channel, `stride` values apart, which
  // follow those of the last call. Returns the reversals found, valid until
  // the next call.
  std::span<const Edge> scan(const int16_t* samples, size_t stride, size_t frames);
  std::span<const Edge> scan(const int32_t* samples, size_t stride, size_t frames);
  std::span<const Edge> scan(const float* samples, size_t stride, size_t frames);
  // The input has ended. Where the signal started and ends at one of its
  // levels, the first and last cells have no reversal of their own to
  // mark them: reversals just before the first sample (given by the first
  // scan) and just after the last (given here) stand for them.
  std::span<const Edge> finish();

  // The largest finite sample magnitude seen, and how many samples were no
  // number or infinite.
  double peak() const { return peak_; }
  uint64_t nonFinite() const { return nonFinite_; }
  // Counts in nonFinite() only the samples from sample frame `from` to
  // before `until` (where two finders read the same samples).
  void countNonFinite(uint64_t from, uint64_t until) {
    countFrom_ = from;
    countUntil_ = until;
  }
  // The mean time, in samples, a reversal takes from 10 % to 90 % of the
  // swing between the levels on either side, over a sample of reversals;
  // 0 when none could be measured. `window` (samples, the decoder's cell
  // length) keeps the levels within the cells on either side.
  double riseSamples() const { return riseCount_ > 0 ? riseSum_ / static_cast<double>(riseCount_) : 0; }
  void setWindow(double samples) { window_ = samples; }
  // Starts afresh at sample frame `firstSample`, as the constructor does
  // (finding crossings), keeping the memory it has.
  void restartAt(uint64_t firstSample);
  Way way() const { return way_; }
  // The sample frame the next scan starts at.
  uint64_t nextSample() const { return first_; }
  // From the next sample on, finds reversals by crossings or steps.
  void setWay(Way way);
  // From the next sample on, rebuilds them, with half cells of `halfCell`
  // samples to start with.
  void rebuild(double halfCell, int32_t sampleRate, bool bandLimited = false);
  // The half cell the rebuilding follows (0 for the other ways).
  double rebuiltHalfCell() const { return way_ == Way::kRebuilt ? rebuilder_.halfCellLength() : 0; }
  bool rebuiltBandLimited() const { return rebuilder_.bandLimited(); }
  // Whether the last block held a signal, not silence.
  bool hearsSignal() const { return !silent_; }
  // Takes on the peak and the rise times another finder measured on the
  // input before this one's part of it.
  void absorbMeasures(const EdgeFinder& before);

 private:
  template <typename T>
  std::span<const Edge> scanAll(const T* samples, size_t stride, size_t frames);
  template <typename T>
  void scanSteps(const T* samples, size_t stride, size_t frames);
  template <typename T>
  void scanRebuilt(const T* samples, size_t stride, size_t frames);
  template <typename T>
  void measureLevel(const T* samples, size_t stride, size_t frames);
  void step(uint64_t index, double v);
  // `readable`: the sample frames that may be read from the block's first
  // on, `count` and those of the blocks that follow in the same call.
  template <typename T>
  void scanBlock(const T* block, size_t stride, size_t count, size_t readable);
  // Where a block's reading begins, to read it again.
  struct Resume {
    size_t count;
    uint64_t reversals;
    int state;
    bool pending;
    double pendingPosition;
    bool pendingRising;
    uint64_t passOver;
  };
  template <typename T>
  void crossings(const T* block, size_t stride, size_t count, size_t readable, T& highest, T& lowest);
  template <typename T>
  void crossing(const T* block, size_t stride, size_t count, size_t at);
  template <typename T>
  void confirm(const T* block, size_t stride, size_t count, size_t from);
  template <typename T>
  void resumeAfterSilence(const T* block, size_t stride, size_t count);
  template <typename T>
  void measureRise(const T* block, size_t stride, size_t count, size_t at, bool rising);
  template <typename T>
  void updateEnvelope(const T* block, size_t stride, size_t count, T highest, T lowest);
  // The reversals a scan of crossings found. The fast way writes its own
  // without accept(): the last of them is where the signal last reversed.
  std::span<const Edge> crossingsFound() {
    if (count_ > 0) lastReversal_ = edgeSamples(found_.items[count_ - 1].position);
    return {found_.items.data(), count_};
  }
  void accept(double position, bool rising) {
    state_ = rising ? 1 : -1;
    lastReversal_ = position;
    found_.items[count_++] = {edgeUnits(position), rising};
    ++reversals_;
  }

  double fullScale_;
  double high_ = 0;  // the envelope
  double low_ = 0;
  bool haveEnvelope_ = false;
  double mid_ = 0;
  double reach_ = 0;  // how far past the middle a reversal must go
  bool silent_ = true;
  // Where the signal stands: +1 high, -1 low, 0 not yet known; and where
  // it last reversed (in samples).
  int state_ = 0;
  double lastReversal_ = 0;
  // A crossing waiting to reach past the threshold: where, and which way.
  bool pending_ = false;
  double pendingPosition_ = 0;
  bool pendingRising_ = false;
  // A crossing back already judged, at this sample frame: passed over.
  uint64_t passOver_ = UINT64_MAX;
  uint64_t first_ = 0;  // the sample frame of the block's first sample
  double last_ = 0;     // the sample before the block
  bool started_ = false;
  bool joined_ = false;  // started part way through the input
  double peak_ = 0;
  uint64_t nonFinite_ = 0;
  uint64_t countFrom_ = 0;
  uint64_t countUntil_ = UINT64_MAX;
  Scratch<float> finite_;  // a float scan's samples with the unfit as silence
  double window_ = 0;
  double riseSum_ = 0;
  uint64_t riseCount_ = 0;
  uint64_t reversals_ = 0;
  // The reversals of the call: never shrunk, so that it is never cleared.
  Scratch<Edge> found_;
  size_t count_ = 0;

  Way way_ = Way::kCrossings;
  EdgeRebuilder rebuilder_;
  // The steps way: the latest samples (newest at seen_ - 1, modulo their
  // number), the step measure at the last two sample boundaries, the size
  // of recent reversals' steps and of the measure anywhere, and the
  // samples since the last reversal.
  std::array<double, 16> recent_{};
  uint64_t seen_ = 0;
  size_t recentSlot(uint64_t sample) const { return static_cast<size_t>(sample % recent_.size()); }
  double stepBefore_ = 0, stepLast_ = 0;
  double stepTypical_ = 0;
  double stepMean_ = 0;
  uint64_t sinceStep_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_EDGE_FINDER_H_
