#include "wav/sample_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "wav/riff_layout.h"

namespace stampline {
namespace {

// Converts every sample of `Width` bytes into `scratch`, one value of type
// T each.
template <typename T, size_t Width, typename Convert>
void convertAll(std::span<const uint8_t> bytes, std::vector<uint8_t>& scratch, Convert convert) {
  const size_t count = bytes.size() / Width;
  scratch.resize(count * sizeof(T));
  for (size_t i = 0; i < count; ++i) {
    const T value = convert(readLittleEndian(bytes.data() + i * Width, Width));
    std::memcpy(scratch.data() + i * sizeof(T), &value, sizeof(T));
  }
}

// G.711's expansion of a companded byte to a 16-bit value (ITU-T G.711:
// mu-law to +-32124, A-law to +-32256).
int16_t muLawSample(uint8_t byte) {
  const unsigned u = ~byte & 0xFFU;
  const int magnitude = static_cast<int>((((u & 0x0FU) << 3) + 0x84) << ((u & 0x70U) >> 4)) - 0x84;
  return static_cast<int16_t>((u & 0x80U) != 0 ? -magnitude : magnitude);
}
int16_t aLawSample(uint8_t byte) {
  const unsigned a = byte ^ 0x55U;
  const unsigned segment = (a & 0x70U) >> 4;
  int magnitude = static_cast<int>((a & 0x0FU) << 4);
  magnitude = segment == 0 ? magnitude + 8 : (magnitude + 0x108) << (segment - 1);
  return static_cast<int16_t>((a & 0x80U) != 0 ? magnitude : -magnitude);
}

}  // namespace

std::string describeFormat(SampleFormat format) {
  if (format.companding == SampleFormat::Companding::kALaw) return "A-law";
  if (format.companding == SampleFormat::Companding::kMuLaw) return "mu-law";
  return std::to_string(format.bits) + "-bit " + (format.floating ? "float" : "PCM");
}

double readFullScale(SampleFormat format) {
  if (format.companding != SampleFormat::Companding::kNone) return 32767;
  return format.floating ? 1.0 : fullScale(format) * (format.bits % 16 == 8 ? 256 : 1);
}

double fullScale(SampleFormat format) {
  if (format.floating) return 1.0;
  return std::ldexp(1.0, format.bits - 1) - 1.0;
}

void encodeSamples(SampleFormat format, const double* values, size_t count, uint8_t* out) {
  const size_t width = bytesPerSample(format);
  for (size_t i = 0; i < count; ++i, out += width) {
    const double v = values[i];
    if (format.floating && format.bits == 32) {
      writeLittleEndian(out, std::bit_cast<uint32_t>(static_cast<float>(v)), width);
    } else if (format.floating) {
      writeLittleEndian(out, std::bit_cast<uint64_t>(v), width);
    } else {
      const double top = fullScale(format);
      if (std::isnan(v)) {
        writeLittleEndian(out, format.bits == 8 ? 128 : 0, width);
        continue;
      }
      const auto whole = static_cast<int64_t>(std::clamp(std::trunc(v), -top - 1, top));
      // 8-bit samples are offset binary; wider ones two's complement.
      const int64_t stored = format.bits == 8 ? whole + 128 : whole;
      writeLittleEndian(out, static_cast<uint64_t>(stored), width);
    }
  }
}

SampleView readSamples(SampleFormat format, int32_t channels, std::span<const uint8_t> bytes,
                       std::vector<uint8_t>& scratch) {
  const size_t width = bytesPerSample(format);
  SampleView view;
  view.frames = bytes.size() / (width * static_cast<size_t>(channels));
  view.kind = format.floating ? SampleKind::kFloat
                              : format.bits <= 16 ? SampleKind::kInt16 : SampleKind::kInt32;
  // Used as they are: the machine reads them alike and their place suits
  // the type.
  const size_t typeBytes = view.kind == SampleKind::kInt16 ? 2 : 4;
  const bool asTheyAre = std::endian::native == std::endian::little && width == typeBytes &&
                         reinterpret_cast<uintptr_t>(bytes.data()) % typeBytes == 0;
  if (asTheyAre) {
    view.data = bytes.data();
    return view;
  }
  if (std::endian::native == std::endian::little && width == typeBytes) {
    // Only out of place (a header of odd length before them): copied.
    scratch.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(view.frames * width * static_cast<size_t>(channels)));
    view.data = scratch.data();
    return view;
  }
  if (format.companding != SampleFormat::Companding::kNone) {
    const bool aLaw = format.companding == SampleFormat::Companding::kALaw;
    convertAll<int16_t, 1>(bytes, scratch, [aLaw](uint64_t v) {
      return aLaw ? aLawSample(static_cast<uint8_t>(v)) : muLawSample(static_cast<uint8_t>(v));
    });
    view.data = scratch.data();
    return view;
  }
  switch (format.bits) {
    case 8:
      convertAll<int16_t, 1>(bytes, scratch,
                          [](uint64_t v) { return static_cast<int16_t>((static_cast<int>(v) - 128) * 256); });
      break;
    case 16:
      convertAll<int16_t, 2>(bytes, scratch, [](uint64_t v) { return static_cast<int16_t>(v); });
      break;
    case 24:
      convertAll<int32_t, 3>(bytes, scratch,
                          [](uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v << 8)); });
      break;
    case 32:
      if (format.floating) {
        convertAll<float, 4>(bytes, scratch,
                          [](uint64_t v) { return std::bit_cast<float>(static_cast<uint32_t>(v)); });
      } else {
        convertAll<int32_t, 4>(bytes, scratch, [](uint64_t v) { return static_cast<int32_t>(v); });
      }
      break;
    default:
      convertAll<float, 8>(bytes, scratch,
                        [](uint64_t v) { return static_cast<float>(std::bit_cast<double>(v)); });
      break;
  }
  view.data = scratch.data();
  return view;
}

}  // namespace stampline
