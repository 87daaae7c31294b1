#include "wav/wav_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "test_bytes.h"

namespace stampline {
namespace {

using testing::littleEndian;

std::string bytesOf(const WavHeader& h) {
  return {reinterpret_cast<const char*>(h.bytes.data()), h.size};
}

TEST(WavWriterTest, RiffHeaderBeforeAndAfterTheData) {
  struct Case {
    int32_t rate;
    int32_t channels;
    uint32_t byteRate;
  };
  const Case cases[] = {{22050, 1, 44100},  {22050, 2, 88200},  {44100, 1, 88200},
                        {44100, 2, 176400}, {48000, 1, 96000}, {48000, 2, 192000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.channels << " channels");
    const std::string header = bytesOf(wavHeader(WavFormat::kRiff, c.rate, c.channels));
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

    for (const uint64_t data : {uint64_t{0}, uint64_t{8}, kMaxRiffDataBytes}) {
      const std::string done = bytesOf(wavHeader(WavFormat::kRiff, c.rate, c.channels, data));
      EXPECT_EQ(littleEndian(done, kRiffDataSizeOffset, 4), data);
      EXPECT_EQ(littleEndian(done, kRiffSizeOffset, 4), data + 36);
      EXPECT_EQ(done.substr(8, 32), header.substr(8, 32));
    }
  }
}

TEST(WavWriterTest, Rf64AndReservedHeaders) {
  // The two 80-byte layouts share everything but the first chunk.
  const std::string rf64 = bytesOf(wavHeader(WavFormat::kRf64, 48000, 2));
  const std::string reserved = bytesOf(wavHeader(WavFormat::kReservedRiff, 48000, 2));
  ASSERT_EQ(rf64.size(), 80U);
  ASSERT_EQ(reserved.size(), 80U);
  EXPECT_EQ(rf64.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(rf64, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(rf64.substr(8, 8), "WAVEds64");
  EXPECT_EQ(littleEndian(rf64, 16, 4), 28U);
  EXPECT_EQ(rf64.substr(20, 28), std::string(28, '\0'));
  EXPECT_EQ(rf64.substr(48, 4), "fmt ");
  EXPECT_EQ(littleEndian(rf64, 52, 4), 16U);
  EXPECT_EQ(littleEndian(rf64, 56, 2), 1U);
  EXPECT_EQ(littleEndian(rf64, 58, 2), 2U);
  EXPECT_EQ(littleEndian(rf64, 60, 4), 48000U);
  EXPECT_EQ(littleEndian(rf64, 64, 4), 192000U);
  EXPECT_EQ(littleEndian(rf64, 68, 2), 4U);
  EXPECT_EQ(littleEndian(rf64, 70, 2), 16U);
  EXPECT_EQ(rf64.substr(72, 4), "data");
  EXPECT_EQ(littleEndian(rf64, 76, 4), 0xFFFFFFFFU);

  EXPECT_EQ(reserved.substr(0, 4), "RIFF");
  EXPECT_EQ(littleEndian(reserved, 4, 4), 0U);
  EXPECT_EQ(reserved.substr(8, 8), "WAVEJUNK");
  EXPECT_EQ(reserved.substr(16, 32), rf64.substr(16, 32));
  EXPECT_EQ(reserved.substr(48, 28), rf64.substr(48, 28));
  EXPECT_EQ(reserved.substr(76, 4), "    ");

  // Sizes beyond 32 bits go into the ds64 chunk.
  const uint64_t bigData = 0x123456789CULL;
  const std::string bigDone = bytesOf(wavHeader(WavFormat::kRf64, 48000, 2, bigData));
  EXPECT_EQ(littleEndian(bigDone, 20, 8), bigData + 72);
  EXPECT_EQ(littleEndian(bigDone, 28, 8), bigData);
  EXPECT_EQ(littleEndian(bigDone, 36, 8), bigData / 4);
  EXPECT_EQ(littleEndian(bigDone, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(littleEndian(bigDone, 76, 4), 0xFFFFFFFFU);

  const std::string smallDone = bytesOf(wavHeader(WavFormat::kReservedRiff, 48000, 2, 400));
  EXPECT_EQ(littleEndian(smallDone, 4, 4), 472U);
  EXPECT_EQ(littleEndian(smallDone, 76, 4), 400U);
  EXPECT_EQ(smallDone.substr(8, 68), reserved.substr(8, 68));
}

TEST(WavWriterTest, FormatChoices) {
  const uint64_t limit = kMaxRiffDataBytes;
  const struct {
    uint64_t planned;
    bool seekable;
    uint64_t written;
    WavFormat first;
    WavFormat last;
  } cases[] = {
      {0, true, 0, WavFormat::kRiff, WavFormat::kRiff},
      {limit, true, limit, WavFormat::kRiff, WavFormat::kRiff},
      {limit, false, limit, WavFormat::kRiff, WavFormat::kRiff},
      // A long run stopped early stays a plain WAV.
      {limit + 1, true, 1000, WavFormat::kReservedRiff, WavFormat::kReservedRiff},
      // The reserved header is 36 bytes longer, and its RIFF size counts them.
      {limit + 1, true, limit - 36, WavFormat::kReservedRiff, WavFormat::kReservedRiff},
      {limit + 1, true, limit - 35, WavFormat::kReservedRiff, WavFormat::kRf64},
      {limit + 1, false, limit + 1, WavFormat::kRf64, WavFormat::kRf64},
  };
  for (const auto& c : cases) {
    const WavFormat first = plannedFormat(c.planned, c.seekable);
    EXPECT_EQ(first, c.first) << c.planned << " " << c.seekable;
    EXPECT_EQ(finalFormat(first, c.written), c.last) << c.planned << " " << c.written;
  }
  EXPECT_EQ(plannedFormat(101, true, 100), WavFormat::kReservedRiff);
}

TEST(WavWriterTest, SamplesGoOutLittleEndian) {
  int16_t samples[] = {1, -2, 0x1234, -32767};
  samplesToLittleEndian(samples, 4);
  const std::string bytes(reinterpret_cast<const char*>(samples), sizeof samples);
  EXPECT_EQ(bytes, std::string("\x01\x00\xFE\xFF\x34\x12\x01\x80", 8));
}

}  // namespace
}  // namespace stampline
