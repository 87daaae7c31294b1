#ifndef STAMPLINE_WAV_SAMPLE_FORMAT_H_
#define STAMPLINE_WAV_SAMPLE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stampline {

// How a WAV file holds one sample: integer (PCM) or IEEE floating point, of
// so many bits, or 8 bits companded by G.711 (A-law or mu-law, as telephone
// recordings hold them). Every sample in a file is little-endian; integer
// samples of 8 bits are unsigned with 128 as zero, wider ones signed;
// 24-bit samples take three bytes.
struct SampleFormat {
  enum class Companding : uint8_t { kNone, kALaw, kMuLaw };
  uint16_t bits = 16;
  bool floating = false;
  Companding companding = Companding::kNone;

  bool operator==(const SampleFormat&) const = default;
};

inline constexpr SampleFormat kPcm8{8, false};
inline constexpr SampleFormat kPcm16{16, false};
inline constexpr SampleFormat kPcm24{24, false};
inline constexpr SampleFormat kPcm32{32, false};
inline constexpr SampleFormat kFloat32{32, true};
inline constexpr SampleFormat kFloat64{64, true};
inline constexpr SampleFormat kALaw{8, false, SampleFormat::Companding::kALaw};
inline constexpr SampleFormat kMuLaw{8, false, SampleFormat::Companding::kMuLaw};

// Bytes one sample takes in the file.
inline size_t bytesPerSample(SampleFormat format) { return format.bits / 8U; }
// "16-bit PCM", "32-bit float", "A-law", "mu-law", for reports and
// messages.
std::string describeFormat(SampleFormat format);
// The largest sample value: 32767, 8388607 or 2147483647 for integer
// samples (127 for 8-bit ones, measured from 128), 1.0 for floating point.
double fullScale(SampleFormat format);

// Writes `count` values as samples of `format`, little-endian, to `out`
// (bytesPerSample(format) bytes each). Integer samples take each value's
// whole part, clipped to full scale (the negative end one lower, as two's
// complement has it); floating-point samples the nearest value.
void encodeSamples(SampleFormat format, const double* values, size_t count, uint8_t* out);

// How a reader takes samples: in the machine's order, as 16-bit or 32-bit
// integers or single-precision floating point, interleaved as in the file.
enum class SampleKind { kInt16, kInt32, kFloat };
struct SampleView {
  SampleKind kind = SampleKind::kInt16;
  const void* data = nullptr;
  size_t frames = 0;
};
// The largest positive value a sample of `format` reads as: 32767 for 8
// and 16-bit samples (and the companded ones, read on the 16-bit scale),
// 2147483392 for 24-bit ones (scaled up),
// 2147483647 for 32-bit ones, 1.0 for floating point.
double readFullScale(SampleFormat format);
// Calls `read` with a pointer to the view's value `first` as the type it
// holds (const int16_t*, const int32_t* or const float*).
template <typename Read>
void withSamples(const SampleView& view, size_t first, Read read) {
  switch (view.kind) {
    case SampleKind::kInt16:
      read(static_cast<const int16_t*>(view.data) + first);
      break;
    case SampleKind::kInt32:
      read(static_cast<const int32_t*>(view.data) + first);
      break;
    case SampleKind::kFloat:
      read(static_cast<const float*>(view.data) + first);
      break;
  }
}
// Whole sample frames of `format` as a reader takes them: 8 and 16 bits as
// 16-bit integers (8-bit ones centred on zero and scaled up by 256, A-law
// and mu-law ones expanded as G.711 gives them, on the 16-bit scale), 24 and
// 32 bits as 32-bit integers (24-bit ones scaled up by 256), floating point
// as single precision. The bytes are used as they are where they can be
// (16-bit, 32-bit and float samples on a little-endian machine, suitably
// aligned), otherwise converted into `scratch`.
SampleView readSamples(SampleFormat format, int32_t channels, std::span<const uint8_t> bytes,
                       std::vector<uint8_t>& scratch);

}  // namespace stampline

#endif  // STAMPLINE_WAV_SAMPLE_FORMAT_H_
