#include "timecode/frame_schedule.h"
#include "timecode/timecode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "timecode_labels.h"

namespace stampline {
namespace {

// The counting of a whole-number rate: every frame rate / fps samples long.
int32_t timecodeAt(uint64_t position, int32_t rate, int32_t fps, TimecodeWord& current,
                   TimecodeWord start, bool drop) {
  const auto whole = static_cast<uint32_t>(fps);
  return stampline::timecodeAt(position, FrameSchedule({whole, 1, whole}, rate, start, drop),
                               current);
}

TimecodeWord word(uint32_t h, uint32_t m, uint32_t s, uint32_t f) {
  return testing::wordOf({h, m, s, f});
}

// "HH:MM:SS:FF" to its word; digits taken as written.
TimecodeWord word(const std::string& t) {
  const auto field = [&t](size_t at) { return static_cast<uint32_t>(std::stoul(t.substr(at, 2))); };
  return word(field(0), field(3), field(6), field(9));
}

std::string text(TimecodeWord w) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X%X:%X%X:%X%X:%X%X", (w >> 4) & 0xF, w & 0xF,
                (w >> 12) & 0xF, (w >> 8) & 0xF, (w >> 20) & 0xF, (w >> 16) & 0xF,
                (w >> 28) & 0x3, (w >> 24) & 0xF);
  return buffer;
}

std::string labelAt(uint64_t position, int32_t rate, int32_t fps, TimecodeWord start, bool drop,
                    int32_t* offset = nullptr) {
  TimecodeWord current = 0;
  const int32_t o = timecodeAt(position, rate, fps, current, start, drop);
  if (offset != nullptr) *offset = o;
  return text(current);
}

struct FrameCase {
  const char* start;
  bool drop;
  int fps;
  uint64_t frameIndex;
  const char* expected;
};

TEST(TimecodeAtTest, FrameIndexToLabel) {
  const FrameCase cases[] = {
      {"00:00:00:00", true, 30, 1799, "00:00:59:29"},
      {"00:00:00:00", true, 30, 1800, "00:01:00:02"},
      {"00:00:00:00", true, 30, 8990, "00:04:59:28"},
      {"00:00:00:00", true, 30, 8991, "00:04:59:29"},
      {"00:00:00:00", true, 30, 8992, "00:05:00:02"},
      {"00:00:00:00", true, 30, 17981, "00:09:59:29"},
      {"00:00:00:00", true, 30, 17982, "00:10:00:00"},
      {"00:00:00:00", true, 30, 19781, "00:10:59:29"},
      {"00:00:00:00", true, 30, 107891, "00:59:59:29"},
      {"00:00:00:00", true, 30, 107892, "01:00:00:00"},
      {"00:00:00:00", true, 30, 2589407, "23:59:59:29"},
      {"00:00:00:00", true, 30, 2589408, "00:00:00:00"},
      {"01:00:00:00", true, 30, 107892, "02:00:00:00"},
      {"01:00:00:00", false, 30, 107892, "01:59:56:12"},
      {"01:00:00:00", false, 30, 1799, "01:00:59:29"},
      {"01:00:00:00", false, 30, 1800, "01:01:00:00"},
      // Drop-frame labels follow the labels' own minutes from any start.
      {"00:00:30:00", true, 30, 900, "00:01:00:02"},
      {"00:00:30:00", true, 30, 1799, "00:01:30:01"},
      {"00:00:30:00", true, 30, 1800, "00:01:30:02"},
      {"00:00:59:28", true, 30, 0, "00:00:59:28"},
      {"00:00:59:28", true, 30, 1, "00:00:59:29"},
      {"00:00:59:28", true, 30, 2, "00:01:00:02"},
      {"23:59:59:29", true, 30, 1, "00:00:00:00"},
      {"00:08:59:25", true, 30, 4, "00:08:59:29"},
      {"00:08:59:25", true, 30, 5, "00:09:00:02"},
      {"00:01:00:00", true, 30, 0, "00:01:00:02"},
      {"00:01:00:01", true, 30, 0, "00:01:00:02"},
      {"23:59:59:29", false, 30, 1, "00:00:00:00"},
      {"00:00:00:00", false, 25, 1499, "00:00:59:24"},
      {"00:00:00:00", false, 25, 1500, "00:01:00:00"},
      {"00:00:00:00", false, 25, 90000, "01:00:00:00"},
      // There is no drop-frame counting at 25 fps: the count stays plain.
      {"00:00:00:00", true, 25, 1499, "00:00:59:24"},
      {"00:00:00:00", true, 25, 1500, "00:01:00:00"},
  };
  for (const FrameCase& c : cases) {
    const uint64_t samplesPerFrame = c.fps == 30 ? 1600 : 1920;
    int32_t offset = -1;
    EXPECT_EQ(labelAt(c.frameIndex * samplesPerFrame, 48000, c.fps, word(c.start), c.drop, &offset),
              c.expected)
        << "start " << c.start << (c.drop ? " drop" : " non-drop") << " fps " << c.fps
        << " frame " << c.frameIndex;
    EXPECT_EQ(offset, 0);
  }
}

