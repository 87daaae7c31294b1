#include "run/broadcast.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "run/generation_run.h"
#include "timecode/label_text.h"
#include "program_runner.h"
#include "test_bytes.h"
#include "independent_readers.h"

namespace stampline {
namespace {

// The chunks of a 16-bit run of `s`.
std::vector<WavChunk> chunksOf(const GenerationRequest& s, const FrameSchedule& schedule, const Origination& made) {
  WavLayout layout;
  layout.sampleRate = s.sampleRate;
  layout.channels = s.channels;
  return broadcastChunks(s.signal, schedule, layout, made, ltcTrackNames(s.channels, s.timecodeChannel)).both();
}

using testing::littleEndian;

// The chunks of a file from the first after "WAVE": id, offset of the
// contents, size.
struct Chunk {
  std::string id;
  size_t at;
  uint64_t size;
};
std::vector<Chunk> chunksOf(const std::string& bytes) {
  std::vector<Chunk> chunks;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint64_t size = littleEndian(bytes, at + 4, 4);
    chunks.push_back({bytes.substr(at, 4), at + 8, size});
    if (chunks.back().id == "data") break;
    at += static_cast<size_t>(8 + size + size % 2);
  }
  return chunks;
}

std::string text(const std::string& bytes, size_t at, size_t width) {
  const std::string field = bytes.substr(at, width);
  return field.substr(0, field.find('\0'));
}

TEST(BroadcastChunksTest, EveryBextFieldInEveryForm) {
  // 2026-12-07 22:43:26 UTC.
  constexpr int64_t kEpoch = 1796683406;
  const struct {
    const char* name;
    uint64_t riffLimit;
    bool stopped;  // planned past 4 GiB, stopped after its first block
    int32_t frames;
    std::string first;  // the chunk before "fmt "
    std::string form;
  } forms[] = {
      {"plain", kMaxRiffDataBytes, false, 30, "", "RIFF"},
      {"planned past 4 GiB, stopped", kMaxRiffDataBytes, true, 700000, "JUNK", "RIFF"},
      {"made RF64", 10000, false, 30, "ds64", "RF64"},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.name);
    testing::ScratchDir dir;
    GenerationRequest s;
    s.output.path = dir.file("bwf.wav");
    s.sampleRate = 48000;
    s.signal.rate = kRate2997;
    s.signal.dropFrame = true;
    s.frames = static_cast<uint64_t>(f.frames);
    s.broadcastWave = true;
    s.signal.userBits = {UserBits::Kind::kWord, 0x1234ABCD, 0};
    const std::atomic<int> stop = SIGINT;
    RunEnvironment environment;
    environment.riffLimit = f.riffLimit;
    environment.sourceDateEpoch = kEpoch;
    if (f.stopped) environment.stopSignal = &stop;
    std::FILE* console = std::fopen("/dev/null", "w");
    EXPECT_EQ(runGeneration(s, console, environment), f.stopped ? 128 + SIGINT : 0);
    std::fclose(console);

    const std::string bytes = testing::readFile(s.output.path);
    ASSERT_EQ(bytes.substr(0, 4), f.form);
    std::string ids;
    for (const Chunk& c : chunksOf(bytes)) ids += c.id + " ";
    EXPECT_EQ(ids, (f.first.empty() ? "" : f.first + " ") + "fmt  bext iXML data ");
    const std::vector<Chunk> chunks = chunksOf(bytes);
    const Chunk& bext = chunks[f.first.empty() ? 1 : 2];
    EXPECT_EQ(bext.size % 2, 0U);
    const size_t b = bext.at;
    EXPECT_EQ(text(bytes, b, 256),
              "LTC 29.97 DF, start 01:00:00;00, 48000 Hz\r\nsUBITS=$1234ABCD");
    EXPECT_EQ(text(bytes, b + 256, 32), "Stampline");
    EXPECT_EQ(text(bytes, b + 288, 32).substr(0, 23), "STAMPLINE20261207224326");
    EXPECT_EQ(text(bytes, b + 320, 10), "2026-12-07");
    EXPECT_EQ(text(bytes, b + 330, 8), "22:43:26");
    // 01:00:00;00 is drop-frame frame 107892 of the day: 107892 frames of
    // 1601.6 samples, 172,799,827.2, of which the whole samples count.
    EXPECT_EQ(littleEndian(bytes, b + 338, 8), 107892ULL * 48000 * 1001 / 30000);
    EXPECT_EQ(littleEndian(bytes, b + 346, 2), 1U);
    EXPECT_EQ(bytes.substr(b + 348, 254), std::string(254, '\0'));
    EXPECT_EQ(text(bytes, b + 602, static_cast<size_t>(bext.size - 602)),
              "A=PCM,F=48000,W=16,M=stereo,T=Stampline " STAMPLINE_VERSION "\r\n");
    const Chunk& ixml = chunks[f.first.empty() ? 2 : 3];
    const std::string xml = bytes.substr(ixml.at, static_cast<size_t>(ixml.size));
    for (const char* element :
         {"<IXML_VERSION>", "<TIMECODE_RATE>30000/1001</TIMECODE_RATE>",
          "<TIMECODE_FLAG>DF</TIMECODE_FLAG>", "<MASTER_SPEED>30000/1001</MASTER_SPEED>",
          "<FILE_SAMPLE_RATE>48000</FILE_SAMPLE_RATE>", "<AUDIO_BIT_DEPTH>16</AUDIO_BIT_DEPTH>",
          "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>",
          "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>172799827</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>",
          "<TIMESTAMP_SAMPLE_RATE>48000</TIMESTAMP_SAMPLE_RATE>", "<TRACK_COUNT>2</TRACK_COUNT>",
          "<INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>LTC</NAME>"}) {
      EXPECT_NE(xml.find(element), std::string::npos) << element;
    }
    // libsndfile reads it back, and libltc the frames with their user bits.
    const testing::SoundFile wav = testing::readSoundFile(s.output.path, false);
    EXPECT_TRUE(wav.broadcast);
    EXPECT_EQ(wav.timeReference, 172799827U);
    EXPECT_GT(testing::checkLtcFile(s.output.path, {48000, kRate2997, 2, true, "01:00:00:00",
                                                    s.signal.userBits, true}),
              0);
  }
}

