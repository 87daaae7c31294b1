#include "cli/options.h"

#include "cli/option_scanner.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace stampline {
namespace {

// No letter is marked as taking an argument: each option's value is the
// element at optind when the letter comes back, which is what gives the
// command line its documented quirks (-s48000 reads as 0, -os 48000 sets the
// path to "-os", a value typed as -5 is also scanned as options).
constexpr const char* kOptionLetters = "osctdfnaqh";
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

bool fail(std::FILE* out) {
  printUsage(out);
  return false;
}

// Stores the value of option `letter` and echoes it; false (after the error
// message) when the value is refused.
bool applyOption(int letter, const char* value, Settings& settings, std::FILE* out) {
  switch (letter) {
    case 'o':
      settings.outputPath = value;
      break;
    case 's':
      settings.sampleRate = toInt(value);
      break;
    case 'c':
      settings.channels = toInt(value);
      break;
    case 't':
      settings.startText = value;
      break;
    case 'd':
      settings.durationFrames = toInt(value);
      break;
    case 'f':
      settings.framesPerSecond = std::strtod(value, nullptr);
      break;
    case 'n':
      settings.dropFrame = toInt(value) != 0;
      break;
    case 'a':
      settings.volume = std::strtod(value, nullptr);
      break;
    case 'q':
      settings.clean = toInt(value) != 0;
      break;
    default:
      return false;
  }
  std::fprintf(out, "%c = %d %s\n", letter, letter, value);

  switch (letter) {
    case 's':
      if (settings.sampleRate != 22050 && settings.sampleRate != 44100 &&
          settings.sampleRate != 48000) {
        std::fprintf(out, "Invalid Samplerate = %d\n\n", settings.sampleRate);
        return false;
      }
      break;
    case 'c':
      if (settings.channels != 1 && settings.channels != 2) {
        std::fprintf(out, "Invalid Channel Count = %d\n\n", settings.channels);
        return false;
      }
      break;
    case 't':
      if (settings.startText.size() != kTimecodeTextLength) {
        std::fprintf(out, "Invalid timecode = %s\n\n", value);
        return false;
      }
      break;
    case 'f':
      if (settings.framesPerSecond != 30.0 && settings.framesPerSecond != 25.0) {
        std::fprintf(out, "Invalid frame rate = %d\n\n", truncatedRate(settings.framesPerSecond));
        return false;
      }
      break;
    default:
      break;
  }
  return true;
}

// Checks that need every option: drop-frame labels exist only in 30-frame
// counting, whichever order -n and -f came in.
bool checkCombination(const Settings& settings, std::FILE* out) {
  if (settings.dropFrame && settings.framesPerSecond != 30.0) {
    std::fputs("Drop-frame counting needs 30 frames per second\n\n", out);
    return fail(out);
  }
  return true;
}

}  // namespace

bool scanOptions(int argc, char** argv, Settings& settings, std::FILE* out) {
  startOptionScan();
  for (;;) {
    const int letter = nextOption(argc, argv, kOptionLetters);
    if (letter == -1) return checkCombination(settings, out);
    if (letter == 'h' || letter == '?') return fail(out);
    const int at = optionIndex();
    if (at >= argc) {
      std::fprintf(out, "Missing value for -%c\n\n", letter);
      return fail(out);
    }
    if (!applyOption(letter, argv[at], settings, out)) return fail(out);
  }
}

void printUsage(std::FILE* out) {
  static constexpr const char* kUsage[] = {
      "\nStampline [options]\n",
      "  -o \"output.wav\"\n",
      "    file to write to\n",
      "  -s 44100\n",
      "    samplerate (valid values are 22050, 44100 and 48000)\n",
      "  -c 2\n",
      "    channles (valid values are 1 and 2)\n",
      "  -t \"01:00:00:00\"\n",
      "    Starting timecode (must be in the form of \"HH:MM:SS:FF\")\n",
      "  -d 1800\n",
      "    Duration in frames\n",
      "  -f 30\n",
      "    frames per second (valid values are 30 and 25)\n",
      "  -n 0\n",
      "    Dropframe = 1, NonDropFrame = 0\n",
      "  -a 0.5\n",
      "    Volume (1.0 = max, 0.5 = half)\n",
      "  -h\n",
      "    This help file\n",
  };
  for (const char* line : kUsage) std::fputs(line, out);
}

TimecodeWord packTimecodeText(std::string_view text) {
  const auto low4 = [&](size_t i) { return static_cast<TimecodeWord>(text[i]) & 0xFU; };
  return low4(1) | low4(0) << 4 | low4(4) << 8 | low4(3) << 12 | low4(7) << 16 |
         low4(6) << 20 | low4(10) << 24 | (low4(9) & 0x3U) << 28;
}

}  // namespace stampline
