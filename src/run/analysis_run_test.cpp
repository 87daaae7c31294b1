#include "run/analysis_run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ltc_signal.h"
#include "test_bytes.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

using testing::fmtBody;
using testing::riffFile;
using testing::wavChunk;

// Writes down every call, in order.
class Recorder final : public AnalysisListener {
 public:
  bool started(const FileFacts& file, std::string& problem) override {
    calls.push_back("started " + file.name);
    if (!refuse.empty()) problem = refuse;
    return refuse.empty();
  }
  void frame(int channel, const FrameRecord& f) override {
    calls.push_back("frame " + std::to_string(channel) + " " + std::to_string(f.sample));
    frames.push_back(f);
  }
  void event(int channel, const Event& e) override {
    calls.push_back(std::string("event ") + std::to_string(channel) + " " + std::to_string(e.sample) + " " +
                    eventName(e.type));
  }
  bool ended(std::string&) override {
    calls.emplace_back("ended");
    return true;
  }
  void finished(const FileFacts&, const std::vector<ChannelReport>& channels, int status) override {
    calls.push_back("finished " + std::to_string(status));
    reports = channels;
  }
  std::string refuse;
  std::vector<std::string> calls;
  std::vector<FrameRecord> frames;
  std::vector<ChannelReport> reports;
};

// A mono 16-bit file of `samples`.
std::string wav16(const std::vector<int16_t>& samples) {
  std::string data;
  for (const int16_t v : samples) {
    data += static_cast<char>(v & 0xFF);
    data += static_cast<char>((v >> 8) & 0xFF);
  }
  return riffFile(wavChunk("fmt ", fmtBody(1, 48000, 16)) + wavChunk("data", data));
}

struct Analysed {
  int status = -1;
  std::string err;
};
Analysed analyse(const std::string& bytes, const std::vector<AnalysisListener*>& listeners, AnalysisRequest request = {},
                 MemoryInputFaults faults = {}) {
  request.path = "in.wav";
  const auto input = memoryInput(bytes, true, faults);
  char* text = nullptr;
  size_t size = 0;
  std::FILE* err = open_memstream(&text, &size);
  Analysed a;
  a.status = analyzeInput(*input, request, listeners, err);
  std::fclose(err);
  a.err.assign(text, size);
  std::free(text);
  return a;
}

// 60 frames of 25 fps, frames 30 to 39 spliced out: a jump.
std::vector<int16_t> spliced() {
  const testing::TestSignal signal{kRate25, 48000, false, 0x00000001, 60, true, 0.5, {}};
  std::vector<int16_t> s = testing::renderLtc(signal);
  s.erase(s.begin() + std::ptrdiff_t{30} * 1920, s.begin() + std::ptrdiff_t{40} * 1920);
  return s;
}

TEST(AnalysisRunTest, ListenersHearEveryFrameAndEventInOrder) {
  Recorder recorder;
  const Analysed a = analyse(wav16(spliced()), {&recorder});
  ASSERT_EQ(a.status, kAnalysisEvents) << a.err;
  ASSERT_EQ(recorder.calls.size(), 1 + 50 + 1 + 2U);
  EXPECT_EQ(recorder.calls.front(), "started in.wav");
  // The frame that jumps, then the event at its sample.
  EXPECT_EQ(recorder.calls[31], "frame 1 " + std::to_string(30 * 1920));
  EXPECT_EQ(recorder.calls[32], "event 1 " + std::to_string(30 * 1920) + " jump");
  EXPECT_EQ(recorder.calls[recorder.calls.size() - 2], "ended");
  EXPECT_EQ(recorder.calls.back(), "finished 2");
  for (size_t i = 1; i < recorder.frames.size(); ++i) EXPECT_GT(recorder.frames[i].sample, recorder.frames[i - 1].sample);
  ASSERT_EQ(recorder.reports.size(), 1U);
  EXPECT_EQ(recorder.reports[0].frames, 50U);
}

TEST(AnalysisRunTest, WhatStopsAnAnalysis) {
  const std::string file = wav16(spliced());
  // A read that fails is a failure, not a file cut short.
  Recorder failed;
  const Analysed error = analyse(file, {&failed}, {}, {file.size() / 2, EIO});
  EXPECT_EQ(error.status, kAnalysisFailed);
  EXPECT_EQ(error.err, "stampline: in.wav: cannot be read to its end: " + std::string(std::strerror(EIO)) + "\n");
  EXPECT_EQ(std::count(failed.calls.begin(), failed.calls.end(), "ended"), 0);  // no report
  EXPECT_TRUE(failed.reports.empty());
  // A listener that cannot follow stops it before a sample is read.
  Recorder refusing;
  refusing.refuse = "rows.csv: cannot be written: No space left on device";
  const Analysed refused = analyse(file, {&refusing}, {}, {});
  EXPECT_EQ(refused.status, kAnalysisFailed);
  EXPECT_EQ(refused.err, "stampline: rows.csv: cannot be written: No space left on device\n");
  EXPECT_EQ(refusing.calls.size(), 1U);
  // A channel the file does not have.
  AnalysisRequest second;
  second.channel = 2;
  Recorder none;
  const Analysed missing = analyse(file, {&none}, second);
  EXPECT_EQ(missing.status, kAnalysisFailed);
  EXPECT_EQ(missing.err, "stampline: in.wav: has 1 channels, and --timecode-channel asks for channel 2\n");
  EXPECT_TRUE(none.calls.empty());
}

TEST(AnalysisRunTest, LevelsOfEveryWidth) {
  // The peak against each width's full scale: 8-bit samples (offset by
  // 128) and 24-bit ones read as the 16-bit ones they were made from.
  const testing::TestSignal signal{kRate25, 48000, false, 0x00000001, 25, false, 0.7, {}};
  const std::vector<int16_t> ltc = testing::renderLtc(signal);
  int peak16 = 0;
  int peak8 = 0;
  std::string data8;
  std::string data24;
  for (const int16_t v : ltc) {
    peak16 = std::max(peak16, std::abs(static_cast<int>(v)));
    const int eight = std::clamp(static_cast<int>(std::lround(v / 256.0)), -127, 127);
    peak8 = std::max(peak8, std::abs(eight));
    data8 += static_cast<char>(eight + 128);
    const int wide = v * 256 + 37;  // the low byte a 24-bit file adds
    for (int b = 0; b < 3; ++b) data24 += static_cast<char>((wide >> (8 * b)) & 0xFF);
  }
  const struct {
    const char* name;
    std::string file;
    double dbfs;
  } cases[] = {
      {"16-bit", wav16(ltc), 20 * std::log10(peak16 / 32767.0)},
      {"8-bit", riffFile(wavChunk("fmt ", fmtBody(1, 48000, 8)) + wavChunk("data", data8)),
       20 * std::log10(peak8 / 127.0)},
      {"24-bit", riffFile(wavChunk("fmt ", fmtBody(1, 48000, 24)) + wavChunk("data", data24)),
       20 * std::log10((peak16 * 256 + 37) / 8388607.0)},
  };
  for (const auto& c : cases) {
    Recorder recorder;
    ASSERT_EQ(analyse(c.file, {&recorder}).status, kAnalysisClean) << c.name;
    EXPECT_NEAR(recorder.reports[0].peakDbfs, c.dbfs, 0.005) << c.name;
    EXPECT_EQ(recorder.reports[0].frames, 25U) << c.name;
  }
}

}  // namespace
}  // namespace stampline
