#include "cli/long_options.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "timecode/duration.h"
#include "timecode/frame_rate.h"
#include "timecode/label_text.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"
#include "wav/wav_limits.h"

namespace stampline {
namespace {

// The long options read their values strictly: the whole value must be what
// is accepted, so that "48k" or "1,5h" is refused rather than read as
// something else.

// Decimal digits only, at most `max`.
bool wholeNumber(std::string_view text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value <= max;
}

// The nearest double to a decimal number as parseDecimal() accepts it, with
// an optional sign. The text is checked first, so the C library's
// conversion (the program keeps the "C" locale) reads exactly it.
bool decimalValue(std::string_view text, double& value) {
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
  uint64_t mantissa = 0;
  uint32_t scale = 0;
  if (!parseDecimal(digits, mantissa, scale)) return false;
  value = std::strtod(std::string(text).c_str(), nullptr);
  return true;
}

// "-" is standard output, as a stream.
bool takeOutput(const char* value, OptionScan& scan, std::string&) {
  if (*value == '\0') return false;
  scan.settings.outputPath = value;
  scan.settings.toStandardOutput = std::string_view(value) == "-";
  return true;
}

bool takeSampleRate(const char* value, OptionScan& scan, std::string&) {
  uint64_t rate = 0;
  if (!wholeNumber(value, kHighestRate, rate) || rate < kLowestWrittenRate) return false;
  scan.settings.sampleRate = static_cast<int32_t>(rate);
  scan.settings.sampleRateGiven = std::string("--sample-rate=") + value;
  return true;
}

bool takeChannels(const char* value, OptionScan& scan, std::string&) {
  uint64_t channels = 0;
  if (!wholeNumber(value, kMostChannels, channels) || channels == 0) return false;
  scan.settings.channels = static_cast<int32_t>(channels);
  scan.settings.channelsGiven = std::string("--channels=") + value;
  return true;
}

bool takeDepth(const char* value, OptionScan& scan, std::string&) {
  const std::string_view text = value;
  const SampleFormat* format = text == "16"      ? &kPcm16
                               : text == "24"    ? &kPcm24
                               : text == "32"    ? &kPcm32
                               : text == "float" ? &kFloat32
                                                 : nullptr;
  if (format == nullptr) return false;
  scan.settings.format = *format;
  scan.settings.depthGiven = std::string("--depth=") + value;
  return true;
}

bool takeMix(const char* value, OptionScan& scan, std::string&) {
  if (*value == '\0') return false;
  scan.settings.mix = true;
  scan.settings.mixPath = value;
  return true;
}

bool takeStart(const char* value, OptionScan& scan, std::string&) {
  TimecodeFields label;
  if (!parseLabel(value, label)) return false;
  scan.settings.startText = value;
  scan.settings.startGiven = true;
  scan.startText = value;
  scan.start = Spelling::kLong;
  return true;
}

bool takeDuration(const char* value, OptionScan& scan, std::string&) {
  const std::string_view text = value;
  uint64_t frames = 0;
  if (wholeNumber(text, INT32_MAX, frames)) {
    scan.settings.durationFrames = static_cast<int32_t>(frames);
    scan.settings.durationGiven = true;
    scan.length = OptionScan::Length::kFrames;
    return true;
  }
  if (!parseTimeLength(text, scan.time)) return false;
  scan.settings.durationGiven = true;
  scan.length = OptionScan::Length::kTime;
  scan.lengthText = value;
  return true;
}

bool takeEnd(const char* value, OptionScan& scan, std::string&) {
  if (!parseLabel(value, scan.end)) return false;
  scan.settings.durationGiven = true;
  scan.length = OptionScan::Length::kEnd;
  scan.lengthText = value;
  return true;
}

bool takeFrameRate(const char* value, OptionScan& scan, std::string& why) {
  if (parseFrameRate(value, scan.settings.frameRate)) {
    scan.settings.frameRateGiven = true;
    scan.rate = Spelling::kLong;
    scan.rateText = value;
    return true;
  }
  if (const char* carried = ltcRateForVideo(value); carried != nullptr) {
    why = std::string("LTC runs at 23.976, 24, 25, 29.97 or 30 frames per second; ") + value +
          " fps video carries " + carried + " fps LTC";
  }
  return false;
}

bool takeDropFrame(const char*, OptionScan& scan, std::string&) {
  scan.settings.dropFrame = true;
  scan.dropFrame = Spelling::kLong;
  return true;
}

bool takeVolume(const char* value, OptionScan& scan, std::string&) {
  double volume = 0;
  if (*value == '-' || *value == '+' || !decimalValue(value, volume) || volume > 1.0) return false;
  scan.settings.volume = volume;
  return true;
}

bool takeLevel(const char* value, OptionScan& scan, std::string&) {
  std::string_view text = value;
  for (const std::string_view unit : {"dBFS", "dB"}) {
    if (text.size() > unit.size()) {
      const std::string_view tail = text.substr(text.size() - unit.size());
      bool same = true;
      for (size_t i = 0; i < unit.size(); ++i) {
        same = same && (tail[i] | 0x20) == (unit[i] | 0x20);
      }
      if (same) {
        text.remove_suffix(unit.size());
        break;
      }
    }
  }
  double decibels = 0;
  if (!decimalValue(text, decibels) || decibels < -60.0 || decibels > 0.0) return false;
  scan.settings.volume = std::pow(10.0, decibels / 20.0);
  return true;
}

bool takeBroadcastWave(const char*, OptionScan& scan, std::string&) {
  scan.settings.broadcastWave = true;
  return true;
}

// Notes the user-bit option given last, for the message when the two that
// exclude each other are both given.
void noteUserBits(OptionScan& scan, const char* name, const char* value) {
  scan.userBitsOption = name;
  scan.userBitsText = value;
}

bool takeUserBits(const char* value, OptionScan& scan, std::string&) {
  const std::string_view text = value;
  if (text.size() != 8) return false;
  uint32_t word = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    word = word << 4 | static_cast<uint32_t>(digit);
  }
  scan.settings.userBits = {UserBits::Kind::kWord, word, 0};
  scan.userBitsGiven = true;
  noteUserBits(scan, "user-bits", value);
  return true;
}

bool takeDate(const char* value, OptionScan& scan, std::string&) {
  const std::string_view text = value;
  if (text == "today") {
    scan.settings.userBits = {UserBits::Kind::kDate, 0, 0};
    scan.settings.dateToday = true;
    scan.dateGiven = true;
    noteUserBits(scan, "date", value);
    return true;
  }
  scan.settings.dateToday = false;
  uint64_t year = 0;
  uint64_t month = 0;
  uint64_t day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !wholeNumber(text.substr(0, 4), 9999, year) || !wholeNumber(text.substr(5, 2), 12, month) ||
      !wholeNumber(text.substr(8, 2), 31, day) || year == 0 || month == 0 || day == 0) {
    return false;
  }
  // A day the calendar has: it survives the trip to a day number and back.
  const int64_t days = daysFromDate(static_cast<int64_t>(year), static_cast<unsigned>(month),
                                    static_cast<unsigned>(day));
  int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  dateFromDays(days, y, m, d);
  if (d != day) return false;
  scan.settings.userBits = {UserBits::Kind::kDate, 0, days};
  scan.dateGiven = true;
  noteUserBits(scan, "date", value);
  return true;
}

