#ifndef STAMPLINE_DECODE_CHANNEL_READER_H_
#define STAMPLINE_DECODE_CHANNEL_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/channel_report.h"
#include "decode/edge_finder.h"
#include "decode/ltc_analysis.h"
#include "decode/ltc_decoder.h"

namespace stampline {

// One channel's way from samples to its report: the edge finder, the
// decoder and the analysis in a row.
class ChannelReader {
 public:
  // `channel` is 1-based; `fullScale` the largest sample value.
  ChannelReader(int channel, double fullScale, const AnalysisSettings& settings);

  // The channel's next samples, `stride` values apart (the file's channel
  // count). The frames read whole and valid are appended to `rows`.
  void add(const int16_t* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);
  void add(const int32_t* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);
  void add(const float* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);
  // The channel ends after `endSample` samples (`truncated`: cut short).
  void finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample);
  const ChannelReport& report() const { return analysis_.report(); }

 private:
  template <typename T>
  void addAll(const T* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows);
  void take(std::span<const Edge> edges, std::vector<FrameRecord>& rows);

  double fullScale_;
  EdgeFinder finder_;
  LtcDecoder decoder_;
  ChannelAnalysis analysis_;
  std::vector<ReadFrame> frames_;
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_CHANNEL_READER_H_
