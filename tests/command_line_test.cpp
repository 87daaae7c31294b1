// Runs the built program and checks its console output byte for byte, the
// exit status, and whether the output file was created.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cli/long_options.h"
#include "program_runner.h"
#include "scanner_differential.h"
#include "test_bytes.h"

namespace stampline::testing {
namespace {

// The letters a terminal shows of `text`: Wine's console writes cursor
// moves between them (ESC [ ... and a letter) and a move for a space.
std::string shownLetters(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      for (i += 2; i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])) == 0;) ++i;
    } else if (text[i] != ' ') {
      out += text[i];
    }
  }
  return out;
}

const std::string kLabelAccepted =
    "HH:MM:SS:FF, two digits each, hours below 24, minutes and seconds below 60; ';' or '.' may "
    "stand before the frames";

const std::string kUsage =
    "\nStampline [options]\n"
    "  -o \"output.wav\"\n"
    "    file to write to\n"
    "  -s 44100\n"
    "    samplerate (valid values are 22050, 44100 and 48000)\n"
    "  -c 2\n"
    "    channles (valid values are 1 and 2)\n"
    "  -t \"01:00:00:00\"\n"
    "    Starting timecode (must be in the form of \"HH:MM:SS:FF\")\n"
    "  -d 1800\n"
    "    Duration in frames\n"
    "  -f 30\n"
    "    frames per second (valid values are 30 and 25)\n"
    "  -n 0\n"
    "    Dropframe = 1, NonDropFrame = 0\n"
    "  -a 0.5\n"
    "    Volume (1.0 = max, 0.5 = half)\n"
    "  -h\n"
    "    This help file\n";

struct Case {
  const char* name;
  std::vector<std::string> args;
  std::string out;
  bool errText;  // something on standard error
  int status;
  const char* file = nullptr;  // the file a run must write
  uint32_t rate = 0;           // its sample rate and channel count
  uint32_t channels = 0;
  uint32_t dataBytes = 0;
  bool posixlyCorrect = false;
  int peak = -1;  // the largest sample magnitude of a clean run, when given
};

