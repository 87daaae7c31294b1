#include "decode/ltc_analysis.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "timecode/label_text.h"
#include "timecode/ltc_frame.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

// Frames as the decoder gives them, made from their fields: a run of them
// one after another, each `length` samples long.
struct Frames {
  int32_t sampleRate = 48000;
  double length = 1600;  // 30 fps
  unsigned nominal = 30;
  bool dropFrame = false;
  unsigned groupFlags = 0;
  FrameLayout layout = kLayout30;
  std::vector<ReadFrame> read;
  bool flipParity = false;  // the next frame added fails its parity
  double pauseSamples = 0;  // before the next frame added

  ReadFrame& add(const char* label, uint32_t userBits = 0, bool forward = true) {
    ReadFrame f;
    TimecodeFields fields;
    EXPECT_TRUE(parseLabel(label, fields)) << label;
    loadFrame(f.frame, wordOf(fields), dropFrame);
    setUserBits(f.frame, userBits);
    setGroupFlags(f.frame, layout, groupFlags);
    setPhaseBit(f.frame, layout.phaseBit);
    if (flipParity) f.frame.bytes[0] ^= 0x02;
    flipParity = false;
    f.forward = forward;
    f.start = (read.empty() ? 0 : read.back().end) + pauseSamples;
    f.end = f.start + length;
    pauseSamples = 0;
    read.push_back(f);
    return read.back();
  }
  // The frames of `count` labels from `first`, counting up (or down).
  void run(const char* first, int count, uint32_t userBits = 0, bool forward = true) {
    TimecodeFields fields;
    ASSERT_TRUE(parseLabel(first, fields));
    TimecodeWord label = wordOf(fields);
    for (int i = 0; i < count; ++i) {
      add(formatLabel(label, false).c_str(), userBits, forward);
      const uint64_t day = labelsPerDay(nominal, dropFrame);
      const uint64_t number = labelNumber(label, nominal, dropFrame);
      label = labelOfNumber((number + (forward ? 1 : day - 1)) % day, nominal, dropFrame);
    }
  }
  // Nothing for `samples` samples.
  void skip(double samples) { pauseSamples += samples; }
  ChannelReport analyse(std::optional<FrameRate> stated = kRate30, std::optional<uint64_t> timeReference = {}) const {
    ChannelAnalysis analysis(1, {sampleRate, stated, timeReference});
    std::vector<FrameRecord> rows;
    for (const ReadFrame& f : read) analysis.add(f, rows);
    analysis.finish(rows, false, static_cast<uint64_t>(read.back().end), {16000, 32767, 1, 0});
    return analysis.report();
  }
};

std::string eventsOf(const ChannelReport& r) {
  std::string all;
  for (const Event& e : r.events) {
    all += std::string(eventName(e.type)) + " " + (e.after ? formatLabel(*e.after, false) : "-") + "; ";
  }
  return all;
}

TEST(LtcAnalysisTest, ADateMovesOnAtMidnightInEitherCentury) {
  // Year 00 is 2000 or 2100: either next day is no event, forwards, and
  // backwards the day before.
  const struct {
    uint32_t before, after;
    bool forward;
    size_t events;
  } cases[] = {
      {0x00000228, 0x00000301, true, 0},   // 2100
      {0x00000228, 0x00000229, true, 0},   // 2000
      {0x00240228, 0x00240301, true, 1},   // 2024 has a 29th
      {0x00261208, 0x00261207, false, 0},  // backwards across midnight
      {0x00261208, 0x00261209, false, 1},  // backwards, but the day after
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.before << " -> " << c.after);
    Frames f;
    f.groupFlags = kDateGroupFlags;
    if (c.forward) {
      f.run("23:59:59:25", 5, c.before);
      f.run("00:00:00:00", 5, c.after);
    } else {
      f.run("00:00:00:04", 5, c.before, false);
      f.run("23:59:59:29", 5, c.after, false);
    }
    const ChannelReport r = f.analyse();
    EXPECT_EQ(r.eventCounts[static_cast<size_t>(EventType::kUserBits)], c.events) << eventsOf(r);
    EXPECT_EQ(r.eventTotal(), c.events) << eventsOf(r);
  }
}

