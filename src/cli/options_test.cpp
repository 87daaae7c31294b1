#include "cli/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_runner.h"

namespace stampline {
namespace {

// Scans `args` in-process; the console text is captured and returned.
struct Scan {
  bool run = false;
  Settings settings;
  std::string out;
};

Scan scan(const std::vector<std::string>& args) {
  testing::ArgumentVector argv("stampline", args);
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  Scan result;
  result.run = scanOptions(argv.count(), argv.data(), result.settings, out) == ScanResult::kRun;
  std::fclose(out);
  result.out.assign(text, size);
  std::free(text);
  return result;
}

TEST(ScanOptionsTest, DefaultsWithoutOptions) {
  const Scan s = scan({});
  EXPECT_TRUE(s.run);
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(s.settings.outputPath, "output.wav");
  EXPECT_EQ(s.settings.sampleRate, 44100);
  EXPECT_EQ(s.settings.channels, 2);
  EXPECT_EQ(s.settings.startText, "01:00:00:00");
  EXPECT_EQ(s.settings.durationFrames, 1800);
  EXPECT_EQ(s.settings.frameRate, kRate30);
  EXPECT_FALSE(s.settings.dropFrame);
  EXPECT_EQ(s.settings.volume, 0.5);
  EXPECT_FALSE(s.settings.clean);
}

TEST(ScanOptionsTest, ValuesAsStored) {
  Scan s = scan({"-os", "48000", "-c", "2.9", "-f", "3e1", "-n", "5", "-q", "1", "-a", "0.25",
                 "-d", " -5", "-t", "00:00:59:28"});
  ASSERT_TRUE(s.run);
  EXPECT_EQ(s.settings.outputPath, "-os");
  EXPECT_EQ(s.settings.sampleRate, 48000);
  EXPECT_EQ(s.settings.channels, 2);
  EXPECT_EQ(s.settings.frameRate, kRate30);
  EXPECT_TRUE(s.settings.dropFrame);
  EXPECT_TRUE(s.settings.clean);
  EXPECT_EQ(s.settings.volume, 0.25);
  EXPECT_EQ(s.settings.durationFrames, -5);
  EXPECT_EQ(s.settings.startText, "00:00:59:28");

  s = scan({"-n", "yes", "-q", "0", "-d", "99999999999"});
  ASSERT_TRUE(s.run);
  EXPECT_FALSE(s.settings.dropFrame);
  EXPECT_FALSE(s.settings.clean);
  EXPECT_EQ(s.settings.durationFrames, 2147483647);

  // Numbers are decimal whatever their leading zeros; any non-zero flag,
  // negative too, turns its setting on.
  s = scan({"-s", "048000", "-d", "010", "-n", " -1", "-q", " -3", "-c", "0x1"});
  EXPECT_EQ(s.settings.sampleRate, 48000);
  EXPECT_EQ(s.settings.durationFrames, 10);
  EXPECT_TRUE(s.settings.dropFrame);
  EXPECT_TRUE(s.settings.clean);
  EXPECT_FALSE(s.run) << "0x1 reads as 0 channels";
}

TEST(ScanOptionsTest, PosixlyCorrectStopsAtTheFirstValue) {
  setenv("POSIXLY_CORRECT", "1", 1);
  const Scan strict = scan({"-s", "48000", "-c", "1"});
  unsetenv("POSIXLY_CORRECT");
  const Scan normal = scan({"-s", "48000", "-c", "1"});
  EXPECT_TRUE(strict.run);
  EXPECT_EQ(strict.settings.sampleRate, 48000);
  EXPECT_EQ(strict.settings.channels, 2);
  EXPECT_EQ(normal.settings.channels, 1);
}

TEST(ScanOptionsTest, RepeatedScansStartOver) {
  EXPECT_FALSE(scan({"-s"}).run);
  const Scan s = scan({"-c", "1"});
  EXPECT_TRUE(s.run);
  EXPECT_EQ(s.settings.channels, 1);
}

TEST(ScanOptionsTest, LongOptionsSettleOnceTheRateIsKnown) {
  const struct {
    std::vector<std::string> args;
    int32_t frames;
    double volume;
  } cases[] = {
      {{"--duration=1h", "--frame-rate=25"}, 90000, 0.5},
      {{"--frame-rate=30", "--duration=1.5h"}, 162000, 0.5},
      {{"--duration=90s"}, 2700, 0.5},
      {{"--duration=0.000001s"}, 1, 0.5},
      {{"--duration=2147483647"}, 2147483647, 0.5},
      {{"--duration=85899345.88s", "--frame-rate=25"}, 2147483647, 0.5},
      {{"--duration=.5h", "--volume", ".5"}, 54000, 0.5},
      {{"--duration=1h", "--frame-rate=29.97"}, 107893, 0.5},
      {{"--frame-rate=23.976", "--duration=10m"}, 14386, 0.5},
      {{"--duration=19884.1m"}, 35791380, 0.5},
      // Across midnight, and a drop-frame day's end at its last label.
      {{"--start=23:00:00:00", "--end=01:00:00:00"}, 216000, 0.5},
      {{"--drop-frame", "--start=00:00:00;00", "--end=23:59:59;29"}, 2589407, 0.5},
      {{"--level=-20"}, 1800, 0.1},
      {{"--level=-6.0206dB"}, 1800, std::pow(10.0, -6.0206 / 20.0)},
      {{"--volume=0.25", "-a", "0.75"}, 1800, 0.75},
      {{"-a", "0.75", "--level=0dbfs"}, 1800, 1.0},
  };
  for (const auto& c : cases) {
    const Scan s = scan(c.args);
    EXPECT_TRUE(s.run) << s.out;
    EXPECT_EQ(s.settings.durationFrames, c.frames) << s.out;
    EXPECT_EQ(s.settings.volume, c.volume) << s.out;
  }
  // One frame more than 2^31 - 1, in frames and in time.
  for (const char* length : {"100000h", "85899345.92s"}) {
    const Scan tooLong = scan({"--frame-rate=25", std::string("--duration=") + length});
    EXPECT_FALSE(tooLong.run);
    EXPECT_EQ(tooLong.out, std::string("frame-rate = 25\nduration = ") + length +
                               "\nInvalid --duration '" + length +
                               "': at most 2147483647 frames\n\n"
                               "Try 'stampline --help' for more information.\n");
  }
  const Scan oneMore = scan({"--duration=2147483648"});
  EXPECT_FALSE(oneMore.run);
  EXPECT_EQ(oneMore.out.rfind("Invalid --duration '2147483648': a whole number of frames", 0), 0U);
}

}  // namespace
}  // namespace stampline
