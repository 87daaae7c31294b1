#include "live/jack_sink.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/process.h"

namespace stampline {
namespace {

// The most a change of buffer size waits for the run to queue ahead.
constexpr auto kMostWaitForRun = std::chrono::milliseconds(50);

// What JACK says while a client opens and connects, kept to go with our
// own message rather than printed as it comes.
std::mutex messagesLock;
std::string messages;

void keepMessage(const char* text) {
  const std::unique_lock<std::mutex> hold(messagesLock, std::try_to_lock);
  if (!hold.owns_lock() || messages.size() > 4096) return;
  if (!messages.empty()) messages += "; ";
  messages += text;
}

std::string takeMessages() {
  const std::lock_guard<std::mutex> hold(messagesLock);
  std::string taken;
  taken.swap(messages);
  return taken;
}

// JACK's words after ours, where it said any.
std::string withJack(const std::string& ours) {
  const std::string said = takeMessages();
  return said.empty() ? ours : ours + " (JACK: " + said + ")";
}

// Whether a server runs that refused `name` (asked for exactly) because a
// client has it: JACK 2 says so only in words, with a server failure.
bool nameTaken(const JackLibrary& jack, const std::string& name) {
  const std::string said = takeMessages();
  int status = 0;
  JackLibrary::Client* other = jack.clientOpen(name.c_str(), JackLibrary::kNoStartServer, &status);
  takeMessages();
  {
    const std::lock_guard<std::mutex> hold(messagesLock);
    messages = said.substr(0, said.find(';'));  // JACK's first words are the reason
  }
  if (other == nullptr) return false;
  jack.clientClose(other);
  return true;
}

}  // namespace

JackSink::JackSink(const JackLibrary& jack, Options options, JackLibrary::Client* client, uint32_t rate)
    : jack_(jack),
      options_(std::move(options)),
      client_(client),
      ring_(std::bit_ceil(std::max<size_t>(rate, 65536))),
      sampleRate_(rate),
      startRate_(rate) {}

std::unique_ptr<JackSink> JackSink::open(const Options& options, std::string& why) {
  JackLibrary jack{};
  if (!loadJackLibrary(jack, why)) return nullptr;
  jack.setErrorFunction(keepMessage);
  jack.setInfoFunction(keepMessage);
  takeMessages();
  int status = 0;
  JackLibrary::Client* client =
      jack.clientOpen(options.name.c_str(), JackLibrary::kNoStartServer | JackLibrary::kUseExactName, &status);
  if (client == nullptr) {
    if ((status & JackLibrary::kNameNotUnique) != 0 || nameTaken(jack, options.name)) {
      why = withJack("the JACK client name '" + options.name + "' is taken; give another with --name");
    } else if ((status & JackLibrary::kServerFailed) != 0) {
      takeMessages();
      why = "no JACK server is running: start one (jackd -d alsa, or jackd -d dummy -r 48000 to try it "
            "without a sound card), or run stampline under PipeWire's JACK with pw-jack";
    } else {
      why = withJack("JACK refused the client (status 0x" + std::to_string(status) + ")");
    }
    return nullptr;
  }
  // JACK's threads leave the stop signals to the main thread (one cut short
  // in the middle of a cycle leaves the server waiting for it).
  jack.setThreadInit(client, [](void*) { leaveStopsToMainThread(); }, nullptr);
  std::unique_ptr<JackSink> sink(new JackSink(jack, options, client, jack.sampleRate(client)));
  if (!sink->registerPorts(why)) return nullptr;
  return sink;
}

bool JackSink::registerPorts(std::string& why) {
  const int32_t channels = std::max(options_.channels, 1);
  for (int32_t c = 0; c < channels; ++c) {
    const std::string name = channels == 1 ? "ltc" : "ltc_" + std::to_string(c + 1);
    JackLibrary::Port* port = jack_.portRegister(client_, name.c_str(), JackLibrary::kAudioType,
                                                 JackLibrary::kPortIsOutput, 0);
    if (port == nullptr) {
      why = withJack("JACK refused the port " + name);
      return false;
    }
    // (JACK keeps a copy of the name.)
    // cppcheck-suppress danglingLifetime
    ports_.push_back(port);
    carries_.push_back(!options_.timecodeChannel || *options_.timecodeChannel == c);
  }
  for (const std::string& target : options_.connect) {
    JackLibrary::Port* port = jack_.portByName(client_, target.c_str());
    if (port == nullptr || (static_cast<unsigned long>(jack_.portFlags(port)) & JackLibrary::kPortIsInput) == 0) {
      why = port == nullptr ? "JACK has no port '" + target + "' (jack_lsp lists them)"
                            : "the JACK port '" + target + "' takes no input";
      takeMessages();
      return false;
    }
  }
  period_ = jack_.bufferSize(client_);
  jack_.setProcess(client_, [](uint32_t frames, void* self) { return static_cast<JackSink*>(self)->process(frames); },
                   this);
  jack_.setXrun(client_, [](void* self) {
    static_cast<JackSink*>(self)->xruns_.fetch_add(1);
    return 0;
  }, this);
  jack_.setBufferSize(client_, [](uint32_t frames, void* self) {
    static_cast<JackSink*>(self)->bufferSizeChanged(frames);
    return 0;
  }, this);
  jack_.setSampleRate(client_, [](uint32_t rate, void* self) {
    auto* sink = static_cast<JackSink*>(self);
    if (rate != sink->startRate_) {
      sink->sampleRate_ = rate;
      sink->rateChanged_ = true;
    }
    return 0;
  }, this);
  jack_.onInfoShutdown(client_, [](int, const char* reason, void* self) {
    auto* sink = static_cast<JackSink*>(self);
    sink->goneWhy_ = reason != nullptr ? reason : "";
    sink->gone_ = true;
  }, this);
  return true;
}

JackSink::~JackSink() {
  stop();
  if (client_ != nullptr && !gone_) jack_.clientClose(client_);
}

std::vector<std::string> JackSink::portNames() const {
  std::vector<std::string> names;
  for (JackLibrary::Port* port : ports_) names.emplace_back(jack_.portName(port));
  return names;
}

bool JackSink::start(std::string& why) {
  takeMessages();
  if (jack_.activate(client_) != 0) {
    why = withJack("JACK would not start the client");
    return false;
  }
  active_ = true;
  for (size_t i = 0; i < options_.connect.size() && i < ports_.size(); ++i) {
    const std::string& target = options_.connect[i];
    if (jack_.connect(client_, jack_.portName(ports_[i]), target.c_str()) != 0) {
      why = withJack(std::string("JACK would not connect ") + jack_.portName(ports_[i]) + " to " + target);
      return false;
    }
  }
  return true;
}

void JackSink::stop() {
  if (active_ && !gone_) jack_.deactivate(client_);
  active_ = false;
}

size_t JackSink::takeCycles(std::span<CardCycle> out) {
  size_t taken = 0;
  while (taken < out.size() && cycles_.pop(out[taken])) ++taken;
  return taken;
}

double JackSink::latency() {
  uint32_t largest = 0;
  for (JackLibrary::Port* port : ports_) {
    JackLibrary::LatencyRange range{0, 0};
    jack_.portLatency(port, JackLibrary::kPlaybackLatency, &range);
    largest = std::max(largest, range.max);
  }
  return largest;
}

CardNews JackSink::news() {
  CardNews n;
  n.xruns = xruns_.exchange(0);
  n.missingSamples = missing_.exchange(0);
  n.longestCycleNanos = longestCycle_.load(std::memory_order_relaxed);
  n.gone = gone_.load();
  if (n.gone) n.why = goneWhy_;
  if (rateChanged_.exchange(false)) n.sampleRate = sampleRate_;
  if (periodChanged_.exchange(false)) n.period = period_;
  return n;
}

void JackSink::wait(std::chrono::nanoseconds most) {
  std::unique_lock<std::mutex> hold(wakeLock_);
  wake_.wait_for(hold, most, [this] { return wakeNow_; });
  wakeNow_ = false;
}

// JACK's notification thread, before the first cycle of the new size.
void JackSink::bufferSizeChanged(uint32_t frames) {
  const uint32_t was = period_.exchange(frames);
  periodChanged_ = true;
  {
    const std::lock_guard<std::mutex> hold(wakeLock_);
    wakeNow_ = true;
  }
  wake_.notify_one();
  // A longer period takes more at once than the run had queued ahead. JACK
  // waits for this answer before it plays on (its card stopped meanwhile):
  // the run, woken, gets a moment to queue two of the new periods first.
  if (frames <= was || ring_.end() == 0) return;
  const auto until = std::chrono::steady_clock::now() + kMostWaitForRun;
  while (ring_.end() < ring_.readTo() + 2 * uint64_t{frames} && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void JackSink::queue(uint64_t at, const float* samples, size_t count) {
  if (at != ring_.end()) ring_.restart(at);
  ring_.write(samples, count);
}

// The real-time callback.
int JackSink::process(uint32_t frames) {
  // (The steady clock is read without a system call, from the vDSO.)
  const auto began = std::chrono::steady_clock::now();
  uint32_t first = 0;
  uint64_t startMicros = 0;
  uint64_t nextMicros = 0;
  float periodMicros = 0;
  jack_.cycleTimes(client_, &first, &startMicros, &nextMicros, &periodMicros);
  // JACK counts in 32 bits (a day and a bit at 48 kHz); frames only go on.
  const uint64_t before = frame64_ + shift_;
  const uint64_t jack = counting_ ? before + static_cast<uint32_t>(first - static_cast<uint32_t>(before)) : first;
  // At the first cycle of a new buffer size JACK's count moves on by the
  // new size where the card played the old: the frames played go on from
  // the last cycle's end, so that the output and the lock see no jump.
  if (counting_ && frames != lastFrames_) shift_ += jack - (before + lastFrames_);
  frame64_ = jack - shift_;
  lastFrames_ = frames;
  counting_ = true;
  cycles_.push({frame64_, startMicros, frames});
  float* ltc = nullptr;
  for (size_t i = 0; i < ports_.size(); ++i) {
    auto* buffer = static_cast<float*>(jack_.portBuffer(ports_[i], frames));
    if (!carries_[i]) {
      std::memset(buffer, 0, frames * sizeof(float));
    } else if (ltc == nullptr) {
      ltc = buffer;
      missing_.fetch_add(ring_.read(frame64_, buffer, frames), std::memory_order_relaxed);
    } else {
      std::memcpy(buffer, ltc, frames * sizeof(float));
    }
  }
  const auto took = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began).count());
  if (took > longestCycle_.load(std::memory_order_relaxed)) longestCycle_.store(took, std::memory_order_relaxed);
  return 0;
}

}  // namespace stampline