TEST(LtcAnalysisTest, ADateMovingBackOnABackwardSpliceIsAnEvent) {
  // Played forwards, a splice to an earlier take of the day before.
  Frames f;
  f.groupFlags = kDateGroupFlags;
  f.run("10:00:00:00", 5, 0x00261208);
  f.run("09:00:00:00", 5, 0x00261207);
  const ChannelReport r = f.analyse();
  EXPECT_EQ(r.eventCounts[static_cast<size_t>(EventType::kUserBits)], 1U) << eventsOf(r);
  EXPECT_EQ(r.eventCounts[static_cast<size_t>(EventType::kJump)], 1U) << eventsOf(r);
}

}  // namespace
}  // namespace stampline

namespace stampline {
namespace {

using Counts = std::vector<std::pair<EventType, uint64_t>>;

// What runs of frames (30 fps unless said, 1600 samples each) give: the
// rows (confirmed frames) and the events of each type, all others none.
TEST(LtcAnalysisTest, OnlyConfirmedFramesCountAndChangesShowWhereConfirmed) {
  const struct {
    const char* name;
    std::function<void(Frames&)> make;
    uint64_t rows;
    Counts events;
    const char* detail = "";  // the first event's
  } cases[] = {
      {"a splice's hybrid frame, neither side's", [](Frames& f) {
         f.run("10:00:00:00", 10, 0x10203040);
         f.add("03:17:42:11", 0x10200000);
         f.run("10:00:00:11", 10, 0x10203040);
       }, 20, {{EventType::kInvalid, 1}}},
      {"two cell errors that parity missed: a digit changed", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.add("10:00:40:10");
         f.run("10:00:00:11", 10);
       }, 20, {{EventType::kInvalid, 1}}},
      {"the same error in two frames in a row, the count going on after them", [](Frames& f) {
         f.run("10:00:00:00", 10, 0x10203040);
         f.run("10:00:02:10", 2, 0x102030C1);
         f.run("10:00:00:12", 10, 0x10203040);
       }, 20, {{EventType::kInvalid, 2}, {EventType::kUnreadable, 1}}},
      {"a true jump, counted once the next two frames agree", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.run("11:00:00:00", 10);
       }, 20, {{EventType::kJump, 1}}},
      {"a repeat", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.run("10:00:00:09", 10);
       }, 20, {{EventType::kRepeat, 1}}},
      {"a reversal", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.run("10:00:00:09", 10, 0, false);
       }, 20, {{EventType::kDirection, 1}}},
      {"a jump to a lone frame and back: never confirmed", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.add("11:00:00:10");
         f.run("10:00:00:11", 10);
       }, 20, {{EventType::kInvalid, 1}}},
      {"user bits of one frame both neighbours contradict", [](Frames& f) {
         f.run("10:00:00:00", 10, 0x11111111);
         f.add("10:00:00:10", 0x11110111);
         f.run("10:00:00:11", 10, 0x11111111);
       }, 20, {{EventType::kInvalid, 1}}},
      {"a right frame alone between silences, as its predecessor predicts", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.skip(16000);
         f.add("10:00:00:20");
         f.skip(16000);
         f.run("10:00:01:01", 10);
       }, 21, {{EventType::kGap, 2}}},
      {"a sync word that came wrong, the frame as its predecessor predicts", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.add("10:00:00:10").syncDamaged = true;
         f.run("10:00:00:11", 10);
       }, 21, {}},
      {"a sync word that came wrong, the frame as nothing predicts: no frame there", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.add("11:00:00:10").syncDamaged = true;
         f.run("10:00:00:11", 10);
       }, 20, {{EventType::kGap, 1}}},
      {"one frame missing: a gap from the frame before", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.skip(1600);
         f.run("10:00:00:11", 10);
       }, 20, {{EventType::kGap, 1}}},
      {"odd parity: refused as such", [](Frames& f) {
         f.run("10:00:00:00", 10);
         f.flipParity = true;
         f.add("10:00:00:10");
         f.run("10:00:00:11", 10);
       }, 20, {{EventType::kInvalid, 1}}, "the parity is odd"},
      {"the drop-frame flag turning off", [](Frames& f) {
         f.dropFrame = true;
         f.run("10:00:00:00", 10);
         f.dropFrame = false;
         f.run("10:00:00:10", 10);
       }, 20, {{EventType::kDropFrame, 1}}},
      {"a date of time zone 11 across midnight", [](Frames& f) {
         f.groupFlags = kDateGroupFlags;
         f.run("23:59:59:25", 5, 0x11261207);
         f.run("00:00:00:00", 5, 0x11261208);
       }, 10, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Frames f;
    c.make(f);
    const ChannelReport r = f.analyse(std::nullopt);
    EXPECT_EQ(r.frames, c.rows);
    std::array<uint64_t, kEventTypes> expected{};
    for (const auto& [type, count] : c.events) expected[static_cast<size_t>(type)] = count;
    EXPECT_EQ(r.eventCounts, expected) << eventsOf(r);
    if (*c.detail != '\0' && !r.events.empty()) {
      EXPECT_EQ(r.events.front().detail, c.detail);
    }
  }
}

