#include "decode/edge_rebuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "decode/ltc_decoder.h"
#include "ltc_signal.h"

namespace stampline {
namespace {

TEST(EdgeRebuilderTest, TheHalfCellStandsOutOnlyInLtc) {
  // LTC at several rates and sample rates: its half cell, a 160th of a
  // frame, first, to within 0.2 %, with its family of lines; a tone has
  // a line of no family, noise and silence none.
  const struct {
    FrameRate rate;
    int32_t sampleRate;
  } rates[] = {{kRate24, 48000}, {kRate25, 44100}, {kRate2997, 48000}, {kRate30, 96000}};
  for (const auto& r : rates) {
    SCOPED_TRACE(::testing::Message() << r.rate.numerator << "/" << r.rate.denominator << " at " << r.sampleRate);
    const std::vector<int16_t> ltc = testing::renderLtc({r.rate, r.sampleRate, false, 0x00000001, 20, false, 0.5, {}});
    const auto line = EdgeRebuilder::cellLine(ltc.data(), 1, ltc.size(), r.sampleRate);
    const double truth = r.sampleRate * double(r.rate.denominator) / r.rate.numerator / 160;
    ASSERT_TRUE(line.has_value());
    EXPECT_NEAR(line->halfCells[0], truth, truth * 0.002);
    EXPECT_TRUE(line->family);
  }
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0, 3000);
  std::vector<int16_t> tone(48000);
  std::vector<int16_t> hiss(48000);
  std::vector<int16_t> silence(48000, 0);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1920 * static_cast<double>(i) / 48000));
    hiss[i] = static_cast<int16_t>(noise(random));
  }
  const auto toneLine = EdgeRebuilder::cellLine(tone.data(), 1, tone.size(), 48000);
  EXPECT_TRUE(!toneLine || !toneLine->family);
  for (const auto* samples : {&hiss, &silence}) {
    EXPECT_FALSE(EdgeRebuilder::cellLine(samples->data(), 1, samples->size(), 48000).has_value());
  }
  EXPECT_FALSE(EdgeRebuilder::cellLine(hiss.data(), 1, 4096, 48000).has_value());  // too short to tell
}

TEST(EdgeRebuilderTest, RebuiltReversalsFallOnTheHalfCells) {
  // A clean 25 fps signal, read from the other channel of a stereo pair:
  // past the first tenth of a second, every interval a whole number of
  // half cells (of 12 samples at 48 kHz), within a sample.
  const std::vector<int16_t> ltc = testing::renderLtc({kRate25, 48000, false, 0x00000001, 25, true, 0.5, {}});
  std::vector<float> stereo(2 * ltc.size());
  for (size_t i = 0; i < ltc.size(); ++i) stereo[2 * i + 1] = ltc[i];
  EdgeRebuilder rebuilder(12.1, 0, 48000);
  std::vector<Edge> edges;
  rebuilder.scan(stereo.data() + 1, 2, ltc.size(), edges);
  ASSERT_GT(edges.size(), 1000U);
  size_t checked = 0;
  for (size_t i = 1; i < edges.size(); ++i) {
    if (edgeSamples(edges[i - 1].position) < 4800) continue;
    const double interval = edgeSamples(edges[i].position - edges[i - 1].position);
    EXPECT_NEAR(interval, 12 * std::round(interval / 12), 1.0) << i;
    EXPECT_NE(edges[i].rising, edges[i - 1].rising);
    ++checked;
  }
  EXPECT_GT(checked, 1000U);
  EXPECT_NEAR(rebuilder.halfCellLength(), 12, 0.05);
}

TEST(EdgeRebuilderTest, BothFramesBesideATurnOfTheTapeAreRead) {
  // Twenty frames at 25 fps, and the tape turned back at the last one's
  // end: the signal runs back the way it came, with no reversal where it
  // turns, through a low-pass that leaves the instants short of full
  // level. The frame before the turn and the first one after it (bit 79
  // first) are read, with the frames on either side, as they are
  // rebuilt from the cells, whose openings all reverse but there.
  const std::vector<int16_t> ltc = testing::renderLtc({kRate25, 48000, false, 0x00000001, 20, true, 0.5, {}});
  std::vector<float> there(ltc.begin(), ltc.end());
  there.insert(there.end(), ltc.rbegin(), ltc.rend());
  std::vector<float> played(there.size());
  float low = 0;
  for (size_t i = 0; i < there.size(); ++i) played[i] = low += 0.35F * (there[i] - low);
  EdgeRebuilder rebuilder(12.0, 0, 48000);
  std::vector<Edge> edges;
  rebuilder.scan(played.data(), 1, played.size(), edges);
  LtcDecoder decoder;
  std::vector<ReadFrame> frames;
  decoder.add(edges, frames);
  const auto readNear = [&](double at, bool forward) {
    return std::any_of(frames.begin(), frames.end(), [&](const ReadFrame& f) {
      return !f.cellsOnly && f.forward == forward && std::abs((forward ? f.end : f.start) - at) < 24;
    });
  };
  const auto turn = static_cast<double>(ltc.size());
  for (const double frame : {0.0, 1920.0}) {
    EXPECT_TRUE(readNear(turn - frame, true)) << frame;
    EXPECT_TRUE(readNear(turn + frame, false)) << frame;
  }
}

}  // namespace
}  // namespace stampline