bool takeClean(const char*, OptionScan& scan, std::string&) {
  scan.settings.clean = true;
  return true;
}

bool takeAnalyze(const char* value, OptionScan& scan, std::string&) {
  if (*value == '\0') return false;
  scan.settings.analyze = true;
  scan.settings.analyzePath = value;
  return true;
}

bool takeTimecodeChannel(const char* value, OptionScan& scan, std::string&) {
  uint64_t channel = 0;
  if (!wholeNumber(value, kMostChannels, channel) || channel == 0) return false;
  scan.settings.timecodeChannel = static_cast<int32_t>(channel);
  return true;
}

bool takeJson(const char*, OptionScan& scan, std::string&) {
  scan.settings.json = true;
  return true;
}

bool takeCsv(const char* value, OptionScan& scan, std::string&) {
  if (*value == '\0') return false;
  scan.settings.csvPath = value;
  return true;
}

// What JACK takes as a client name (its limit is 64 bytes with the end),
// and the longest delay after the card made up for.
constexpr size_t kLongestClientName = 63;
constexpr double kLongestDelay = 10;

bool takePlay(const char*, OptionScan& scan, std::string&) {
  scan.settings.play = true;
  return true;
}

bool takeName(const char* value, OptionScan& scan, std::string&) {
  const std::string_view text = value;
  if (text.empty() || text.size() > kLongestClientName) return false;
  scan.settings.clientName = value;
  return true;
}

