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

// A chunk's bytes: its id, its size (the body's, unless given), its body
// and a pad byte where the body is odd.
inline std::string wavChunk(const std::string& id, const std::string& body, int64_t size = -1) {
  std::string c = id + std::string(4, '\0') + body;
  putLittleEndian(c, 4, 4, size >= 0 ? static_cast<uint64_t>(size) : body.size());
  if (body.size() % 2 != 0) c += '\0';
  return c;
}

// A "fmt " chunk's body: plain (16 bytes), or with `mask` given,
// WAVE_FORMAT_EXTENSIBLE (40 bytes) of the plain tag `tag`.
inline std::string fmtBody(int channels, int rate, int bits, int tag = 1, int blockAlign = -1,
                           int64_t mask = -1) {
  std::string f(16, '\0');
  putLittleEndian(f, 0, 2, static_cast<uint64_t>(mask >= 0 ? 0xFFFE : tag));
  putLittleEndian(f, 2, 2, static_cast<uint64_t>(channels));
  putLittleEndian(f, 4, 4, static_cast<uint64_t>(rate));
  const int align = blockAlign >= 0 ? blockAlign : channels * bits / 8;
  putLittleEndian(f, 8, 4, static_cast<uint64_t>(rate * align));
  putLittleEndian(f, 12, 2, static_cast<uint64_t>(align));
  putLittleEndian(f, 14, 2, static_cast<uint64_t>(bits));
  if (mask < 0) return f;
  f += std::string(10, '\0');
  putLittleEndian(f, 16, 2, 22);
  putLittleEndian(f, 18, 2, static_cast<uint64_t>(bits));
  putLittleEndian(f, 20, 4, static_cast<uint64_t>(mask));
  putLittleEndian(f, 24, 2, static_cast<uint64_t>(tag));
  return f + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
}

// "RIFF" (or `form`) size "WAVE" and the chunks; `riffSize` as given, else
// the true one.
inline std::string riffFile(const std::string& chunks, int64_t riffSize = -1, const char* form = "RIFF") {
  std::string w = std::string(form) + "    WAVE" + chunks;
  putLittleEndian(w, 4, 4, riffSize >= 0 ? static_cast<uint64_t>(riffSize) : w.size() - 8);
  return w;
}

// A file of exactly these bytes.
inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_TEST_BYTES_H_
