#include "wav/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace stampline {
namespace {

using testing::littleEndian;

std::string contents(std::FILE* file) {
  std::fflush(file);
  std::string bytes;
  std::rewind(file);
  int c;
  while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<char>(c));
  return bytes;
}

TEST(WavWriterTest, RiffHeaderBeforeAndAfterPatching) {
  struct Case {
    int32_t rate;
    int32_t channels;
    uint32_t byteRate;
  };
  const Case cases[] = {{22050, 1, 44100},  {22050, 2, 88200},  {44100, 1, 88200},
                        {44100, 2, 176400}, {48000, 1, 96000}, {48000, 2, 192000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.channels << " channels");
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(writeWavHeader(file, c.rate, c.channels));
    const std::string header = contents(file);
    ASSERT_EQ(header.size(), 44U);
    EXPECT_EQ(header.substr(0, 4), "RIFF");
    EXPECT_EQ(littleEndian(header, 4, 4), 0U);
    EXPECT_EQ(header.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(littleEndian(header, 16, 4), 16U);
    EXPECT_EQ(littleEndian(header, 20, 2), 1U);
    EXPECT_EQ(littleEndian(header, 22, 2), static_cast<uint64_t>(c.channels));
    EXPECT_EQ(littleEndian(header, 24, 4), static_cast<uint64_t>(c.rate));
    EXPECT_EQ(littleEndian(header, 28, 4), c.byteRate);
    EXPECT_EQ(littleEndian(header, 32, 2), static_cast<uint64_t>(2 * c.channels));
    EXPECT_EQ(littleEndian(header, 34, 2), 16U);
    EXPECT_EQ(header.substr(36, 8), "data    ");

    const std::vector<int16_t> samples = {1, -2, 0x1234, -32767};
    ASSERT_TRUE(writeSamples(file, samples.data(), samples.size()));
    ASSERT_TRUE(patchWavSizes(file, 8));
    const std::string done = contents(file);
    ASSERT_EQ(done.size(), 52U);
    EXPECT_EQ(littleEndian(done, 40, 4), 8U);
    EXPECT_EQ(littleEndian(done, 4, 4), 44U);
    EXPECT_EQ(done.substr(44), std::string("\x01\x00\xFE\xFF\x34\x12\x01\x80", 8));
    EXPECT_EQ(done.substr(8, 32), header.substr(8, 32));
    std::fclose(file);
  }
}

TEST(WavWriterTest, EmptyRunPatchesToAHeaderOnlyFile) {
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(writeWavHeader(file, 44100, 2));
  ASSERT_TRUE(patchWavSizes(file, 0));
  const std::string bytes = contents(file);
  EXPECT_EQ(bytes.size(), 44U);
  EXPECT_EQ(littleEndian(bytes, 4, 4), 36U);
  EXPECT_EQ(littleEndian(bytes, 40, 4), 0U);
  std::fclose(file);
}

TEST(WavWriterTest, Rf64HeaderAndPatching) {
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(writeRf64Header(file, 48000, 2));
  const std::string header = contents(file);
  ASSERT_EQ(header.size(), 80U);
  EXPECT_EQ(header.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(header, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(header.substr(8, 8), "WAVEds64");
  EXPECT_EQ(littleEndian(header, 16, 4), 28U);
  EXPECT_EQ(littleEndian(header, 20, 8), 0U);
  EXPECT_EQ(littleEndian(header, 28, 8), 0U);
  EXPECT_EQ(littleEndian(header, 36, 8), 0U);
  EXPECT_EQ(littleEndian(header, 44, 4), 0U);
  EXPECT_EQ(header.substr(48, 4), "fmt ");
  EXPECT_EQ(littleEndian(header, 52, 4), 16U);
  EXPECT_EQ(littleEndian(header, 56, 2), 1U);
  EXPECT_EQ(littleEndian(header, 58, 2), 2U);
  EXPECT_EQ(littleEndian(header, 60, 4), 48000U);
  EXPECT_EQ(littleEndian(header, 64, 4), 192000U);
  EXPECT_EQ(littleEndian(header, 68, 2), 4U);
  EXPECT_EQ(littleEndian(header, 70, 2), 16U);
  EXPECT_EQ(header.substr(72, 4), "data");
  EXPECT_EQ(littleEndian(header, 76, 4), 0xFFFFFFFFU);

  // Sizes beyond 32 bits go into the ds64 chunk; the data is not touched.
  const std::vector<int16_t> samples(8, 7);
  ASSERT_TRUE(writeSamples(file, samples.data(), samples.size()));
  const uint64_t bigData = 0x123456789AULL;
  ASSERT_TRUE(patchRf64Sizes(file, bigData, bigData / 4));
  const std::string done = contents(file);
  ASSERT_EQ(done.size(), 96U);
  EXPECT_EQ(littleEndian(done, 20, 8), bigData + 72);
  EXPECT_EQ(littleEndian(done, 28, 8), bigData);
  EXPECT_EQ(littleEndian(done, 36, 8), bigData / 4);
  EXPECT_EQ(littleEndian(done, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(littleEndian(done, 76, 4), 0xFFFFFFFFU);
  EXPECT_EQ(littleEndian(done, 80, 2), 7U);
  std::fclose(file);
}

TEST(WavWriterTest, FormatSwitchesToRf64OnlyBeyondTheRiffLimit) {
  EXPECT_EQ(wavFormatFor(0), WavFormat::kRiff);
  EXPECT_EQ(wavFormatFor(4294967259ULL), WavFormat::kRiff);
  EXPECT_EQ(wavFormatFor(4294967260ULL), WavFormat::kRf64);
  EXPECT_EQ(wavFormatFor(101, 100), WavFormat::kRf64);
}

TEST(WavWriterTest, FailedWritesAreReported) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_FALSE(writeWavHeader(full, 44100, 2));
  const int16_t sample = 0;
  EXPECT_FALSE(writeSamples(full, &sample, 1));
  std::fclose(full);
}

}  // namespace
}  // namespace stampline
