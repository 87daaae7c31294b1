// Reads files written by the built program with independent readers:
// libsndfile for the container, libltc's decoder for the timecode.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <utility>
#include <vector>

#include "timecode/label_text.h"
#include "program_runner.h"
#include "timecode/timecode.h"
#include "timecode_labels.h"
#include "independent_readers.h"

namespace stampline::testing {
namespace {

struct Run {
  int rate;
  FrameRate fps;
  int channels;
  bool drop;
  bool clean;
  const char* start;
  int frames;
};

// The rate as --frame-rate takes it.
std::string spelled(FrameRate fps) {
  if (fps.denominator == 1) return std::to_string(fps.numerator);
  return fps.nominal == 24 ? "23.976" : "29.97";
}

std::string describe(const Run& r) {
  return std::to_string(r.rate) + " Hz " + spelled(r.fps) + " fps x" +
         std::to_string(r.channels) + (r.drop ? " drop" : "") + (r.clean ? " clean" : "") +
         " from " + r.start;
}

// Runs the program for `run`, then checks the file with both readers.
void writeAndDecode(const Run& run) {
  SCOPED_TRACE(describe(run));
  ScratchDir dir;
  std::vector<std::string> args = {"--sample-rate", std::to_string(run.rate), "--frame-rate",
                                   spelled(run.fps), "--channels", std::to_string(run.channels),
                                   "-t", run.start, "-d", std::to_string(run.frames),
                                   "--output", "ltc.wav"};
  if (run.drop) args.emplace_back("--drop-frame");
  if (run.clean) args.emplace_back("--clean");
  const ProgramResult r = runProgram(args, dir.path());
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(checkLtcFile(dir.file("ltc.wav"), {run.rate, run.fps, run.channels, run.drop, run.start},
                         run.clean),
            run.frames);
}

TEST(DecodeTest, EveryRateDropAndNoiseSetting) {
  for (const int rate : {22050, 44100, 48000}) {
    for (const FrameRate fps : {kRate25, kRate30}) {
      for (const bool drop : {false, true}) {
        if (drop && fps.nominal != 30) continue;
        for (const bool clean : {false, true}) {
          writeAndDecode({rate, fps, clean ? 1 : 2, drop, clean, "01:00:00:00", 75});
        }
      }
    }
  }
}

TEST(DecodeTest, NoisyStereoAndCleanMonoOfAnotherHour) {
  writeAndDecode({48000, kRate30, 2, false, false, "10:00:00:00", 40});
  writeAndDecode({44100, kRate25, 1, false, true, "10:00:00:00", 40});
}

TEST(DecodeTest, AnyVolumeRunsCleanly) {
  // Beyond full scale the samples clip; not a number gives silence. Under the
  // sanitizer build any overflow on the way would abort the program.
  for (const char* volume : {"1e12", " -1e12", "inf", "nan", "65539", "0.96"}) {
    ScratchDir dir;
    const ProgramResult r = runProgram({"-a", volume, "-d", "20", "-o", "v.wav"}, dir.path());
    EXPECT_EQ(r.status, 0) << volume;
    EXPECT_EQ(r.err, "") << volume;
    const SoundFile wav = readSoundFile(dir.file("v.wav"), true);
    ASSERT_EQ(wav.frames, 20 * 1470) << volume;
    for (const int16_t v : wav.firstChannel) ASSERT_GE(v, -32767) << volume;
  }
}

TEST(DecodeTest, HoursWhoseUnitsUseTheTopBit) {
  // 8 and 9 are the only hour units with bit 3 set.
  for (const char* start : {"08:59:59:00", "09:00:00:00", "18:00:00:00", "19:59:59:20"}) {
    writeAndDecode({44100, kRate30, 1, false, false, start, 45});
  }
}

TEST(DecodeTest, CleanSignalHoldsOnlyTheTwoLevels) {
  ScratchDir dir;
  ASSERT_EQ(runProgram({"-q", "1", "-c", "1", "-d", "30", "-o", "clean.wav"}, dir.path()).status, 0);
  const SoundFile wav = readSoundFile(dir.file("clean.wav"), true);
  ASSERT_EQ(wav.frames, 30 * 1470);
  // Half of full scale, with neither noise nor ramps.
  for (const int16_t v : wav.firstChannel) ASSERT_TRUE(v == 16383 || v == -16383) << v;
}

TEST(DecodeTest, AcrossMidnight) {
  writeAndDecode({48000, kRate30, 2, false, false, "23:59:50:00", 450});
  writeAndDecode({44100, kRate25, 1, false, true, "23:59:59:00", 60});
}

TEST(DecodeTest, DropFrameAcrossATenthMinute) {
  // From 00:00:00:00 the labels are the standard drop-frame ones: the skips
  // at minutes 1-9 and none at minute 10.
  writeAndDecode({22050, kRate30, 1, true, false, "00:00:00:00", 17982 + 150});
}

TEST(DecodeTest, DropFrameFromOddStarts) {
  // The decoded labels themselves must run in drop-frame order from the start
  // (or the label after it, where the start is one that is skipped), so this
  // does not lean on our own counting.
  const std::pair<const char*, const char*> starts[] = {
      {"00:08:59:25", "00:08:59:25"}, {"00:59:59:00", "00:59:59:00"},
      {"09:59:00:00", "09:59:00:02"}, {"23:59:58:15", "23:59:58:15"},
      {"00:01:00:00", "00:01:00:02"}, {"12:34:56:07", "12:34:56:07"},
  };
  for (const int rate : {22050, 44100, 48000}) {
    for (const auto& [start, first] : starts) {
      SCOPED_TRACE(std::to_string(rate) + " Hz from " + start);
      ScratchDir dir;
      const ProgramResult r = runProgram({"-s", std::to_string(rate), "-c", "1", "-n", "1", "-t",
                                          start, "-d", "150", "-o", "df.wav"},
                                         dir.path());
      ASSERT_EQ(r.status, 0) << r.out;
      const SoundFile wav = readSoundFile(dir.file("df.wav"), true);
      const std::vector<DecodedFrame> decoded = decodeLtc(wav.firstChannel, rate / 30);
      ASSERT_EQ(decoded.size(), 150U);
      EXPECT_EQ(decoded.front().timecode, packTimecodeText(first));
      for (size_t i = 1; i < decoded.size(); ++i) {
        ASSERT_EQ(decoded[i].timecode, wordOf(nextDropFrameLabel(labelOf(decoded[i - 1].timecode))))
            << "frame " << i;
        ASSERT_TRUE(decoded[i].dropFrame);
      }
    }
  }
}

TEST(DecodeTest, EveryProductionRateOnItsSampleGrid) {
  // Frames of 1601.6, 1837.5, 1839.3375 samples and the like: each must
  // start on the grid to the sample, across a drop-frame minute too.
  for (const int rate : {44100, 48000, 96000}) {
    for (const auto& [fps, drop] : {std::pair{kRate2997, true}, std::pair{kRate2997, false},
                                    std::pair{kRate23976, false}, std::pair{kRate24, false}}) {
      writeAndDecode({rate, fps, 1, drop, true, "00:00:59:20", 45});
    }
  }
  writeAndDecode({16000, kRate2997, 2, true, false, "23:59:59:00", 60});
  writeAndDecode({192000, kRate23976, 1, false, false, "09:59:59:00", 30});
}

TEST(DecodeTest, UserBitsAndTheDateInEveryFrame) {
  // Across midnight: the date moves on to the next day (and year) with the
  // labels; at 25 fps the frames follow the EBU layout.
  const int64_t newYearsEve = daysFromDate(2026, 12, 31);
  const struct {
    FrameRate fps;
    bool drop;
    std::vector<std::string> option;
    UserBits bits;
  } cases[] = {
      {kRate25, false, {"--user-bits", "1234abcd"}, {UserBits::Kind::kWord, 0x1234ABCD, 0}},
      {kRate25, false, {"--date", "2026-12-31"}, {UserBits::Kind::kDate, 0, newYearsEve}},
      {kRate2997, true, {"--date", "2026-12-31"}, {UserBits::Kind::kDate, 0, newYearsEve}},
      {kRate24, false, {"--user-bits", "00000001"}, {UserBits::Kind::kWord, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(spelled(c.fps) + " " + c.option[0]);
    ScratchDir dir;
    std::vector<std::string> args = {"--frame-rate", spelled(c.fps), "--start", "23:59:59:00",
                                     "--duration", "2s", "-c", "1", "-o", "ub.wav"};
    args.insert(args.end(), c.option.begin(), c.option.end());
    if (c.drop) args.emplace_back("--drop-frame");
    ASSERT_EQ(runProgram(args, dir.path()).status, 0);
    const LtcRun run{44100, c.fps, 1, c.drop, "23:59:59:00", c.bits};
    EXPECT_GT(checkLtcFile(dir.file("ub.wav"), run), c.fps.nominal);
  }
}

TEST(DecodeTest, DefaultRunHoldsOneMinuteFromOneHour) {
  ScratchDir dir;
  ASSERT_EQ(runProgram({}, dir.path()).status, 0);
  const std::string bytes = readFile(dir.file("output.wav"));
  EXPECT_EQ(bytes.size(), 10584044U);
  const SoundFile wav = readSoundFile(dir.file("output.wav"), true);
  const std::vector<DecodedFrame> decoded = decodeLtc(wav.firstChannel, 1470);
  ASSERT_EQ(decoded.size(), 1800U);
  EXPECT_EQ(decoded.front().timecode, packTimecodeText("01:00:00:00"));
  EXPECT_EQ(decoded.back().timecode, packTimecodeText("01:00:59:29"));
}

}  // namespace
}  // namespace stampline::testing
