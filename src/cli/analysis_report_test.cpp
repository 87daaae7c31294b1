#include "cli/analysis_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace stampline {
namespace {

using Json = nlohmann::json;

// What `print` wrote.
std::string printed(const std::function<void(std::FILE*)>& print) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  print(out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

FileFacts facts(int channels = 1) {
  FileFacts f;
  f.name = "take.wav";
  f.info.sampleRate = 48000;
  f.info.channels = channels;
  f.sampleFrames = 48000ULL * 3599 + 47999;  // a sample short of an hour
  for (int c = 1; c <= channels; ++c) f.scanned.push_back(c);
  return f;
}

// A channel's report with LTC: one frame of each kind the report shows.
ChannelReport withLtc() {
  ChannelReport r;
  r.frames = 2;
  r.first.label = 0x00000001;
  r.last.label = 0x01000001;
  r.last.sample = 48000ULL * 59 + 47999;  // 00:00:59.999, never 00:01:00 or 00:00:60
  r.forward = true;
  r.rate = kRate25;
  r.groupFlags = 0x4;
  r.holdsDate = true;
  r.userBits = 0x00261207;
  r.year = 26;
  r.month = 12;
  r.day = 7;
  r.peakDbfs = -5.6;
  r.polarity = -1;
  r.riseMicroseconds = -0.01;  // rounds to a zero that must show unsigned
  r.speedPpm = -0.04;
  r.jitterSamples = -0.001;
  RatePart part;
  part.frames = 2;
  part.first = r.first;
  part.last = r.last;
  part.rate = kRate25;
  part.rateKnown = true;
  part.speedPpm = r.speedPpm;
  part.jitterSamples = r.jitterSamples;
  r.parts = {part};
  Event gap{EventType::kGap, 4800, 0x00000001, 0x03000001, 3200, ""};
  r.events.push_back(gap);
  r.eventCounts[static_cast<size_t>(EventType::kGap)] = 1;
  return r;
}

TEST(AnalysisReportTest, NumbersAndTimesAsPeopleReadThem) {
  const std::string text = printed([](std::FILE* out) { printTextReport(out, facts(), {withLtc()}); });
  EXPECT_EQ(text.find("-0.0"), std::string::npos) << text;
  EXPECT_NE(text.find("speed         +0.0 ppm; jitter 0.00 samples"), std::string::npos) << text;
  EXPECT_NE(text.find("rise time 0.0 us"), std::string::npos) << text;
  EXPECT_NE(text.find("(00:59:59.999)"), std::string::npos) << text;  // the file's length
  EXPECT_NE(text.find("(00:00:59.999)"), std::string::npos) << text;
  EXPECT_NE(text.find("group flags 100; date 26-12-07 (YY-MM-DD), time zone code 00"), std::string::npos) << text;
  EXPECT_NE(text.find("gap         at sample 4800 (00:00:00.100), 3200 samples: 01:00:00:00 -> 01:00:00:03"),
            std::string::npos)
      << text;
  const std::string json = printed([](std::FILE* out) { printJsonReport(out, facts(), {withLtc()}, 2); });
  EXPECT_EQ(json.find("-0.0"), std::string::npos) << json;
  const Json j = Json::parse(json);
  const Json& channel = j["channels"][0];
  EXPECT_EQ(channel["user_bits"]["date"]["day"], 7);
  EXPECT_EQ(channel["user_bits"]["date"]["month"], 12);
  EXPECT_EQ(channel["user_bits"]["binary_group_flags"], "100");
  EXPECT_EQ(channel["events"][0]["length"], 3200);
  EXPECT_EQ(channel["events"][0]["type"], "gap");
  EXPECT_EQ(j["status"], 2);
}

TEST(AnalysisReportTest, ChannelsWithoutLtc) {
  ChannelReport none;
  none.channel = 1;
  EXPECT_EQ(printed([&](std::FILE* out) { printTextReport(out, facts(), {none}); }),
            "take.wav: RIFF WAVE, 48000 Hz, 1 channel of 16-bit PCM, 172799999 sample frames (00:59:59.999)\n"
            "Channel 1: no LTC\n");
  ChannelReport second = none;
  second.channel = 2;
  ChannelReport third = none;
  third.channel = 3;
  EXPECT_NE(printed([&](std::FILE* out) { printTextReport(out, facts(3), {none, second, third}); })
                .find("No LTC on channels 1, 2, 3\n"),
            std::string::npos);
}

TEST(AnalysisReportTest, ATimeReferenceBeyondADayIsNotCompared) {
  ChannelReport r = withLtc();
  r.timeReference = 48000ULL * 86400 * 3;
  r.timeReferencePastDay = true;
  r.firstDifference = 1.8e19;
  const std::string text = printed([&](std::FILE* out) { printTextReport(out, facts(), {r}); });
  EXPECT_NE(text.find("time stamp    not compared: the time reference lies a day or more past midnight\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("e+19"), std::string::npos);
  const Json j = Json::parse(printed([&](std::FILE* out) { printJsonReport(out, facts(), {r}, 0); }));
  const Json& stamp = j["channels"][0]["time_stamp"];
  EXPECT_EQ(stamp["time_reference"], 48000ULL * 86400 * 3);
  EXPECT_TRUE(stamp["first_difference"].is_null());
  EXPECT_TRUE(stamp["worst_difference"].is_null());
}

TEST(AnalysisReportTest, CsvRows) {
  FrameRecord backward;
  backward.sample = 1602;
  backward.position = 1601.0039;
  backward.length = 1601;
  backward.label = 0x29595900;
  backward.dropFrame = true;
  backward.groupFlags = 0x4;
  backward.userBits = 0x00261207;
  backward.forward = false;
  EXPECT_EQ(printed([&](std::FILE* out) { printCsvRow(out, 2, backward); }),
            "2,1602,00:59:59;29,1,0,100,00261207,backward,1601,1601.004\n");
  // A CSV that cannot be written to its end fails the analysis.
  CsvReport full("/dev/full", stdout);
  std::string problem;
  ASSERT_TRUE(full.started(facts(), problem));
  for (int i = 0; i < 1000; ++i) full.frame(1, backward);
  EXPECT_FALSE(full.ended(problem));
  EXPECT_EQ(problem, "/dev/full: could not be written to its end");
  CsvReport missing("/no/such/dir/rows.csv", stdout);
  EXPECT_FALSE(missing.started(facts(), problem));
  EXPECT_EQ(problem.rfind("/no/such/dir/rows.csv: cannot be written: ", 0), 0U) << problem;
}

}  // namespace
}  // namespace stampline