TEST(TimecodeAtTest, PositionZeroNormalisesTheStart) {
  // A start reading 25:00:00:00 wraps; 00:00:00:29 at 25 fps carries.
  EXPECT_EQ(labelAt(0, 48000, 30, word(25, 0, 0, 0), false), "01:00:00:00");
  EXPECT_EQ(labelAt(0, 48000, 25, word(0, 0, 0, 29), false), "00:00:01:04");
  // Every nibble counts at face value: 0x19999999 reads 19:99:99:19.
  EXPECT_EQ(labelAt(0, 48000, 30, 0x19999999U, false), "04:40:39:19");
}

TEST(TimecodeAtTest, KeepsTheHighBitsOfTheDestinationOnly) {
  TimecodeWord current = 0xC0000000U;
  timecodeAt(0, 48000, 30, current, word(1, 0, 0, 0), false);
  EXPECT_EQ(current, 0xC0000001U);

  current = 0;
  const TimecodeWord startWithHighBits = word(1, 0, 0, 0) | 0xC0000000U;
  timecodeAt(0, 48000, 30, current, startWithHighBits, false);
  EXPECT_EQ(current, 0x00000001U);
}

TEST(TimecodeAtTest, LargePositions) {
  struct Case {
    uint64_t position;
    int32_t rate;
    bool drop;
    const char* expected;
    int32_t offset;
  };
  const Case cases[] = {
      {2147483648ULL, 48000, false, "12:25:39:07", 448},
      {4294967295ULL, 22050, false, "06:06:23:02", 675},
      {4294967295ULL, 22050, true, "06:09:38:02", 675},
      // Past 2^32 the count goes on instead of wrapping to the start.
      {4294967296ULL + 735ULL * 10, 22050, false, "06:06:23:12", 676},
  };
  for (const Case& c : cases) {
    int32_t offset = -1;
    EXPECT_EQ(labelAt(c.position, c.rate, 30, 0, c.drop, &offset), c.expected) << c.position;
    EXPECT_EQ(offset, c.offset) << c.position;
  }
}

TEST(TimecodeAtTest, OffsetIsZeroAtEveryFrameStartAndCountsWithinTheFrame) {
  for (const int32_t rate : {22050, 44100, 48000}) {
    for (const int32_t fps : {25, 30}) {
      const auto samplesPerFrame = static_cast<uint64_t>(rate / fps);
      TimecodeWord current = 0;
      for (uint64_t n = 0; n < 200000; n += 7) {
        ASSERT_EQ(timecodeAt(n * samplesPerFrame, rate, fps, current, 0, false), 0)
            << rate << "/" << fps << " frame " << n;
      }
      EXPECT_EQ(timecodeAt(samplesPerFrame * 3 + samplesPerFrame - 1, rate, fps, current, 0, false),
                static_cast<int32_t>(samplesPerFrame - 1));
      EXPECT_EQ(text(current), "00:00:00:03");
      // Past 2^32 sample frames too.
      const uint64_t far = (uint64_t{1} << 33) / samplesPerFrame * samplesPerFrame;
      EXPECT_EQ(timecodeAt(far, rate, fps, current, 0, false), 0);
      EXPECT_EQ(timecodeAt(far + samplesPerFrame - 1, rate, fps, current, 0, false),
                static_cast<int32_t>(samplesPerFrame - 1));
    }
  }
}

