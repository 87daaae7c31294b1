#include "cli/generation_run.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "program_runner.h"
#include "test_bytes.h"
#include "wav_reader.h"

namespace stampline {
namespace {

using testing::littleEndian;
using testing::readFile;

class GenerationRunTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }

  // Runs the generation and returns its exit status; console text in out_.
  int run(const Settings& settings, const RunEnvironment& environment = {}) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* console = open_memstream(&text, &size);
    const int status = runGeneration(settings, console, environment);
    std::fclose(console);
    out_.assign(text, size);
    std::free(text);
    return status;
  }

  testing::ScratchDir dir_;
  std::string out_;
};

TEST_F(GenerationRunTest, SizesForEveryRateAndChannelCount) {
  for (const int rate : {22050, 44100, 48000}) {
    for (const double fps : {25.0, 30.0}) {
      for (const int channels : {1, 2}) {
        Settings s;
        s.outputPath = path("x.wav");
        s.sampleRate = rate;
        s.framesPerSecond = fps;
        s.channels = channels;
        s.durationFrames = 3;
        ASSERT_EQ(run(s), 0);
        EXPECT_EQ(out_, "");
        const std::string bytes = readFile(s.outputPath);
        const uint64_t dataBytes = 3ULL * static_cast<uint64_t>(rate / static_cast<int>(fps)) *
                                   static_cast<uint64_t>(channels) * 2;
        ASSERT_EQ(bytes.size(), 44 + dataBytes) << rate << "/" << fps << " x" << channels;
        EXPECT_EQ(littleEndian(bytes, 40, 4), dataBytes);
        EXPECT_EQ(littleEndian(bytes, 4, 4), bytes.size() - 8);
      }
    }
  }
}

TEST_F(GenerationRunTest, NoFramesGiveAHeaderOnlyFile) {
  for (const int32_t duration : {0, -1, -2147483647 - 1}) {
    Settings s;
    s.outputPath = path("empty.wav");
    s.durationFrames = duration;
    ASSERT_EQ(run(s), 0);
    const std::string bytes = readFile(s.outputPath);
    ASSERT_EQ(bytes.size(), 44U);
    EXPECT_EQ(littleEndian(bytes, 4, 4), 36U);
    EXPECT_EQ(littleEndian(bytes, 40, 4), 0U);
  }
}

TEST_F(GenerationRunTest, FilesThatCannotBeOpenedOrWritten) {
  const struct {
    std::string output;
    const char* message;
  } cases[] = {
      {path("missing/x.wav"), "Error opening file\n"},
      {dir_.path(), "Error opening file\n"},
      {"", "Error opening file\n"},
      {"/dev/full", "Error writing file\n"},
  };
  for (const auto& c : cases) {
    Settings s;
    s.outputPath = c.output;
    s.durationFrames = 30;
    EXPECT_EQ(run(s), 1) << c.output;
    EXPECT_EQ(out_, c.message) << c.output;
  }
  EXPECT_FALSE(std::ifstream(path("missing")).good());
}

TEST_F(GenerationRunTest, OutputThatCannotSeekIsAFailure) {
  const std::string fifo = path("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = readFile(fifo); });
  Settings s;
  s.outputPath = fifo;
  s.durationFrames = 5;
  EXPECT_EQ(run(s), 1);
  reader.join();
  EXPECT_EQ(out_, "Error writing file\n");
  EXPECT_EQ(received.size(), 44U + 5 * 5880);
}

TEST_F(GenerationRunTest, LargeRunsBecomeRf64) {
  Settings s;
  s.outputPath = path("big.wav");
  s.sampleRate = 48000;
  s.durationFrames = 10;
  RunEnvironment environment;
  environment.riffLimit = 10 * 6400 - 1;  // one byte short of the data
  ASSERT_EQ(run(s, environment), 0);
  const std::string bytes = readFile(s.outputPath);
  ASSERT_EQ(bytes.size(), 80U + 64000);
  EXPECT_EQ(bytes.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(bytes, 20, 8), bytes.size() - 8);
  EXPECT_EQ(littleEndian(bytes, 28, 8), 64000U);
  EXPECT_EQ(littleEndian(bytes, 36, 8), 16000U);

  const testing::SoundFile wav = testing::readSoundFile(s.outputPath, false);
  ASSERT_TRUE(wav.opened);
  EXPECT_EQ(wav.format, SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
  EXPECT_EQ(wav.frames, 16000);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.sampleRate, 48000);

  // The samples are the same as in a RIFF file of the same run.
  Settings riff = s;
  riff.outputPath = path("small.wav");
  RunEnvironment sameNoise = environment;
  sameNoise.riffLimit = kMaxRiffDataBytes;
  environment.noiseSeed = sameNoise.noiseSeed = 7;
  ASSERT_EQ(run(s, environment), 0);
  ASSERT_EQ(run(riff, sameNoise), 0);
  EXPECT_EQ(readFile(s.outputPath).substr(80), readFile(riff.outputPath).substr(44));
}

TEST_F(GenerationRunTest, AStopRequestCompletesTheFileForTheFramesWritten) {
  const volatile std::sig_atomic_t stop = SIGTERM;
  Settings s;
  s.outputPath = path("stopped.wav");
  RunEnvironment environment;
  environment.stopSignal = &stop;
  EXPECT_EQ(run(s, environment), 128 + SIGTERM);
  EXPECT_EQ(out_, "Interrupted after 1 frames\n");
  const std::string bytes = readFile(s.outputPath);
  ASSERT_EQ(bytes.size(), 44U + 5880);
  EXPECT_EQ(littleEndian(bytes, 40, 4), 5880U);
}

TEST_F(GenerationRunTest, ProgressOnlyForRunsLongerThanFiveSeconds) {
  const struct {
    int32_t frames;
    bool shown;
  } cases[] = {{150, false}, {151, true}};
  for (const auto& c : cases) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* terminal = open_memstream(&text, &size);
    Settings s;
    s.outputPath = path("p.wav");
    s.durationFrames = c.frames;
    RunEnvironment environment;
    environment.progress = terminal;
    ASSERT_EQ(run(s, environment), 0);
    std::fclose(terminal);
    const std::string shown(text, size);
    std::free(text);
    EXPECT_EQ(out_, "");
    if (!c.shown) {
      EXPECT_EQ(shown, "");
      continue;
    }
    EXPECT_EQ(shown.rfind("\r  0.0%  01:00:00:00  ", 0), 0U) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");
  }
}

}  // namespace
}  // namespace stampline
