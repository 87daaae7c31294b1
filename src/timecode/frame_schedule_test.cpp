#include "timecode/frame_schedule.h"

#include <gtest/gtest.h>

#include <vector>

#include "timecode_labels.h"

namespace stampline {
namespace {

using testing::Label;

// Every label of a day in order, by stepping one label at a time: a label's
// number is its place in that order. Indexed by the label's nominal count.
std::vector<uint32_t> numbersOfADay(uint32_t fps, bool dropFrame) {
  std::vector<uint32_t> numbers(size_t{fps} * 86400, UINT32_MAX);
  Label l{0, 0, 0, 0};
  uint32_t n = 0;
  do {
    numbers[((l.h * 60 + l.m) * 60 + l.s) * fps + l.f] = n++;
    l = testing::nextLabel(l, fps, dropFrame);
  } while (l.h != 0 || l.m != 0 || l.s != 0 || l.f != 0);
  return numbers;
}

TEST(FrameScheduleTest, StartsAndLabelsAgreeWithAnIndependentCount) {
  const FrameRate rates[] = {kRate23976, kRate24, kRate25, kRate2997, kRate30};
  const Label starts[] = {{0, 0, 0, 0},   {23, 59, 59, 20}, {23, 59, 59, 23}, {0, 0, 59, 22},
                          {0, 1, 0, 0},   {0, 1, 0, 2},     {0, 9, 59, 23},   {0, 10, 0, 0},
                          {0, 59, 59, 0}, {1, 0, 0, 0},     {12, 34, 56, 7}};
  int checked = 0;
  for (const FrameRate rate : rates) {
    for (const bool drop : {false, true}) {
      if (drop && rate.nominal != 30) continue;
      const std::vector<uint32_t> numbers = numbersOfADay(rate.nominal, drop);
      for (const int32_t sampleRate : {16000, 44100, 48000, 96000, 192000}) {
        for (Label start : starts) {
          SCOPED_TRACE(::testing::Message() << rate.numerator << "/" << rate.denominator << (drop ? " DF" : "")
                                            << " at " << sampleRate << " from " << start.h << ":"
                                            << start.m << ":" << start.s << ":" << start.f);
          const FrameSchedule schedule(rate, sampleRate, testing::wordOf(start), drop);
          // The start label's number, a skipped drop-frame label counting as
          // the next one.
          if (drop && testing::skippedInDropFrame(start)) start.f = 2;
          const uint64_t n =
              numbers.at(((start.h * 60 + start.m) * 60 + start.s) * rate.nominal + start.f);
          ASSERT_EQ(schedule.startNumber(), n);
          // A rational accumulator: the day's sample position times NUM,
          // growing by R * DEN a frame.
          const uint64_t step = static_cast<uint64_t>(sampleRate) * rate.denominator;
          uint64_t scaled = n * step;
          const uint64_t origin = scaled / rate.numerator;
          Label label = start;
          // Stepping from frame 0 and from mid-way gives the same.
          FrameSchedule::Walk walk(schedule, 0);
          FrameSchedule::Walk later(schedule, 500);
          for (uint64_t k = 0; k < 1000; ++k) {
            const uint64_t expectedStart = scaled / rate.numerator - origin;
            scaled += step;
            const uint64_t expectedEnd = scaled / rate.numerator - origin;
            ASSERT_EQ(schedule.frameStart(k), expectedStart) << "frame " << k;
            ASSERT_EQ(schedule.label(k), testing::wordOf(label)) << "frame " << k;
            const FrameSchedule::Place first = schedule.frameAt(expectedStart);
            const FrameSchedule::Place last = schedule.frameAt(expectedEnd - 1);
            ASSERT_TRUE(first.frame == k && first.offset == 0) << "frame " << k;
            ASSERT_TRUE(last.frame == k && last.offset == expectedEnd - 1 - expectedStart)
                << "frame " << k;
            const uint64_t length = expectedEnd - expectedStart;
            ASSERT_TRUE(length == schedule.shortestFrame() || length == schedule.longestFrame());
            ASSERT_TRUE(walk.frame() == k && walk.length() == length &&
                        walk.label() == schedule.label(k))
                << "frame " << k;
            walk.next();
            if (k >= 500) {
              ASSERT_TRUE(later.length() == length && later.label() == schedule.label(k));
              later.next();
            }
            label = testing::nextLabel(label, rate.nominal, drop);
            ++checked;
          }
        }
      }
    }
  }
  std::printf("checked %d frames\n", checked);
}

TEST(FrameScheduleTest, ExactOverDaysAndYears) {
  // A drop-frame day at 29.97 and 48000 Hz: 2589408 frames of 1601.6
  // samples, 4147195852.8 in all, of which a file holds the whole ones.
  const FrameSchedule day(kRate2997, 48000, 0, true);
  EXPECT_EQ(day.frameStart(2589408), 4147195852U);
  EXPECT_EQ(day.label(2589407), testing::wordOf({23, 59, 59, 29}));
  EXPECT_EQ(day.label(2589408), 0U);
  // Ten years of 23.976 at 192 kHz, 8008 samples a frame, from the day's
  // last label: nothing overflows, and the way back finds the frame.
  const FrameSchedule years(kRate23976, 192000, testing::wordOf({23, 59, 59, 23}), false);
  const uint64_t k = uint64_t{24} * 86400 * 3653;
  EXPECT_EQ(years.frameStart(k), k * 8008);
  const FrameSchedule::Place place = years.frameAt(k * 8008 + 8007);
  EXPECT_EQ(place.frame, k);
  EXPECT_EQ(place.offset, 8007U);
}

TEST(FrameScheduleTest, LengthsRepeatWithTheirPeriod) {
  const struct {
    FrameRate rate;
    int32_t sampleRate;
    uint64_t period;
  } cases[] = {{kRate2997, 48000, 5}, {kRate25, 48000, 1}, {kRate2997, 44100, 100},
               {kRate23976, 44100, 80}, {kRate24, 44100, 2}, {kRate30, 44100, 1}};
  for (const auto& c : cases) {
    const FrameSchedule schedule(c.rate, c.sampleRate, 0x00000001, false);
    EXPECT_EQ(schedule.lengthPeriod(), c.period) << c.sampleRate << " " << rateName(c.rate);
    for (uint64_t k = 0; k < 3 * c.period; ++k) {
      ASSERT_EQ(schedule.frameLength(k), schedule.frameLength(k + c.period)) << k;
    }
  }
}

TEST(FrameScheduleTest, RunsFromDifferentStartsShareTheGrid) {
  // The frame of 00:10:00;00 starts on the same sample of the day whichever
  // start the run had.
  const FrameSchedule fromMidnight(kRate2997, 44100, 0, true);
  const FrameSchedule fromLater(kRate2997, 44100, testing::wordOf({0, 9, 59, 28}), true);
  const uint64_t atTenMinutes = 17982;
  EXPECT_EQ(fromLater.label(2), fromMidnight.label(atTenMinutes));
  EXPECT_EQ(fromLater.startSample() + fromLater.frameStart(2),
            fromMidnight.startSample() + fromMidnight.frameStart(atTenMinutes));
}

}  // namespace
}  // namespace stampline
