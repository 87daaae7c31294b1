#include "wav/wav_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_bytes.h"

namespace stampline {
namespace {

using testing::littleEndian;

WavLayout layout(int32_t rate, int32_t channels) {
  WavLayout l;
  l.sampleRate = rate;
  l.channels = channels;
  return l;
}

std::string header(const WavLayout& l, WavFormat format, uint64_t dataBytes) {
  const std::vector<uint8_t> bytes = wavHeader(l, format, dataBytes);
  return {bytes.begin(), bytes.end()};
}

TEST(WavHeaderTest, RiffHeaderForEveryRateAndChannelCount) {
  struct Case {
    int32_t rate;
    int32_t channels;
    uint32_t byteRate;
  };
  const Case cases[] = {{22050, 1, 44100},  {22050, 2, 88200},  {44100, 1, 88200},
                        {44100, 2, 176400}, {48000, 1, 96000}, {48000, 2, 192000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.channels << " channels");
    const std::string empty = header(layout(c.rate, c.channels), WavFormat::kRiff, 0);
    ASSERT_EQ(empty.size(), 44U);
    EXPECT_EQ(headerBytes(layout(c.rate, c.channels), WavFormat::kRiff), 44U);
    EXPECT_EQ(empty.substr(0, 4), "RIFF");
    EXPECT_EQ(littleEndian(empty, 4, 4), 36U);
    EXPECT_EQ(empty.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(littleEndian(empty, 16, 4), 16U);
    EXPECT_EQ(littleEndian(empty, 20, 2), 1U);
    EXPECT_EQ(littleEndian(empty, 22, 2), static_cast<uint64_t>(c.channels));
    EXPECT_EQ(littleEndian(empty, 24, 4), static_cast<uint64_t>(c.rate));
    EXPECT_EQ(littleEndian(empty, 28, 4), c.byteRate);
    EXPECT_EQ(littleEndian(empty, 32, 2), static_cast<uint64_t>(2 * c.channels));
    EXPECT_EQ(littleEndian(empty, 34, 2), 16U);
    EXPECT_EQ(empty.substr(36, 4), "data");
    EXPECT_EQ(littleEndian(empty, 40, 4), 0U);

    // The most 16-bit data there can be (its length is even), and data of
    // an odd length, whose pad byte the RIFF size counts.
    for (const uint64_t data : {uint64_t{8}, kMaxRiffDataBytes - 1, uint64_t{9}}) {
      const std::string done = header(layout(c.rate, c.channels), WavFormat::kRiff, data);
      EXPECT_EQ(littleEndian(done, 40, 4), data);
      EXPECT_EQ(littleEndian(done, 4, 4), data + 36 + data % 2);
      EXPECT_EQ(done.substr(8, 32), empty.substr(8, 32));
    }
    // A stream whose length is not known says so as pipes do.
    const std::string open = header(layout(c.rate, c.channels), WavFormat::kRiff, kUnknownDataBytes);
    EXPECT_EQ(littleEndian(open, 4, 4), 0xFFFFFFFFU);
    EXPECT_EQ(littleEndian(open, 40, 4), 0xFFFFFFFFU);
  }
}

TEST(WavHeaderTest, Rf64AndReservedHeaders) {
  // The two 80-byte layouts share everything but the first chunk.
  const WavLayout stereo = layout(48000, 2);
  const std::string rf64 = header(stereo, WavFormat::kRf64, 0);
  const std::string reserved = header(stereo, WavFormat::kReservedRiff, 0);
  ASSERT_EQ(rf64.size(), 80U);
  ASSERT_EQ(reserved.size(), 80U);
  EXPECT_EQ(rf64.substr(0, 4), "RF64");
  EXPECT_EQ(littleEndian(rf64, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(rf64.substr(8, 8), "WAVEds64");
  EXPECT_EQ(littleEndian(rf64, 16, 4), 28U);
  EXPECT_EQ(littleEndian(rf64, 20, 8), 72U);
  EXPECT_EQ(rf64.substr(28, 20), std::string(20, '\0'));
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
  EXPECT_EQ(littleEndian(reserved, 4, 4), 72U);
  EXPECT_EQ(reserved.substr(8, 8), "WAVEJUNK");
  EXPECT_EQ(littleEndian(reserved, 16, 4), 28U);
  EXPECT_EQ(reserved.substr(20, 28), std::string(28, '\0'));
  EXPECT_EQ(reserved.substr(48, 28), rf64.substr(48, 28));
  EXPECT_EQ(littleEndian(reserved, 76, 4), 0U);

  // Sizes beyond 32 bits go into the ds64 chunk.
  const uint64_t bigData = 0x123456789CULL;
  const std::string bigDone = header(stereo, WavFormat::kRf64, bigData);
  EXPECT_EQ(littleEndian(bigDone, 20, 8), bigData + 72);
  EXPECT_EQ(littleEndian(bigDone, 28, 8), bigData);
  EXPECT_EQ(littleEndian(bigDone, 36, 8), bigData / 4);
  EXPECT_EQ(littleEndian(bigDone, 4, 4), 0xFFFFFFFFU);
  EXPECT_EQ(littleEndian(bigDone, 76, 4), 0xFFFFFFFFU);

  const std::string smallDone = header(stereo, WavFormat::kReservedRiff, 400);
  EXPECT_EQ(littleEndian(smallDone, 4, 4), 472U);
  EXPECT_EQ(littleEndian(smallDone, 76, 4), 400U);
  EXPECT_EQ(smallDone.substr(8, 68), reserved.substr(8, 68));
}

TEST(WavHeaderTest, ExtraChunksSitBeforeTheDataPaddedToEvenLengths) {
  WavLayout l = layout(48000, 1);
  l.chunks.push_back({{'b', 'e', 'x', 't'}, std::vector<uint8_t>(3, 7)});
  l.chunks.push_back({{'i', 'X', 'M', 'L'}, std::vector<uint8_t>(4, 9)});
  for (const WavFormat format : {WavFormat::kRiff, WavFormat::kReservedRiff, WavFormat::kRf64}) {
    const std::string h = header(l, format, 1000);
    ASSERT_EQ(h.size(), headerBytes(l, format));
    // Walk the chunks from the first after "WAVE".
    std::string ids;
    size_t at = 12;
    while (at + 8 <= h.size()) {
      ids += h.substr(at, 4) + " ";
      const uint64_t size = littleEndian(h, at + 4, 4);
      if (h.substr(at, 4) == "data") break;
      at += static_cast<size_t>(8 + size + size % 2);
    }
    EXPECT_EQ(at + 8, h.size());
    const std::string first = format == WavFormat::kRiff ? "" : format == WavFormat::kRf64 ? "ds64 " : "JUNK ";
    EXPECT_EQ(ids, first + "fmt  bext iXML data ");
    EXPECT_NE(h.find(std::string("bext\x03\0\0\0\x07\x07\x07\0iXML", 16)), std::string::npos);
    const uint64_t riffSize = format == WavFormat::kRf64 ? littleEndian(h, 20, 8) : littleEndian(h, 4, 4);
    EXPECT_EQ(riffSize, h.size() - 8 + 1000);
  }
  // The chunks add 24 bytes, which the 32-bit sizes hold as 24 fewer bytes
  // of data.
  EXPECT_EQ(plannedFormat(l, kMaxRiffDataBytes - 25, true), WavFormat::kRiff);
  EXPECT_EQ(plannedFormat(l, kMaxRiffDataBytes - 23, true), WavFormat::kReservedRiff);
  // An odd length needs its pad byte too.
  EXPECT_EQ(plannedFormat(l, kMaxRiffDataBytes - 24, true), WavFormat::kReservedRiff);
}

TEST(WavHeaderTest, FormatChoices) {
  const uint64_t limit = kMaxRiffDataBytes;
  const struct {
    uint64_t planned;
    bool seekable;
    uint64_t written;
    WavFormat first;
    WavFormat last;
  } cases[] = {
      {0, true, 0, WavFormat::kRiff, WavFormat::kRiff},
      {limit - 1, true, limit - 1, WavFormat::kRiff, WavFormat::kRiff},
      {limit - 1, false, limit - 1, WavFormat::kRiff, WavFormat::kRiff},
      {limit, true, 0, WavFormat::kReservedRiff, WavFormat::kReservedRiff},  // with its pad byte
      // A long run stopped early stays a plain WAV.
      {limit + 1, true, 1000, WavFormat::kReservedRiff, WavFormat::kReservedRiff},
      // The reserved header is 36 bytes longer, and its RIFF size counts them.
      {limit + 1, true, limit - 37, WavFormat::kReservedRiff, WavFormat::kReservedRiff},
      {limit + 1, true, limit - 35, WavFormat::kReservedRiff, WavFormat::kRf64},
      {limit + 1, false, limit + 1, WavFormat::kRf64, WavFormat::kRf64},
  };
  for (const auto& c : cases) {
    const WavFormat first = plannedFormat(layout(48000, 2), c.planned, c.seekable);
    EXPECT_EQ(first, c.first) << c.planned << " " << c.seekable;
    EXPECT_EQ(finalFormat(layout(48000, 2), first, c.written), c.last)
        << c.planned << " " << c.written;
  }
  EXPECT_EQ(plannedFormat(layout(48000, 2), 101, true, 100), WavFormat::kReservedRiff);
  // A length not known in advance: room for RF64 in a file, a plain stream.
  EXPECT_EQ(plannedFormat(layout(48000, 2), kUnknownDataBytes, true), WavFormat::kReservedRiff);
  EXPECT_EQ(plannedFormat(layout(48000, 2), kUnknownDataBytes, false), WavFormat::kRiff);
}

}  // namespace
}  // namespace stampline