// What the rate stated, the labels' rate and a time stamp do.
TEST(LtcAnalysisTest, RatesFromTheLabelsAndTheTimeStamp) {
  constexpr uint64_t kTenOClock = uint64_t{10} * 3600 * 48000;  // 10:00:00:00's first sample at 30 fps
  const auto thirtyFrames = [](Frames& f) { f.run("10:00:00:00", 30); };
  const struct {
    const char* name;
    std::function<void(Frames&)> make;
    std::optional<FrameRate> stated;
    std::optional<uint64_t> timeReference;
    uint64_t rows;
    Counts events;
    std::vector<FrameRate> parts;
  } cases[] = {
      {"frames 25 and up under 25 stated: refused (an unreadable stretch), no jumps", thirtyFrames, kRate25, {}, 25,
       {{EventType::kInvalid, 5}, {EventType::kUnreadable, 1}}, {kRate25}},
      {"29.97 drop-frame at 0.9x: still 29.97 drop-frame", [](Frames& f) {
         f.dropFrame = true;
         f.length = 1601.6 / 0.9;
         f.run("10:00:59;20", 40);
       }, {}, {}, 40, {}, {kRate2997}},
      {"25 fps, then 29.97 drop-frame: a part each", [](Frames& f) {
         f.nominal = 25;
         f.length = 1920;
         f.layout = kLayoutEbu;
         f.run("10:00:00:00", 60);
         f.nominal = 30;
         f.dropFrame = true;
         f.length = 1601.6;
         f.layout = kLayout30;
         f.run("11:00:00;00", 60);
       }, {}, {}, 120, {{EventType::kRate, 1}, {EventType::kJump, 1}, {EventType::kDropFrame, 1}}, {kRate25, kRate2997}},
      {"a time stamp 1000 samples late: one event", thirtyFrames, {}, kTenOClock + 1000, 30,
       {{EventType::kTimeStamp, 1}}, {kRate30}},
      {"a time stamp 700 samples late: none", thirtyFrames, {}, kTenOClock + 700, 30, {}, {kRate30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Frames f;
    c.make(f);
    const ChannelReport r = f.analyse(c.stated, c.timeReference);
    EXPECT_EQ(r.frames, c.rows);
    std::array<uint64_t, kEventTypes> expected{};
    for (const auto& [type, count] : c.events) expected[static_cast<size_t>(type)] = count;
    EXPECT_EQ(r.eventCounts, expected) << eventsOf(r);
    ASSERT_EQ(r.parts.size(), c.parts.size());
    for (size_t i = 0; i < c.parts.size(); ++i) {
      EXPECT_EQ(r.parts[i].rate, c.parts[i]) << i;
      EXPECT_EQ(r.parts[i].dropFrame, c.parts[i] == kRate2997) << i;
    }
    if (c.timeReference) {
      EXPECT_EQ(r.firstDifference, static_cast<double>(*c.timeReference) - static_cast<double>(kTenOClock));
    }
  }
}

TEST(LtcAnalysisTest, JitterIsTheLargestDistanceEitherWay) {
  // Frame starts that step by 6 samples half way, down or up: the same
  // jitter, the largest distance from the line fitted through them (half
  // the step or more, beside it).
  double jitter[2] = {};
  for (const int sign : {-1, 1}) {
    Frames f;
    f.run("10:00:00:00", 60);
    for (size_t i = 30; i < f.read.size(); ++i) {
      f.read[i].start += 6 * sign;
      f.read[i].end += 6 * sign;
    }
    jitter[sign > 0] = f.analyse().jitterSamples;
  }
  EXPECT_EQ(jitter[0], jitter[1]);
  EXPECT_GT(jitter[0], 2.9) << jitter[0];
  EXPECT_LT(jitter[0], 6) << jitter[0];
}

}  // namespace
}  // namespace stampline
