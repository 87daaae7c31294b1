#include "synth/noise_generator.h"

namespace stampline {

int NoiseGenerator::next() {
  state_ = state_ * 214013U + 2531011U;
  return static_cast<int>((state_ >> 16) & 0x7FFFU);
}

}  // namespace stampline
