#include "decode/ltc_analysis.h"

#include <gtest/gtest.h>

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
  bool dropFrame = false;
  unsigned groupFlags = 0;
  FrameLayout layout = kLayout30;
  std::vector<ReadFrame> read;

  ReadFrame& add(const char* label, uint32_t userBits = 0, bool forward = true) {
    ReadFrame f;
    TimecodeFields fields;
    EXPECT_TRUE(parseLabel(label, fields)) << label;
    loadFrame(f.frame, wordOf(fields), dropFrame);
    setUserBits(f.frame, userBits);
    setGroupFlags(f.frame, layout, groupFlags);
    setPhaseBit(f.frame, layout.phaseBit);
    f.forward = forward;
    f.start = read.empty() ? 0 : read.back().end;
    f.end = f.start + length;
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
      const uint64_t day = labelsPerDay(30, dropFrame);
      const uint64_t number = labelNumber(label, 30, dropFrame);
      label = labelOfNumber((number + (forward ? 1 : day - 1)) % day, 30, dropFrame);
    }
  }
  ChannelReport analyse(std::optional<FrameRate> stated = kRate30) const {
    ChannelAnalysis analysis(1, {sampleRate, stated, std::nullopt});
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
