#include "wav/sample_format.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace stampline {
namespace {

// Writes the low `width` bytes of `value`, least significant first.
void putLittleEndian(uint64_t value, size_t width, uint8_t* out) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

double fullScale(SampleFormat format) {
  if (format.floating) return 1.0;
  return std::ldexp(1.0, format.bits - 1) - 1.0;
}

void encodeSamples(SampleFormat format, const double* values, size_t count, uint8_t* out) {
  const size_t width = bytesPerSample(format);
  for (size_t i = 0; i < count; ++i, out += width) {
    const double v = values[i];
    if (format.floating && format.bits == 32) {
      putLittleEndian(std::bit_cast<uint32_t>(static_cast<float>(v)), width, out);
    } else if (format.floating) {
      putLittleEndian(std::bit_cast<uint64_t>(v), width, out);
    } else {
      const double top = fullScale(format);
      if (std::isnan(v)) {
        putLittleEndian(format.bits == 8 ? 128 : 0, width, out);
        continue;
      }
      const auto whole = static_cast<int64_t>(std::clamp(std::trunc(v), -top - 1, top));
      // 8-bit samples are offset binary; wider ones two's complement.
      const int64_t stored = format.bits == 8 ? whole + 128 : whole;
      putLittleEndian(static_cast<uint64_t>(stored), width, out);
    }
  }
}

}  // namespace stampline
