#ifndef STAMPLINE_TIMECODE_FRAME_RATE_H_
#define STAMPLINE_TIMECODE_FRAME_RATE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace stampline {

// A frame rate as an exact fraction of frames per second, with the number of
// labels each second of timecode counts: 29.97 is 30000/1001 counting 30.
struct FrameRate {
  uint32_t numerator = 30;
  uint32_t denominator = 1;
  uint32_t nominal = 30;  // frame labels per timecode second

  bool operator==(const FrameRate&) const = default;
};

inline constexpr FrameRate kRate23976{24000, 1001, 24};
inline constexpr FrameRate kRate24{24, 1, 24};
inline constexpr FrameRate kRate25{25, 1, 25};
inline constexpr FrameRate kRate2997{30000, 1001, 30};
inline constexpr FrameRate kRate30{30, 1, 30};
// Every rate LTC runs at, slowest first.
inline constexpr FrameRate kLtcRates[] = {kRate23976, kRate24, kRate25, kRate2997, kRate30};

// The rate as people write it: "23.976", "24", "25", "29.97" or "30".
std::string rateName(const FrameRate& rate);
// The rate as an exact fraction, "30000/1001" or "25/1", as iXML writes it.
std::string rateFraction(const FrameRate& rate);
// Reads a rate as it is written: 23.976 (or 23.98, 24000/1001), 24, 25,
// 29.97 (or 30000/1001), 30. False for anything else.
bool parseFrameRate(std::string_view text, FrameRate& rate);
// For a video rate above 30 frames per second (47.95, 48, 50, 59.94, 60 and
// their fractions), the name of the LTC rate that carries its timecode;
// null for any other text.
const char* ltcRateForVideo(std::string_view text);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_FRAME_RATE_H_