std::vector<Case> cases() {
  const std::string u = kUsage;
  return {
      {"defaults", {}, "", false, 0, "output.wav", 44100, 2, 10584000},
      {"bad rate", {"-s", "32000"}, "s = 115 32000\nInvalid Samplerate = 32000\n\n" + u, false, 1},
      {"zero channels", {"-c", "0"}, "c = 99 0\nInvalid Channel Count = 0\n\n" + u, false, 1},
      {"channels 2.9 reads as 2", {"-c", "2.9", "-d", "1"}, "c = 99 2.9\nd = 100 1\n", false, 0,
       "output.wav", 44100, 2, 5880},
      {"29.97 fps", {"-f", "29.97"}, "f = 102 29.97\nInvalid frame rate = 29\n\n" + u, false, 1},
      {"3e1 fps", {"-f", "3e1", "-s", "48000", "-c", "1", "-d", "2"},
       "f = 102 3e1\ns = 115 48000\nc = 99 1\nd = 100 2\n", false, 0, "output.wav", 48000, 1, 6400},
      {"25 fps", {"-f", "25", "-s", "22050", "-c", "1", "-d", "1"},
       "f = 102 25\ns = 115 22050\nc = 99 1\nd = 100 1\n", false, 0, "output.wav", 22050, 1, 1764},
      {"short timecode", {"-t", "01:00:00:0"},
       "t = 116 01:00:00:0\nInvalid timecode = 01:00:00:0\n\n" + u, false, 1},
      {"long timecode", {"-t", "01:00:00:000"},
       "t = 116 01:00:00:000\nInvalid timecode = 01:00:00:000\n\n" + u, false, 1},
      {"timecode digits unchecked", {"-t", "99:99:99:99", "-d", "1"},
       "t = 116 99:99:99:99\nd = 100 1\n", false, 0, "output.wav", 44100, 2, 5880},
      {"any separator", {"-t", "01-00-00-00", "-d", "1"}, "t = 116 01-00-00-00\nd = 100 1\n", false,
       0, "output.wav", 44100, 2, 5880},
      {"drop-frame 5", {"-n", "5", "-d", "1"}, "n = 110 5\nd = 100 1\n", false, 0, "output.wav",
       44100, 2, 5880},
      {"drop-frame yes", {"-n", "yes", "-d", "1"}, "n = 110 yes\nd = 100 1\n", false, 0,
       "output.wav", 44100, 2, 5880},
      {"value against its letter", {"-s48000"},
       "s = 115 -s48000\nInvalid Samplerate = 0\n\n" + u, false, 1},
      {"letters sharing an element", {"-os", "48000", "-d", "1"},
       "o = 111 -os\ns = 115 48000\nd = 100 1\n", false, 0, "-os", 48000, 2, 6400},
      {"stray word", {"stray", "-d", "1"}, "d = 100 1\n", false, 0, "output.wav", 44100, 2, 5880},
      {"error then -h", {"-s", "1", "-h"}, "s = 115 1\nInvalid Samplerate = 1\n\n" + u, false, 1},
      {"POSIXLY_CORRECT", {"-s", "48000", "-c", "1"}, "s = 115 48000\n", false, 0, "output.wav",
       48000, 2, 11520000, true},
      {"zero duration", {"-d", "0"}, "d = 100 0\n", false, 0, "output.wav", 44100, 2, 0},
      {"negative duration as -5", {"-d", "-5"}, "d = 100 -5\n" + u, true, 1},
      {"negative duration with a space", {"-d", " -5"}, "d = 100  -5\n", false, 0, "output.wav",
       44100, 2, 0},
      {"negative volume scanned again", {"-a", "-1"}, "a = 97 -1\n" + u, true, 1},
      {"help", {"-h"}, u, false, 1},
      {"unknown letter", {"-x"}, u, true, 1},
      {"double dash ends scanning", {"-d", "1", "--", "-s", "1"}, "d = 100 1\n", false, 0,
       "output.wav", 44100, 2, 5880},
      {"drop-frame at 25 fps", {"-f", "25", "-n", "1"},
       "f = 102 25\nn = 110 1\nDrop-frame counting needs 30 frames per second\n\n" + u, false, 1},
      {"drop-frame, then 25 fps", {"-n", "1", "-f", "25"},
       "n = 110 1\nf = 102 25\nDrop-frame counting needs 30 frames per second\n\n" + u, false, 1},
      // Any character in a path, on every system (UTF-8 here, UTF-16 on Windows).
      {"unicode path", {"-o", "t\u00efmecode \u2013 \u043a\u043e\u0434 \u6642.wav", "-d", "1"},
       "o = 111 t\u00efmecode \u2013 \u043a\u043e\u0434 \u6642.wav\nd = 100 1\n", false, 0,
       "t\u00efmecode \u2013 \u043a\u043e\u0434 \u6642.wav", 44100, 2, 5880},
      {"later repeat wins", {"-s", "22050", "-s", "48000", "-d", "1"},
       "s = 115 22050\ns = 115 48000\nd = 100 1\n", false, 0, "output.wav", 48000, 2, 6400},
      // Mended: a letter that ends the command line has no value to read.
      {"missing value", {"-s"}, "Missing value for -s\n\n" + u, false, 1},
      {"missing last value", {"-t", "01:00:00:00", "-d"},
       "t = 116 01:00:00:00\nMissing value for -d\n\n" + u, false, 1},
      {"missing value in shared element", {"-os"}, "o = 111 -os\nMissing value for -s\n\n" + u,
       false, 1},
      // Mended: numbers beyond 32 bits clamp instead of overflowing.
      {"huge rate", {"-s", "99999999999"},
       "s = 115 99999999999\nInvalid Samplerate = 2147483647\n\n" + u, false, 1},
      {"huge negative channels", {"-c", " -99999999999"},
       "c = 99  -99999999999\nInvalid Channel Count = -2147483648\n\n" + u, false, 1},
      {"huge duration", {"-d", "99999999999", "-o", "/nonexistent/x.wav"},
       "d = 100 99999999999\no = 111 /nonexistent/x.wav\nError opening file\n", false, 1},
      {"nan fps", {"-f", "nan"}, "f = 102 nan\nInvalid frame rate = 0\n\n" + u, false, 1},
      {"fps a hair above 30", {"-f", "30.00000001"},
       "f = 102 30.00000001\nInvalid frame rate = 30\n\n" + u, false, 1},
      {"inf fps", {"-f", "inf"}, "f = 102 inf\nInvalid frame rate = 2147483647\n\n" + u, false, 1},
      {"1e300 fps", {"-f", "1e300"}, "f = 102 1e300\nInvalid frame rate = 2147483647\n\n" + u,
       false, 1},
      {"-1e300 fps", {"-f", " -1e300"},
       "f = 102  -1e300\nInvalid frame rate = -2147483648\n\n" + u, false, 1},

      // Long options: "=" or the next element, abbreviations, echo as
      // "name = value" in command-line order with the short options'.
      {"long options", {"--output=a.wav", "--sample-rate", "48000", "--channels=1", "--dur", "3"},
       "output = a.wav\nsample-rate = 48000\nchannels = 1\nduration = 3\n", false, 0, "a.wav",
       48000, 1, 9600},
      {"long and short mixed", {"-c", "1", "--frame-rate=25", "--clean", "-d", "2"},
       "c = 99 1\nframe-rate = 25\nclean\nd = 100 2\n", false, 0, "output.wav", 44100, 1, 7056,
       false, 16383},
      {"ambiguous abbreviation", {"--s", "48000"}, u, true, 1},
      {"unknown long option", {"--bogus"}, u, true, 1},
      {"long flag given a value", {"--clean=1"}, u, true, 1},
      {"long option missing its value", {"-d", "1", "--output"}, "d = 100 1\n" + u, true, 1},
      {"quiet anywhere", {"-d", "1", "--sample-rate=48000", "--quiet"}, "", false, 0, "output.wav",
       48000, 2, 6400},
      {"quiet keeps the messages", {"--quiet", "-s", "1"}, "Invalid Samplerate = 1\n\n" + u, false,
       1},
      {"a value is not an option", {"--output", "--quiet", "-d", "1"},
       "output = --quiet\nd = 100 1\n", false, 0, "--quiet", 44100, 2, 5880},
      {"long, then short wins", {"--sample-rate=48000", "-s", "22050", "-d", "1"},
       "sample-rate = 48000\ns = 115 22050\nd = 100 1\n", false, 0, "output.wav", 22050, 2, 2940},
      {"short, then long wins", {"-s", "22050", "--sample-rate=48000", "-d", "1"},
       "s = 115 22050\nsample-rate = 48000\nd = 100 1\n", false, 0, "output.wav", 48000, 2, 6400},
      {"duration, then -d wins", {"--duration=1s", "-d", "2"}, "duration = 1s\nd = 100 2\n", false,
       0, "output.wav", 44100, 2, 11760},
      {"bad sample rate", {"--sample-rate", "48k"},
       refused("sample-rate", "48k",
               "a whole number of samples per second from 16000 to 384000"),
       false, 1},
      {"sample rate below 16 kHz", {"--sample-rate=15999"},
       refused("sample-rate", "15999",
               "a whole number of samples per second from 16000 to 384000"),
       false, 1},
      {"bad channels", {"--channels=0"}, refused("channels", "0", "a whole number of channels from 1 to 64"),
       false, 1},
      {"65 channels", {"--channels=65"}, refused("channels", "65", "a whole number of channels from 1 to 64"),
       false, 1},
      {"timecode channel beyond the file's", {"--channels=2", "--timecode-channel=3"},
       "channels = 2\ntimecode-channel = 3\n" +
           refused("timecode-channel", "3", "a channel from 1 to 2, the file's channels"),
       false, 1},
      {"depth not offered", {"--depth=8"}, refused("depth", "8", "16, 24, 32 or float"), false, 1},
      {"mix of a missing file", {"--mix=missing.wav"}, "mix = missing.wav\nCannot mix missing.wav: no such file\n",
       false, 1},
      {"mix with --analyze", {"--analyze=x.wav", "--mix=y.wav"},
       "Invalid --mix with --analyze: an analysis writes no WAV file; it takes --timecode-channel, "
       "--frame-rate, --json and --csv\n\nTry 'stampline --help' for more information.\n",
       false, 1},
      {"empty output path", {"--output="},
       refused("output", "", "a path to write the file to, or - for standard output"), false, 1},
      {"refusal ends the scan", {"--channels=65", "--bogus"},
       refused("channels", "65", "a whole number of channels from 1 to 64"), false, 1},
      {"full volume", {"--volume=1", "--clean", "-d", "1", "-c", "1"},
       "volume = 1\nclean\nd = 100 1\nc = 99 1\n", false, 0, "output.wav", 44100, 1, 2940, false,
       32767},
      {"no volume", {"--volume=0", "--clean", "-d", "1", "-c", "1"},
       "volume = 0\nclean\nd = 100 1\nc = 99 1\n", false, 0, "output.wav", 44100, 1, 2940, false,
       0},
      {"volume above 1", {"--volume=1.001"},
       refused("volume", "1.001", "a decimal number from 0 to 1, such as 0.5"), false, 1},
      {"negative volume", {"--volume=-0.5"},
       refused("volume", "-0.5", "a decimal number from 0 to 1, such as 0.5"), false, 1},
      {"level 0 dB", {"--level=0", "--clean", "-d", "1", "-c", "1"},
       "level = 0\nclean\nd = 100 1\nc = 99 1\n", false, 0, "output.wav", 44100, 1, 2940, false,
       32767},
      {"level -60 dBFS", {"--level", "-60dBFS", "--clean", "-d", "1", "-c", "1"},
       "level = -60dBFS\nclean\nd = 100 1\nc = 99 1\n", false, 0, "output.wav", 44100, 1, 2940,
       false, 32},
      {"level -20 dB", {"--level=-20dB", "--clean", "-d", "1", "-c", "1"},
       "level = -20dB\nclean\nd = 100 1\nc = 99 1\n", false, 0, "output.wav", 44100, 1, 2940,
       false, 3276},
      {"level below -60", {"--level=-60.5"},
       refused("level", "-60.5",
               "a peak level in dBFS from -60 to 0, such as -20, -20dB or -20dBFS"),
       false, 1},
      {"level above 0", {"--level=1dB"},
       refused("level", "1dB", "a peak level in dBFS from -60 to 0, such as -20, -20dB or -20dBFS"),
       false, 1},
      {"last start of a day", {"--start=23:59:59:29", "-d", "1"},
       "start = 23:59:59:29\nd = 100 1\n", false, 0, "output.wav", 44100, 2, 5880},
      {"start at 24 hours", {"--start=24:00:00:00"},
       refused("start", "24:00:00:00", kLabelAccepted), false, 1},
      {"start with a drop-frame separator", {"--start=00:59:59;29", "--drop-frame", "-d", "1"},
       "start = 00:59:59;29\ndrop-frame\nd = 100 1\n", false, 0, "output.wav", 44100, 2, 5880},
      {"start written loosely", {"--start=1:00:00:00"}, refused("start", "1:00:00:00", kLabelAccepted),
       false, 1},
      {"start frames beyond the rate", {"--start=00:00:00:25", "--frame-rate=25"},
       "start = 00:00:00:25\nframe-rate = 25\n" +
           refused("start", "00:00:00:25", "frames 00 to 24 at 25 frames per second"),
       false, 1},
      {"start frames below the rate", {"--frame-rate=25", "--start=00:00:00:24", "-d", "1"},
       "frame-rate = 25\nstart = 00:00:00:24\nd = 100 1\n", false, 0, "output.wav", 44100, 2,
       7056},
      {"-t is not range-checked", {"--start=00:00:00:00", "-t", "00:00:00:29", "-f", "25", "-d", "1"},
       "start = 00:00:00:00\nt = 116 00:00:00:29\nf = 102 25\nd = 100 1\n", false, 0, "output.wav",
       44100, 2, 7056},
      {"no frames", {"--duration=0"}, "duration = 0\n", false, 0, "output.wav", 44100, 2, 0},
      {"a time rounded up to frames", {"--duration=0.01m", "--frame-rate", "25"},
       "duration = 0.01m\nframe-rate = 25\n", false, 0, "output.wav", 44100, 2, 15 * 7056},
      {"a duration with no unit", {"--duration=1.5"},
       refused("duration", "1.5", "a whole number of frames, or a time such as 90s, 10m or 1.5h"),
       false, 1},
      {"a negative duration", {"--duration", "-5"},
       refused("duration", "-5", "a whole number of frames, or a time such as 90s, 10m or 1.5h"),
       false, 1},
      {"end across midnight", {"--start=23:59:59:00", "--end=00:00:01:00"},
       "start = 23:59:59:00\nend = 00:00:01:00\n", false, 0, "output.wav", 44100, 2, 60 * 5880},
      {"end at the start", {"--end=01:00:00:00"}, "end = 01:00:00:00\n", false, 0, "output.wav",
       44100, 2, 0},
      {"end over a drop-frame skip", {"--drop-frame", "--start=00:00:59;28", "--end=00:01:00;02"},
       "drop-frame\nstart = 00:00:59;28\nend = 00:01:00;02\n", false, 0, "output.wav", 44100, 2,
       2 * 5880},
      {"end frames beyond the rate", {"-f", "25", "--end=01:00:00:29"},
       "f = 102 25\nend = 01:00:00:29\n" +
           refused("end", "01:00:00:29", "frames 00 to 24 at 25 frames per second"),
       false, 1},
      {"frame rate not offered", {"--frame-rate=29.976"},
       refused("frame-rate", "29.976",
               "23.976 (or 23.98, 24000/1001), 24, 25, 29.97 (or 30000/1001) or 30"),
       false, 1},
      {"a video rate LTC does not run at", {"--frame-rate=59.94"},
       refused("frame-rate", "59.94",
               "LTC runs at 23.976, 24, 25, 29.97 or 30 frames per second; 59.94 fps video "
               "carries 29.97 fps LTC"),
       false, 1},
      {"50 fps video", {"--frame-rate=50"},
       refused("frame-rate", "50",
               "LTC runs at 23.976, 24, 25, 29.97 or 30 frames per second; 50 fps video carries "
               "25 fps LTC"),
       false, 1},
      // Frames of 1601.6 samples on average: 01:00:00;00 is frame 107892 of
      // the day, at sample 172799827.2, and ten frames on is 172815843.2.
      {"29.97 drop-frame", {"--frame-rate=29.97", "--drop-frame", "-s", "48000", "-c", "1", "-d", "10"},
       "frame-rate = 29.97\ndrop-frame\ns = 115 48000\nc = 99 1\nd = 100 10\n", false, 0,
       "output.wav", 48000, 1, 2 * 16016},
      {"23.976 at 96 kHz", {"--frame-rate=24000/1001", "--sample-rate=96000", "-c", "1", "-d", "3"},
       "frame-rate = 24000/1001\nsample-rate = 96000\nc = 99 1\nd = 100 3\n", false, 0,
       "output.wav", 96000, 1, 2 * 3 * 4004},
      {"24 fps at 44.1 kHz", {"--frame-rate=24", "-c", "1", "-d", "3"},
       "frame-rate = 24\nc = 99 1\nd = 100 3\n", false, 0, "output.wav", 44100, 1, 2 * 5512},
      {"lowest sample rate", {"--sample-rate=16000", "-c", "1", "-d", "1"},
       "sample-rate = 16000\nc = 99 1\nd = 100 1\n", false, 0, "output.wav", 16000, 1, 2 * 533},
      {"highest sample rate", {"--sample-rate=384000", "-c", "1", "-d", "1"},
       "sample-rate = 384000\nc = 99 1\nd = 100 1\n", false, 0, "output.wav", 384000, 1,
       2 * 12800},
      {"sample rate above 384 kHz", {"--sample-rate=384001"},
       refused("sample-rate", "384001", "a whole number of samples per second from 16000 to 384000"),
       false, 1},
      {"drop-frame at 24 fps", {"--frame-rate=24", "--drop-frame"},
       "frame-rate = 24\ndrop-frame\n" +
           refused("drop-frame", nullptr, "drop-frame counting needs 29.97 or 30 frames per second"),
       false, 1},
      {"start frames at 23.976", {"--frame-rate=23.98", "--start=00:00:00:24"},
       "frame-rate = 23.98\nstart = 00:00:00:24\n" +
           refused("start", "00:00:00:24", "frames 00 to 23 at 24 frames per second"),
       false, 1},
      {"drop-frame at 25 fps", {"--drop-frame", "--frame-rate=25"},
       "drop-frame\nframe-rate = 25\n" +
           refused("drop-frame", nullptr, "drop-frame counting needs 29.97 or 30 frames per second"),
       false, 1},
      {"-n 1 at --frame-rate 25", {"-n", "1", "--frame-rate=25"},
       "n = 110 1\nframe-rate = 25\n" +
           refused("frame-rate", "25", "drop-frame counting needs 29.97 or 30 frames per second"),
       false, 1},
      {"user bits", {"--user-bits", "0123abCD", "-d", "1"}, "user-bits = 0123abCD\nd = 100 1\n",
       false, 0, "output.wav", 44100, 2, 5880},
      {"user bits of seven digits", {"--user-bits", "1234567"},
       refused("user-bits", "1234567", "eight hexadecimal digits, the first for binary group 8"),
       false, 1},
      {"user bits not hexadecimal", {"--user-bits=1234567G"},
       refused("user-bits", "1234567G", "eight hexadecimal digits, the first for binary group 8"),
       false, 1},
      {"a leap day", {"--date", "2024-02-29", "-d", "1"}, "date = 2024-02-29\nd = 100 1\n", false,
       0, "output.wav", 44100, 2, 5880},
      {"a day the calendar lacks", {"--date", "2026-02-29"},
       refused("date", "2026-02-29", "a date of the calendar, such as 2026-12-07, or today (with --play)"), false, 1},
      {"date and user bits together", {"--date", "2026-12-07", "--user-bits", "00000000"},
       "date = 2026-12-07\nuser-bits = 00000000\n" +
           refused("user-bits", "00000000",
                   "--user-bits and --date both fill the user bits; give one of them"),
       false, 1},
      {"drop-frame cleared by -n 0", {"--drop-frame", "-n", "0", "-f", "25", "-d", "1"},
       "drop-frame\nn = 110 0\nf = 102 25\nd = 100 1\n", false, 0, "output.wav", 44100, 2, 7056},
      {"a stream, then a file: the later wins", {"--output=-", "-o", "x.wav", "-d", "1"},
       "output = -\no = 111 x.wav\nd = 100 1\n", false, 0, "x.wav", 44100, 2, 5880},
  };
}

