#ifndef STAMPLINE_TESTS_TEST_BYTES_H_
#define STAMPLINE_TESTS_TEST_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

namespace stampline::testing {

// The `width`-byte little-endian number at `offset` of `bytes`.
inline uint64_t littleEndian(std::string_view bytes, size_t offset, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  }
  return value;
}

// Writes `value` there instead.
inline void putLittleEndian(std::string& bytes, size_t offset, size_t width, uint64_t value) {
  for (size_t i = 0; i < width; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// A RIFF WAVE file's bytes with its "fmt " chunk rewritten as
// WAVE_FORMAT_EXTENSIBLE of the same samples with channel mask `mask` (0:
// no speaker positions), the RIFF size brought up to date.
inline std::string asExtensible(std::string wav, uint32_t mask) {
  for (size_t at = 12; at + 8 <= wav.size();) {
    const auto size = static_cast<size_t>(littleEndian(wav, at + 4, 4));
    if (wav.compare(at, 4, "fmt ") != 0) {
      at += 8 + size + size % 2;
      continue;
    }
    std::string body = wav.substr(at + 8, 16);
    const uint64_t tag = littleEndian(body, 0, 2);
    const uint64_t bits = littleEndian(body, 14, 2);
    body += std::string(10, '\0');
    putLittleEndian(body, 0, 2, 0xFFFE);
    putLittleEndian(body, 16, 2, 22);
    putLittleEndian(body, 18, 2, bits);
    putLittleEndian(body, 20, 4, mask);
    putLittleEndian(body, 24, 2, tag);
    body += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    std::string chunk = "fmt " + std::string(4, '\0') + body;
    putLittleEndian(chunk, 4, 4, 40);
    wav.replace(at, 8 + size + size % 2, chunk);
    putLittleEndian(wav, 4, 4, wav.size() - 8);
    return wav;
  }
  return wav;
}

// A file of exactly these bytes.
inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_TEST_BYTES_H_
