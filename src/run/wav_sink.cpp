#include "run/wav_sink.h"

#include <utility>

namespace stampline {

WavSink::WavSink(WavLayout layout, uint64_t plannedDataBytes, uint64_t riffLimit,
                 std::function<uint64_t(uint64_t)> wholeFrames)
    : layout_(std::move(layout)),
      planned_(plannedDataBytes),
      riffLimit_(riffLimit),
      wholeFrames_(std::move(wholeFrames)) {}

IoResult WavSink::open(const WavOutput& output, StopFlag stop) {
  std::unique_ptr<OutputFile> file;
  const IoResult opened = output.standardOutput ? openStandardOutput(file) : openOutputFile(output.path, stop, file);
  if (opened != IoResult::kDone) return opened;
  standardOutput_ = output.standardOutput;
  use(std::move(file));
  return IoResult::kDone;
}

void WavSink::use(std::unique_ptr<OutputFile> file) {
  file_ = std::move(file);
  writer_.emplace(*file_, layout_, planned_, riffLimit_, wholeFrames_);
}

}  // namespace stampline
