#include "wav/sample_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace stampline {
namespace {

std::string encoded(SampleFormat format, const std::vector<double>& values) {
  std::string bytes(values.size() * bytesPerSample(format), '\0');
  encodeSamples(format, values.data(), values.size(), reinterpret_cast<uint8_t*>(bytes.data()));
  return bytes;
}

TEST(SampleFormatTest, EachByteOfEveryFormat) {
  EXPECT_EQ(encoded(kPcm16, {1, -2, 0x1234, -32767, 40000, -40000}),
            std::string("\x01\x00\xFE\xFF\x34\x12\x01\x80\xFF\x7F\x00\x80", 12));
  EXPECT_EQ(encoded(kPcm24, {1, -2, 0x123456, 8388607, -8388608, 1e9}),
            std::string("\x01\x00\x00\xFE\xFF\xFF\x56\x34\x12\xFF\xFF\x7F\x00\x00\x80\xFF\xFF\x7F", 18));
  EXPECT_EQ(encoded(kPcm32, {-1, 2147483647}), std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8));
  EXPECT_EQ(encoded(kPcm8, {0, 127, -128, -1}), std::string("\x80\xFF\x00\x7F", 4));
  // 1.0 and -0.5 as IEEE single and double precision.
  EXPECT_EQ(encoded(kFloat32, {1.0, -0.5}), std::string("\x00\x00\x80\x3F\x00\x00\x00\xBF", 8));
  EXPECT_EQ(encoded(kFloat64, {1.0}), std::string("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8));
  // Whole parts only, and nothing from a value that is no number.
  EXPECT_EQ(encoded(kPcm16, {2.9, -2.9, std::nan("")}), std::string("\x02\x00\xFE\xFF\x00\x00", 6));
}

TEST(SampleFormatTest, FullScaleAndWidth) {
  EXPECT_EQ(fullScale(kPcm16), 32767);
  EXPECT_EQ(fullScale(kPcm24), 8388607);
  EXPECT_EQ(fullScale(kPcm32), 2147483647);
  EXPECT_EQ(fullScale(kFloat32), 1.0);
  EXPECT_EQ(bytesPerSample(kPcm24), 3U);
  EXPECT_EQ(bytesPerSample(kFloat64), 8U);
}

TEST(SampleFormatTest, CompandedSamplesReadAsG711ExpandsThem) {
  // mu-law: 0x00 the most negative, 0x80 the most positive, 0xFF and 0x7F
  // zero; A-law: 0x55 and 0xD5 the smallest steps, 0x2A and 0xAA the
  // largest, sign bit set for positive; the others as sox decodes them.
  const struct {
    SampleFormat format;
    std::string bytes;
    std::vector<int16_t> values;
    const char* name;
  } cases[] = {
      {kMuLaw, std::string("\x00\x80\xFF\x7F\x8F\x70", 6), {-32124, 32124, 0, 0, 16764, -120}, "mu-law"},
      {kALaw, std::string("\x55\xD5\x2A\xAA\x5A\xA5", 6), {-8, 8, -32256, 32256, -248, 16896}, "A-law"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> scratch;
    const SampleView view = readSamples(c.format, 1, {reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()}, scratch);
    ASSERT_EQ(view.kind, SampleKind::kInt16);
    ASSERT_EQ(view.frames, c.values.size());
    const auto* read = static_cast<const int16_t*>(view.data);
    EXPECT_EQ(std::vector<int16_t>(read, read + view.frames), c.values) << c.name;
    EXPECT_EQ(describeFormat(c.format), c.name);
    EXPECT_EQ(readFullScale(c.format), 32767);
  }
}

}  // namespace
}  // namespace stampline
