#ifndef STAMPLINE_SYNTH_SAMPLE_CODING_H_
#define STAMPLINE_SYNTH_SAMPLE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace stampline {

// How the encoder's sample values become the bytes of the output. The
// output's layer supplies it: the values' full scale, whether they are whole
// numbers (integer samples) or not (floating point), how many bytes one
// value takes, and the function that writes `count` values as those bytes.
// The encoder shapes values once, at set-up, has them written this way, and
// from then on only copies bytes, so every sample format and byte order
// renders alike.
struct SampleCoding {
  double fullScale = 32767.0;
  bool integral = true;
  size_t valueBytes = 2;
  std::function<void(const double* values, size_t count, uint8_t* out)> encode;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_SAMPLE_CODING_H_
