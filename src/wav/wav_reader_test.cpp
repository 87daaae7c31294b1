#include "wav/wav_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "test_bytes.h"
#include "wav/input_file.h"

namespace stampline {
namespace {

using testing::putLittleEndian;

std::string chunk(const std::string& id, const std::string& body, int64_t size = -1) {
  return testing::wavChunk(id, body, size);
}
using testing::fmtBody;
std::string riff(const std::string& chunks, int64_t riffSize = -1, const char* form = "RIFF") {
  return testing::riffFile(chunks, riffSize, form);
}

// What a reader makes of `bytes`, as a file and as a stream.
struct Read {
  bool opened = false;
  std::string problem;
  WavInfo info;
  std::string samples;
  bool truncated = false;
  int error = 0;
};
Read readAll(const std::string& bytes, bool seekable, MemoryInputFaults faults = {}) {
  const auto input = memoryInput(bytes, seekable, faults);
  WavReader reader(*input);
  Read r;
  r.opened = reader.open(r.problem);
  if (!r.opened) return r;
  for (;;) {
    const std::span<const uint8_t> got = reader.next(1000);
    if (got.empty()) break;
    r.samples.append(got.begin(), got.end());
  }
  reader.readChunksAfter();
  r.info = reader.info();
  r.truncated = reader.truncated();
  r.error = reader.error();
  return r;
}

std::string ids(const std::vector<WavChunk>& chunks) {
  std::string all;
  for (const WavChunk& c : chunks) all += std::string(c.id.begin(), c.id.end()) + ",";
  return all;
}

const std::string kMono = chunk("fmt ", fmtBody(1, 48000, 16));

TEST(WavReaderTest, WhereTheSamplesAreAndWhatStandsAround) {
  const std::string data5 = chunk("data", "abcde");  // odd: one sample and a half
  const std::string data4 = chunk("data", "abcd");
  const std::string list = chunk("LIST", "INFOxyz");  // odd length, padded
  std::string rf64 = chunk("ds64", std::string(28, '\0'));
  putLittleEndian(rf64, 16, 8, 4);  // data size 4
  const struct {
    const char* name;
    std::string bytes;
    std::string samples;
    std::string before, after;  // chunk ids kept
    bool truncated;
  } cases[] = {
      {"an odd chunk before the data", riff(kMono + list + data4), "abcd", "LIST,", "", false},
      {"chunks after odd data", riff(kMono + data5 + list + chunk("cue ", "12")), "abcd", "", "LIST,cue ,", false},
      {"RF64: a chunk after the data is no sample",
       riff(rf64 + kMono + chunk("data", "abcd", 0xFFFFFFFF) + chunk("JUNK", "zz") + list, -1, "RF64"), "abcd",
       "", "LIST,", false},
      {"data size 0 in a file of known size: no samples, the next chunk no sample",
       riff(kMono + chunk("data", "", 0) + list), "", "", "LIST,", false},
      {"data size 0 and RIFF size 0: read to the end", riff(kMono + chunk("data", "", 0) + "abcd", 0), "abcd", "",
       "", false},
      {"data size 0xFFFFFFFF: read to the end", riff(kMono + chunk("data", "", 0xFFFFFFFF) + "abcdef", 0xFFFFFFFF),
       "abcdef", "", "", false},
      {"a chunk of exactly 1 MiB is kept", riff(kMono + chunk("big ", std::string(size_t{1} << 20, 'x')) + data4),
       "abcd", "big ,", "", false},
      {"one byte over 1 MiB is left out",
       riff(kMono + chunk("big ", std::string((size_t{1} << 20) + 1, 'x')) + data4), "abcd", "", "", false},
  };
  for (const auto& c : cases) {
    for (const bool seekable : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (seekable ? ", a file" : ", a stream"));
      const Read r = readAll(c.bytes, seekable);
      ASSERT_TRUE(r.opened) << r.problem;
      EXPECT_EQ(r.samples, c.samples);
      EXPECT_EQ(ids(r.info.chunks), c.before);
      EXPECT_EQ(ids(r.info.chunksAfter), c.after);
      EXPECT_EQ(r.truncated, c.truncated);
    }
  }
  EXPECT_EQ(readAll(riff(kMono + chunk("big ", std::string((size_t{1} << 20) + 1, 'x')) + data4), true)
                .info.chunksLeftOut,
            1U);
}

TEST(WavReaderTest, ALengthPastTheEndOfTheFileEndsThere) {
  // An RF64 file whose ds64 gives the largest data sizes there are: read to
  // the end of the file, as cut short, and never round again.
  for (const uint64_t size : {~uint64_t{0} - 7, ~uint64_t{0}, uint64_t{1} << 63}) {
    std::string ds64 = chunk("ds64", std::string(28, '\0'));
    putLittleEndian(ds64, 16, 8, size);
    const std::string bytes = riff(ds64 + kMono + chunk("data", "abcdef", 0xFFFFFFFF), -1, "RF64");
    for (const bool seekable : {true, false}) {
      const Read r = readAll(bytes, seekable);
      ASSERT_TRUE(r.opened) << r.problem;
      EXPECT_EQ(r.samples, "abcdef") << size;
      EXPECT_TRUE(r.truncated);
    }
  }
  // A skip past the end of the input stops at its end, both ways.
  for (const bool seekable : {true, false}) {
    const auto input = memoryInput("0123456789", seekable);
    EXPECT_TRUE(input->skip(4));
    EXPECT_FALSE(input->skip(~uint64_t{0} - 2));
    EXPECT_EQ(input->position(), 10U);
    EXPECT_TRUE(input->next(5).empty());
  }
  uint64_t at = 5;
  EXPECT_FALSE(skipWithin(at, 10, ~uint64_t{0}));
  EXPECT_EQ(at, 10U);
}

TEST(WavReaderTest, WhatItRefusesAndWhy) {
  const struct {
    std::string bytes;
    const char* problem;
  } cases[] = {
      {riff(chunk("fmt ", fmtBody(2, 48000, 16, 1, 6)) + chunk("data", "")), "a block of 6 bytes"},
      {riff(chunk("fmt ", fmtBody(65, 48000, 16)) + chunk("data", "")), "65 channels (1 to 64 are read)"},
      {riff(chunk("fmt ", fmtBody(1, 7999, 16)) + chunk("data", "")), "a sample rate of 7999 Hz"},
      {riff(chunk("fmt ", fmtBody(1, 384001, 16)) + chunk("data", "")), "a sample rate of 384001 Hz"},
      {riff(chunk("fmt ", fmtBody(1, 48000, 12)) + chunk("data", "")), "samples of format 1 and 12 bits"},
      {riff(kMono + chunk("JUNK", std::string(100, '\0'))).substr(0, 70), "a truncated header"},
      {riff(kMono).substr(0, 30), "a truncated header"},
      {std::string("RIFX\x24\0\0\0WAVE", 12), "a big-endian RIFX file"},
      {"", "an empty file"},
      {riff(kMono), "no data chunk"},
  };
  for (const auto& c : cases) {
    for (const bool seekable : {true, false}) {
      const Read r = readAll(c.bytes, seekable);
      EXPECT_FALSE(r.opened);
      EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem << " / " << c.problem;
    }
  }
  // At the limits, read.
  for (const auto& [channels, rate] : {std::pair{64, 48000}, std::pair{1, 8000}, std::pair{1, 384000}}) {
    const std::string frame(static_cast<size_t>(2 * channels), 'a');
    const Read r = readAll(riff(chunk("fmt ", fmtBody(channels, rate, 16)) + chunk("data", frame)), true);
    ASSERT_TRUE(r.opened) << r.problem;
    EXPECT_EQ(r.info.channels, channels);
    EXPECT_EQ(r.info.sampleRate, rate);
    EXPECT_EQ(r.samples, frame);
  }
}

TEST(WavReaderTest, TimeReferencesAndSpeakerPositions) {
  std::string bext(602, '\0');
  putLittleEndian(bext, 338, 8, (uint64_t{3} << 32) + 5);
  const Read r = readAll(riff(kMono + chunk("bext", bext) + chunk("data", "ab")), true);
  ASSERT_TRUE(r.opened);
  EXPECT_EQ(r.info.timeReference, (uint64_t{3} << 32) + 5);  // both words
  std::string extensible = fmtBody(2, 48000, 24, 0xFFFE) + std::string(24, '\0');
  putLittleEndian(extensible, 16, 2, 22);
  putLittleEndian(extensible, 20, 4, 0x3);
  putLittleEndian(extensible, 24, 2, 1);
  extensible.replace(26, 14, "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  const Read e = readAll(riff(chunk("fmt ", extensible) + chunk("data", "abcdef")), true);
  ASSERT_TRUE(e.opened) << e.problem;
  EXPECT_EQ(e.info.channelMask, 0x3U);
  EXPECT_EQ(e.info.format, kPcm24);
}

TEST(WavReaderTest, ACutAndAFailureTellThemselvesApart) {
  // Cut inside a sample frame: the whole frames, and cut short; a read that
  // fails: the error, whatever came before.
  const std::string file = riff(kMono + chunk("data", "abcdef"));
  const Read cut = readAll(file.substr(0, file.size() - 1), false);
  EXPECT_EQ(cut.samples, "abcd");
  EXPECT_TRUE(cut.truncated);
  EXPECT_EQ(cut.error, 0);
  const Read stream = readAll(riff(kMono + chunk("data", "", 0xFFFFFFFF) + "abc", 0xFFFFFFFF), false);
  EXPECT_EQ(stream.samples, "ab");
  EXPECT_TRUE(stream.truncated);
  for (const bool seekable : {true, false}) {
    const Read failed = readAll(file, seekable, {file.size() - 3, EIO});
    EXPECT_EQ(failed.error, EIO);
    EXPECT_EQ(failed.samples, "ab");
  }
}

}  // namespace
}  // namespace stampline
