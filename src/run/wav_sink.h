#ifndef STAMPLINE_RUN_WAV_SINK_H_
#define STAMPLINE_RUN_WAV_SINK_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/sample_sink.h"
#include "wav/output_file.h"
#include "wav/wav_header.h"
#include "wav/wav_writer.h"

namespace stampline {

// Where a run writes its WAV file: a path, or standard output as a stream.
struct WavOutput {
  std::string path = "output.wav";
  bool standardOutput = false;
};

// A WAV file or stream as a run's sink: the file layer's writer over the
// system's file, so that every rule of a written file holds (a header true
// at every moment, whole frames after a failure or a stop).
class WavSink final : public SampleSink {
 public:
  // `wholeFrames(n)`: the most data of whole frames in n bytes.
  WavSink(WavLayout layout, uint64_t plannedDataBytes, uint64_t riffLimit,
          std::function<uint64_t(uint64_t)> wholeFrames);

  // Creates the file, or takes standard output: kFailed for "Error opening
  // file", kStopped when a stop came while opening waited (a FIFO).
  IoResult open(const WavOutput& output, StopFlag stop);
  // Or writes to `file`, already open (tests).
  void use(std::unique_ptr<OutputFile> file);
  bool seekable() const { return file_->seekable(); }
  // The chunks after the data, known once the data is (see WavWriter).
  void setChunksAfter(std::vector<WavChunk> chunks) { writer_->setChunksAfter(std::move(chunks)); }

  IoResult begin(StopFlag stop) override { return writer_->begin(stop); }
  IoResult append(std::span<const uint8_t> block, StopFlag stop, Clock::time_point now) override {
    return writer_->append(block.data(), block.size(), stop, now);
  }
  bool finish() override { return writer_->finish(); }
  uint64_t cut() override { return writer_->cut(); }
  bool close() override { return file_->close(); }
  bool readerGone() const override { return standardOutput_ && stampline::readerGone(file_->lastError()); }
  std::string failure() const override { return "Error writing file"; }

 private:
  WavLayout layout_;
  uint64_t planned_;
  uint64_t riffLimit_;
  std::function<uint64_t(uint64_t)> wholeFrames_;
  bool standardOutput_ = false;
  std::unique_ptr<OutputFile> file_;
  std::optional<WavWriter> writer_;
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_WAV_SINK_H_
