// Frames per second and bytes per second that LtcEncoder::render produces
// when called as the generation run calls it: one frame per call.
#include <benchmark/benchmark.h>

#include <vector>

#include "synth/ltc_encoder.h"

namespace stampline {
namespace {

void BM_RenderFrame(benchmark::State& state) {
  const auto sampleRate = static_cast<int32_t>(state.range(0));
  const auto fps = static_cast<int32_t>(state.range(1));
  const auto channels = static_cast<int32_t>(state.range(2));
  LtcEncoder encoder;
  const auto whole = static_cast<uint32_t>(fps);
  encoder.setup(0x00000001, sampleRate, channels, {whole, 1, whole}, false, 0.5, false, 1);
  const auto samplesPerFrame = encoder.schedule().frameLength(0);
  const auto valuesPerFrame = static_cast<uint32_t>(samplesPerFrame * static_cast<uint64_t>(channels));
  std::vector<int16_t> buffer(static_cast<size_t>(sampleRate * channels));
  uint64_t position = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(encoder.render(buffer.data(), position, valuesPerFrame));
    benchmark::ClobberMemory();
    position += samplesPerFrame;
  }
  const auto frames = static_cast<double>(state.iterations());
  state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(valuesPerFrame) * 2);
}

BENCHMARK(BM_RenderFrame)
    ->ArgNames({"rate", "fps", "channels"})
    ->ArgsProduct({{22050, 44100, 48000}, {25, 30}, {1, 2}});

}  // namespace
}  // namespace stampline
