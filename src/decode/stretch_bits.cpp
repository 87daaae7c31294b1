#include "decode/stretch_bits.h"

#include <algorithm>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define STAMPLINE_HAVE_AVX2 1
#endif

namespace stampline {
namespace {

// The bits of a block's 64-sample stretches, bit k of stretch c set where
// sample 64c + k lies above the middle; and the extremes of those samples.
// One by one for any type and stride.
template <typename T>
void stretchBitsOneByOne(const T* block, size_t stride, size_t stretches, T mid, uint64_t* bits, T& highest,
                 T& lowest) {
  for (size_t c = 0; c < stretches; ++c) {
    uint64_t b = 0;
    for (size_t k = 0; k < 64; ++k) {
      const T v = block[(c * 64 + k) * stride];
      b |= static_cast<uint64_t>(v > mid) << k;
      highest = std::max(highest, v);
      lowest = std::min(lowest, v);
    }
    bits[c] = b;
  }
}

#if defined(__SSE2__)
// 16-bit samples eight at a time, one after another or every other
// (stereo): those stand in the low halves of 32-bit lanes, and sign
// extension and packing gather eight of them.
void stretchBitsSse2(const int16_t* block, size_t stride, size_t stretches, int16_t mid,
                     uint64_t* bits, int16_t& highest, int16_t& lowest) {
  const __m128i middle = _mm_set1_epi16(mid);
  __m128i high = _mm_set1_epi16(highest);
  __m128i low = _mm_set1_epi16(lowest);
  const auto lowHalves = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); };
  for (size_t c = 0; c < stretches; ++c) {
    uint64_t b = 0;
    for (size_t part = 0; part < 4; ++part) {
      const int16_t* p = block + (c * 64 + part * 16) * stride;
      __m128i x;
      __m128i y;
      if (stride == 1) {
        x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
      } else {
        const auto* q = reinterpret_cast<const __m128i*>(p);
        x = _mm_packs_epi32(lowHalves(_mm_loadu_si128(q)), lowHalves(_mm_loadu_si128(q + 1)));
        y = _mm_packs_epi32(lowHalves(_mm_loadu_si128(q + 2)), lowHalves(_mm_loadu_si128(q + 3)));
      }
      high = _mm_max_epi16(high, _mm_max_epi16(x, y));
      low = _mm_min_epi16(low, _mm_min_epi16(x, y));
      const __m128i over = _mm_packs_epi16(_mm_cmpgt_epi16(x, middle), _mm_cmpgt_epi16(y, middle));
      b |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(over))) << (16 * part);
    }
    bits[c] = b;
  }
  alignas(16) int16_t lanes[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), high);
  highest = *std::max_element(lanes, lanes + 8);
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), low);
  lowest = *std::min_element(lanes, lanes + 8);
}
#endif

#if defined(STAMPLINE_HAVE_AVX2)
// The same sixteen at a time, on a processor with AVX2. Packing works
// within each 128-bit half; a permutation puts the halves in order again.
#define STAMPLINE_IN_ORDER(v) _mm256_permute4x64_epi64((v), 0xD8)
__attribute__((target("avx2"))) void stretchBitsAvx2(const int16_t* block, size_t stride,
                                                     size_t stretches, int16_t mid, uint64_t* bits,
                                                     int16_t& highest, int16_t& lowest) {
  const __m256i middle = _mm256_set1_epi16(mid);
  __m256i high = _mm256_set1_epi16(highest);
  __m256i low = _mm256_set1_epi16(lowest);
  // Every other sample (stereo) stands in the low half of each 32-bit
  // lane read from the first: multiplied by 1 and added to the high half
  // times 0, it becomes a 32-bit number, and packing four such vectors
  // gathers 32 samples, in the order of a permutation that one more undoes
  // (most work in arithmetic rather than shuffles, of which a processor
  // does fewer at once).
  const __m256i lowHalf = _mm256_set1_epi32(1);
  const __m256i inOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
#define STAMPLINE_HALF(q) _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), lowHalf)
  for (size_t c = 0; c < stretches; ++c) {
    uint64_t b = 0;
    for (size_t part = 0; part < 2; ++part) {
      const int16_t* p = block + (c * 64 + part * 32) * stride;
      __m256i x;
      __m256i y;
      if (stride == 1) {
        x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
      } else {
        x = _mm256_packs_epi32(STAMPLINE_HALF(p), STAMPLINE_HALF(p + 16));
        y = _mm256_packs_epi32(STAMPLINE_HALF(p + 32), STAMPLINE_HALF(p + 48));
      }
      high = _mm256_max_epi16(high, _mm256_max_epi16(x, y));
      low = _mm256_min_epi16(low, _mm256_min_epi16(x, y));
      const __m256i packed = _mm256_packs_epi16(_mm256_cmpgt_epi16(x, middle), _mm256_cmpgt_epi16(y, middle));
      const __m256i over = stride == 1 ? STAMPLINE_IN_ORDER(packed) : _mm256_permutevar8x32_epi32(packed, inOrder);
      b |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(over))) << (32 * part);
    }
    bits[c] = b;
  }
  alignas(32) int16_t lanes[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), high);
  highest = *std::max_element(lanes, lanes + 16);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), low);
  lowest = *std::min_element(lanes, lanes + 16);
}
#undef STAMPLINE_HALF
#undef STAMPLINE_IN_ORDER
#endif

