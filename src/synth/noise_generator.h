#ifndef STAMPLINE_SYNTH_NOISE_GENERATOR_H_
#define STAMPLINE_SYNTH_NOISE_GENERATOR_H_

#include <cstdint>

namespace stampline {

// A small linear congruential generator for the noise on the bit cells. It is
// ours rather than the C library's so that a given seed gives the same cells
// on every platform: seeded with 1 it yields 41, 18467, 6334, 26500, 19169.
class NoiseGenerator {
 public:
  static constexpr int kMax = 32767;

  void seed(uint32_t value) { state_ = value; }

  // Advances the state and returns a value in 0 ... kMax.
  int next();

 private:
  uint32_t state_ = 1;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_NOISE_GENERATOR_H_
