#include "cli/output_coding.h"

namespace stampline {

SampleCoding outputCoding(SampleFormat format) {
  return {fullScale(format), !format.floating, bytesPerSample(format),
          [format](const double* values, size_t count, uint8_t* out) {
            encodeSamples(format, values, count, out);
          }};
}

}  // namespace stampline
