#include "timecode/label_text.h"

namespace stampline {
namespace {

constexpr size_t kLabelLength = 11;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where each field's tens and units stand in the text.
constexpr size_t kHours = 0;
constexpr size_t kMinutes = 3;
constexpr size_t kSeconds = 6;
constexpr size_t kFrames = 9;

}  // namespace

TimecodeWord packTimecodeText(std::string_view text) {
  const auto low4 = [text](size_t at) { return static_cast<uint32_t>(text[at]) & 0xFU; };
  return wordOfDigits({low4(kHours), low4(kHours + 1), low4(kMinutes), low4(kMinutes + 1),
                       low4(kSeconds), low4(kSeconds + 1), low4(kFrames), low4(kFrames + 1)});
}

bool parseLabel(std::string_view text, TimecodeFields& fields) {
  if (text.size() != kLabelLength || text[2] != ':' || text[5] != ':' ||
      (text[8] != ':' && text[8] != ';' && text[8] != '.')) {
    return false;
  }
  for (const size_t at : {kHours, kMinutes, kSeconds, kFrames}) {
    if (!isDigit(text[at]) || !isDigit(text[at + 1])) return false;
  }
  const auto field = [text](size_t at) {
    return static_cast<uint32_t>((text[at] - '0') * 10 + (text[at + 1] - '0'));
  };
  const TimecodeFields read{field(kHours), field(kMinutes), field(kSeconds), field(kFrames)};
  if (read.hours >= 24 || read.minutes >= 60 || read.seconds >= 60) return false;
  fields = read;
  return true;
}

std::string formatLabel(TimecodeWord label, bool dropFrame) {
  // Digit by digit, so that a word read from a damaged frame shows what it
  // holds.
  const TimecodeDigits d = digitsOf(label);
  std::string text = "00:00:00:00";
  for (size_t i = 0; i < d.size(); ++i) text[i + i / 2] = static_cast<char>('0' + d[i]);
  if (dropFrame) text[8] = ';';
  return text;
}

}  // namespace stampline
