#ifndef STAMPLINE_DECODE_STRETCH_BITS_H_
#define STAMPLINE_DECODE_STRETCH_BITS_H_

#include <cstddef>
#include <cstdint>

namespace stampline {

// Where a block's samples lie against the middle, 64 at a time: bit k of
// `bits[c]` is set where sample 64c + k (counted every `stride`th value)
// lies above `mid`, for `stretches` stretches. `highest` and `lowest` take
// in the extremes of those samples. T is int16_t, int32_t or float; the
// widest comparisons the processor has are used.
template <typename T>
void stretchBits(const T* block, size_t stride, size_t stretches, T mid, uint64_t* bits, T& highest,
                 T& lowest);

}  // namespace stampline

#endif  // STAMPLINE_DECODE_STRETCH_BITS_H_
