#include "wav/wav_writer.h"

#include <bit>
#include <cstring>
#include <string_view>

namespace stampline {
namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFU;
constexpr uint32_t kFormatChunkBytes = 16;
constexpr uint16_t kPcm = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kDs64ChunkBytes = 28;
// The RIFF size counts everything after its own 8 bytes.
constexpr uint64_t kRiffSizeExcludes = 8;

class HeaderBuilder {
 public:
  void text(std::string_view s) {
    std::memcpy(header_.bytes.data() + header_.size, s.data(), s.size());
    header_.size += s.size();
  }
  void u16(uint32_t value) { put(value, 2); }
  void u32(uint64_t value) { put(value, 4); }
  void u64(uint64_t value) { put(value, 8); }
  void zeros(size_t count) { header_.size += count; }
  const WavHeader& header() const { return header_; }

 private:
  void put(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
      header_.bytes[header_.size++] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  WavHeader header_;
};

void formatChunk(HeaderBuilder& h, int32_t sampleRate, int32_t channels) {
  const auto rate = static_cast<uint32_t>(sampleRate);
  const auto count = static_cast<uint32_t>(channels);
  h.text("fmt ");
  h.u32(kFormatChunkBytes);
  h.u16(kPcm);
  h.u16(count);
  h.u32(rate);
  h.u32(uint64_t{rate} * count * 2);  // the field keeps the low 32 bits
  h.u16(count * 2);
  h.u16(kBitsPerSample);
}

// `dataBytes` null: the placeholders of a header written before the data.
WavHeader build(WavFormat format, int32_t sampleRate, int32_t channels, const uint64_t* dataBytes) {
  HeaderBuilder h;
  const uint64_t fileBytes = dataBytes != nullptr ? headerBytes(format) + *dataBytes : 0;
  if (format == WavFormat::kRf64) {
    h.text("RF64");
    h.u32(kUnknownSize32);
    h.text("WAVEds64");
    h.u32(kDs64ChunkBytes);
    const auto channelCount = static_cast<uint64_t>(channels);
    h.u64(dataBytes != nullptr ? fileBytes - kRiffSizeExcludes : 0);
    h.u64(dataBytes != nullptr ? *dataBytes : 0);
    h.u64(dataBytes != nullptr ? *dataBytes / (2 * channelCount) : 0);
    h.u32(0);
  } else {
    h.text("RIFF");
    h.u32(dataBytes != nullptr ? fileBytes - kRiffSizeExcludes : 0);
    h.text("WAVE");
    if (format == WavFormat::kReservedRiff) {
      h.text("JUNK");
      h.u32(kDs64ChunkBytes);
      h.zeros(kDs64ChunkBytes);
    }
  }
  formatChunk(h, sampleRate, channels);
  h.text("data");
  if (format == WavFormat::kRf64) {
    h.u32(kUnknownSize32);
  } else if (dataBytes != nullptr) {
    h.u32(*dataBytes);
  } else {
    // Four spaces hold the data size's place until the data is written.
    h.text("    ");
  }
  return h.header();
}

}  // namespace

WavFormat plannedFormat(uint64_t plannedDataBytes, bool seekable, uint64_t riffLimit) {
  if (plannedDataBytes <= riffLimit) return WavFormat::kRiff;
  return seekable ? WavFormat::kReservedRiff : WavFormat::kRf64;
}

WavFormat finalFormat(WavFormat planned, uint64_t dataBytes, uint64_t riffLimit) {
  // The reserved header is 36 bytes longer, and its RIFF size counts them.
  constexpr uint64_t kLonger = kExtendedHeaderBytes - kRiffHeaderBytes;
  const uint64_t limit = riffLimit > kLonger ? riffLimit - kLonger : 0;
  if (planned == WavFormat::kReservedRiff && dataBytes > limit) return WavFormat::kRf64;
  return planned;
}

size_t headerBytes(WavFormat format) {
  return format == WavFormat::kRiff ? kRiffHeaderBytes : kExtendedHeaderBytes;
}

WavHeader wavHeader(WavFormat format, int32_t sampleRate, int32_t channels) {
  return build(format, sampleRate, channels, nullptr);
}

WavHeader wavHeader(WavFormat format, int32_t sampleRate, int32_t channels, uint64_t dataBytes) {
  return build(format, sampleRate, channels, &dataBytes);
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
