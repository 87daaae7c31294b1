// Runs the built program's --analyze on files of every form it reads, made
// by libsndfile from a file the program wrote, and on files it must refuse.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "degraded.h"
#include "program_runner.h"
#include "test_bytes.h"
#include "independent_readers.h"

namespace stampline::testing {
namespace {

using Json = nlohmann::json;

// 75 clean frames of 25 fps from 10:00:00:00 at 48 kHz, mono 16-bit.
std::vector<int16_t> writtenSignal(const ScratchDir& dir) {
  const ProgramResult r = runProgram({"--sample-rate=48000", "--frame-rate=25", "--channels=1", "--clean",
                                      "--start=10:00:00:00", "--duration=75", "--output=ltc.wav", "--quiet"},
                                     dir.path());
  EXPECT_EQ(r.status, 0) << r.out;
  return readSoundFile(dir.file("ltc.wav"), true).firstChannel;
}

// Writes `channels` channels through libsndfile in `format`; the LTC (at
// `gain` times its written level) on channel `ltcChannel`, white noise as
// loud on the others.
void writeForm(const std::string& path, int format, const std::vector<int16_t>& ltc, int channels = 1,
               int ltcChannel = 1, double gain = 1) {
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> noise(-0.5, 0.5);
  std::vector<double> frames;
  for (const int16_t v : ltc) {
    for (int c = 1; c <= channels; ++c) frames.push_back(c == ltcChannel ? v * gain / 32768.0 : noise(random));
  }
  ASSERT_EQ(sf_writef_double(file, frames.data(), static_cast<sf_count_t>(ltc.size())),
            static_cast<sf_count_t>(ltc.size()));
  sf_close(file);
}

struct Analysis {
  ProgramResult run;
  Json report;
};

Analysis analyze(const ScratchDir& dir, std::vector<std::string> args, const RunOptions& options = {}) {
  args.emplace_back("--json");
  Analysis a{runProgram(args, dir.path(), options), {}};
  a.report = Json::parse(a.run.out, nullptr, false);
  return a;
}

TEST(AnalyzeTest, EveryFormReadsTheSameFrames) {
  ScratchDir dir;
  const std::vector<int16_t> ltc = writtenSignal(dir);
  ASSERT_EQ(ltc.size(), 75U * 1920);
  const struct {
    const char* name;
    int format;
    int channels = 1;
    int ltcChannel = 1;
    double gain = 1;
  } forms[] = {
      {"8-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
      {"8-bit at -30 dBFS", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 1, 0.0632},
      {"24-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"32-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
      {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"double at -60 dBFS", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, 1, 0.002},
      {"extensible 24-bit", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
      {"RF64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
      {"channel 3 of 4 beside noise", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 3},
      {"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW},
      {"mu-law", SF_FORMAT_WAV | SF_FORMAT_ULAW},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.name);
    writeForm(dir.file("form.wav"), form.format, ltc, form.channels, form.ltcChannel, form.gain);
    const Analysis a = analyze(dir, {"--analyze", "form.wav", "--csv=rows.csv"});
    ASSERT_EQ(a.run.status, 0) << a.run.out << a.run.err;
    EXPECT_EQ(a.report["ltc_channels"], Json::array({form.ltcChannel}));
    const Json& channel = a.report["channels"][static_cast<size_t>(form.ltcChannel - 1)];
    EXPECT_EQ(channel["frames"], 75);
    EXPECT_EQ(channel["first"]["label"], "10:00:00:00");
    EXPECT_EQ(channel["last"]["label"], "10:00:02:24");
    EXPECT_EQ(channel["frame_rate"], "25/1");
    // A clean signal runs at the nominal speed: a zero never signed.
    EXPECT_EQ(channel["speed_ppm"].dump(), "0.0");
    // Every frame where the 16-bit file has it: the rows agree up to the
    // interpolated position.
    const std::string rows = readFile(dir.file("rows.csv"));
    for (size_t line = rows.find('\n') + 1, k = 0; line < rows.size(); line = rows.find('\n', line) + 1, ++k) {
      const std::string row = rows.substr(line, rows.find('\n', line) - line);
      const std::string expected = std::to_string(form.ltcChannel) + "," + std::to_string(k * 1920) + ",";
      ASSERT_EQ(row.rfind(expected, 0), 0U) << row;
    }
  }
}

TEST(AnalyzeTest, StreamsOfUnknownSizeAndFilesCutShort) {
  ScratchDir dir;
  std::vector<int16_t> ltc = writtenSignal(dir);
  std::string wav = readFile(dir.file("ltc.wav"));
  // Through a pipe, with the sizes a writer to a pipe leaves.
  RunOptions piped;
  piped.launcher = {"sh", "-c", "cat \"$0\" | \"$@\"", "stream.wav"};
  for (const uint32_t unknown : {0U, 0xFFFFFFFFU}) {
    std::string stream = wav;
    putLittleEndian(stream, 4, 4, unknown);
    putLittleEndian(stream, 40, 4, unknown);
    writeFile(dir.file("stream.wav"), stream);
    const Analysis a = analyze(dir, {"--analyze=-"}, piped);
    ASSERT_EQ(a.run.status, 0) << a.run.out << a.run.err;
    EXPECT_EQ(a.report["channels"][0]["frames"], 75);
    EXPECT_EQ(a.report["format"]["sample_frames"], 75 * 1920);
  }
  // A recording cut short in its 50th frame: read to its end.
  writeFile(dir.file("cut.wav"), wav.substr(0, 44 + 2 * (49 * 1920 + 700)));
  const Analysis cut = analyze(dir, {"--analyze=cut.wav"});
  ASSERT_EQ(cut.run.status, 2) << cut.run.out;
  EXPECT_EQ(cut.report["format"]["truncated"], true);
  EXPECT_EQ(cut.report["channels"][0]["frames"], 49);
  EXPECT_EQ(cut.report["channels"][0]["event_counts"]["truncated"], 1);
  // Noise alone carries no LTC.
  writeForm(dir.file("noise.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, ltc, 2, 3);
  const Analysis noise = analyze(dir, {"--analyze=noise.wav"});
  EXPECT_EQ(noise.run.status, 3);
  EXPECT_EQ(noise.report["ltc_channels"], Json::array());
}

TEST(AnalyzeTest, ReportsGoWhereTheyAreAsked) {
  ScratchDir dir;
  writtenSignal(dir);
  // The CSV on standard output: the text report on standard error.
  const ProgramResult csv = runProgram({"--analyze=ltc.wav", "--csv=-"}, dir.path());
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out.rfind("channel,sample,label,", 0), 0U) << csv.out;
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 76);
  EXPECT_EQ(csv.err.rfind("ltc.wav: RIFF WAVE, 48000 Hz, 1 channel of 16-bit PCM", 0), 0U) << csv.err;
  if (programIsWindows()) return;  // no /dev/full, and no dd on the same descriptor
  // A CSV that cannot be written to its end: a failure, and no report.
  const ProgramResult full = runProgram({"--analyze=ltc.wav", "--csv=/dev/full"}, dir.path());
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.out, "");
  EXPECT_EQ(full.err, "stampline: /dev/full: could not be written to its end\n");
  // Standard input opened part way into a file is read from there.
  writeFile(dir.file("prefixed.wav"), "0123456789ab" + readFile(dir.file("ltc.wav")));
  RunOptions skipped;
  skipped.launcher = {"sh", "-c", "{ dd bs=1 skip=12 count=0 2>/dev/null; \"$@\"; } < prefixed.wav", "sh"};
  const Analysis offset = analyze(dir, {"--analyze=-"}, skipped);
  ASSERT_EQ(offset.run.status, 0) << offset.run.err;
  EXPECT_EQ(offset.report["channels"][0]["frames"], 75);
}

// A camera's clipped line input at 29.97 drop-frame, read as the program
// reads a file: 30 s in one block, two parts on two threads, each in
// pieces (where the way that rebuilds the reversals reads short, the other,
// through a band-pass or not, is tried with the half cell it knows, and a
// part's first pieces are tried until the half cell's line shows); 1.9 s in
// one piece after another, the line looked for in the samples after the
// first.
TEST(AnalyzeTest, ACamerasClippedInputIsReadNearlyWhole) {
  for (const double seconds : {30.0, 1.9}) {
    SCOPED_TRACE(seconds);
    ScratchDir dir;
    const corpus::Degraded d = corpus::degraded("29.97df", "camera_clip", seconds);
    SF_INFO info{};
    info.samplerate = corpus::kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(dir.file("camera.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> samples(d.samples.begin(), d.samples.end());
    ASSERT_EQ(sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    const Analysis a = analyze(dir, {"--analyze=camera.wav"});
    ASSERT_TRUE(a.report.is_object()) << a.run.out;
    const auto whole =
        static_cast<double>(std::count_if(d.frames.begin(), d.frames.end(), [](const auto& f) { return f.whole; }));
    EXPECT_GE(a.report["channels"][0]["frames"].get<double>(), 0.93 * whole) << a.run.out;
    // From its first frames on (the first is cut short by the filters'
    // start): the half cell is looked for past the first piece.
    EXPECT_LE(a.report["channels"][0]["first"]["sample"].get<double>(), 2 * 1601.6) << a.run.out;
  }
}

TEST(AnalyzeTest, FilesThatCannotBeReadGetOneLine) {
  ScratchDir dir;
  writtenSignal(dir);
  const std::string wav = readFile(dir.file("ltc.wav"));
  const auto patched = [&wav](size_t at, size_t width, uint64_t value) {
    std::string bytes = wav;
    putLittleEndian(bytes, at, width, value);
    return bytes;
  };
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } cases[] = {
      {"text.wav", "not a sound file\n", "not a WAV file"},
      {"empty.wav", "", "not a WAV file"},
      {"header.wav", wav.substr(0, 30), "header"},
      {"mono0.wav", patched(22, 2, 0), "channels"},
      {"rate0.wav", patched(24, 4, 0), "sample rate"},
      {"adpcm.wav", patched(20, 2, 2), "format"},
      {"bits12.wav", patched(34, 2, 12), "bits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir.file(c.name), c.bytes);
    const ProgramResult r = runProgram({std::string("--analyze=") + c.name}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(std::string("stampline: ") + c.name + ": ", 0), 0U) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
  }
  for (const char* path : {".", "missing.wav"}) {
    const ProgramResult r = runProgram({"--analyze", path}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(std::string("stampline: ") + path + ": cannot be read: ", 0), 0U) << r.err;
  }
}

}  // namespace
}  // namespace stampline::testing
