#ifndef STAMPLINE_TESTS_TEST_BYTES_H_
#define STAMPLINE_TESTS_TEST_BYTES_H_

#include <cstddef>
#include <cstdint>
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

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_TEST_BYTES_H_
