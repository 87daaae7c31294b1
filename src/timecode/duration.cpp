#include "timecode/duration.h"

namespace stampline {
namespace {

constexpr size_t kMostWholeDigits = 9;
constexpr size_t kMostFractionDigits = 6;

}  // namespace

bool parseDecimal(std::string_view text, uint64_t& mantissa, uint32_t& scaleDigits) {
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if (whole.size() + fraction.size() == 0 || whole.size() > kMostWholeDigits ||
      fraction.size() > kMostFractionDigits) {
    return false;
  }
  uint64_t value = 0;
  for (const std::string_view part : {whole, fraction}) {
    for (const char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
  }
  mantissa = value;
  scaleDigits = static_cast<uint32_t>(fraction.size());
  return true;
}

bool parseTimeLength(std::string_view text, TimeLength& length) {
  if (text.empty()) return false;
  uint32_t unit = 0;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    default: return false;
  }
  TimeLength read;
  if (!parseDecimal(text.substr(0, text.size() - 1), read.mantissa, read.scaleDigits)) return false;
  read.unitSeconds = unit;
  length = read;
  return true;
}

std::optional<uint64_t> framesCovering(const TimeLength& length, const FrameRate& rate,
                                       uint64_t mostFrames) {
  // mantissa * unitSeconds * NUM / (DEN * 10^scale), rounded up, split so
  // that no product can overflow: the mantissa is below 10^15 and the unit
  // at most 3600.
  uint64_t divisor = rate.denominator;
  for (uint32_t i = 0; i < length.scaleDigits; ++i) divisor *= 10;
  const uint64_t units = length.mantissa * length.unitSeconds;
  const uint64_t whole = units / divisor;
  const uint64_t rest = units % divisor;
  if (whole > mostFrames) return std::nullopt;
  const uint64_t frames = whole * rate.numerator + (rest * rate.numerator + divisor - 1) / divisor;
  if (frames > mostFrames) return std::nullopt;
  return frames;
}

uint64_t framesUntil(TimecodeWord start, TimecodeWord end, uint32_t nominalFps, bool dropFrame) {
  const uint64_t day = labelsPerDay(nominalFps, dropFrame);
  const uint64_t first = labelNumber(start, nominalFps, dropFrame);
  const uint64_t last = labelNumber(end, nominalFps, dropFrame);
  return (last + day - first) % day;
}

}  // namespace stampline
