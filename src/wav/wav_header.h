#ifndef STAMPLINE_WAV_WAV_HEADER_H_
#define STAMPLINE_WAV_WAV_HEADER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wav/riff_layout.h"
#include "wav/sample_format.h"

namespace stampline {

// A chunk other than those that describe the samples (a Broadcast Wave
// "bext", an "iXML", a "LIST"): its identifier and its contents. A chunk of
// odd length is followed by a pad byte, as RIFF asks.
struct WavChunk {
  std::array<char, 4> id{};
  std::vector<uint8_t> bytes;
};

// What a file says besides its sizes: its samples, where its speakers are
// (a channel mask, or 0 for none), and its chunks between "fmt " and "data"
// and after the data.
struct WavLayout {
  int32_t sampleRate = 44100;
  int32_t channels = 2;
  SampleFormat format = kPcm16;
  std::vector<WavChunk> chunks;
  uint32_t channelMask = 0;
  std::vector<WavChunk> chunksAfter;
};

// Bytes of one sample frame: one sample a channel.
inline uint64_t sampleFrameBytes(const WavLayout& layout) {
  return static_cast<uint64_t>(layout.channels) * bytesPerSample(layout.format);
}

// The "fmt " chunk (laid out in riff_layout.h) says what a sample is:
//   WAVE_FORMAT_PCM (1), 16 bytes: one or two channels of 8 or 16 bits
//   WAVE_FORMAT_IEEE_FLOAT (3), 18 bytes (cbSize 0): one or two channels of
//     floating point, with a "fact" chunk (sample frames, 32 bits) after it
//   WAVE_FORMAT_EXTENSIBLE (0xFFFE), 40 bytes: more than two channels,
//     integer samples wider than 16 bits, or a channel mask; cbSize 22,
//     valid bits, the channel mask (0: no speaker positions), the
//     sub-format GUID of PCM or float
// The file comes in one of three forms, each a list of chunks, every number
// little-endian:
//   kRiff          "RIFF" size "WAVE", "fmt " 16, [chunks], "data" size,
//                  [chunks after]
//   kReservedRiff  the same with a 28-byte "JUNK" chunk right after "WAVE",
//                  holding the place of a ds64 chunk, for a file that may
//                  outgrow 32-bit sizes and is completed in place
//   kRf64          "RF64" 0xFFFFFFFF "WAVE", "ds64" 28 (RIFF size, data size
//                  and sample frames as 64-bit numbers, table length 0),
//                  "fmt ", [chunks], "data" 0xFFFFFFFF
// With no extra chunks kRiff is the classic 44-byte header and the other
// two are 80 bytes:
//    0  4 "RIFF"     4  4 file length - 8     8  8 "WAVEfmt "
//   16  4 16        20  2 1 (PCM)            22  2 channels
//   24  4 rate      28  4 rate * channels * 2
//   32  2 channels * 2                       34  2 16 (bits per sample)
//   36  4 "data"    40  4 data bytes
enum class WavFormat { kRiff, kReservedRiff, kRf64 };

// The most sample data the 44-byte header describes: 2^32 - 1 less the 36
// header bytes its RIFF size also counts.
inline constexpr uint64_t kMaxRiffDataBytes = 4294967259ULL;
// Data of a length not known in advance (a stream made from a stream): a
// stream's header then gives 0xFFFFFFFF for its sizes, as programs writing
// to a pipe do, and readers take the data to the end of the stream.
inline constexpr uint64_t kUnknownDataBytes = UINT64_MAX;

// Data of an odd length is followed by a pad byte, as every chunk is.
inline uint64_t padByte(uint64_t dataBytes) { return dataBytes % 2; }

// The header's length in bytes.
size_t headerBytes(const WavLayout& layout, WavFormat format);
// The chunks after the data, as they follow its pad byte, and their length.
std::vector<uint8_t> trailerChunks(const WavLayout& layout);
uint64_t trailerBytes(const WavLayout& layout);
// The header of a file holding `dataBytes` of samples (and its pad byte),
// or kUnknownDataBytes, and, with `withTrailer`, the chunks after them. A
// RIFF form's sizes must fit its 32-bit fields (see finalFormat).
std::vector<uint8_t> wavHeader(const WavLayout& layout, WavFormat format, uint64_t dataBytes,
                               bool withTrailer = false);

// The form to start a file with, for `plannedDataBytes` of samples. A file
// that is completed in place (`seekable`) reserves room for RF64 when its
// data may pass the limit; a stream gets the form of its final size at once.
// `riffLimit` is the most data a 44-byte header describes (lowered by
// tests); longer headers, and chunks after the data, leave that much less.
WavFormat plannedFormat(const WavLayout& layout, uint64_t plannedDataBytes, bool seekable,
                        uint64_t riffLimit = kMaxRiffDataBytes);
// The form a file started as `planned` takes for `dataBytes`: a reserved
// header becomes RF64 only when the data really needs it.
WavFormat finalFormat(const WavLayout& layout, WavFormat planned, uint64_t dataBytes,
                      uint64_t riffLimit = kMaxRiffDataBytes);

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_HEADER_H_
