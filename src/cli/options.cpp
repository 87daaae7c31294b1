#include "cli/options.h"

#include "cli/long_options.h"
#include "cli/option_scanner.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

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

ScanResult fail(std::FILE* out) {
  printUsage(out);
  return ScanResult::kRefused;
}

// Stores the value of short option `letter` and echoes it; false (after the
// error message) when the value is refused.
bool applyOption(int letter, const char* value, OptionScan& scan, bool echo, std::FILE* out) {
  Settings& settings = scan.settings;
  double framesPerSecond = 0;
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
      scan.start = Spelling::kShort;
      break;
    case 'd':
      settings.durationFrames = toInt(value);
      scan.length = OptionScan::Length::kFrames;
      break;
    case 'f':
      framesPerSecond = std::strtod(value, nullptr);
      scan.rate = Spelling::kShort;
      break;
    case 'n':
      settings.dropFrame = toInt(value) != 0;
      scan.dropFrame = Spelling::kShort;
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
  if (echo) std::fprintf(out, "%c = %d %s\n", letter, letter, value);

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
      // Exact comparison: 30, 30.0 and 3e1 are all 30; 29.97 is not.
      if (framesPerSecond == 30.0) {
        settings.frameRate = kRate30;
      } else if (framesPerSecond == 25.0) {
        settings.frameRate = kRate25;
      } else {
        std::fprintf(out, "Invalid frame rate = %d\n\n", truncatedRate(framesPerSecond));
        return false;
      }
      break;
    default:
      break;
  }
  return true;
}

// Stores the value of a long option and echoes it; false (after the message)
// when the value is refused.
bool applyLongOption(const LongOptionRow& row, const char* value, OptionScan& scan, bool echo,
                     std::FILE* out) {
  std::string why;
  if (!row.take(value, scan, why)) {
    printRefusal(out, row.name, value, why.empty() ? row.accepted : why);
    return false;
  }
  if (!echo) return true;
  if (value != nullptr) {
    std::fprintf(out, "%s = %s\n", row.name, value);
  } else {
    std::fprintf(out, "%s\n", row.name);
  }
  return true;
}

// Drop-frame labels exist only in 30-label counting (29.97 and 30 frames
// per second), whichever order the frame rate and drop-frame came in. A
// command line of short options alone keeps its own message and the usage
// text.
bool checkDropFrame(const OptionScan& scan, std::FILE* out) {
  const Settings& s = scan.settings;
  if (!s.dropFrame || s.frameRate.nominal == 30) return true;
  const std::string why = "drop-frame counting needs 29.97 or 30 frames per second";
  if (scan.dropFrame == Spelling::kLong) {
    printRefusal(out, "drop-frame", nullptr, why);
  } else if (scan.rate == Spelling::kLong) {
    printRefusal(out, "frame-rate", scan.rateText.c_str(), why);
  } else {
    std::fputs("Drop-frame counting needs 30 frames per second\n\n", out);
    printUsage(out);
  }
  return false;
}

// True when the command line holds --quiet, found as the scan will find it
// (not as the value of an option, not after "--"), so that not even the
// echo lines before it are printed.
bool quietAnywhere(int argc, char** argv) {
  std::vector<char*> copy(argv, argv + argc);
  copy.push_back(nullptr);
  OptionScanner scanner;
  const int quiet = longCode("quiet");
  for (;;) {
    const int code = scanner.next(argc, copy.data(), kOptionLetters, longOptionTable(), nullptr);
    if (code == -1) return false;
    if (code == quiet) return true;
  }
}

}  // namespace

ScanResult scanOptions(int argc, char** argv, Settings& settings, std::FILE* out) {
  const bool echo = !quietAnywhere(argc, argv);
  const std::span<const LongOptionRow> rows = longOptionRows();
  OptionScan scan;
  scan.settings = settings;
  // The settings are kept as far as they got, refused or not.
  const auto ended = [&](ScanResult result) {
    settings = scan.settings;
    return result;
  };
  startOptionScan();
  for (;;) {
    const int code = nextOption(argc, argv, kOptionLetters, longOptionTable());
    if (code == -1) break;
    if (code == 'h' || code == '?') return ended(fail(out));
    if (code >= kFirstLongCode) {
      const LongOptionRow& row = rows[static_cast<size_t>(code - kFirstLongCode)];
      if (code == longCode("help")) {
        printHelp(out);
        return ended(ScanResult::kFinished);
      }
      if (code == longCode("version")) {
        printVersion(out);
        return ended(ScanResult::kFinished);
      }
      if (!applyLongOption(row, optionArgument(), scan, echo, out)) {
        return ended(ScanResult::kRefused);
      }
      continue;
    }
    // A short option's value is the element the scan stands on.
    const int at = optionIndex();
    if (at >= argc) {
      std::fprintf(out, "Missing value for -%c\n\n", code);
      return ended(fail(out));
    }
    if (!applyOption(code, argv[at], scan, echo, out)) return ended(fail(out));
  }
  if (!checkDropFrame(scan, out) || !finishLongOptions(scan, out)) {
    return ended(ScanResult::kRefused);
  }
  return ended(ScanResult::kRun);
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
