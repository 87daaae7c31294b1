#include "wav/wav_header.h"

#include <string_view>

namespace stampline {
namespace {

constexpr size_t kPlainHeaderBytes = 44;  // what riffLimit is counted for

size_t padded(size_t bytes) { return bytes + bytes % 2; }

class HeaderBuilder {
 public:
  void text(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void u8(uint32_t value) { appendLittleEndian(bytes_, value, 1); }
  void u16(uint32_t value) { appendLittleEndian(bytes_, value, 2); }
  void u32(uint64_t value) { appendLittleEndian(bytes_, value, 4); }
  void u64(uint64_t value) { appendLittleEndian(bytes_, value, 8); }
  void zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void chunk(const WavChunk& c) {
    text({c.id.data(), c.id.size()});
    u32(c.bytes.size());
    bytes_.insert(bytes_.end(), c.bytes.begin(), c.bytes.end());
    zeros(c.bytes.size() % 2);
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

bool extensible(const WavLayout& layout) {
  return layout.channels > 2 || (!layout.format.floating && layout.format.bits > 16) || layout.channelMask != 0;
}

uint32_t formatChunkBytes(const WavLayout& layout) {
  if (extensible(layout)) return kExtensibleFormatBytes;
  return layout.format.floating ? kFloatFormatBytes : kPcmFormatBytes;
}

// Floating-point samples need a fact chunk, holding the sample frames.
bool hasFact(const WavLayout& layout) { return layout.format.floating; }

void formatChunk(HeaderBuilder& h, const WavLayout& layout) {
  const auto rate = static_cast<uint32_t>(layout.sampleRate);
  const auto count = static_cast<uint32_t>(layout.channels);
  const auto sampleBytes = static_cast<uint32_t>(bytesPerSample(layout.format));
  const uint16_t tag = layout.format.floating ? kFormatIeeeFloat : kFormatPcm;
  h.text("fmt ");
  h.u32(formatChunkBytes(layout));
  h.u16(extensible(layout) ? kFormatExtensible : tag);
  h.u16(count);
  h.u32(rate);
  h.u32(uint64_t{rate} * count * sampleBytes);  // the field keeps the low 32 bits
  h.u16(count * sampleBytes);
  h.u16(layout.format.bits);
  if (extensible(layout)) {
    h.u16(kExtensibleExtraBytes);
    h.u16(layout.format.bits);
    h.u32(layout.channelMask);
    h.u16(tag);
    for (const uint8_t b : kSubFormatTail) h.u8(b);
  } else if (layout.format.floating) {
    h.u16(0);
  }
}

// The data a file of this header and trailer describes at most with 32-bit
// sizes.
uint64_t riffDataLimit(const WavLayout& layout, size_t header, uint64_t riffLimit) {
  const uint64_t longer = header - kPlainHeaderBytes + trailerBytes(layout);
  return riffLimit > longer ? riffLimit - longer : 0;
}

}  // namespace

size_t headerBytes(const WavLayout& layout, WavFormat format) {
  size_t bytes = kFileHeadBytes + kChunkHeadBytes + formatChunkBytes(layout) + kChunkHeadBytes;
  if (format != WavFormat::kRiff) bytes += kChunkHeadBytes + kDs64ChunkBytes;
  if (hasFact(layout)) bytes += kChunkHeadBytes + kFactChunkBytes;
  for (const WavChunk& c : layout.chunks) bytes += kChunkHeadBytes + padded(c.bytes.size());
  return bytes;
}

std::vector<uint8_t> trailerChunks(const WavLayout& layout) {
  HeaderBuilder h;
  for (const WavChunk& c : layout.chunksAfter) h.chunk(c);
  return h.take();
}

uint64_t trailerBytes(const WavLayout& layout) {
  uint64_t bytes = 0;
  for (const WavChunk& c : layout.chunksAfter) bytes += kChunkHeadBytes + padded(c.bytes.size());
  return bytes;
}

std::vector<uint8_t> wavHeader(const WavLayout& layout, WavFormat format, uint64_t dataBytes, bool withTrailer) {
  HeaderBuilder h;
  const bool unknown = dataBytes == kUnknownDataBytes;
  if (unknown) dataBytes = 0;
  const uint64_t riffSize = unknown ? kUnknownSize32
                                    : headerBytes(layout, format) - kRiffSizeExcludes + dataBytes +
                                          padByte(dataBytes) + (withTrailer ? trailerBytes(layout) : 0);
  if (format == WavFormat::kRf64) {
    h.text("RF64");
    h.u32(kUnknownSize32);
    h.text("WAVEds64");
    h.u32(kDs64ChunkBytes);
    h.u64(riffSize);
    h.u64(dataBytes);
    h.u64(dataBytes / sampleFrameBytes(layout));
    h.u32(0);
  } else {
    h.text("RIFF");
    h.u32(riffSize);
    h.text("WAVE");
    if (format == WavFormat::kReservedRiff) {
      h.text("JUNK");
      h.u32(kDs64ChunkBytes);
      h.zeros(kDs64ChunkBytes);
    }
  }
  formatChunk(h, layout);
  if (hasFact(layout)) {
    const uint64_t frames = dataBytes / sampleFrameBytes(layout);
    h.text("fact");
    h.u32(kFactChunkBytes);
    h.u32(unknown || format == WavFormat::kRf64 || frames > kUnknownSize32 ? kUnknownSize32 : frames);
  }
  for (const WavChunk& c : layout.chunks) h.chunk(c);
  h.text("data");
  h.u32(unknown || format == WavFormat::kRf64 ? kUnknownSize32 : dataBytes);
  return h.take();
}

WavFormat plannedFormat(const WavLayout& layout, uint64_t plannedDataBytes, bool seekable,
                        uint64_t riffLimit) {
  if (plannedDataBytes == kUnknownDataBytes) return seekable ? WavFormat::kReservedRiff : WavFormat::kRiff;
  const uint64_t padded = plannedDataBytes + padByte(plannedDataBytes);
  if (padded <= riffDataLimit(layout, headerBytes(layout, WavFormat::kRiff), riffLimit)) {
    return WavFormat::kRiff;
  }
  return seekable ? WavFormat::kReservedRiff : WavFormat::kRf64;
}

WavFormat finalFormat(const WavLayout& layout, WavFormat planned, uint64_t dataBytes,
                      uint64_t riffLimit) {
  const uint64_t limit = riffDataLimit(layout, headerBytes(layout, planned), riffLimit);
  if (planned == WavFormat::kReservedRiff && dataBytes + padByte(dataBytes) > limit) return WavFormat::kRf64;
  return planned;
}

}  // namespace stampline