bool takeConnect(const char* value, OptionScan& scan, std::string&) {
  if (*value == '\0') return false;
  scan.settings.connect.emplace_back(value);
  return true;
}

bool takeDownstreamDelay(const char* value, OptionScan& scan, std::string&) {
  double seconds = 0;
  if (!decimalValue(value, seconds) || std::abs(seconds) > kLongestDelay) return false;
  scan.settings.downstreamDelay = seconds;
  return true;
}

// Options whose work the scan does itself.
bool takeNothing(const char*, OptionScan&, std::string&) { return true; }

// The texts that name the limits.
const std::string kSampleRateAccepted =
    "a whole number of samples per second from " + std::to_string(kLowestWrittenRate) + " to " +
    std::to_string(kHighestRate);
const std::string kSampleRateHelp = "samples per second, " + writtenRates() + " (44100)";
const std::string kChannelsAccepted = "a whole number of channels from 1 to " + std::to_string(kMostChannels);
const std::string kChannelsHelp = "1 to " + std::to_string(kMostChannels) + ", every one carrying the signal (2)";
const std::string kTimecodeChannelAccepted = "a channel from 1 to " + std::to_string(kMostChannels);

constexpr const char* kLabelAccepted =
    "HH:MM:SS:FF, two digits each, hours below 24, minutes and seconds below 60; "
    "';' or '.' may stand before the frames";

using Use = LongOptionRow::Use;

