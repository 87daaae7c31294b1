#include "run/generation_run.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "run/signal.h"
#include "run/progress.h"
#include "synth/ltc_encoder.h"
#include "timecode/label_text.h"
#include "program_runner.h"
#include "test_bytes.h"
#include "independent_readers.h"

namespace stampline {
namespace {

using testing::littleEndian;
using testing::readFile;

class GenerationRunTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }

  // Runs the generation and returns its exit status; console text in out_.
  int run(const GenerationRequest& settings, const RunEnvironment& environment = {}) {
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
    for (const FrameRate fps : {kRate25, kRate30}) {
      for (const int channels : {1, 2}) {
        GenerationRequest s;
        s.output.path = path("x.wav");
        s.sampleRate = rate;
        s.signal.rate = fps;
        s.channels = channels;
        s.frames = 3;
        ASSERT_EQ(run(s), 0);
        EXPECT_EQ(out_, "");
        const std::string bytes = readFile(s.output.path);
        const uint64_t dataBytes = 3ULL * static_cast<uint64_t>(rate) / fps.numerator *
                                   static_cast<uint64_t>(channels) * 2;
        ASSERT_EQ(bytes.size(), 44 + dataBytes) << rate << "/" << fps.numerator << " x" << channels;
        EXPECT_EQ(littleEndian(bytes, 40, 4), dataBytes);
        EXPECT_EQ(littleEndian(bytes, 4, 4), bytes.size() - 8);
      }
    }
  }
}

TEST_F(GenerationRunTest, NoFramesGiveAHeaderOnlyFile) {
  {
    GenerationRequest s;
    s.output.path = path("empty.wav");
    s.frames = 0;
    ASSERT_EQ(run(s), 0);
    const std::string bytes = readFile(s.output.path);
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
    GenerationRequest s;
    s.output.path = c.output;
    s.frames = 30;
    EXPECT_EQ(run(s), 1) << c.output;
    EXPECT_EQ(out_, c.message) << c.output;
  }
  EXPECT_FALSE(std::ifstream(path("missing")).good());
}

TEST_F(GenerationRunTest, StreamsGetTheirFinalSizesUpFront) {
  // A stream cannot be rewritten: a plain or, past the limit, an RF64 header
  // with the sizes of every frame goes first.
  for (const uint64_t riffLimit : {kMaxRiffDataBytes, uint64_t{1000}}) {
    SCOPED_TRACE(riffLimit);
    const std::string fifo = path("pipe" + std::to_string(riffLimit));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readFile(fifo); });
    GenerationRequest s;
    s.output.path = fifo;
    s.frames = 5;
    RunEnvironment environment;
    environment.riffLimit = riffLimit;
    EXPECT_EQ(run(s, environment), 0);
    reader.join();
    EXPECT_EQ(out_, "");
    if (riffLimit == kMaxRiffDataBytes) {
      ASSERT_EQ(received.size(), 44U + 5 * 5880);
      EXPECT_EQ(littleEndian(received, 40, 4), 5U * 5880);
      EXPECT_EQ(littleEndian(received, 4, 4), 5U * 5880 + 36);
    } else {
      ASSERT_EQ(received.size(), 80U + 5 * 5880);
      EXPECT_EQ(received.substr(0, 16), std::string("RF64\xFF\xFF\xFF\xFFWAVEds64", 16));
      EXPECT_EQ(littleEndian(received, 20, 8), 72U + 5 * 5880);
      EXPECT_EQ(littleEndian(received, 28, 8), 5U * 5880);
      EXPECT_EQ(littleEndian(received, 36, 8), 5U * 1470);
    }
  }
}

TEST_F(GenerationRunTest, LargeRunsBecomeRf64) {
  GenerationRequest s;
  s.output.path = path("big.wav");
  s.sampleRate = 48000;
  s.frames = 10;
  RunEnvironment environment;
  environment.riffLimit = 10 * 6400 - 1;  // one byte short of the data
  ASSERT_EQ(run(s, environment), 0);
  const std::string bytes = readFile(s.output.path);
  ASSERT_EQ(bytes.size(), 80U + 64000);
  EXPECT_EQ(bytes.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(bytes, 20, 8), bytes.size() - 8);
  EXPECT_EQ(littleEndian(bytes, 28, 8), 64000U);
  EXPECT_EQ(littleEndian(bytes, 36, 8), 16000U);

  const testing::SoundFile wav = testing::readSoundFile(s.output.path, false);
  ASSERT_TRUE(wav.opened);
  EXPECT_EQ(wav.format, SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
  EXPECT_EQ(wav.frames, 16000);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.sampleRate, 48000);

  // The samples are the same as in a RIFF file of the same run.
  GenerationRequest riff = s;
  riff.output.path = path("small.wav");
  RunEnvironment sameNoise = environment;
  sameNoise.riffLimit = kMaxRiffDataBytes;
  environment.noiseSeed = sameNoise.noiseSeed = 7;
  ASSERT_EQ(run(s, environment), 0);
  ASSERT_EQ(run(riff, sameNoise), 0);
  EXPECT_EQ(readFile(s.output.path).substr(80), readFile(riff.output.path).substr(44));
}

