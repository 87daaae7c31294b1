#ifndef STAMPLINE_TIMECODE_FRAME_RATE_H_
#define STAMPLINE_TIMECODE_FRAME_RATE_H_

#include <cstdint>

namespace stampline {

// A frame rate as an exact fraction of frames per second, with the number of
// labels each second of timecode counts.
struct FrameRate {
  uint32_t numerator = 30;
  uint32_t denominator = 1;
  uint32_t nominal = 30;  // frame labels per timecode second

  bool operator==(const FrameRate&) const = default;
};

inline constexpr FrameRate kRate25{25, 1, 25};
inline constexpr FrameRate kRate30{30, 1, 30};

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_FRAME_RATE_H_