using StretchBits16 = void (*)(const int16_t*, size_t, size_t, int16_t, uint64_t*, int16_t&, int16_t&);

// The widest the processor takes, chosen once.
StretchBits16 chooseStretchBits16() {
#if defined(STAMPLINE_HAVE_AVX2)
  if (__builtin_cpu_supports("avx2")) return stretchBitsAvx2;
#endif
#if defined(__SSE2__)
  return stretchBitsSse2;
#else
  return stretchBitsOneByOne<int16_t>;
#endif
}

#if defined(STAMPLINE_HAVE_AVX2)
// 32-bit integers or floats eight at a time, read one after another or
// gathered from every `stride`th place. The extremes follow the comparisons
// of the one-by-one loop, a sample that is no number included.
template <typename T>
__attribute__((target("avx2"))) void stretchBits32Avx2(const T* block, size_t stride, size_t stretches, T mid,
                                                       uint64_t* bits, T& highest, T& lowest) {
  constexpr bool kFloat = std::is_floating_point_v<T>;
  const __m256i places = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                            _mm256_set1_epi32(static_cast<int>(stride)));
  // Three vectors of 32-bit lanes, the same whatever the lanes hold.
  __m256i middle;
  __m256i high;
  __m256i low;
  if constexpr (kFloat) {
    middle = _mm256_castps_si256(_mm256_set1_ps(mid));
    high = _mm256_castps_si256(_mm256_set1_ps(highest));
    low = _mm256_castps_si256(_mm256_set1_ps(lowest));
  } else {
    middle = _mm256_set1_epi32(mid);
    high = _mm256_set1_epi32(highest);
    low = _mm256_set1_epi32(lowest);
  }
  for (size_t c = 0; c < stretches; ++c) {
    uint64_t b = 0;
    for (size_t part = 0; part < 8; ++part) {
      const T* p = block + (c * 64 + part * 8) * stride;
      int over = 0;
      if constexpr (kFloat) {
        const __m256 x = stride == 1 ? _mm256_loadu_ps(p) : _mm256_i32gather_ps(p, places, 4);
        high = _mm256_castps_si256(_mm256_max_ps(x, _mm256_castsi256_ps(high)));
        low = _mm256_castps_si256(_mm256_min_ps(x, _mm256_castsi256_ps(low)));
        over = _mm256_movemask_ps(_mm256_cmp_ps(x, _mm256_castsi256_ps(middle), _CMP_GT_OQ));
      } else {
        const __m256i x = stride == 1 ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
                                      : _mm256_i32gather_epi32(p, places, 4);
        high = _mm256_max_epi32(x, high);
        low = _mm256_min_epi32(x, low);
        over = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(x, middle)));
      }
      b |= static_cast<uint64_t>(static_cast<unsigned>(over)) << (8 * part);
    }
    bits[c] = b;
  }
  alignas(32) T lanes[2][8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), high);
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), low);
  for (size_t i = 0; i < 8; ++i) {
    highest = std::max(highest, lanes[0][i]);
    lowest = std::min(lowest, lanes[1][i]);
  }
}
#endif

}  // namespace

template <typename T>
void stretchBits(const T* block, size_t stride, size_t stretches, T mid, uint64_t* bits, T& highest,
                 T& lowest) {
  if constexpr (std::is_same_v<T, int16_t>) {
    static const StretchBits16 widest = chooseStretchBits16();
    if (stride <= 2) {
      widest(block, stride, stretches, mid, bits, highest, lowest);
      return;
    }
  } else {
#if defined(STAMPLINE_HAVE_AVX2)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
      stretchBits32Avx2(block, stride, stretches, mid, bits, highest, lowest);
      return;
    }
#endif
  }
  stretchBitsOneByOne(block, stride, stretches, mid, bits, highest, lowest);
}

template void stretchBits(const int16_t*, size_t, size_t, int16_t, uint64_t*, int16_t&, int16_t&);
template void stretchBits(const int32_t*, size_t, size_t, int32_t, uint64_t*, int32_t&, int32_t&);
template void stretchBits(const float*, size_t, size_t, float, uint64_t*, float&, float&);

}  // namespace stampline
