#include "timecode/frame_rate.h"

#include <utility>

namespace stampline {
namespace {

// The rates LTC runs at, as they are written. 23.976 and 29.97 stand for
// the exact NTSC rates 24000/1001 and 30000/1001.
constexpr std::pair<const char*, FrameRate> kRateSpellings[] = {
    {"23.976", kRate23976}, {"23.98", kRate23976},     {"24000/1001", kRate23976},
    {"24", kRate24},        {"25", kRate25},           {"29.97", kRate2997},
    {"30000/1001", kRate2997}, {"30", kRate30},
};
// Video rates above 30 frames per second, and the LTC rate that carries
// their timecode.
constexpr std::pair<const char*, const char*> kVideoRates[] = {
    {"47.95", "23.976"}, {"47.952", "23.976"}, {"48000/1001", "23.976"}, {"48", "24"},
    {"50", "25"},        {"59.94", "29.97"},   {"60000/1001", "29.97"},  {"60", "30"},
};

}  // namespace

std::string rateName(const FrameRate& rate) {
  if (rate == kRate23976) return "23.976";
  if (rate == kRate2997) return "29.97";
  return std::to_string(rate.numerator / rate.denominator);
}

std::string rateFraction(const FrameRate& rate) {
  return std::to_string(rate.numerator) + "/" + std::to_string(rate.denominator);
}

bool parseFrameRate(std::string_view text, FrameRate& rate) {
  for (const auto& [spelling, spelled] : kRateSpellings) {
    if (text == spelling) {
      rate = spelled;
      return true;
    }
  }
  return false;
}

const char* ltcRateForVideo(std::string_view text) {
  for (const auto& [video, carried] : kVideoRates) {
    if (text == video) return carried;
  }
  return nullptr;
}

}  // namespace stampline