TEST_F(GenerationRunTest, AStopRequestKeepsTheFramesWritten) {
  // The request is there from the start, so it is seen after the first
  // block: a one-frame run is complete, a long one stops.
  for (const int32_t frames : {1, 100000}) {
    const std::atomic<int> stop = SIGTERM;
    GenerationRequest s;
    s.output.path = path("stopped.wav");
    s.frames = static_cast<uint64_t>(frames);
    RunEnvironment environment;
    environment.stopSignal = &stop;
    const int status = run(s, environment);
    const int64_t kept = testing::checkLtcFile(s.output.path, {});
    if (frames == 1) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(out_, "");
      EXPECT_EQ(kept, 1);
    } else {
      EXPECT_EQ(status, 128 + SIGTERM);
      EXPECT_EQ(out_, "Interrupted after " + std::to_string(kept) + " frames\n");
      EXPECT_GT(kept, 0);
      EXPECT_LT(kept, frames);
    }
  }
}

TEST_F(GenerationRunTest, Rf64RunThatFillsTheDiskKeepsItsSizes) {
  testing::SmallDisk disk(path("disk"));
  if (!disk.mounted()) GTEST_SKIP() << "no permission to mount a small tmpfs";
  GenerationRequest s;
  s.output.path = path("disk/big.wav");
  s.frames = 18000;
  RunEnvironment environment;
  environment.riffLimit = 1000000;  // stands in for 4 GiB
  EXPECT_EQ(run(s, environment), 1);
  EXPECT_EQ(out_, "Error writing file\n");
  const std::string bytes = readFile(s.output.path);
  EXPECT_EQ(bytes.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(bytes, 28, 8), bytes.size() - 80);
  EXPECT_GT(testing::checkLtcFile(s.output.path, {}), 1000);
}

TEST_F(GenerationRunTest, BlocksJoinExactlyWhateverTheirNumber) {
  // The run renders blocks of whole frames, each over the block before; its
  // file must equal the frames rendered one by one into fresh buffers, for
  // runs shorter than a block and of many blocks plus a part, at rates with
  // one frame length and with two (whose pattern a block holds whole at
  // 48000 Hz, and not at 44100 Hz, where it repeats every 100 frames).
  const struct {
    int32_t sampleRate;
    FrameRate rate;
    bool drop;
    int32_t frames;
  } cases[] = {{44100, kRate30, true, 5},     {44100, kRate30, true, 517},
               {48000, kRate2997, true, 517}, {44100, kRate2997, false, 517},
               {22050, kRate24, false, 301}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sampleRate << " Hz, " << c.frames << " frames");
    GenerationRequest s;
    s.output.path = path("blocks.wav");
    s.sampleRate = c.sampleRate;
    s.signal.rate = c.rate;
    s.frames = static_cast<uint64_t>(c.frames);
    s.signal.start = packTimecodeText("00:59:59:20");
    s.signal.dropFrame = c.drop;
    RunEnvironment environment;
    environment.noiseSeed = 99;
    ASSERT_EQ(run(s, environment), 0);

    EncoderConfig config;
    config.noiseSeed = 99;
    config.coding = outputCoding(kPcm16);
    LtcEncoder encoder(
        FrameSchedule(c.rate, c.sampleRate, s.signal.start, c.drop), config);
    const FrameSchedule& schedule = encoder.schedule();
    const auto frames = static_cast<uint64_t>(c.frames);
    WavLayout layout;
    layout.sampleRate = c.sampleRate;
    const std::vector<uint8_t> header =
        wavHeader(layout, WavFormat::kRiff, schedule.frameStart(frames) * 4);
    std::string expected(header.begin(), header.end());
    for (uint64_t n = 0; n < frames; ++n) {
      const auto values = static_cast<uint32_t>(schedule.frameLength(n) * 2);
      std::vector<uint8_t> frame(size_t{values} * 2);
      ASSERT_EQ(encoder.render(frame.data(), schedule.frameStart(n), values), values);
      expected.append(frame.begin(), frame.end());
    }
    EXPECT_TRUE(readFile(s.output.path) == expected);
  }
}

