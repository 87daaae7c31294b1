#include "cli/run_requests.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "run/broadcast.h"

namespace stampline {
namespace {

TEST(RunRequestsTest, LengthsAndWhatMixCompares) {
  // A duration of 0 or less writes no frames; --mix without one is as long
  // as its input, and compares only the settings that were given.
  for (const int32_t duration : {0, -1, -2147483647 - 1}) {
    Settings s;
    s.durationFrames = duration;
    EXPECT_EQ(generationRequest(s).frames, 0U) << duration;
  }
  Settings s;
  s.mix = true;
  s.mixPath = "song.wav";
  EXPECT_FALSE(mixRequest(s).frames);
  EXPECT_FALSE(mixRequest(s).sampleRate.value);
  s.durationGiven = true;
  s.durationFrames = -5;
  s.sampleRate = 48000;
  s.sampleRateGiven = "-s 48000";
  s.format = kPcm24;
  s.depthGiven = "--depth=24";
  const MixRequest r = mixRequest(s);
  EXPECT_EQ(r.frames, 0U);
  EXPECT_EQ(r.sampleRate.value, 48000);
  EXPECT_EQ(r.sampleRate.option, "-s 48000");
  EXPECT_TRUE(r.format.value && *r.format.value == kPcm24);
  EXPECT_FALSE(r.channels.value);
  EXPECT_EQ(r.inputPath, "song.wav");
}

TEST(RunRequestsTest, TheStartIsPackedAsTyped) {
  // -t checks only the length: the digits go in as they are.
  Settings s;
  s.startText = "99:99:99:99";
  EXPECT_EQ(generationRequest(s).signal.start, 0x19999999U);
}

TEST(RunRequestsTest, ReferencesTellRunsApart) {
  // Reproducible: the same settings at the same time give the same, any
  // other setting (the start too) another one.
  const Settings base;
  std::vector<Settings> variants(15, base);
  variants[1].sampleRate = 48000;
  variants[2].channels = 1;
  variants[3].startText = "01:00:00:01";
  variants[4].durationFrames = 1801;
  variants[5].frameRate = kRate25;
  variants[6].dropFrame = true;
  variants[7].volume = 0.25;
  variants[8].clean = true;
  variants[9].userBits = {UserBits::Kind::kWord, 1, 0};
  variants[10].userBits = {UserBits::Kind::kDate, 0, 1};
  variants[11].format = kPcm24;
  variants[12].timecodeChannel = 2;
  variants[13].mix = true;
  variants[13].mixPath = "a.wav";
  variants[14].mix = true;
  variants[14].mixPath = "b.wav";
  std::set<uint64_t> seen;
  for (const Settings& v : variants) seen.insert(origination(identityOf(v), 1796683406).unique);
  EXPECT_EQ(seen.size(), variants.size());
  const std::string id = identityOf(base);
  EXPECT_EQ(origination(id, 1796683406).unique, origination(id, 1796683406).unique);
  EXPECT_NE(origination(id, 1796683406).unique, origination(id, 1796683407).unique);
  // What an older file was made with keeps its reference: the defaults add
  // nothing to the text.
  EXPECT_EQ(id, "44100 2 01:00:00:00 1800 30 NDF 0.500000 noisy 0 0");
  // Unseeded: two runs differ even in the digits a reference shows.
  EXPECT_NE(static_cast<uint32_t>(origination(id, std::nullopt).unique),
            static_cast<uint32_t>(origination(id, std::nullopt).unique));
}

}  // namespace
}  // namespace stampline
