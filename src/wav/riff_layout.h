#ifndef STAMPLINE_WAV_RIFF_LAYOUT_H_
#define STAMPLINE_WAV_RIFF_LAYOUT_H_

// The byte layout of RIFF WAVE, RF64 and Broadcast Wave files, and the
// little-endian coding of their numbers: the one place that knows where a
// field lies. The header writer, the reader and the Broadcast Wave chunks
// all ask here.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stampline {

// Numbers are little-endian, least significant byte first, `width` bytes.
inline uint64_t readLittleEndian(const uint8_t* in, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | in[i];
  return value;
}
inline uint64_t readLittleEndian(std::span<const uint8_t> bytes, size_t at, size_t width) {
  return readLittleEndian(bytes.data() + at, width);
}
inline void writeLittleEndian(uint8_t* out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Every chunk: a four-character identifier and its size (32 bits), then the
// body, then a pad byte where the size is odd (the size does not count it).
inline constexpr size_t kChunkHeadBytes = 8;
// The file opens with "RIFF" (or "RF64") and the size of what follows, then
// "WAVE". The size counts everything after its own 8 bytes.
inline constexpr size_t kFileHeadBytes = 12;
inline constexpr uint64_t kRiffSizeExcludes = 8;
// A size field whose value is not known: a stream's, or one that ds64 holds.
inline constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFU;

// "fmt ": what a sample is.
//    0  2 tag       2  2 channels    4  4 rate      8  4 bytes a second
//   12  2 block    14  2 bits       16  2 cbSize   18  2 valid bits
//   20  4 mask     24 16 sub-format (extensible only, from cbSize on)
inline constexpr size_t kFmtTag = 0;
inline constexpr size_t kFmtChannels = 2;
inline constexpr size_t kFmtSampleRate = 4;
inline constexpr size_t kFmtByteRate = 8;
inline constexpr size_t kFmtBlockAlign = 12;
inline constexpr size_t kFmtBits = 14;
inline constexpr size_t kFmtExtraBytes = 16;
inline constexpr size_t kFmtValidBits = 18;
inline constexpr size_t kFmtChannelMask = 20;
inline constexpr size_t kFmtSubFormat = 24;
inline constexpr uint32_t kPcmFormatBytes = 16;
inline constexpr uint32_t kFloatFormatBytes = 18;  // cbSize 0
inline constexpr uint32_t kExtensibleFormatBytes = 40;
inline constexpr uint16_t kExtensibleExtraBytes = 22;

// The format tags, and the tag of an extensible file's sub-format.
inline constexpr uint16_t kFormatPcm = 1;
inline constexpr uint16_t kFormatIeeeFloat = 3;
inline constexpr uint16_t kFormatALaw = 6;
inline constexpr uint16_t kFormatMuLaw = 7;
inline constexpr uint16_t kFormatExtensible = 0xFFFE;
// The sub-format GUID after its first two bytes, which hold the plain
// format tag: xxxx0000-0000-0010-8000-00aa00389b71.
inline constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
inline constexpr size_t kSubFormatTailAt = kFmtSubFormat + 2;

// Speaker positions of the channel mask: front centre, front left and
// right; and the first bit no speaker has (bits 18 to 30 are reserved).
inline constexpr uint32_t kSpeakerFrontCentre = 0x4;
inline constexpr uint32_t kSpeakersFrontLeftRight = 0x3;
inline constexpr uint32_t kFirstReservedSpeaker = 0x40000;

// "fact": the sample frames of a floating-point file (32 bits).
inline constexpr uint32_t kFactChunkBytes = 4;

// "ds64" (RF64): the sizes the 32-bit fields cannot hold.
//    0  8 RIFF size     8  8 data size    16  8 sample frames
//   24  4 table length (0)
inline constexpr size_t kDs64RiffSize = 0;
inline constexpr size_t kDs64DataSize = 8;
inline constexpr size_t kDs64SampleFrames = 16;
inline constexpr uint32_t kDs64ChunkBytes = 28;

// "bext" (EBU Tech 3285, version 1), text fields zero-padded:
//     0 256 Description           256  32 Originator
//   288  32 OriginatorReference   320  10 OriginationDate
//   330   8 OriginationTime       338   8 TimeReference (low, high 32 bits)
//   346   2 Version               348  64 UMID
//   412  10 loudness (version 2)  422 180 reserved
//   602   n CodingHistory, rows ending in CR LF, up to the first zero byte
inline constexpr size_t kBextDescription = 0;
inline constexpr size_t kBextDescriptionBytes = 256;
inline constexpr size_t kBextOriginator = 256;
inline constexpr size_t kBextOriginatorBytes = 32;
inline constexpr size_t kBextOriginatorReference = 288;
inline constexpr size_t kBextOriginatorReferenceBytes = 32;
inline constexpr size_t kBextOriginationDate = 320;
inline constexpr size_t kBextOriginationDateBytes = 10;
inline constexpr size_t kBextOriginationTime = 330;
inline constexpr size_t kBextOriginationTimeBytes = 8;
inline constexpr size_t kBextTimeReference = 338;
inline constexpr size_t kBextTimeReferenceBytes = 8;
inline constexpr size_t kBextVersion = 346;
inline constexpr size_t kBextCodingHistory = 602;

}  // namespace stampline

#endif  // STAMPLINE_WAV_RIFF_LAYOUT_H_
