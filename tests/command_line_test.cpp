// Runs the built program and checks its console output byte for byte, the
// exit status, and whether the output file was created.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "program_runner.h"
#include "scanner_differential.h"
#include "test_bytes.h"

namespace stampline::testing {
namespace {

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
      {"inf fps", {"-f", "inf"}, "f = 102 inf\nInvalid frame rate = 2147483647\n\n" + u, false, 1},
      {"1e300 fps", {"-f", "1e300"}, "f = 102 1e300\nInvalid frame rate = 2147483647\n\n" + u,
       false, 1},
      {"-1e300 fps", {"-f", " -1e300"},
       "f = 102  -1e300\nInvalid frame rate = -2147483648\n\n" + u, false, 1},
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