// Every label of a day in SMPTE drop-frame order, built from the label side:
// frames 00 and 01 do not exist at second 00 of minutes not divisible by ten.
std::vector<TimecodeWord> dropFrameDay() {
  std::vector<TimecodeWord> labels;
  labels.reserve(2589408);
  for (uint32_t h = 0; h < 24; ++h) {
    for (uint32_t m = 0; m < 60; ++m) {
      for (uint32_t s = 0; s < 60; ++s) {
        for (uint32_t f = 0; f < 30; ++f) {
          if (!(s == 0 && f < 2 && m % 10 != 0)) labels.push_back(word(h, m, s, f));
        }
      }
    }
  }
  return labels;
}

TEST(TimecodeAtTest, DropFrameLabelsForAWholeDay) {
  const std::vector<TimecodeWord> labels = dropFrameDay();
  ASSERT_EQ(labels.size(), 2589408U);
  for (size_t n = 0; n < labels.size(); ++n) {
    TimecodeWord current = 0;
    timecodeAt(uint64_t{n} * 1600, 48000, 30, current, 0, true);
    ASSERT_EQ(current, labels[n]) << "frame " << n << ": " << text(current) << " instead of "
                                  << text(labels[n]);
  }
}

TEST(TimecodeAtTest, DropFrameStaysExactForFrameIndicesUpTo2To31) {
  // Around every minute boundary the count must agree with the label order
  // of a day, which repeats every 2589408 frames.
  const std::vector<TimecodeWord> labels = dropFrameDay();
  const uint64_t day = labels.size();
  const uint64_t lastIndex = uint64_t{1} << 31;
  for (uint64_t minute = 1;; ++minute) {
    const uint64_t boundary = (minute * 17982 + 9) / 10;  // first frame at or after 1798.2 * k
    if (boundary > lastIndex) break;
    for (uint64_t n = boundary - 2; n <= boundary + 1; ++n) {
      TimecodeWord current = 0;
      timecodeAt(n * 1600, 48000, 30, current, 0, true);
      ASSERT_EQ(current, labels[static_cast<size_t>(n % day)]) << "frame " << n;
    }
  }
}

TEST(TimecodeAtTest, NextLabelStepsThroughEveryLabelOfADay) {
  for (const auto& [fps, drop] : {std::pair{24U, false}, std::pair{25U, false},
                                  std::pair{30U, false}, std::pair{30U, true}}) {
    const uint64_t day = labelsPerDay(fps, drop);
    TimecodeWord label = labelOfNumber(0, fps, drop);
    for (uint64_t n = 1; n <= day; ++n) {
      label = nextLabel(label, fps, drop);
      ASSERT_EQ(label, labelOfNumber(n, fps, drop)) << fps << (drop ? " DF " : " ") << n;
    }
    EXPECT_EQ(label, 0U);
  }
}

TEST(TimecodeAtTest, DropFrameLabelsFollowEveryStartOneStepAtATime) {
  std::vector<TimecodeWord> starts;
  for (uint32_t m = 0; m < 60; ++m) {
    for (uint32_t s : {0U, 59U}) {
      for (uint32_t f : {0U, 1U, 2U, 28U, 29U}) starts.push_back(word(0, m, s, f));
    }
  }
  for (uint32_t h = 0; h < 24; ++h) starts.push_back(word(h, 59, 59, 29));
  for (uint32_t h : {0U, 12U, 23U}) {
    for (uint32_t m : {9U, 19U, 41U, 58U}) starts.push_back(word(h, m, 59, 15));
  }
  // Out-of-range digits count at face value (0x19999999 reads 19:99:99:19).
  for (TimecodeWord odd : {0x19999999U, 0x3FFFFFFFU, 0x00000025U, word(0, 0, 0, 33)}) {
    starts.push_back(odd);
  }
  ASSERT_GE(starts.size(), 200U);

  for (const TimecodeWord start : starts) {
    // The start label, normalised, then moved off a label that is skipped.
    TimecodeWord first = 0;
    timecodeAt(0, 48000, 30, first, start, false);
    testing::Label label = testing::labelOf(first);
    if (testing::skippedInDropFrame(label)) label.f = 2;
    for (uint64_t n = 0; n < 40000; ++n) {
      TimecodeWord current = 0;
      timecodeAt(n * 1600, 48000, 30, current, start, true);
      const TimecodeWord expected = testing::wordOf(label);
      ASSERT_EQ(current, expected) << "start " << text(start) << " frame " << n << ": "
                                   << text(current) << " instead of " << text(expected);
      label = testing::nextDropFrameLabel(label);
    }
  }
}

}  // namespace
}  // namespace stampline
