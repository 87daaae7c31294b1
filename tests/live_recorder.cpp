// Records a JACK port for the live tests, as a sound card's input would,
// independently of the program under test: the samples, every cycle's first
// frame and start on JACK's clock, and paired readings of JACK's clock and
// the wall clock, so that the test can map every sample to the wall clock
// itself; and when JACK reported each xrun, on its clock.
//
// usage: live_recorder SOURCE_PORT SECONDS SAMPLES.f32 TIMES.txt
#include <jack/jack.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct Recorder {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<float> samples;
  struct Cycle {
    uint64_t frame;
    jack_time_t usecs;
    uint32_t frames;
  };
  std::vector<Cycle> cycles;
  std::atomic<size_t> used{0};
  std::atomic<size_t> cyclesUsed{0};
  std::array<jack_time_t, 1024> xruns{};
  std::atomic<size_t> xrunsUsed{0};
};

int xrun(void* arg) {
  auto* r = static_cast<Recorder*>(arg);
  const size_t n = r->xrunsUsed.load();
  if (n < r->xruns.size()) {
    r->xruns[n] = jack_get_time();
    r->xrunsUsed.store(n + 1);
  }
  return 0;
}

int process(jack_nframes_t frames, void* arg) {
  auto* r = static_cast<Recorder*>(arg);
  jack_nframes_t first = 0;
  jack_time_t start = 0, next = 0;
  float period = 0;
  jack_get_cycle_times(r->client, &first, &start, &next, &period);
  const size_t used = r->used.load();
  const size_t c = r->cyclesUsed.load();
  if (used + frames > r->samples.size() || c >= r->cycles.size()) return 0;
  const auto* in = static_cast<const float*>(jack_port_get_buffer(r->port, frames));
  for (jack_nframes_t i = 0; i < frames; ++i) r->samples[used + i] = in[i];
  r->cycles[c] = {first, start, frames};
  r->cyclesUsed.store(c + 1);
  r->used.store(used + frames);
  return 0;
}

int64_t wallNanos() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: live_recorder SOURCE_PORT SECONDS SAMPLES.f32 TIMES.txt\n", stderr);
    return 2;
  }
  Recorder r;
  const double seconds = std::atof(argv[2]);
  r.client = jack_client_open("live_recorder", JackNoStartServer, nullptr);
  if (r.client == nullptr) return 1;
  const jack_nframes_t rate = jack_get_sample_rate(r.client);
  r.samples.resize(static_cast<size_t>(seconds * rate) + 16384);
  r.cycles.resize(r.samples.size() / 16 + 16);
  r.port = jack_port_register(r.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(r.client, process, &r);
  jack_set_xrun_callback(r.client, xrun, &r);
  if (jack_activate(r.client) != 0) return 1;
  // The port to record may still be on its way: tried for five seconds.
  const auto connectBy = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (jack_connect(r.client, argv[1], jack_port_name(r.port)) != 0) {
    if (std::chrono::steady_clock::now() > connectBy) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::FILE* times = std::fopen(argv[4], "w");
  std::fprintf(times, "rate %u\n", rate);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const int64_t before = wallNanos();
    const jack_time_t micros = jack_get_time();
    const int64_t after = wallNanos();
    if (after - before < 20000) std::fprintf(times, "pair %llu %lld\n", static_cast<unsigned long long>(micros), static_cast<long long>((before + after) / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  jack_deactivate(r.client);
  jack_client_close(r.client);
  for (size_t c = 0; c < r.cyclesUsed.load(); ++c) {
    std::fprintf(times, "cycle %llu %llu %u\n", static_cast<unsigned long long>(r.cycles[c].frame),
                 static_cast<unsigned long long>(r.cycles[c].usecs), r.cycles[c].frames);
  }
  for (size_t x = 0; x < r.xrunsUsed.load(); ++x) {
    std::fprintf(times, "xrun %llu\n", static_cast<unsigned long long>(r.xruns[x]));
  }
  std::fclose(times);
  std::FILE* out = std::fopen(argv[3], "wb");
  std::fwrite(r.samples.data(), sizeof(float), r.used.load(), out);
  std::fclose(out);
  return 0;
}
