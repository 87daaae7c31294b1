#ifndef STAMPLINE_WAV_WAV_WRITER_H_
#define STAMPLINE_WAV_WAV_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace stampline {

// The output is 16-bit PCM. A RIFF/WAVE file describes its sizes in 32-bit
// fields, so up to kMaxRiffDataBytes of samples it is the classic 44-byte
// header:
//   0  4  "RIFF"          4  4  RIFF size: 0, patched to dataBytes + 36
//   8  8  "WAVEfmt "     16  4  16 (format chunk size)
//  20  2  1 (PCM)        22  2  channels
//  24  4  sample rate    28  4  byte rate = rate * channels * 2
//  32  2  block align    34  2  16 (bits per sample)
//  36  4  "data"         40  4  data size: four spaces, patched to dataBytes
// Larger runs are written as RF64, an 80-byte header whose 32-bit sizes read
// 0xFFFFFFFF and whose real sizes sit in a "ds64" chunk:
//   0  4  "RF64"          4  4  0xFFFFFFFF
//   8  4  "WAVE"         12  4  "ds64"       16  4  28 (ds64 size)
//  20  8  RIFF size = file length - 8, patched
//  28  8  data size, patched                 36  8  sample frames, patched
//  44  4  0 (table length)
//  48  4  "fmt "         52  4  16           56 16  format as at 20-35 above
//  72  4  "data"         76  4  0xFFFFFFFF
// All numbers are little-endian.
enum class WavFormat { kRiff, kRf64 };

// 2^32 - 1 less the 36 header bytes that the RIFF size also counts.
inline constexpr uint64_t kMaxRiffDataBytes = 4294967259ULL;
inline constexpr long kRiffHeaderBytes = 44;
inline constexpr long kRf64HeaderBytes = 80;

// The format that can describe `dataBytes` of samples: RIFF up to `riffLimit`
// bytes, RF64 beyond.
WavFormat wavFormatFor(uint64_t dataBytes, uint64_t riffLimit = kMaxRiffDataBytes);

// Each of these returns false when a write or seek failed.
//
// Writes the 44-byte RIFF header with placeholder sizes at the current
// position of an empty file.
[[nodiscard]] bool writeWavHeader(std::FILE* file, int32_t sampleRate, int32_t channels);
// Fills in the RIFF header's sizes once the data is written: the data size
// at offset 40 first, then the RIFF size at offset 4.
[[nodiscard]] bool patchWavSizes(std::FILE* file, uint32_t dataBytes);
// Writes the 80-byte RF64 header with placeholder sizes.
[[nodiscard]] bool writeRf64Header(std::FILE* file, int32_t sampleRate, int32_t channels);
// Fills in the ds64 sizes: RIFF size, data size, sample frames.
[[nodiscard]] bool patchRf64Sizes(std::FILE* file, uint64_t dataBytes, uint64_t sampleFrames);

// Appends `count` samples as 16-bit little-endian values with one write.
[[nodiscard]] bool writeSamples(std::FILE* file, const int16_t* samples, size_t count);

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_WRITER_H_
