#include "run/mix_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"
#include "test_bytes.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

using testing::fmtBody;
using testing::littleEndian;
using testing::readFile;
using testing::riffFile;
using testing::wavChunk;
using testing::writeFile;

// A mix run in-process: its status, what it printed, and the file.
class MixRunTest : public ::testing::Test {
 protected:
  int mix(MixRequest request) {
    if (request.output.path == "output.wav") request.output.path = dir_.file("out.wav");
    if (request.inputPath.find('/') == std::string::npos) request.inputPath = dir_.file(request.inputPath);
    request.signal.rate = kRate25;
    request.signal.clean = true;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* console = open_memstream(&text, &size);
    RunEnvironment environment;
    environment.noiseSeed = 1;
    const int status = runMix(request, console, environment);
    std::fclose(console);
    out_.assign(text, size);
    std::free(text);
    written_ = readFile(dir_.file("out.wav"));
    return status;
  }
  // The chunk ids of the output, in order.
  std::string ids() const {
    std::string all;
    for (size_t at = 12; at + 8 <= written_.size();) {
      const auto size = static_cast<size_t>(littleEndian(written_, at + 4, 4));
      all += written_.substr(at, 4) + ",";
      at += 8 + size + size % 2;
    }
    return all;
  }
  std::string fmt() const { return written_.substr(20, static_cast<size_t>(littleEndian(written_, 16, 4))); }
  std::string data() const {
    const size_t at = written_.find("data");
    return written_.substr(at + 8, static_cast<size_t>(littleEndian(written_, at + 4, 4)));
  }

  testing::ScratchDir dir_;
  std::string out_;
  std::string written_;
};

// `frames` sample frames of `channels` channels of `width` bytes, each
// byte telling its channel and frame apart.
std::string samples(int channels, int width, int frames) {
  std::string s;
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      for (int b = 0; b < width; ++b) s += static_cast<char>(c * 16 + (f + b) % 16);
    }
  }
  return s;
}