TEST(CommandLineTest, OutputStatusAndFile) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const ProgramResult r = runProgram(c.args, dir.path(), c.posixlyCorrect);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(!r.err.empty(), c.errText) << r.err;
    EXPECT_EQ(r.status, c.status);
    if (c.file == nullptr) {
      EXPECT_FALSE(fileExists(dir.file("output.wav"))) << "a refused command line wrote a file";
      continue;
    }
    const std::string wav = readFile(dir.file(c.file));
    ASSERT_EQ(wav.size(), 44U + c.dataBytes);
    EXPECT_EQ(littleEndian(wav, 24, 4), c.rate);
    EXPECT_EQ(littleEndian(wav, 22, 2), c.channels);
    EXPECT_EQ(littleEndian(wav, 40, 4), c.dataBytes);
    EXPECT_EQ(littleEndian(wav, 4, 4), c.dataBytes + 36);
    if (c.peak >= 0) {
      int peak = 0;
      for (size_t at = 44; at + 1 < wav.size(); at += 2) {
        peak = std::max(peak, std::abs(static_cast<int16_t>(littleEndian(wav, at, 2))));
      }
      EXPECT_EQ(peak, c.peak);
    }
  }
}

TEST(CommandLineTest, StandardOutputAsTheFile) {
  ScratchDir dir;
  // Never onto a terminal; a write that fails for another reason than a
  // reader gone is a failure (status 1), not a quiet end (141).
  const ProgramResult terminal = runOnTerminal({"--output=-", "-d", "1", "--quiet"}, dir.path(), true);
  EXPECT_EQ(terminal.status, 1);
  EXPECT_NE(shownLetters(terminal.err).find(shownLetters("Error opening file")), std::string::npos) << terminal.err;
  RunOptions full;
  full.stdoutPath = "/dev/full";
  const ProgramResult failed = runProgram({"--output=-", "-d", "30", "--quiet"}, dir.path(), full);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Error writing file\n");
  RunOptions gone;
  gone.stdoutBrokenPipe = true;
  const ProgramResult closed = runProgram({"--output=-", "-d", "300", "--quiet"}, dir.path(), gone);
  EXPECT_EQ(closed.status, 141);
  EXPECT_EQ(closed.err, "");
}

