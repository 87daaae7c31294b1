#include "synth/ltc_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "run/signal.h"

namespace stampline {
namespace {

using Samples = std::vector<int16_t>;
using Values = std::vector<double>;

struct Rate {
  int32_t sampleRate;
  int32_t fps;
};
constexpr Rate kRates[] = {{22050, 25}, {22050, 30}, {44100, 25},
                           {44100, 30}, {48000, 25}, {48000, 30}};

std::unique_ptr<LtcEncoder> makeEncoder(int32_t rate, FrameRate fps, int32_t channels, bool clean,
                                        double volume = 0.5, TimecodeWord start = 0x00000001,
                                        bool drop = false, uint32_t seed = 1) {
  EncoderConfig config;
  config.volume = volume;
  config.clean = clean;
  config.noiseSeed = seed;
  config.channels = channels;
  config.coding = outputCoding(kPcm16);
  return std::make_unique<LtcEncoder>(FrameSchedule(fps, rate, start, drop), config);
}
std::unique_ptr<LtcEncoder> makeEncoder(int32_t rate, int32_t fps, int32_t channels, bool clean,
                                        double volume = 0.5, TimecodeWord start = 0x00000001,
                                        bool drop = false, uint32_t seed = 1) {
  const auto whole = static_cast<uint32_t>(fps);
  return makeEncoder(rate, {whole, 1, whole}, channels, clean, volume, start, drop, seed);
}

// At whole-number rates like these every frame has one length and one plan.
int32_t samplesPerFrame(const LtcEncoder& e) {
  return static_cast<int32_t>(e.schedule().frameLength(0));
}
const CellPlan& plan(const LtcEncoder& e) { return e.planFor(e.schedule().frameLength(0)); }

// Renders into a buffer of `room` values (at least `maxValues`) filled with
// `fill`, and returns all of it read back as 16-bit samples; `count` gets
// what render() returned.
Samples renderValues(LtcEncoder& e, uint64_t position, uint32_t maxValues, uint32_t& count,
                     size_t room = 0, int16_t fill = 0, bool update = false,
                     std::vector<uint8_t>* bytes = nullptr) {
  std::vector<uint8_t> own;
  std::vector<uint8_t>& buffer = bytes != nullptr ? *bytes : own;
  if (bytes == nullptr || buffer.empty()) {
    buffer.resize(std::max<size_t>(room, maxValues) * 2);
    for (size_t i = 0; i < buffer.size(); i += 2) {
      buffer[i] = static_cast<uint8_t>(fill & 0xFF);
      buffer[i + 1] = static_cast<uint8_t>((fill >> 8) & 0xFF);
    }
  }
  count = e.render(buffer.data(), position, maxValues, update);
  Samples values(buffer.size() / 2);
  for (size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<int16_t>(buffer[2 * i] | buffer[2 * i + 1] << 8);
  }
  return values;
}

Values repeat(double value, int count) { return Values(static_cast<size_t>(count), value); }
Values join(Values a, const Values& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Values negated(const Values& s) {
  Values out;
  for (const double v : s) out.push_back(-v);
  return out;
}

TEST(LtcEncoderSetupTest, DerivedConstants) {
  const struct {
    Rate rate;
    int32_t samplesPerFrame, samplesPerBit, extraSamples, ramp;
  } cases[] = {{{22050, 25}, 882, 11, 2, 0},  {{22050, 30}, 735, 9, 15, 0},
               {{44100, 25}, 1764, 22, 4, 1}, {{44100, 30}, 1470, 18, 30, 1},
               {{48000, 25}, 1920, 24, 0, 1}, {{48000, 30}, 1600, 20, 0, 1}};
  for (const auto& c : cases) {
    for (const bool clean : {false, true}) {
      const auto e = makeEncoder(c.rate.sampleRate, c.rate.fps, 2, clean);
      SCOPED_TRACE(testing::Message() << c.rate.sampleRate << "/" << c.rate.fps << " clean " << clean);
      EXPECT_EQ(samplesPerFrame(*e), c.samplesPerFrame);
      EXPECT_EQ(plan(*e).samplesPerBit(), c.samplesPerBit);
      EXPECT_EQ(plan(*e).extraSamples(), c.extraSamples);
      EXPECT_EQ(e->rampSamples(), clean ? 0 : c.ramp);
      EXPECT_EQ(e->amplitude(), 16383);
      EXPECT_EQ(e->level(), 1);
      EXPECT_EQ(e->currentTc(), 0U);
    }
  }
}

TEST(LtcEncoderSetupTest, AmplitudeFromVolume) {
  const struct {
    double volume;
    double amplitude;
  } cases[] = {{0.5, 16383},  {1.0, 32767},         {0.25, 8191},
               {0.8, 26213},  {0.0, 0},             {-0.5, -16383},
               {65539, 2147483647}, {1e12, 2147483647}, {-1e12, -2147483647},
               {std::numeric_limits<double>::infinity(), 2147483647},
               {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(makeEncoder(48000, 30, 1, true, c.volume)->amplitude(), c.amplitude) << c.volume;
  }
}

TEST(LtcEncoderSetupTest, CleanTablesAt48000) {
  const auto mono = makeEncoder(48000, 30, 1, true);
  const CellTables& t = plan(*mono).tables();
  const double a = 16383;
  EXPECT_EQ(t.zeroHigh, repeat(a, 20));
  EXPECT_EQ(t.zeroLow, repeat(-a, 20));
  EXPECT_EQ(t.oneHigh, join(repeat(a, 10), repeat(-a, 10)));
  EXPECT_EQ(t.oneLow, join(repeat(-a, 10), repeat(a, 10)));
  EXPECT_EQ(t.zeroHighLong, repeat(a, 21));
  EXPECT_EQ(t.zeroLowLong, repeat(-a, 21));
  EXPECT_EQ(t.oneHighLong, join(repeat(a, 10), repeat(-a, 11)));
  EXPECT_EQ(t.oneLowLong, join(repeat(-a, 10), repeat(a, 11)));
}

TEST(LtcEncoderSetupTest, SeededNoisyTables) {
  const Values steady = {16793, 15922, 16950, 15721, 16862, 15581, 17079, 15650, 17057,
                         15772, 16935, 15680, 16965, 15963, 17041, 15962, 16867};
  const auto seeded = makeEncoder(44100, 30, 1, false);
  const CellTables& t = plan(*seeded).tables();
  EXPECT_EQ(t.zeroHigh, join(steady, {8191}));
  Values oneHigh(steady.begin(), steady.begin() + 9);
  oneHigh = join(oneHigh, negated(Values(steady.begin() + 9, steady.end())));
  EXPECT_EQ(t.oneHigh, join(oneHigh, {-8191}));
  EXPECT_EQ(t.zeroHighLong, join(steady, {10922, 5461}));
  EXPECT_EQ(t.oneLowLong, join(negated(oneHigh), {10922, 5461}));
  EXPECT_EQ(t.zeroLow, negated(t.zeroHigh));
  EXPECT_EQ(t.oneHighLong, negated(t.oneLowLong));

  // No ramp at 22050 Hz: the extra frame repeats the last steady value.
  const auto lowRate = makeEncoder(22050, 30, 1, false);
  const CellTables& low = plan(*lowRate).tables();
  const Values nine(steady.begin(), steady.begin() + 9);
  EXPECT_EQ(low.zeroHigh, nine);
  EXPECT_EQ(low.zeroHighLong, join(nine, {17057}));
  EXPECT_EQ(low.oneHighLong, (Values{16793, 15922, 16950, 15721, -16862, -15581, -17079, -15650,
                                     -17057, -17057}));
}

TEST(LtcEncoderSetupTest, NoiseMagnitudes) {
  const struct {
    int draw;
    double noise;
  } cases[] = {{0, 409}, {16383, 819}, {16384, 409}, {20000, 499}, {32767, 819}};
  for (const auto& c : cases) {
    EXPECT_EQ(cellNoise(16383, c.draw, true), c.noise) << c.draw;
    EXPECT_EQ(cellNoise(-16383, c.draw, true), -c.noise) << c.draw;
  }
}

TEST(LtcEncoderSetupTest, OddBitLengthsSplitShortHalfFirst) {
  const struct {
    int32_t fps;
    int firstHalf;
  } cases[] = {{30, 4}, {25, 5}};
  for (const auto& c : cases) {
    const auto e = makeEncoder(22050, c.fps, 1, true);
    const int p = plan(*e).samplesPerBit();
    EXPECT_EQ(plan(*e).tables().oneHigh, join(repeat(16383, c.firstHalf), repeat(-16383, p - c.firstHalf)));
    EXPECT_EQ(plan(*e).tables().oneHighLong,
              join(repeat(16383, c.firstHalf), repeat(-16383, p + 1 - c.firstHalf)));
  }
}

TEST(LtcEncoderSetupTest, OutOfRangeVolumesClipAndStaySymmetric) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const double volume : {0.0, 0.96, 1.0, 2.0, -1.5, 65539.0, 1e12, -1e12, inf, -inf, nan}) {
    for (const bool clean : {false, true}) {
      const auto e = makeEncoder(44100, 30, 2, clean, volume);
      const CellTables& t = plan(*e).tables();
      SCOPED_TRACE(testing::Message() << "volume " << volume << " clean " << clean);
      EXPECT_EQ(t.zeroLow, negated(t.zeroHigh));
      EXPECT_EQ(t.oneLow, negated(t.oneHigh));
      EXPECT_EQ(t.zeroLowLong, negated(t.zeroHighLong));
      EXPECT_EQ(t.oneLowLong, negated(t.oneHighLong));
      for (const double v : t.zeroHigh) {
        // The steady values keep the amplitude's sign and never wrap.
        EXPECT_EQ((v > 0) - (v < 0), (e->amplitude() > 0) - (e->amplitude() < 0));
        EXPECT_LE(std::abs(v), 32767);
      }
      if (std::abs(volume) >= 1.0 && e->amplitude() != 0) {
        EXPECT_EQ(std::abs(t.zeroHigh[0]), 32767);
      }
      // Rendering carries the level through frames without overflow.
      const int32_t before = e->level();
      const auto frames = static_cast<uint32_t>(samplesPerFrame(*e) * 2 * 3);
      uint32_t count = 0;
      renderValues(*e, 0, frames, count);
      EXPECT_EQ(count, frames);
      EXPECT_EQ(e->level(), before);
    }
  }
}

// Lengths of the runs of equal sign in a mono clean signal.
std::vector<int> runLengths(const Samples& values, int16_t* firstValue = nullptr) {
  std::vector<int> runs;
  if (firstValue != nullptr) *firstValue = values.empty() ? int16_t{0} : values[0];
  for (size_t i = 0; i < values.size(); ++i) {
    if (i == 0 || (values[i] > 0) != (values[i - 1] > 0)) runs.push_back(0);
    ++runs.back();
  }
  return runs;
}

// The frame bits that got a long cell, read back from a clean mono frame.
std::vector<int> longBits(const LtcFrame& frame, const Samples& values, int samplesPerBit) {
  const std::vector<int> runs = runLengths(values);
  std::vector<int> longOnes;
  size_t run = 0;
  for (int bit = 0; bit < 80; ++bit) {
    int length = runs.at(run++);
    if (frame.bit(bit)) length += runs.at(run++);
    if (length == samplesPerBit + 1) longOnes.push_back(bit);
  }
  return longOnes;
}

// Frame bits from a list of single bits and inclusive ranges {from, to}.
std::vector<int> bits(std::initializer_list<std::pair<int, int>> spans) {
  std::vector<int> out;
  for (const auto& [from, to] : spans) {
    for (int b = from; b <= to; ++b) out.push_back(b);
  }
  return out;
}

Samples renderFrames(LtcEncoder& e, uint64_t firstFrame, int frames) {
  const auto perFrame = static_cast<uint32_t>(samplesPerFrame(e) * e.channels());
  Samples out;
  for (int f = 0; f < frames; ++f) {
    uint32_t count = 0;
    const Samples frame = renderValues(
        e, (firstFrame + static_cast<uint64_t>(f)) * static_cast<uint64_t>(samplesPerFrame(e)),
        perFrame, count);
    EXPECT_EQ(count, perFrame);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

TEST(LtcEncoderRenderTest, WholeFramesAndTheirLongCells) {
  const struct {
    Rate rate;
    std::vector<int> longBits;
  } cases[] = {
      {{22050, 25}, bits({{0, 1}})},
      {{22050, 30}, bits({{0, 8}, {10, 10}, {12, 12}, {14, 14}, {16, 18}})},
      {{44100, 25}, bits({{0, 3}})},
      {{44100, 30},
       bits({{0, 8}, {10, 10}, {12, 12}, {14, 14}, {16, 24}, {26, 26}, {28, 28}, {30, 30}, {32, 37}})},
      {{48000, 25}, {}},
      {{48000, 30}, {}},
  };
  for (const auto& c : cases) {
    for (const int32_t channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << c.rate.sampleRate << "/" << c.rate.fps << " x" << channels);
      const auto e = makeEncoder(c.rate.sampleRate, c.rate.fps, channels, true);
      // A buffer one value longer than asked for shows nothing is written past it.
      const auto perFrame = static_cast<uint32_t>(samplesPerFrame(*e) * channels);
      uint32_t count = 0;
      Samples buffer = renderValues(*e, 0, perFrame, count, perFrame + 1, 12345);
      ASSERT_EQ(count, perFrame);
      EXPECT_EQ(buffer.back(), 12345);
      buffer.pop_back();
      if (channels == 1) {
        EXPECT_EQ(longBits(e->frame(), buffer, plan(*e).samplesPerBit()), c.longBits);
      } else {
        // Both channels carry every value.
        for (size_t i = 0; i < buffer.size(); i += 2) ASSERT_EQ(buffer[i], buffer[i + 1]) << i;
      }
    }
  }
}

TEST(LtcEncoderRenderTest, FramesOfEveryLengthOnTheGrid) {
  // Two lengths a run: 1601/1602 (1 or 2 extra samples), 1837/1838 (77 or
  // 78), 1839/1840 (79 or 0), 735/736 at 22050 Hz; and 5880 samples at
  // 176400 Hz, exactly 40 extra, the most that go to the front.
  const struct {
    int32_t sampleRate;
    FrameRate rate;
  } cases[] = {{48000, kRate2997}, {44100, kRate24}, {44100, kRate23976}, {22050, kRate2997},
               {16000, kRate30},   {176400, kRate30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sampleRate << " Hz at " << c.rate.numerator << "/"
                                    << c.rate.denominator);
    const auto e = makeEncoder(c.sampleRate, c.rate, 1, true);
    const FrameSchedule& schedule = e->schedule();
    for (uint64_t k = 0; k < 12; ++k) {
      const uint64_t length = schedule.frameLength(k);
      uint32_t count = 0;
      const Samples frame =
          renderValues(*e, schedule.frameStart(k), static_cast<uint32_t>(length), count);
      ASSERT_EQ(count, length);
      const CellPlan& p = e->planFor(length);
      const auto extra = static_cast<int>(length % 80);
      std::vector<int> expected;
      for (int bit = 0, candidates = 0; bit < 80; ++bit) {
        if (extra <= 40) {
          // The first cells whose byte index times bit index is even.
          if ((bit / 8) * (bit % 8) % 2 == 0 && candidates++ < extra) expected.push_back(bit);
        } else if ((bit + 1) * extra / 80 > bit * extra / 80) {
          expected.push_back(bit);  // spread evenly
        }
      }
      EXPECT_EQ(longBits(e->frame(), frame, p.samplesPerBit()), expected) << "frame " << k;
    }
  }
}

TEST(LtcEncoderRenderTest, CleanFrameAt48000RunsAndPolarity) {
  const auto e = makeEncoder(48000, 30, 1, true);
  const Samples first = renderFrames(*e, 0, 1);
  const LtcFrame expectedFrame{{0, 0, 0, 0, 0, 0, 1, 0, 0xFC, 0xBF}};
  EXPECT_EQ(e->frame().bytes, expectedFrame.bytes);
  const Samples second = renderFrames(*e, 1, 1);

  int16_t firstValue = 0;
  const std::vector<int> runs = runLengths(first, &firstValue);
  ASSERT_EQ(runs.size(), 94U);
  EXPECT_EQ(firstValue, -16383);
  size_t run = 0;
  for (int bit = 0; bit < 80; ++bit) {
    if (expectedFrame.bit(bit)) {
      EXPECT_EQ(runs[run++], 10) << bit;
      EXPECT_EQ(runs[run++], 10) << bit;
    } else {
      EXPECT_EQ(runs[run++], 20) << bit;
    }
  }
  for (const int16_t v : first) EXPECT_EQ(std::abs(v), 16383);
  EXPECT_EQ(second[0], -16383);
}

TEST(LtcEncoderRenderTest, FramesStartLowAndCallsJoinSeamlessly) {
  for (const Rate& rate : kRates) {
    for (const int32_t channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << rate.sampleRate << "/" << rate.fps << " x" << channels);
      const auto oneByOne = makeEncoder(rate.sampleRate, rate.fps, channels, false);
      const Samples separate = renderFrames(*oneByOne, 0, 40);
      const auto perFrame = static_cast<size_t>(samplesPerFrame(*oneByOne)) * static_cast<size_t>(channels);
      const CellTables& t = plan(*oneByOne).tables();
      for (size_t f = 0; f < 40; ++f) {
        const int16_t v = separate[f * perFrame];
        EXPECT_TRUE(v == t.zeroLow[0] || v == t.zeroLowLong[0] || v == t.oneLow[0] ||
                    v == t.oneLowLong[0])
            << "frame " << f;
        EXPECT_LT(v, 0) << "frame " << f;
      }

      const auto together = makeEncoder(rate.sampleRate, rate.fps, channels, false);
      uint32_t count = 0;
      const Samples joined =
          renderValues(*together, 0, static_cast<uint32_t>(perFrame * 40), count);
      EXPECT_EQ(count, perFrame * 40);
      EXPECT_EQ(joined, separate);
      EXPECT_EQ(together->level(), oneByOne->level());
    }
  }
}

TEST(LtcEncoderRenderTest, WholeFramesMatchCellByCellRendering) {
  // Whole frames are copied a frame byte at a time, frames cut by the buffer
  // cell by cell; both must give the same values for every label, polarity
  // and flag, here across second, minute and ten-minute boundaries.
  for (const Rate& rate : kRates) {
    for (const int32_t channels : {1, 2}) {
      for (const bool drop : {false, true}) {
        for (const double volume : {0.5, -0.7}) {
          SCOPED_TRACE(testing::Message() << rate.sampleRate << "/" << rate.fps << " x" << channels
                                          << " drop " << drop << " volume " << volume);
          for (const uint64_t n : {0ULL, 1ULL, 29ULL, 1799ULL, 1800ULL, 17981ULL, 17982ULL}) {
            const auto whole = makeEncoder(rate.sampleRate, rate.fps, channels, false, volume,
                                           0x00590923, drop);
            const auto cut = makeEncoder(rate.sampleRate, rate.fps, channels, false, volume,
                                         0x00590923, drop);
            const auto perFrame = static_cast<uint32_t>(samplesPerFrame(*whole) * channels);
            const uint64_t position = n * static_cast<uint64_t>(samplesPerFrame(*whole));
            uint32_t countA = 0;
            uint32_t countB = 0;
            const Samples a = renderValues(*whole, position, perFrame, countA);
            Samples b = renderValues(*cut, position, perFrame - 1, countB, perFrame, 4321);
            ASSERT_EQ(countA, perFrame);
            ASSERT_EQ(countB, perFrame - 1);
            EXPECT_EQ(b.back(), 4321);
            b.back() = a.back();
            ASSERT_EQ(a, b) << "frame " << n;
          }
        }
      }
    }
  }
}

TEST(LtcEncoderRenderTest, ShortBuffersEndTheCall) {
  const auto e = makeEncoder(44100, 30, 1, true);
  uint32_t count = 0;
  // Bit 0 is long (19 values) and is cut to the 10 values that fit.
  const Samples buffer = renderValues(*e, 0, 10, count, 40, 999);
  EXPECT_EQ(count, 10U);
  EXPECT_EQ(Samples(buffer.begin(), buffer.begin() + 10), Samples(10, -16383));
  EXPECT_EQ(buffer[10], 999);

  const auto empty = makeEncoder(44100, 30, 1, true);
  const Samples untouched = renderValues(*empty, 0, 0, count, 40, 999);
  EXPECT_EQ(count, 0U);
  EXPECT_EQ(empty->currentTc(), 0x00000001U);
  EXPECT_EQ(empty->level(), -1);
  EXPECT_EQ(untouched[0], 999);
}

TEST(LtcEncoderRenderTest, ZeroAmplitudeStaysSilent) {
  const auto e = makeEncoder(48000, 25, 2, false, 0.0);
  const Samples values = renderFrames(*e, 0, 3);
  for (const int16_t v : values) ASSERT_EQ(v, 0);
  EXPECT_EQ(e->level(), 0);
}

TEST(LtcEncoderRenderTest, PositionsInsideAFrameStartAtThatFrame) {
  for (const Rate& rate : kRates) {
    const auto aligned = makeEncoder(rate.sampleRate, rate.fps, 2, false);
    const auto inside = makeEncoder(rate.sampleRate, rate.fps, 2, false);
    const auto perFrame = static_cast<uint32_t>(samplesPerFrame(*aligned) * 2);
    const uint64_t frameStart = 7 * static_cast<uint64_t>(samplesPerFrame(*aligned));
    uint32_t count = 0;
    const Samples expected =
        renderValues(*aligned, frameStart, perFrame - 3, count, perFrame + 50, 777);
    ASSERT_EQ(count, perFrame - 3);
    const Samples actual =
        renderValues(*inside, frameStart + 100, perFrame - 3, count, perFrame + 50, 777);
    ASSERT_EQ(count, perFrame - 3);
    EXPECT_EQ(actual, expected) << rate.sampleRate << "/" << rate.fps;
    EXPECT_EQ(inside->currentTc(), aligned->currentTc());
  }
}

TEST(LtcEncoderRenderTest, PositionsBeyond32BitsKeepCounting) {
  const auto e = makeEncoder(48000, 30, 1, true, 0.5, 0x00000000);
  uint32_t count = 0;
  // Frame 2684354 starts at 4294966400 + 1600 > 2^32.
  renderValues(*e, 2684355ULL * 1600, 1600, count);
  ASSERT_EQ(count, 1600U);
  EXPECT_EQ(e->currentTc(), 0x15185100U);  // 24:51:18:15, the hours wrapped
}

TEST(LtcEncoderRenderTest, UpdatesInPlaceOnlyWhatItRenderedItself) {
  // A buffer another encoder (another noise seed) filled is no base for an
  // update: the encoder renders it whole, as it would a fresh one.
  const auto first = makeEncoder(44100, 30, 2, false, 0.5, 0x00000001, false, 1);
  const auto second = makeEncoder(44100, 30, 2, false, 0.5, 0x00000001, false, 2);
  const auto fresh = makeEncoder(44100, 30, 2, false, 0.5, 0x00000001, false, 2);
  const uint32_t values = 10 * 1470 * 2;
  std::vector<uint8_t> block;
  uint32_t count = 0;
  renderValues(*first, 0, values, count, 0, 0, false, &block);
  const Samples updated = renderValues(*second, 0, values, count, 0, 0, true, &block);
  EXPECT_EQ(updated, renderValues(*fresh, 0, values, count));
  // Its own block it brings up to date in place, to the same values.
  const Samples next = renderValues(*second, uint64_t{10} * 1470, values, count, 0, 0, true, &block);
  EXPECT_EQ(next, renderValues(*fresh, uint64_t{10} * 1470, values, count));
}

}  // namespace
}  // namespace stampline