TEST_F(GenerationRunTest, NoiseFollowsTheSeed) {
  GenerationRequest s;
  s.frames = 3;
  std::string files[3];
  const uint32_t seeds[3] = {1, 2, 1};
  for (int i = 0; i < 3; ++i) {
    s.output.path = path("seed" + std::to_string(i) + ".wav");
    RunEnvironment environment;
    environment.noiseSeed = seeds[i];
    ASSERT_EQ(run(s, environment), 0);
    files[i] = readFile(s.output.path);
  }
  EXPECT_NE(files[0], files[1]);
  EXPECT_EQ(files[0], files[2]);
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
    GenerationRequest s;
    s.output.path = path("p.wav");
    s.frames = static_cast<uint64_t>(c.frames);
    RunEnvironment environment;
    environment.progress = {terminal, 80, true};
    ASSERT_EQ(run(s, environment), 0);
    std::fclose(terminal);
    const std::string shown(text, size);
    std::free(text);
    EXPECT_EQ(out_, "");
    if (!c.shown) {
      EXPECT_EQ(shown, "");
      continue;
    }
    // The first redraw names the last frame of the first block.
    EXPECT_TRUE(std::regex_search(shown, std::regex("^\r *[0-9]+\\.[0-9]%  01:00:0[0-5]:[0-9]{2}  ")))
        << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");
  }
}

// A progress line drawn on a memory stream against a clock the test moves
// on in 10 ms steps; the last frame reported is 1000 times the step.
std::string drawOn(int width, bool escapes, int steps) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* terminal = open_memstream(&text, &size);
  ProgressLine::Clock::time_point now{};
  {
    ProgressLine progress({terminal, width, escapes}, 1000000, 5880000000, [&now] { return now; });
    for (int step = 0; step <= steps; ++step) {
      now = ProgressLine::Clock::time_point{} + std::chrono::milliseconds(10 * step);
      progress.update(static_cast<uint64_t>(step) * 1000, 0x29593201);  // 01:32:59:29
    }
    progress.finish();
  }
  std::fclose(terminal);
  std::string shown(text, size);
  std::free(text);
  return shown;
}

TEST(ProgressLineTest, RedrawsTenTimesASecondWithRateAndTimeLeft) {
  // 1.3 s in 10 ms steps: redrawn at 0, 100, ... 1300 ms, then erased.
  const std::string shown = drawOn(80, true, 130);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), 15);
  EXPECT_EQ(shown.rfind("\r  0.0%  01:32:59:29  0.0s\x1b[K", 0), 0U) << shown;
  // 130000 of 1000000 frames of 5880 bytes in 1.3 s: 588 MB/s, 8.7 s left.
  EXPECT_NE(shown.find("\r 13.0%  01:32:59:29  1.3s  588.0 MB/s  0:00:09 left\x1b[K\r\x1b[K"),
            std::string::npos)
      << shown;
}

TEST(ProgressLineTest, FitsTheTerminalWithoutWrapping) {
  const struct {
    int width;
    const char* last;
  } cases[] = {
      {80, " 13.0%  01:32:59:29  1.3s  588.0 MB/s  0:00:09 left"},
      {51, " 13.0%  01:32:59:29  1.3s  588.0 MB/s"},
      {38, " 13.0%  01:32:59:29  1.3s  588.0 MB/s"},
      {37, " 13.0%  01:32:59:29  1.3s"},
      {20, " 13.0%  01:32:59:29"},
      {7, " 13.0%"},
      {6, ""},
  };
  for (const auto& c : cases) {
    const std::string shown = drawOn(c.width, true, 130);
    const size_t lastDraw = shown.rfind('\r', shown.size() - 5);
    EXPECT_EQ(shown.substr(lastDraw), std::string("\r") + c.last + "\x1b[K\r\x1b[K") << c.width;
  }
  // Without escape codes blanks cover a longer line before, and the end.
  const std::string plain = drawOn(80, false, 130);
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  const std::string last = " 13.0%  01:32:59:29  1.3s  588.0 MB/s  0:00:09 left";
  EXPECT_EQ(plain.substr(plain.size() - 2 * last.size() - 3),
            "\r" + last + "\r" + std::string(last.size(), ' ') + "\r");
}

}  // namespace
}  // namespace stampline
