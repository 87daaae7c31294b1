#ifndef STAMPLINE_WAV_SAMPLE_FORMAT_H_
#define STAMPLINE_WAV_SAMPLE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace stampline {

// How a WAV file holds one sample: integer (PCM) or IEEE floating point, of
// so many bits. Every sample in a file is little-endian; integer samples of
// 8 bits are unsigned with 128 as zero, wider ones signed; 24-bit samples
// take three bytes.
struct SampleFormat {
  uint16_t bits = 16;
  bool floating = false;

  bool operator==(const SampleFormat&) const = default;
};

inline constexpr SampleFormat kPcm8{8, false};
inline constexpr SampleFormat kPcm16{16, false};
inline constexpr SampleFormat kPcm24{24, false};
inline constexpr SampleFormat kPcm32{32, false};
inline constexpr SampleFormat kFloat32{32, true};
inline constexpr SampleFormat kFloat64{64, true};

// Bytes one sample takes in the file.
inline size_t bytesPerSample(SampleFormat format) { return format.bits / 8U; }
// The largest sample value: 32767, 8388607 or 2147483647 for integer
// samples (127 for 8-bit ones, measured from 128), 1.0 for floating point.
double fullScale(SampleFormat format);

// Writes `count` values as samples of `format`, little-endian, to `out`
// (bytesPerSample(format) bytes each). Integer samples take each value's
// whole part, clipped to full scale (the negative end one lower, as two's
// complement has it); floating-point samples the nearest value.
void encodeSamples(SampleFormat format, const double* values, size_t count, uint8_t* out);

}  // namespace stampline

#endif  // STAMPLINE_WAV_SAMPLE_FORMAT_H_
