#ifndef STAMPLINE_RUN_CARD_SINK_H_
#define STAMPLINE_RUN_CARD_SINK_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stampline {

// A cycle of the card: its first sample frame (counted from the card's
// start), when it started on the card system's microsecond clock, and how
// many sample frames it took.
struct CardCycle {
  uint64_t firstFrame = 0;
  uint64_t startMicros = 0;
  uint32_t frames = 0;
};

// What happened to the card since the run last asked.
struct CardNews {
  uint64_t xruns = 0;           // cycles lost (the callback came late)
  bool gone = false;            // the server went away, with its reason
  std::string why;
  uint32_t sampleRate = 0;      // the server's new rate where it changed
  uint32_t period = 0;          // its new buffer size where it changed
  uint64_t missingSamples = 0;  // samples the card took before they were written
  uint64_t longestCycleNanos = 0;  // the longest the card's callback took, so far
};

// Where a live run's samples go: a sound card (through JACK), or a
// simulated one. The run places samples by the card's sample frames, ahead
// of the card, from what the card's clock says; a file goes through
// SampleSink instead, as a stream of whole frames.
class CardSink {
 public:
  virtual ~CardSink() = default;

  virtual uint32_t sampleRate() const = 0;
  virtual uint32_t period() const = 0;
  // The output's ports, as they are named to connect them.
  virtual std::vector<std::string> portNames() const = 0;
  // Starts the card taking samples (and connects the ports asked for):
  // false, with the reason, when it could not.
  virtual bool start(std::string& why) = 0;
  // Stops it; the samples not taken are dropped.
  virtual void stop() = 0;

  // The cycles since the last call, oldest first (at most out.size()).
  virtual size_t takeCycles(std::span<CardCycle> out) = 0;
  // The card system's microsecond clock now.
  virtual uint64_t clockMicros() = 0;
  // Sample frames from where a sample is queued to where it leaves (the
  // largest of the ports').
  virtual double latency() = 0;
  virtual CardNews news() = 0;
  // Waits `most`, or less where the card wants samples sooner (its buffer
  // size grew).
  virtual void wait(std::chrono::nanoseconds most) = 0;

  // The first sample frame the card has not taken yet; the frame the next
  // queued sample goes to; and how many may be queued now.
  virtual uint64_t takenTo() const = 0;
  virtual uint64_t queuedTo() const = 0;
  virtual size_t room() const = 0;
  // Queues `count` samples from frame `at` for every port that carries LTC
  // (the others stay silent): right after those queued, or elsewhere, which
  // drops the samples not yet taken (silence until `at`).
  virtual void queue(uint64_t at, const float* samples, size_t count) = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_CARD_SINK_H_
