#include "synth/frame_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "run/signal.h"
#include "timecode/frame_schedule.h"
#include "timecode/user_bits.h"

namespace stampline {
namespace {

// Live frames are the file's frames: written one by one at the schedule's
// lengths they equal, sample for sample, what the encoder renders as float
// for the same labels, user bits, level and noise. Rates of one frame
// length (noise and ramps on) and of two (clean: the noise follows the
// order in which lengths first come), with and without user bits (the 25
// fps layout differs then).
TEST(FrameWriterTest, WritesTheEncodersFrames) {
  const struct {
    FrameRate rate;
    bool dropFrame;
    int32_t sampleRate;
    bool clean;
    UserBits bits;
  } cases[] = {
      {kRate25, false, 48000, false, {}},
      {kRate25, false, 48000, true, {UserBits::Kind::kWord, 0x12345678, 0}},
      {kRate2997, true, 48000, true, {}},
      {kRate23976, false, 44100, true, {UserBits::Kind::kWord, 0xA5A5A5A5, 0}},
      {kRate30, false, 96000, false, {UserBits::Kind::kWord, 0x0F0F0F0F, 0}},
      {kRate25, false, 48000, true, {UserBits::Kind::kDate, 0, daysFromDate(2026, 12, 8)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate.nominal) + (c.clean ? " clean" : " noisy"));
    EncoderConfig config;
    config.clean = c.clean;
    config.noiseSeed = 7;
    config.channels = 1;
    config.userBits = c.bits;
    config.coding = outputCoding(kFloat32);
    const FrameSchedule schedule(c.rate, c.sampleRate, 0x01000000, c.dropFrame);
    LtcEncoder encoder(schedule, config);
    FrameWriter writer(c.rate, c.dropFrame, c.sampleRate, config);
    for (uint64_t k = 0; k < 40; ++k) {
      const auto length = static_cast<uint32_t>(schedule.frameLength(k));
      std::vector<float> expected(length);
      std::vector<float> written(length, 9.0F);
      std::vector<uint8_t> file(length * sizeof(float));
      ASSERT_EQ(encoder.render(file.data(), schedule.frameStart(k), length), length);
      // The file's floats are little-endian; the writer's, the host's.
      for (uint32_t i = 0; i < length; ++i) {
        uint32_t bits = 0;
        for (int b = 3; b >= 0; --b) bits = bits << 8 | file[i * 4 + static_cast<uint32_t>(b)];
        expected[i] = std::bit_cast<float>(bits);
      }
      writer.write(written.data(), schedule.label(k), userBitsWord(c.bits, 0), length);
      ASSERT_EQ(std::memcmp(expected.data(), written.data(), length * sizeof(float)), 0) << "frame " << k;
    }
  }
}

}  // namespace
}  // namespace stampline
