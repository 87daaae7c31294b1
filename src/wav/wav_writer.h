#ifndef STAMPLINE_WAV_WAV_WRITER_H_
#define STAMPLINE_WAV_WAV_WRITER_H_

#include <array>
#include <cstddef>
#include <cstdint>

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
// Larger data is described by RF64, an 80-byte header whose 32-bit sizes read
// 0xFFFFFFFF and whose real sizes sit in a "ds64" chunk:
//   0  4  "RF64"          4  4  0xFFFFFFFF
//   8  4  "WAVE"         12  4  "ds64"       16  4  28 (ds64 size)
//  20  8  RIFF size = file length - 8
//  28  8  data size                          36  8  sample frames
//  44  4  0 (table length)
//  48  4  "fmt "         52  4  16           56 16  format as at 20-35 above
//  72  4  "data"         76  4  0xFFFFFFFF
// A file that may or may not outgrow the 32-bit sizes starts as RIFF/WAVE
// with the ds64 chunk's place held by a "JUNK" chunk of the same size, so it
// can become RF64 in place at the end, and stays a plain WAV otherwise:
//   0  4  "RIFF"          4  4  RIFF size: 0, then file length - 8
//   8  4  "WAVE"         12  4  "JUNK"       16  4  28
//  20 28  zeros          48 24  "fmt " chunk as in RF64
//  72  4  "data"         76  4  data size: four spaces, then dataBytes
// All numbers are little-endian.
enum class WavFormat { kRiff, kReservedRiff, kRf64 };

// 2^32 - 1 less the 36 header bytes that the RIFF size also counts.
inline constexpr uint64_t kMaxRiffDataBytes = 4294967259ULL;
inline constexpr size_t kRiffHeaderBytes = 44;
inline constexpr size_t kExtendedHeaderBytes = 80;

// The header to start a file with, for `plannedDataBytes` of samples. A file
// that is completed in place (`seekable`) reserves room for RF64 when its data
// may pass `riffLimit`; a stream gets the format of its final size at once.
WavFormat plannedFormat(uint64_t plannedDataBytes, bool seekable,
                        uint64_t riffLimit = kMaxRiffDataBytes);
// The format a file started as `planned` ends as, holding `dataBytes`: a
// reserved header becomes RF64 only when the data really needs it.
WavFormat finalFormat(WavFormat planned, uint64_t dataBytes, uint64_t riffLimit = kMaxRiffDataBytes);
size_t headerBytes(WavFormat format);

// The bytes of a header, built in memory so that it goes out in one write.
struct WavHeader {
  std::array<uint8_t, kExtendedHeaderBytes> bytes{};
  size_t size = 0;
};

// The header as first written, with placeholder sizes.
WavHeader wavHeader(WavFormat format, int32_t sampleRate, int32_t channels);
// The header of a file holding `dataBytes` of samples.
WavHeader wavHeader(WavFormat format, int32_t sampleRate, int32_t channels, uint64_t dataBytes);

// Byte offsets of the two 32-bit sizes of the 44-byte header, patched in
// this order: the data size first, then the RIFF size.
inline constexpr size_t kRiffDataSizeOffset = 40;
inline constexpr size_t kRiffSizeOffset = 4;

// Converts `count` native 16-bit samples to little-endian in place (nothing
// to do on a little-endian machine).
void samplesToLittleEndian(int16_t* samples, size_t count);

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_WRITER_H_