TEST(CommandLineTest, HelpAndVersionAnswerOnStandardOutput) {
  ScratchDir dir;
  const ProgramResult help = runProgram({"-d", "1", "--help", "-x"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("d = 100 1\nUsage: stampline [OPTION]...\n", 0), 0U) << help.out;
  // Every option, in 80 columns.
  for (const char* option : {"--output=PATH", "--sample-rate=HZ", "--channels=N", "--start=",
                             "--duration=LENGTH", "--end=", "--frame-rate=FPS", "--drop-frame",
                             "--volume=LINEAR", "--level=DB", "--clean", "--bwf",
                             "--user-bits=HHHHHHHH", "--date=YYYY-MM-DD", "--quiet", "--help",
                             "--version", "--play", "--downstream-delay=SECONDS", "-o PATH", "-s HZ", "-c N", "-t HH:MM:SS:FF",
                             "-d FRAMES", "-f FPS", "-n 0|1", "-a VOLUME", "-q 0|1", "-h ",
                             "Exit status", "Examples"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  size_t lineStart = 0;
  for (size_t end; (end = help.out.find('\n', lineStart)) != std::string::npos; lineStart = end + 1) {
    EXPECT_LE(end - lineStart, 79U) << help.out.substr(lineStart, end - lineStart);
  }
  // The manual and the README describe every long option.
  const std::string manual = readFile(STAMPLINE_SOURCE_DIR "/doc/stampline.1");
  const std::string readme = readFile(STAMPLINE_SOURCE_DIR "/README.md");
  for (const LongOptionRow& row : longOptionRows()) {
    std::string escaped = "\\-\\-";
    for (const char* c = row.name; *c != '\0'; ++c) escaped += *c == '-' ? "\\-" : std::string(1, *c);
    const bool inManual = manual.find(".BI " + escaped + "=") != std::string::npos ||
                          manual.find(".B " + escaped + "\n") != std::string::npos;
    EXPECT_TRUE(inManual) << row.name << " is not in the manual";
    EXPECT_NE(readme.find(std::string("`--") + row.name), std::string::npos)
        << row.name << " is not in the README";
  }
  const ProgramResult version = runProgram({"--vers"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.err, "");
  EXPECT_TRUE(std::regex_match(version.out, std::regex("stampline [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "--help or --version created a file";
}

TEST(CommandLineTest, ShellCompletionOffersOptionsValuesAndFiles) {
  if (!fileExists(STAMPLINE_COMPLETION)) GTEST_SKIP() << "this build makes no completion script";
  ScratchDir dir;
  std::fclose(std::fopen(dir.file("take one.wav").c_str(), "w"));
  const struct {
    std::vector<std::string> words;  // the last is the one being completed
    std::string replies;             // one per line
  } cases[] = {
      {{"--sa"}, "--sample-rate\n"},
      {{"--c"}, "--channels\n--clean\n--csv\n--connect\n"},
      {{"--analyze", "take"}, "take one.wav\n"},
      {{"--frame-rate", ""}, "23.976\n24\n25\n29.97\n30\n"},
      {{"--sample-rate", "4"}, "44100\n48000\n"},
      {{"--channels", "=", ""}, "1\n2\n4\n6\n8\n"},  // where '=' breaks words
      {{"--frame-rate=29"}, "--frame-rate=29.97\n"},  // where it does not
      {{"--output", "take"}, "take one.wav\n"},
      {{"--start", ""}, ""},
      {{"-s", "4"}, ""},
      {{"word"}, ""},
  };
  for (const auto& c : cases) {
    std::string script = "source '" STAMPLINE_COMPLETION "'\nCOMP_WORDS=(stampline";
    for (const std::string& w : c.words) script += " '" + w + "'";
    script += ")\nCOMP_CWORD=" + std::to_string(c.words.size()) +
              "\n_stampline\nprintf '%s\\n' \"${COMPREPLY[@]}\" >reply\n";
    std::ofstream(dir.file("complete.sh")) << script;
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bash complete.sh").c_str()), 0);
    std::string replies = readFile(dir.file("reply"));
    if (replies == "\n") replies.clear();
    EXPECT_EQ(replies, c.replies) << ::testing::PrintToString(c.words);
  }
}

TEST(CommandLineTest, RefusedOptionsLeaveAnExistingFileAlone) {
  ScratchDir dir;
  const std::string before = "precious";
  {
    std::FILE* f = std::fopen(dir.file("output.wav").c_str(), "wb");
    std::fputs(before.c_str(), f);
    std::fclose(f);
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-s", "1"}, {"-x"}, {"-h"}, {"-d"}, {"-f", "24"},
        {"-n", "1", "-f", "25"}}) {
    EXPECT_EQ(runProgram(args, dir.path()).status, 1);
    EXPECT_EQ(readFile(dir.file("output.wav")), before);
  }
}

TEST(CommandLineTest, OutputPathsOfAnyLength) {
  ScratchDir dir;
  // Nested so the whole path is far past 259 characters while each name fits.
  std::string relative;
  for (int i = 0; i < 3; ++i) {
    relative += std::string(120, static_cast<char>('a' + i)) + "/";
    std::filesystem::create_directory(dir.file(relative));
  }
  const std::string path = dir.file(relative + "timecode.wav");
  ASSERT_GT(path.size(), 400U);
  const ProgramResult r = runProgram({"-o", path, "-d", "1"}, dir.path());
  EXPECT_EQ(r.out, "o = 111 " + path + "\nd = 100 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(path).size(), 44U + 5880U);
}

}  // namespace

std::vector<std::vector<std::string>> commandLineTestVectors() {
  std::vector<std::vector<std::string>> vectors;
  for (const Case& c : cases()) vectors.push_back(c.args);
  return vectors;
}

}  // namespace stampline::testing
