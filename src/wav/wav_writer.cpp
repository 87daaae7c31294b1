#include "wav/wav_writer.h"

#include <algorithm>
#include <array>
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
constexpr uint32_t kRiffHeaderAfterSize = 36;
constexpr long kRiffSizeOffset = 4;
constexpr long kRiffDataSizeOffset = 40;
constexpr long kRf64SizesOffset = 20;

// Builds a header in memory, so it goes to the file in one write.
class HeaderBytes {
 public:
  void text(std::string_view s) {
    std::memcpy(bytes_.data() + size_, s.data(), s.size());
    size_ += s.size();
  }
  void u16(uint32_t value) { put(value, 2); }
  void u32(uint64_t value) { put(value, 4); }
  void u64(uint64_t value) { put(value, 8); }
  bool writeTo(std::FILE* file) const {
    return std::fwrite(bytes_.data(), 1, size_, file) == size_;
  }

 private:
  void put(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes_[size_++] = static_cast<uint8_t>(value >> (8 * i));
  }
  std::array<uint8_t, kRf64HeaderBytes> bytes_{};
  size_t size_ = 0;
};

void formatFields(HeaderBytes& h, int32_t sampleRate, int32_t channels) {
  const auto rate = static_cast<uint32_t>(sampleRate);
  const auto count = static_cast<uint32_t>(channels);
  h.u32(kFormatChunkBytes);
  h.u16(kPcm);
  h.u16(count);
  h.u32(rate);
  h.u32(uint64_t{rate} * count * 2);  // the field keeps the low 32 bits
  h.u16(count * 2);
  h.u16(kBitsPerSample);
}

bool writeAt(std::FILE* file, long offset, const HeaderBytes& bytes) {
  return std::fseek(file, offset, SEEK_SET) == 0 && bytes.writeTo(file);
}

}  // namespace

WavFormat wavFormatFor(uint64_t dataBytes, uint64_t riffLimit) {
  return dataBytes <= riffLimit ? WavFormat::kRiff : WavFormat::kRf64;
}

bool writeWavHeader(std::FILE* file, int32_t sampleRate, int32_t channels) {
  HeaderBytes h;
  h.text("RIFF");
  h.u32(0);
  h.text("WAVEfmt ");
  formatFields(h, sampleRate, channels);
  // Four spaces hold the data size's place until the data is written.
  h.text("data    ");
  return h.writeTo(file);
}

bool patchWavSizes(std::FILE* file, uint32_t dataBytes) {
  HeaderBytes dataSize;
  dataSize.u32(dataBytes);
  HeaderBytes riffSize;
  riffSize.u32(uint64_t{dataBytes} + kRiffHeaderAfterSize);
  return writeAt(file, kRiffDataSizeOffset, dataSize) && writeAt(file, kRiffSizeOffset, riffSize);
}

bool writeRf64Header(std::FILE* file, int32_t sampleRate, int32_t channels) {
  HeaderBytes h;
  h.text("RF64");
  h.u32(kUnknownSize32);
  h.text("WAVEds64");
  h.u32(kDs64ChunkBytes);
  h.u64(0);
  h.u64(0);
  h.u64(0);
  h.u32(0);
  h.text("fmt ");
  formatFields(h, sampleRate, channels);
  h.text("data");
  h.u32(kUnknownSize32);
  return h.writeTo(file);
}

bool patchRf64Sizes(std::FILE* file, uint64_t dataBytes, uint64_t sampleFrames) {
  HeaderBytes sizes;
  sizes.u64(dataBytes + kRf64HeaderBytes - 8);
  sizes.u64(dataBytes);
  sizes.u64(sampleFrames);
  return writeAt(file, kRf64SizesOffset, sizes);
}

bool writeSamples(std::FILE* file, const int16_t* samples, size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::fwrite(samples, sizeof(int16_t), count, file) == count;
  } else {
    std::array<uint8_t, 4096> chunk;
    while (count > 0) {
      const size_t n = std::min(count, chunk.size() / 2);
      for (size_t i = 0; i < n; ++i) {
        const auto v = static_cast<uint16_t>(samples[i]);
        chunk[2 * i] = static_cast<uint8_t>(v);
        chunk[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      if (std::fwrite(chunk.data(), 1, 2 * n, file) != 2 * n) return false;
      samples += n;
      count -= n;
    }
    return true;
  }
}

}  // namespace stampline
