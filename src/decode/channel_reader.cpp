#include "decode/channel_reader.h"

#include <algorithm>

namespace stampline {
namespace {

// Samples are scanned this many sample frames at a time, so that their
// reversals take little memory (a quarter of a MiB a channel at most).
constexpr size_t kScanFrames = size_t{1} << 14;

}  // namespace

ChannelReader::ChannelReader(int channel, double fullScale, const AnalysisSettings& settings)
    : fullScale_(fullScale), finder_(fullScale), analysis_(channel, settings) {}

void ChannelReader::add(const int16_t* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows) {
  addAll(samples, stride, frames, rows);
}
void ChannelReader::add(const int32_t* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows) {
  addAll(samples, stride, frames, rows);
}
void ChannelReader::add(const float* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows) {
  addAll(samples, stride, frames, rows);
}

template <typename T>
void ChannelReader::addAll(const T* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows) {
  for (size_t done = 0; done < frames; done += kScanFrames) {
    const size_t count = std::min(kScanFrames, frames - done);
    take(finder_.scan(samples + done * stride, stride, count), rows);
  }
}

void ChannelReader::take(std::span<const Edge> edges, std::vector<FrameRecord>& rows) {
  frames_.clear();
  decoder_.add(edges, frames_);
  for (const ReadFrame& frame : frames_) analysis_.add(frame, rows);
  finder_.setWindow(decoder_.cellLength());
}

void ChannelReader::finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample) {
  take(finder_.finish(), rows);
  analysis_.finish(rows, truncated, endSample, finder_.peak(), fullScale_, finder_.riseSamples());
}

}  // namespace stampline