const std::array<LongOptionRow, 27> kRows{{
    {"output", "PATH", "a path to write the file to, or - for standard output",
     "file to write (output.wav); - streams it to standard\n"
     "output, the messages going to standard error",
     "FILE", takeOutput, Use::kFileOnly},
    {"sample-rate", "HZ", kSampleRateAccepted.c_str(), kSampleRateHelp.c_str(),
     "16000 22050 32000 44100 48000 88200 96000 176400 192000 352800 384000", takeSampleRate},
    {"channels", "N", kChannelsAccepted.c_str(), kChannelsHelp.c_str(), "1 2 4 6 8", takeChannels},
    {"timecode-channel", "K", kTimecodeChannelAccepted.c_str(),
     "the signal on channel K alone, the others silent;\n"
     "with --mix, where it goes among the input's (last);\n"
     "with --analyze, the one channel read (every channel)",
     "1 2 3 4 5 6 7 8", takeTimecodeChannel, Use::kBoth},
    {"depth", "BITS", "16, 24, 32 or float",
     "samples of 16, 24 or 32 bits, or 32-bit float (16)", "16 24 32 float", takeDepth, Use::kFileOnly},
    {"start", "HH:MM:SS:FF", kLabelAccepted,
     "label of the first frame (01:00:00:00); ';' or '.' may\n"
     "stand before the frames",
     "", takeStart},
    {"duration", "LENGTH", "a whole number of frames, or a time such as 90s, 10m or 1.5h",
     "frames, or real time rounded up to whole frames:\n"
     "90s, 10m, 1.5h (1800 frames)",
     "", takeDuration},
    {"end", "HH:MM:SS:FF", kLabelAccepted,
     "label after the last frame, instead of a duration\n"
     "(across midnight when it comes before the start)",
     "", takeEnd},
    {"frame-rate", "FPS",
     "23.976 (or 23.98, 24000/1001), 24, 25, 29.97 (or 30000/1001) or 30",
     "frames per second: 23.976, 24, 25, 29.97 or 30 (30);\n"
     "23.976 and 29.97 are 24000/1001 and 30000/1001",
     "23.976 24 25 29.97 30", takeFrameRate, Use::kBoth},
    {"drop-frame", nullptr, "", "drop-frame labels (29.97 and 30 fps)", "", takeDropFrame},
    {"volume", "LINEAR", "a decimal number from 0 to 1, such as 0.5", "peak level, 0 to 1 (0.5)", "", takeVolume},
    {"level", "DB", "a peak level in dBFS from -60 to 0, such as -20, -20dB or -20dBFS",
     "peak level in dBFS, -60 to 0 (-6.02)", "", takeLevel},
    {"clean", nullptr, "", "no noise and no edge ramps", "", takeClean},
    {"bwf", nullptr, "",
     "a Broadcast Wave file: bext and iXML chunks with the\n"
     "start's time stamp, so editors place it at its time",
     "", takeBroadcastWave, Use::kFileOnly},
    {"user-bits", "HHHHHHHH", "eight hexadecimal digits, the first for binary group 8",
     "user bits of every frame, binary group 8 first", "", takeUserBits},
    {"date", "YYYY-MM-DD", "a date of the calendar, such as 2026-12-07, or today (with --play)",
     "the date in every frame's user bits (SMPTE 309M,\n"
     "UTC), the next day after midnight; with --play,\n"
     "today: the labels' local day and time zone",
     "today", takeDate},
    {"mix", "FILE", "a WAV file to take the audio from, or - for standard input",
     "the channels of FILE (- for standard input), bit for\n"
     "bit, with the LTC on a channel of its own",
     "FILE", takeMix, Use::kFileOnly},
    {"analyze", "FILE", "a WAV file to read, or - for standard input",
     "read LTC back from FILE (- for standard input) and\n"
     "report on it; writes no file",
     "FILE", takeAnalyze, Use::kAnalyzing},
    {"json", nullptr, "",
     "with --analyze: the report as one JSON document;\n"
     "with --play: a JSON object a line for each status\n"
     "and event, instead of the echo",
     "", takeJson, Use::kAnalyzing},
    {"csv", "PATH", "a path to write the rows to, or - for standard output",
     "with --analyze: one row per frame read to PATH\n"
     "(- for standard output)",
     "FILE", takeCsv, Use::kAnalyzing},
    {"play", nullptr, "",
     "play LTC live through JACK (or PipeWire): the time\n"
     "of day, locked to the system clock, or from --start",
     "", takePlay, Use::kPlaying},
    {"name", "NAME", "a JACK client name of 1 to 63 bytes", "with --play: the JACK client's name (stampline)", "",
     takeName, Use::kPlaying},
    {"connect", "PORT", "a JACK port, such as system:playback_1",
     "with --play: connect the output to PORT; again for\n"
     "the next port (with --channels)",
     "", takeConnect, Use::kPlaying},
    {"downstream-delay", "SECONDS", "seconds from -10 to 10, such as 0.0015",
     "with --play: frames leave the card this much early,\n"
     "for a delay after it (negative: late)",
     "", takeDownstreamDelay, Use::kPlaying},
    {"quiet", nullptr, "", "do not echo the options", "", takeNothing, Use::kBoth},
    {"help", nullptr, "", "show this help and exit", "", takeNothing, Use::kBoth},
    {"version", nullptr, "", "show the version and exit", "", takeNothing, Use::kBoth},
}};

