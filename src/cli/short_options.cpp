#include "cli/short_options.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace stampline {
namespace {

constexpr size_t kTimecodeTextLength = 11;

// Decimal integer conversion as atoi reads it (leading blanks, sign, digits,
// 0 for none), but clamped to the 32-bit range instead of overflowing.
int32_t toInt(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// The frame rate's integer part for messages, clamped, and 0 for NaN.
int32_t truncatedRate(double rate) {
  if (std::isnan(rate)) return 0;
  return static_cast<int32_t>(std::clamp(rate, static_cast<double>(INT32_MIN),
                                         static_cast<double>(INT32_MAX)));
}

// "-o -" writes a file named "-", as it always has.
void storeOutput(const char* value, OptionScan& scan) {
  scan.settings.outputPath = value;
  scan.settings.toStandardOutput = false;
}
void storeSampleRate(const char* value, OptionScan& scan) {
  scan.settings.sampleRate = toInt(value);
  scan.settings.sampleRateGiven = std::string("-s ") + value;
}
void storeChannels(const char* value, OptionScan& scan) {
  scan.settings.channels = toInt(value);
  scan.settings.channelsGiven = std::string("-c ") + value;
}
void storeStart(const char* value, OptionScan& scan) {
  scan.settings.startText = value;
  scan.start = Spelling::kShort;
}
void storeDuration(const char* value, OptionScan& scan) {
  scan.settings.durationFrames = toInt(value);
  scan.settings.durationGiven = true;
  scan.length = OptionScan::Length::kFrames;
}
void storeFrameRate(const char* value, OptionScan& scan) {
  // Exact comparison: 30, 30.0 and 3e1 are all 30; 29.97 is not (and is
  // refused by the check, which leaves the rate as it was).
  const double fps = std::strtod(value, nullptr);
  if (fps == 30.0) scan.settings.frameRate = kRate30;
  if (fps == 25.0) scan.settings.frameRate = kRate25;
  scan.rate = Spelling::kShort;
}
void storeDropFrame(const char* value, OptionScan& scan) {
  scan.settings.dropFrame = toInt(value) != 0;
  scan.dropFrame = Spelling::kShort;
}
void storeVolume(const char* value, OptionScan& scan) {
  scan.settings.volume = std::strtod(value, nullptr);
}
void storeClean(const char* value, OptionScan& scan) { scan.settings.clean = toInt(value) != 0; }

bool checkSampleRate(const char*, const OptionScan& scan, std::FILE* out) {
  const int32_t rate = scan.settings.sampleRate;
  if (rate == 22050 || rate == 44100 || rate == 48000) return true;
  std::fprintf(out, "Invalid Samplerate = %d\n\n", rate);
  return false;
}

bool checkChannels(const char*, const OptionScan& scan, std::FILE* out) {
  const int32_t channels = scan.settings.channels;
  if (channels == 1 || channels == 2) return true;
  std::fprintf(out, "Invalid Channel Count = %d\n\n", channels);
  return false;
}

bool checkStart(const char* value, const OptionScan& scan, std::FILE* out) {
  if (scan.settings.startText.size() == kTimecodeTextLength) return true;
  std::fprintf(out, "Invalid timecode = %s\n\n", value);
  return false;
}

bool checkFrameRate(const char* value, const OptionScan&, std::FILE* out) {
  const double fps = std::strtod(value, nullptr);
  if (fps == 30.0 || fps == 25.0) return true;
  std::fprintf(out, "Invalid frame rate = %d\n\n", truncatedRate(fps));
  return false;
}

const std::array<ShortOptionRow, 10> kRows{{
    {'o', "PATH", "file to write (output.wav)", storeOutput, nullptr},
    {'s', "HZ", "22050, 44100 or 48000 (44100)", storeSampleRate, checkSampleRate},
    {'c', "N", "1 or 2 (2)", storeChannels, checkChannels},
    {'t', "HH:MM:SS:FF", "any 11 characters, the digits read (01:00:00:00)", storeStart, checkStart},
    {'d', "FRAMES", "frames to write; 0 or less writes none (1800)", storeDuration, nullptr},
    {'f', "FPS", "25 or 30 (30)", storeFrameRate, checkFrameRate},
    {'n', "0|1", "non-zero for drop-frame labels (0)", storeDropFrame, nullptr},
    {'a', "VOLUME", "peak level, 1.0 full scale (0.5)", storeVolume, nullptr},
    {'q', "0|1", "non-zero for a clean signal (0)", storeClean, nullptr},
    {'h', nullptr, "print the short usage and exit with status 1", nullptr, nullptr},
}};

}  // namespace

std::span<const ShortOptionRow> shortOptionRows() { return kRows; }

const char* shortOptionLetters() {
  static const std::string letters = [] {
    std::string s;
    for (const ShortOptionRow& row : kRows) s += row.letter;
    return s;
  }();
  return letters.c_str();
}

const ShortOptionRow* shortOption(int letter) {
  for (const ShortOptionRow& row : kRows) {
    if (row.letter == letter) return &row;
  }
  return nullptr;
}

}  // namespace stampline
