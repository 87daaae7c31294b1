#ifndef STAMPLINE_TESTS_LTC_SIGNAL_H_
#define STAMPLINE_TESTS_LTC_SIGNAL_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/channel_report.h"
#include "timecode/frame_rate.h"
#include "timecode/frame_schedule.h"
#include "timecode/user_bits.h"

namespace stampline::testing {

// The generator as the signal source: `frames` frames of LTC, one channel
// of 16-bit samples, rendered in memory as a run renders them.
struct TestSignal {
  FrameRate rate = kRate2997;
  int32_t sampleRate = 48000;
  bool dropFrame = false;
  TimecodeWord start = 0x00000001;  // 01:00:00:00
  uint64_t frames = 150;
  bool clean = false;
  double volume = 0.5;
  UserBits userBits;
  FrameSchedule schedule() const { return FrameSchedule(rate, sampleRate, start, dropFrame); }
};
std::vector<int16_t> renderLtc(const TestSignal& signal);

// What our reader makes of a channel of 16-bit or float samples: read in
// pieces of odd sizes, as reads of a file deliver them, or with `inParts`
// in blocks of `inParts` samples, each read in two parts.
struct ReadBack {
  std::vector<FrameRecord> rows;
  ChannelReport report;
};
template <typename T>
ReadBack readLtc(const std::vector<T>& samples, int32_t sampleRate,
                 std::optional<FrameRate> stated = std::nullopt,
                 std::optional<uint64_t> timeReference = std::nullopt, size_t inParts = 0);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_LTC_SIGNAL_H_
