#include "wav/wav_header.h"

#include <bit>
#include <string_view>

namespace stampline {
namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFU;
constexpr uint32_t kFormatChunkBytes = 16;
constexpr uint16_t kPcm = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kDs64ChunkBytes = 28;
constexpr size_t kChunkHead = 8;          // identifier and size
constexpr size_t kPlainHeaderBytes = 44;  // what riffLimit is counted for
// The RIFF size counts everything after its own 8 bytes.
constexpr uint64_t kRiffSizeExcludes = 8;

size_t padded(size_t bytes) { return bytes + bytes % 2; }

class HeaderBuilder {
 public:
  void text(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void u16(uint32_t value) { put(value, 2); }
  void u32(uint64_t value) { put(value, 4); }
  void u64(uint64_t value) { put(value, 8); }
  void zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void chunk(const WavChunk& c) {
    text({c.id.data(), c.id.size()});
    u32(c.bytes.size());
    bytes_.insert(bytes_.end(), c.bytes.begin(), c.bytes.end());
    zeros(c.bytes.size() % 2);
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  void put(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
};

// The data a header of this length describes at most with 32-bit sizes.
uint64_t riffDataLimit(size_t header, uint64_t riffLimit) {
  const uint64_t longer = header - kPlainHeaderBytes;
  return riffLimit > longer ? riffLimit - longer : 0;
}

}  // namespace

size_t headerBytes(const WavLayout& layout, WavFormat format) {
  size_t bytes = 12 + kChunkHead + kFormatChunkBytes + kChunkHead;
  if (format != WavFormat::kRiff) bytes += kChunkHead + kDs64ChunkBytes;
  for (const WavChunk& c : layout.chunks) bytes += kChunkHead + padded(c.bytes.size());
  return bytes;
}

std::vector<uint8_t> wavHeader(const WavLayout& layout, WavFormat format, uint64_t dataBytes) {
  HeaderBuilder h;
  const uint64_t riffSize = headerBytes(layout, format) - kRiffSizeExcludes + dataBytes;
  if (format == WavFormat::kRf64) {
    h.text("RF64");
    h.u32(kUnknownSize32);
    h.text("WAVEds64");
    h.u32(kDs64ChunkBytes);
    h.u64(riffSize);
    h.u64(dataBytes);
    h.u64(dataBytes / (2 * static_cast<uint64_t>(layout.channels)));
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
  const auto rate = static_cast<uint32_t>(layout.sampleRate);
  const auto count = static_cast<uint32_t>(layout.channels);
  h.text("fmt ");
  h.u32(kFormatChunkBytes);
  h.u16(kPcm);
  h.u16(count);
  h.u32(rate);
  h.u32(uint64_t{rate} * count * 2);  // the field keeps the low 32 bits
  h.u16(count * 2);
  h.u16(kBitsPerSample);
  for (const WavChunk& c : layout.chunks) h.chunk(c);
  h.text("data");
  h.u32(format == WavFormat::kRf64 ? kUnknownSize32 : dataBytes);
  return h.take();
}

WavFormat plannedFormat(const WavLayout& layout, uint64_t plannedDataBytes, bool seekable,
                        uint64_t riffLimit) {
  if (plannedDataBytes <= riffDataLimit(headerBytes(layout, WavFormat::kRiff), riffLimit)) {
    return WavFormat::kRiff;
  }
  return seekable ? WavFormat::kReservedRiff : WavFormat::kRf64;
}

WavFormat finalFormat(const WavLayout& layout, WavFormat planned, uint64_t dataBytes,
                      uint64_t riffLimit) {
  const uint64_t limit = riffDataLimit(headerBytes(layout, planned), riffLimit);
  if (planned == WavFormat::kReservedRiff && dataBytes > limit) return WavFormat::kRf64;
  return planned;
}

void samplesToLittleEndian(int16_t* samples, size_t count) {
  if constexpr (std::endian::native != std::endian::little) {
    for (size_t i = 0; i < count; ++i) {
      const auto v = static_cast<uint16_t>(samples[i]);
      samples[i] = static_cast<int16_t>(static_cast<uint16_t>(v << 8 | v >> 8));
    }
  } else {
    static_cast<void>(samples);
    static_cast<void>(count);
  }
}

}  // namespace stampline