TEST(BroadcastChunksTest, TimeReferenceIsTheFirstSampleOnTheDaysGrid) {
  // From 01:00:00:00 at 48000 Hz: the start label's number N since midnight
  // times the samples of a frame, R * DEN / NUM, rounded down.
  const struct {
    FrameRate rate;
    bool drop;
    uint64_t labelNumber;
    const char* description;
  } cases[] = {
      {kRate25, false, 3600ULL * 25, "LTC 25 NDF, start 01:00:00:00, 48000 Hz"},
      {kRate2997, true, 3600ULL * 30 - 108, "LTC 29.97 DF, start 01:00:00;00, 48000 Hz"},
      {kRate2997, false, 3600ULL * 30, "LTC 29.97 NDF, start 01:00:00:00, 48000 Hz"},
      {kRate23976, false, 3600ULL * 24, "LTC 23.976 NDF, start 01:00:00:00, 48000 Hz"},
  };
  for (const auto& c : cases) {
    GenerationRequest s;
    s.sampleRate = 48000;
    s.signal.rate = c.rate;
    s.signal.dropFrame = c.drop;
    const FrameSchedule schedule(c.rate, 48000, s.signal.start, c.drop);
    const std::vector<WavChunk> chunks = chunksOf(s, schedule, {0, true, 0});
    ASSERT_EQ(chunks.size(), 2U);
    const std::string bext(chunks[0].bytes.begin(), chunks[0].bytes.end());
    const uint64_t expected = c.labelNumber * 48000 * c.rate.denominator / c.rate.numerator;
    EXPECT_EQ(littleEndian(bext, 338, 8), expected) << c.description;
    EXPECT_EQ(text(bext, 0, 256), c.description);
    EXPECT_EQ(text(bext, 320, 18), "1970-01-0100:00:00");
  }
  EXPECT_EQ(3600ULL * 25 * 48000 / 25, 172800000U);
}

// The iXML text of a run's chunks.
std::string ixmlOf(const std::vector<WavChunk>& chunks) {
  return {chunks[1].bytes.begin(), chunks[1].bytes.end()};
}