TEST_F(MixRunTest, SpeakerPositionsAndWhereTheLtcGoes) {
  const struct {
    const char* name;
    std::string fmt;
    int channels;
    std::optional<int32_t> ltc;
    int status;
    uint64_t mask;  // of the output; 0 with no positions
    bool extensible;
  } cases[] = {
      {"plain mono: front centre", fmtBody(1, 48000, 16), 1, {}, 0, 0x40004, true},
      {"plain stereo: front left and right", fmtBody(2, 48000, 16), 2, {}, 0, 0x40003, true},
      {"5.1", fmtBody(6, 48000, 24, 1, -1, 0x3F), 6, {}, 0, 0x4003F, true},
      {"bit 18 taken: the next", fmtBody(2, 48000, 16, 1, -1, 0x40003), 2, {}, 0, 0xC0003, true},
      {"no positions", fmtBody(4, 48000, 24, 1, -1, 0), 4, 2, 0, 0, true},
      {"stereo with the LTC last, said", fmtBody(2, 48000, 16), 2, 3, 0, 0x40003, true},
      {"stereo with the LTC first", fmtBody(2, 48000, 16), 2, 1, 1, 0, false},
      {"5.1 with the LTC third", fmtBody(6, 48000, 24, 1, -1, 0x3F), 6, 3, 1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int width = static_cast<int>(littleEndian(c.fmt, 14, 2)) / 8;
    writeFile(dir_.file("in.wav"),
              riffFile(wavChunk("fmt ", c.fmt) + wavChunk("data", samples(c.channels, width, 4000))));
    MixRequest r;
    r.inputPath = "in.wav";
    r.timecodeChannel = c.ltc;
    ASSERT_EQ(mix(r), c.status) << out_;
    if (c.status != 0) {
      EXPECT_NE(out_.find("speaker positions"), std::string::npos) << out_;
      continue;
    }
    EXPECT_EQ(littleEndian(fmt(), 0, 2), c.extensible ? 0xFFFEU : 1U);
    EXPECT_EQ(littleEndian(fmt(), 2, 2), static_cast<uint64_t>(c.channels + 1));
    EXPECT_EQ(littleEndian(fmt(), 20, 4), c.mask);
  }
}

TEST_F(MixRunTest, ChannelsKeepTheirOrderAroundTheLtc) {
  // Four channels of 24-bit without positions, the LTC second: every
  // input byte where it was, the LTC between, and an LTC track in the
  // iXML at its channel.
  const std::string audio = samples(4, 3, 2000);
  const std::string xml = "<BWFXML><TRACK_LIST><TRACK_COUNT>1</TRACK_COUNT><TRACK><CHANNEL_INDEX>1</CHANNEL_INDEX>"
                          "<INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>A</NAME></TRACK></TRACK_LIST></BWFXML>";
  writeFile(dir_.file("in.wav"), riffFile(wavChunk("fmt ", fmtBody(4, 48000, 24, 1, -1, 0)) +
                                          wavChunk("iXML", xml) + wavChunk("data", audio)));
  MixRequest r;
  r.inputPath = "in.wav";
  r.timecodeChannel = 2;
  ASSERT_EQ(mix(r), 0) << out_;
  const std::string mixed = data();
  // 2000 samples: two frames of 1920 cover them, silence after.
  ASSERT_EQ(mixed.size(), 3840U * 5 * 3);
  for (size_t f = 0; f < 3840; ++f) {
    const std::string before = f < 2000 ? audio.substr(f * 12, 3) : std::string(3, '\0');
    const std::string after = f < 2000 ? audio.substr(f * 12 + 3, 9) : std::string(9, '\0');
    ASSERT_EQ(mixed.substr(f * 15, 3), before) << f;
    ASSERT_EQ(mixed.substr(f * 15 + 6, 9), after) << f;
  }
  EXPECT_NE(written_.find("<CHANNEL_INDEX>1</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>A</NAME>"),
            std::string::npos);
  EXPECT_NE(written_.find("<CHANNEL_INDEX>2</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>LTC</NAME>"),
            std::string::npos);
  // The last of five channels is taken; a sixth is not.
  r.timecodeChannel = 5;
  EXPECT_EQ(mix(r), 0) << out_;
  r.timecodeChannel = 6;
  EXPECT_EQ(mix(r), 1);
  EXPECT_NE(out_.find("the output has 5 channels, and --timecode-channel=6 asks for another"), std::string::npos);
}

TEST_F(MixRunTest, WhatTheOutputCannotCarryIsRefused) {
  const struct {
    const char* name;
    std::string fmt;
    Asked<SampleFormat> format;
    const char* why;
  } cases[] = {
      {"64 channels", fmtBody(64, 48000, 16, 1, -1, 0), {}, "it has 64 channels already"},
      {"float asked as 32-bit PCM", fmtBody(1, 48000, 32, 3), {kPcm32, "--depth=32"},
       "its samples are 32-bit float, and --depth=32 asks for others"},
      {"8-bit", fmtBody(1, 48000, 8), {}, "its samples are 8-bit PCM"},
      {"8 kHz", fmtBody(1, 8000, 16), {}, "its sample rate is 8000 Hz; the output takes 16000 to 384000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto frameBytes = static_cast<size_t>(littleEndian(c.fmt, 12, 2));
    writeFile(dir_.file("in.wav"),
              riffFile(wavChunk("fmt ", c.fmt) + wavChunk("data", std::string(frameBytes * 10, '\1'))));
    writeFile(dir_.file("out.wav"), "precious");
    MixRequest r;
    r.inputPath = "in.wav";
    r.format = c.format;
    EXPECT_EQ(mix(r), 1);
    EXPECT_NE(out_.find(c.why), std::string::npos) << out_;
    EXPECT_EQ(written_, "precious");
  }
}

TEST_F(MixRunTest, ChunksKeepTheirPlaceBeforeAndAfterTheData) {
  // Odd-length data (three bytes of 24-bit mono); a LIST before it; after
  // it a cue and a chunk of exactly 1 MiB, both carried; a malformed iXML
  // carried as it is, with a line.
  const std::string big(size_t{1} << 20, 'b');
  const std::string input =
      riffFile(wavChunk("fmt ", fmtBody(1, 48000, 24, 1, -1, 0)) + wavChunk("LIST", "INFOabc") +
               wavChunk("iXML", "<BWFXML><SPEED><NOTE>x</NOTE></BWFXML>") + wavChunk("data", samples(1, 3, 1921)) +
               wavChunk("cue ", "1234") + wavChunk("big ", big));
  writeFile(dir_.file("in.wav"), input);
  MixRequest r;
  r.inputPath = "in.wav";
  ASSERT_EQ(mix(r), 0) << out_;
  EXPECT_EQ(ids(), "fmt ,LIST,iXML,data,cue ,big ,");
  EXPECT_EQ(littleEndian(written_, 4, 4), written_.size() - 8);
  EXPECT_NE(written_.find("<BWFXML><SPEED><NOTE>x</NOTE></BWFXML>"), std::string::npos);
  EXPECT_EQ(out_, dir_.file("in.wav") +
                      "'s iXML chunk is carried as it is, without the LTC track: its <SPEED> has no end\n");

  // From a pipe: to a file, the chunks after come at the end all the same;
  // to a stream, whose header is out before they come, they are left out.
  const std::string pipe = dir_.file("in.fifo");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const auto fromPipe = [&](const std::string& output) {
    std::thread writer([&] { writeFile(pipe, input); });
    r.inputPath = pipe;
    r.output.path = output;
    const int status = mix(r);
    writer.join();
    return status;
  };
  ASSERT_EQ(fromPipe(dir_.file("out.wav")), 0) << out_;
  EXPECT_EQ(ids(), "fmt ,LIST,iXML,data,cue ,big ,");
  EXPECT_EQ(littleEndian(written_, 4, 4), written_.size() - 8);
  const std::string stream = dir_.file("out.fifo");
  ASSERT_EQ(mkfifo(stream.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = readFile(stream); });
  ASSERT_EQ(fromPipe(stream), 0) << out_;
  reader.join();
  EXPECT_NE(out_.find("has 2 chunks after its audio, left out of the stream"), std::string::npos) << out_;
  EXPECT_EQ(received.find("cue "), std::string::npos);
  EXPECT_EQ(littleEndian(received, 4, 4), received.size() - 8);
}

TEST_F(MixRunTest, AnImpossibleLengthIsMixedAsFarAsItGoes) {
  // An RF64 input whose ds64 gives 2^64 - 8 or 2^63 bytes of data, from a
  // file: mixed to the input's end (1,600 frames at 16 kHz: three frames at
  // 25 fps), not followed by silence for ever; a length a file can have,
  // followed by silence to it.
  const std::string audio = samples(1, 2, 1600);
  const struct {
    uint64_t size;
    uint64_t dataBytes;  // of the new file
    const char* said;
  } cases[] = {
      {~uint64_t{0} - 7, uint64_t{3} * 640 * 4, "so does the new file"},
      {uint64_t{1} << 63, uint64_t{3} * 640 * 4, "so does the new file"},
      {uint64_t{5} * 640 * 2, uint64_t{5} * 640 * 4, "silence follows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::string ds64 = wavChunk("ds64", std::string(28, '\0'));
    testing::putLittleEndian(ds64, 16, 8, c.size);
    std::string file = "RF64" + std::string(4, '\xFF') + "WAVE" + ds64 + wavChunk("fmt ", fmtBody(1, 16000, 16)) +
                       wavChunk("data", audio, 0xFFFFFFFF);
    writeFile(dir_.file("in.wav"), file);
    MixRequest request;
    request.inputPath = "in.wav";
    ASSERT_EQ(mix(request), 0) << out_;
    EXPECT_NE(out_.find(c.said), std::string::npos) << out_;
    EXPECT_EQ(data().size(), c.dataBytes);
  }
}

}  // namespace
}  // namespace stampline
