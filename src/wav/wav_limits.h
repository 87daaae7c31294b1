#ifndef STAMPLINE_WAV_WAV_LIMITS_H_
#define STAMPLINE_WAV_WAV_LIMITS_H_

#include <cstdint>
#include <string>

#include "wav/sample_format.h"

namespace stampline {

// What Stampline writes and reads, in one place: the options, --mix and the
// reader all ask here.

// Sample rates: files are written at 16 to 384 kHz, and read from 8 kHz
// (telephone and low-rate recordings carry LTC too).
inline constexpr int32_t kLowestWrittenRate = 16000;
inline constexpr int32_t kLowestReadRate = 8000;
inline constexpr int32_t kHighestRate = 384000;
// Channels, written and read.
inline constexpr int32_t kMostChannels = 64;

// The sample formats a file is written in: 16, 24 or 32-bit PCM or 32-bit
// float. (8-bit PCM and 64-bit float are read only.)
inline bool writtenFormat(SampleFormat f) { return f == kPcm16 || f == kPcm24 || f == kPcm32 || f == kFloat32; }

// "the output takes 16000 to 384000", for messages.
inline std::string writtenRates() {
  return std::to_string(kLowestWrittenRate) + " to " + std::to_string(kHighestRate);
}

// A data length no file can have (a ds64 of 2^63 bytes or more, as a
// writer to a pipe may leave it): a run takes the data as far as it goes.
inline constexpr uint64_t kImpossibleDataBytes = uint64_t{1} << 63;

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_LIMITS_H_