TEST(BroadcastChunksTest, TimeStampsBeyond32Bits) {
  // 23:00:00:00 at 192 kHz is 15,897,600,000 samples after midnight: the
  // time reference's high word is 3, iXML's HI 3 and LO the rest. 12:25:40:00
  // at 48 kHz, 2,147,520,000, has a LO word above 2^31 and a HI of 0.
  const struct {
    int32_t rate;
    const char* start;
    uint64_t reference;
  } cases[] = {{192000, "23:00:00:00", 15897600000ULL}, {48000, "12:25:40:00", 2147520000ULL},
               {44100, "01:00:00:00", 158760000ULL}, {22050, "01:00:00:00", 79380000ULL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    GenerationRequest s;
    s.sampleRate = c.rate;
    s.signal.start = packTimecodeText(c.start);
    const FrameSchedule schedule(s.signal.rate, c.rate, s.signal.start, false);
    const std::vector<WavChunk> chunks = chunksOf(s, schedule, {0, true, 0});
    const std::string bext(chunks[0].bytes.begin(), chunks[0].bytes.end());
    EXPECT_EQ(littleEndian(bext, 338, 4), c.reference & 0xFFFFFFFFU);
    EXPECT_EQ(littleEndian(bext, 342, 4), c.reference >> 32);
    const std::string xml = ixmlOf(chunks);
    const std::string rate = std::to_string(c.rate);
    for (const std::string& element :
         {"<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>" + std::to_string(c.reference >> 32) + "<",
          "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>" + std::to_string(c.reference & 0xFFFFFFFFU) + "<",
          "<FILE_SAMPLE_RATE>" + rate + "<", "<DIGITIZER_SAMPLE_RATE>" + rate + "<",
          "<TIMESTAMP_SAMPLE_RATE>" + rate + "<"}) {
      EXPECT_NE(xml.find(element), std::string::npos) << element;
    }
  }
}

TEST(BroadcastChunksTest, TheDateShowsAsUserBits) {
  GenerationRequest s;
  s.signal.userBits = {UserBits::Kind::kDate, 0, daysFromDate(2026, 12, 31)};
  const FrameSchedule schedule(s.signal.rate, s.sampleRate, s.signal.start, false);
  const std::vector<WavChunk> chunks = chunksOf(s, schedule, {0, true, 0});
  const std::string bext(chunks[0].bytes.begin(), chunks[0].bytes.end());
  EXPECT_EQ(text(bext, 0, 256), "LTC 30 NDF, start 01:00:00:00, 44100 Hz\r\nsUBITS=$00261231");
}

TEST(BroadcastChunksTest, ReproducibleOriginationWhateverTheTimeZone) {
  const GenerationRequest s;
  const FrameSchedule schedule(s.signal.rate, s.sampleRate, s.signal.start, false);
  const char* before = std::getenv("TZ");
  const std::string saved = before != nullptr ? before : "";
  std::string fields[2];
  for (int i = 0; i < 2; ++i) {
    setenv("TZ", i == 0 ? "UTC" : "America/New_York", 1);
    tzset();
    const auto chunks = chunksOf(s, schedule, origination(s.identity, 1796683406));
    fields[i] = std::string(chunks[0].bytes.begin() + 288, chunks[0].bytes.begin() + 338);
  }
  if (before != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(fields[0], fields[1]);
  EXPECT_EQ(text(fields[0], 32, 10), "2026-12-07");
  EXPECT_EQ(text(fields[0], 42, 8), "22:43:26");
}

TEST(BroadcastChunksTest, SourceDateEpochMakesRunsIdentical) {
  testing::ScratchDir dir;
  const std::vector<std::string> args = {"--bwf", "--date", "2026-12-31", "-d", "60", "-o", "x.wav"};
  testing::RunOptions fixed;
  fixed.environment = {{"SOURCE_DATE_EPOCH", "1796683406"}};
  ASSERT_EQ(testing::runProgram(args, dir.path(), fixed).status, 0);
  const std::string first = testing::readFile(dir.file("x.wav"));
  ASSERT_EQ(testing::runProgram(args, dir.path(), fixed).status, 0);
  EXPECT_TRUE(first == testing::readFile(dir.file("x.wav")));
  // Without it the reference (and the noise) tells the files apart.
  ASSERT_EQ(testing::runProgram(args, dir.path()).status, 0);
  EXPECT_FALSE(first == testing::readFile(dir.file("x.wav")));
}

}  // namespace
}  // namespace stampline
