// Bytes per second the block renderer produces as a run uses it: blocks of
// about 256 KiB, each rendered over the one before, one frame rate, sample
// rate and channel count per case; nothing is written anywhere.
#include <benchmark/benchmark.h>

#include "run/signal.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"

namespace stampline {
namespace {

void BM_RenderBlocks(benchmark::State& state) {
  const auto sampleRate = static_cast<int32_t>(state.range(0));
  const auto whole = static_cast<uint32_t>(state.range(1));
  EncoderConfig config;
  config.channels = static_cast<int32_t>(state.range(2));
  config.coding = outputCoding(kPcm16);
  const FrameSchedule schedule({whole, 1, whole}, sampleRate, 0x00000001, false);
  const uint64_t hour = uint64_t{whole} * 3600;
  LtcEncoder encoder(schedule, config);
  auto blocks = std::make_unique<BlockRenderer>(encoder, hour, uint64_t{256} << 10);
  int64_t bytes = 0;
  for (auto _ : state) {
    if (blocks->done()) blocks = std::make_unique<BlockRenderer>(encoder, hour, uint64_t{256} << 10);
    const auto block = blocks->next();
    benchmark::DoNotOptimize(block.data());
    bytes += static_cast<int64_t>(block.size());
  }
  state.SetBytesProcessed(bytes);
}

BENCHMARK(BM_RenderBlocks)
    ->ArgNames({"rate", "fps", "channels"})
    ->ArgsProduct({{22050, 44100, 48000}, {25, 30}, {1, 2}});

}  // namespace
}  // namespace stampline
