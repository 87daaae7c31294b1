#ifndef STAMPLINE_TESTS_TEST_BYTES_H_
#define STAMPLINE_TESTS_TEST_BYTES_H_

#include <cstddef>
#include <cstdint>
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

// A file of exactly these bytes.
inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_TEST_BYTES_H_
