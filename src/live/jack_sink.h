#ifndef STAMPLINE_LIVE_JACK_SINK_H_
#define STAMPLINE_LIVE_JACK_SINK_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "live/jack_library.h"
#include "live/sample_ring.h"
#include "run/card_sink.h"

namespace stampline {

// A sound card through JACK (or PipeWire's JACK): a client with one output
// port ("ltc") or one a channel ("ltc_1" ...), the LTC on each or on one
// alone. JACK's process callback only copies the samples the run queued
// for the cycle's frames into the LTC ports' buffers (silence where there
// are none, and in the other ports) and passes the cycle's times on; it
// takes no lock, allocates nothing and makes no system call.
class JackSink final : public CardSink {
 public:
  struct Options {
    std::string name = "stampline";
    int32_t channels = 1;
    std::optional<int32_t> timecodeChannel;  // 0-based; none: every channel
    std::vector<std::string> connect;        // the i-th port to the i-th
  };
  // Opens the client and its ports and checks the ports to connect to:
  // null, with the reason, when that failed.
  static std::unique_ptr<JackSink> open(const Options& options, std::string& why);
  ~JackSink() override;
  JackSink(const JackSink&) = delete;
  JackSink& operator=(const JackSink&) = delete;

  uint32_t sampleRate() const override { return sampleRate_.load(); }
  uint32_t period() const override { return period_.load(); }
  std::vector<std::string> portNames() const override;
  bool start(std::string& why) override;
  void stop() override;
  size_t takeCycles(std::span<CardCycle> out) override;
  uint64_t clockMicros() override { return jack_.time(); }
  double latency() override;
  CardNews news() override;
  void wait(std::chrono::nanoseconds most) override;
  uint64_t takenTo() const override { return ring_.readTo(); }
  uint64_t queuedTo() const override { return ring_.end(); }
  size_t room() const override { return ring_.room(); }
  void queue(uint64_t at, const float* samples, size_t count) override;

 private:
  JackSink(const JackLibrary& jack, Options options, JackLibrary::Client* client, uint32_t rate);
  bool registerPorts(std::string& why);
  int process(uint32_t frames);
  void bufferSizeChanged(uint32_t frames);

  JackLibrary jack_;
  Options options_;
  JackLibrary::Client* client_ = nullptr;
  std::vector<JackLibrary::Port*> ports_;
  std::vector<bool> carries_;  // the LTC on this port
  bool active_ = false;
  SampleRing ring_;
  RecordQueue<CardCycle, 1024> cycles_;
  // The callback's own: the frames played, which the ring and the cycles
  // given to the lock count: JACK's 32-bit count extended to 64 bits, less
  // shift_, which a change of buffer size moves.
  uint64_t frame64_ = 0;
  uint64_t shift_ = 0;
  uint32_t lastFrames_ = 0;
  bool counting_ = false;
  // From JACK's threads to the run.
  std::atomic<uint32_t> sampleRate_{0};
  std::atomic<uint32_t> period_{0};
  std::atomic<uint64_t> xruns_{0};
  std::atomic<uint64_t> missing_{0};
  std::atomic<uint64_t> longestCycle_{0};  // nanoseconds
  std::atomic<bool> gone_{false};
  std::atomic<bool> rateChanged_{false};
  std::atomic<bool> periodChanged_{false};
  std::string goneWhy_;  // written before gone_ is set
  std::mutex wakeLock_;  // the run woken early, from JACK's notification thread
  std::condition_variable wake_;
  bool wakeNow_ = false;
  uint32_t startRate_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_LIVE_JACK_SINK_H_
