#ifndef STAMPLINE_LIVE_SAMPLE_RING_H_
#define STAMPLINE_LIVE_SAMPLE_RING_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace stampline {

// Samples for a sound card, by the card's sample frame: a run writes them
// ahead, the real-time callback reads them as the card takes them. One
// writer and one reader, no locks, no allocation after construction.
class SampleRing {
 public:
  // `capacity`: a power of two.
  explicit SampleRing(size_t capacity) : samples_(capacity) {}

  // The writer's side. Where the next sample written goes, how far the
  // reader has taken, and how many samples may be written now.
  uint64_t end() const { return end_.load(std::memory_order_relaxed); }
  uint64_t readTo() const { return read_.load(std::memory_order_acquire); }
  size_t room() const {
    const uint64_t taken = readTo();
    const uint64_t written = end();
    return written < taken ? samples_.size() : samples_.size() - static_cast<size_t>(written - taken);
  }
  // The next samples go to card frame `at` (silence before it).
  void restart(uint64_t at) {
    start_.store(at, std::memory_order_release);
    end_.store(at, std::memory_order_release);
  }
  // Appends `count` samples (at most room()).
  void write(const float* samples, size_t count) {
    const uint64_t at = end();
    const size_t mask = samples_.size() - 1;
    for (size_t i = 0; i < count; ++i) samples_[static_cast<size_t>((at + i) & mask)] = samples[i];
    end_.store(at + count, std::memory_order_release);
  }

  // The reader's side (real time): card frames `first` on into `out`, a
  // frame not written as silence; returns how many were missing (past the
  // first written: the writer fell behind).
  size_t read(uint64_t first, float* out, size_t count) {
    const uint64_t last = end_.load(std::memory_order_acquire);
    const uint64_t written = start_.load(std::memory_order_acquire);
    const uint64_t start = std::max(written, last > samples_.size() ? last - samples_.size() : 0);
    const size_t mask = samples_.size() - 1;
    size_t missing = 0;
    for (size_t i = 0; i < count; ++i) {
      const uint64_t frame = first + i;
      const bool there = frame >= start && frame < last;
      out[i] = there ? samples_[static_cast<size_t>(frame & mask)] : 0.0F;
      missing += !there && frame >= last && written != UINT64_MAX ? 1 : 0;
    }
    read_.store(first + count, std::memory_order_release);
    return missing;
  }

 private:
  std::vector<float> samples_;
  std::atomic<uint64_t> start_{UINT64_MAX};  // nothing written yet
  std::atomic<uint64_t> end_{0};
  std::atomic<uint64_t> read_{0};
};

// Fixed-size records from the real-time callback to the run, dropped when
// the run has not taken them in time. One writer, one reader, no locks.
template <typename T, size_t N>
class RecordQueue {
 public:
  void push(const T& record) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= N) return;
    records_[head % N] = record;
    head_.store(head + 1, std::memory_order_release);
  }
  bool pop(T& record) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head_.load(std::memory_order_acquire)) return false;
    record = records_[tail % N];
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

 private:
  T records_[N] = {};
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};
};

}  // namespace stampline

#endif  // STAMPLINE_LIVE_SAMPLE_RING_H_