// What the frames of a label given as a long option may be at the run's rate.
std::string framesAccepted(const Settings& s) {
  const uint32_t last = s.frameRate.nominal - 1;
  return "frames 00 to " + std::to_string(last) + " at " + std::to_string(s.frameRate.nominal) +
         " frames per second";
}

}  // namespace

std::span<const LongOptionRow> longOptionRows() { return kRows; }

const LongOption* longOptionTable() {
  static const std::vector<LongOption> table = [] {
    std::vector<LongOption> t;
    for (size_t i = 0; i < kRows.size(); ++i) {
      t.push_back({kRows[i].name, kRows[i].valueName != nullptr,
                   kFirstLongCode + static_cast<int>(i)});
    }
    t.push_back({nullptr, false, 0});
    return t;
  }();
  return table.data();
}

int longCode(const char* name) {
  for (size_t i = 0; i < kRows.size(); ++i) {
    if (std::strcmp(kRows[i].name, name) == 0) return kFirstLongCode + static_cast<int>(i);
  }
  return -1;
}

void printRefusal(std::FILE* out, const char* name, const char* value, const std::string& why) {
  if (value != nullptr) {
    std::fprintf(out, "Invalid --%s '%s': %s\n", name, value, why.c_str());
  } else {
    std::fprintf(out, "Invalid --%s: %s\n", name, why.c_str());
  }
  std::fputs("\nTry 'stampline --help' for more information.\n", out);
}

bool finishLongOptions(OptionScan& scan, std::FILE* out) {
  Settings& s = scan.settings;
  if (!s.play && !scan.firstPlaying.empty()) {
    std::fprintf(out, "Invalid %s: it is for live output; give it with --play\n", scan.firstPlaying.c_str());
    std::fputs("\nTry 'stampline --help' for more information.\n", out);
    return false;
  }
  if (!s.play && s.dateToday) {
    printRefusal(out, "date", "today", "today's date goes with --play; a file takes a date such as 2026-12-07");
    return false;
  }
  if (!scan.firstAnalyzing.empty()) {
    std::fprintf(out, "Invalid %s: it reads a file back; give it with --analyze=FILE\n",
                 scan.firstAnalyzing.c_str());
    std::fputs("\nTry 'stampline --help' for more information.\n", out);
    return false;
  }
  if (scan.userBitsGiven && scan.dateGiven) {
    printRefusal(out, scan.userBitsOption.c_str(), scan.userBitsText.c_str(),
                 "--user-bits and --date both fill the user bits; give one of them");
    return false;
  }
  // With --mix the channels are counted once the input is known.
  if (s.timecodeChannel && !s.mix && *s.timecodeChannel > s.channels) {
    printRefusal(out, "timecode-channel", std::to_string(*s.timecodeChannel).c_str(),
                 "a channel from 1 to " + std::to_string(s.channels) + ", the file's channels");
    return false;
  }
  const uint32_t nominal = s.frameRate.nominal;
  TimecodeFields start;
  if (scan.start == Spelling::kLong && parseLabel(scan.startText, start) && !framesFit(start, nominal)) {
    printRefusal(out, "start", scan.startText.c_str(), framesAccepted(s));
    return false;
  }
  switch (scan.length) {
    case OptionScan::Length::kFrames:
      break;
    case OptionScan::Length::kEnd:
      if (!framesFit(scan.end, nominal)) {
        printRefusal(out, "end", scan.lengthText.c_str(), framesAccepted(s));
        return false;
      }
      s.durationFrames = static_cast<int32_t>(
          framesUntil(packTimecodeText(s.startText), wordOf(scan.end), nominal, s.dropFrame));
      break;
    case OptionScan::Length::kTime: {
      const std::optional<uint64_t> frames = framesCovering(scan.time, s.frameRate, INT32_MAX);
      if (!frames) {
        printRefusal(out, "duration", scan.lengthText.c_str(),
                     "at most " + std::to_string(INT32_MAX) + " frames");
        return false;
      }
      s.durationFrames = static_cast<int32_t>(*frames);
      break;
    }
  }
  return true;
}

}  // namespace stampline
