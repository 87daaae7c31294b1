// Files for shows and post-production, made by the built program and read
// back by libsndfile and libltc's decoder: every depth, the LTC on a channel
// of its own, LTC put beside an existing file's audio, and a stream on
// standard output.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <string>
#include <vector>

#include "program_runner.h"
#include "test_bytes.h"
#include "independent_readers.h"

namespace stampline::testing {
namespace {

// Every channel of a file as libsndfile reads it, full scale 1.0.
struct Channels {
  int format = 0;
  int rate = 0;
  std::vector<std::vector<float>> samples;
};

Channels readChannels(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  Channels c;
  if (file == nullptr) return c;
  c.format = info.format;
  c.rate = info.samplerate;
  c.samples.resize(static_cast<size_t>(info.channels));
  std::vector<float> frame(static_cast<size_t>(info.channels));
  while (sf_readf_float(file, frame.data(), 1) == 1) {
    for (size_t k = 0; k < frame.size(); ++k) c.samples[k].push_back(frame[k]);
  }
  sf_close(file);
  return c;
}

// The labels and starts libltc reads from a channel.
std::vector<std::pair<TimecodeWord, int64_t>> labelsAndStarts(const std::vector<float>& channel) {
  std::vector<std::pair<TimecodeWord, int64_t>> read;
  for (const DecodedFrame& f : decodeLtc(channel, 1602)) read.emplace_back(f.timecode, f.start);
  return read;
}

// The data chunk's bytes.
std::string dataOf(const std::string& wav) {
  for (size_t at = 12; at + 8 <= wav.size();) {
    const uint64_t size = littleEndian(wav, at + 4, 4);
    if (wav.compare(at, 4, "data") == 0) return wav.substr(at + 8, static_cast<size_t>(size));
    at += static_cast<size_t>(8 + size + size % 2);
  }
  return {};
}

const std::vector<std::string> kRun = {"--frame-rate=29.97", "--drop-frame", "--sample-rate=48000",
                                       "--start=00:59:59;00", "--duration=45", "--clean", "--quiet"};

std::vector<std::string> run(std::vector<std::string> more) {
  std::vector<std::string> args = kRun;
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(ShowFilesTest, EveryDepthDecodesAsThe16BitFile) {
  ScratchDir dir;
  ASSERT_EQ(runProgram(run({"--channels=1", "--output=16.wav"}), dir.path()).status, 0);
  const auto expected = labelsAndStarts(readChannels(dir.file("16.wav")).samples[0]);
  ASSERT_EQ(expected.size(), 45U);
  const struct {
    const char* depth;
    int channels;
    int subformat;
    uint64_t tag;    // WAVE_FORMAT_...
    bool fact;
  } cases[] = {
      {"24", 1, SF_FORMAT_PCM_24, 0xFFFE, false},
      {"32", 2, SF_FORMAT_PCM_32, 0xFFFE, false},
      {"float", 1, SF_FORMAT_FLOAT, 3, true},
      {"float", 3, SF_FORMAT_FLOAT, 0xFFFE, true},
      {"16", 3, SF_FORMAT_PCM_16, 0xFFFE, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.depth) + " bits, " + std::to_string(c.channels) + " channels");
    const ProgramResult r =
        runProgram(run({"--depth", c.depth, "--channels", std::to_string(c.channels), "--output=d.wav"}), dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string wav = readFile(dir.file("d.wav"));
    EXPECT_EQ(littleEndian(wav, 20, 2), c.tag);
    EXPECT_EQ(wav.find("fact") != std::string::npos, c.fact);
    EXPECT_EQ(littleEndian(wav, 4, 4), wav.size() - 8);  // every chunk, the pad byte too
    const Channels read = readChannels(dir.file("d.wav"));
    EXPECT_EQ(read.format & SF_FORMAT_SUBMASK, c.subformat);
    ASSERT_EQ(read.samples.size(), static_cast<size_t>(c.channels));
    for (const auto& channel : read.samples) EXPECT_EQ(labelsAndStarts(channel), expected);
  }
  // 24-bit mono of an odd number of samples (a frame of 1601): padded.
  ASSERT_EQ(runProgram({"--frame-rate=29.97", "--sample-rate=48000", "--duration=1", "--depth=24",
                        "--channels=1", "--output=odd.wav"},
                       dir.path())
                .status,
            0);
  const std::string odd = readFile(dir.file("odd.wav"));
  EXPECT_EQ(dataOf(odd).size(), 3U * 1601);
  EXPECT_EQ(odd.size() % 2, 0U);
  EXPECT_EQ(littleEndian(odd, 4, 4), odd.size() - 8);
}

TEST(ShowFilesTest, TimecodeOnOneChannelTheOthersSilent) {
  ScratchDir dir;
  ASSERT_EQ(runProgram(run({"--channels=1", "--output=mono.wav"}), dir.path()).status, 0);
  const std::vector<float> mono = readChannels(dir.file("mono.wav")).samples[0];
  for (const auto& [channels, k] :
       {std::pair{1, 1}, std::pair{2, 1}, std::pair{8, 8}, std::pair{8, 3}, std::pair{64, 64}, std::pair{64, 1}}) {
    SCOPED_TRACE(std::to_string(k) + " of " + std::to_string(channels));
    const ProgramResult r = runProgram(
        run({"--channels=" + std::to_string(channels), "--timecode-channel=" + std::to_string(k), "--output=k.wav"}),
        dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    const Channels read = readChannels(dir.file("k.wav"));
    ASSERT_EQ(read.samples.size(), static_cast<size_t>(channels));
    for (int c = 1; c <= channels; ++c) {
      if (c == k) {
        EXPECT_EQ(read.samples[static_cast<size_t>(c - 1)], mono);
      } else {
        EXPECT_EQ(read.samples[static_cast<size_t>(c - 1)], std::vector<float>(mono.size(), 0.0F)) << c;
      }
    }
  }
}

// A 24-bit stereo file of noise with a bext, an iXML and a LIST chunk, as a
// recorder might leave it: libsndfile's file with an iXML chunk put in.
void writeRecording(const std::string& path, int64_t frames) {
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  SF_BROADCAST_INFO bext{};
  std::snprintf(bext.description, sizeof bext.description, "Scene 12 take 3");
  std::snprintf(bext.originator, sizeof bext.originator, "Recorder");
  bext.time_reference_low = 12345;
  bext.coding_history_size = 0;
  sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
  sf_set_string(file, SF_STR_TITLE, "Song one");
  std::vector<int> samples(static_cast<size_t>(2 * frames));
  uint32_t state = 7;
  for (int& v : samples) v = static_cast<int>(state = state * 1664525U + 1013904223U);
  sf_writef_int(file, samples.data(), frames);
  sf_close(file);
  std::string wav = readFile(path);
  const std::string xml =
      "<BWFXML><SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE></SPEED><TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT>"
      "<TRACK><CHANNEL_INDEX>1</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>Left</NAME></TRACK>"
      "<TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>Right</NAME></TRACK>"
      "</TRACK_LIST></BWFXML> ";  // an even length
  std::string chunk = "iXML    " + xml;
  putLittleEndian(chunk, 4, 4, xml.size());
  wav.insert(12, chunk);
  putLittleEndian(wav, 4, 4, wav.size() - 8);
  writeFile(path, wav);
}

// A data chunk of `channels` channels of `width` bytes without channel `k`
// (1-based).
std::string withoutChannel(const std::string& data, int channels, int width, int k) {
  std::string kept;
  const auto frame = static_cast<size_t>(channels * width);
  const auto w = static_cast<size_t>(width);
  const auto before = static_cast<size_t>(k - 1) * w;
  for (size_t at = 0; at + frame <= data.size(); at += frame) {
    kept += data.substr(at, before) + data.substr(at + before + w, frame - before - w);
  }
  return kept;
}

TEST(ShowFilesTest, MixCarriesTheInputBitForBit) {
  ScratchDir dir;
  writeRecording(dir.file("song.wav"), 48000 + 100);
  // The same without speaker positions: the LTC may go anywhere among them.
  writeFile(dir.file("poly.wav"), asExtensible(readFile(dir.file("song.wav")), 0));
  const std::string input = dataOf(readFile(dir.file("song.wav")));
  // The LTC last, then first, then at 2 from standard input.
  const struct {
    std::vector<std::string> args;
    int ltc;
    RunOptions options;
  } cases[] = {
      {{"--mix=song.wav"}, 3, {}},
      {{"--mix", "poly.wav", "--timecode-channel=1", "--depth=24", "--sample-rate=48000"}, 1, {}},
      {{"--mix=-", "--timecode-channel=2"}, 2, [] {
         RunOptions o;
         o.launcher = {"sh", "-c", "\"$@\" < poly.wav", "sh"};
         return o;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ltc);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output=mixed.wav", "--quiet"});
    const ProgramResult r = runProgram(args, dir.path(), c.options);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string wav = readFile(dir.file("mixed.wav"));
    const std::string data = dataOf(wav);
    // 31 frames of 1600 samples cover the input, padded with silence.
    ASSERT_EQ(data.size(), 31U * 1600 * 9);
    const std::string audio = withoutChannel(data, 3, 3, c.ltc);
    EXPECT_TRUE(audio.substr(0, input.size()) == input);
    EXPECT_TRUE(audio.substr(input.size()) == std::string(audio.size() - input.size(), '\0'));
    const Channels read = readChannels(dir.file("mixed.wav"));
    EXPECT_EQ(decodeLtc(read.samples[static_cast<size_t>(c.ltc - 1)], 1600).size(), 31U);
    // The recorder's chunks: its bext with the LTC's time stamp and one row
    // more, its iXML with the LTC track, its LIST as it was.
    const SoundFile sound = readSoundFile(dir.file("mixed.wav"), false);
    EXPECT_EQ(sound.description, "Scene 12 take 3");
    EXPECT_EQ(sound.originator, "Recorder");
    EXPECT_EQ(sound.timeReference, 172800000U);
    EXPECT_NE(sound.codingHistory.find("T=libsndfile-1"), std::string::npos) << sound.codingHistory;
    EXPECT_NE(sound.codingHistory.find("\r\nA=PCM,F=48000,W=24,M=multitrack,T=Stampline "), std::string::npos);
    EXPECT_NE(wav.find("<TRACK_COUNT>3</TRACK_COUNT>"), std::string::npos);
    EXPECT_NE(wav.find("<CHANNEL_INDEX>" + std::to_string(c.ltc) + "</CHANNEL_INDEX><INTERLEAVE_INDEX>" +
                       std::to_string(c.ltc) + "</INTERLEAVE_INDEX><NAME>LTC</NAME>"),
              std::string::npos);
    EXPECT_NE(wav.find("<TIMECODE_RATE>30/1</TIMECODE_RATE>"), std::string::npos);
    EXPECT_NE(wav.find("Song one"), std::string::npos);
    // The reader finds the LTC where it went, and no other.
    const ProgramResult analysis = runProgram({"--analyze=mixed.wav"}, dir.path());
    EXPECT_EQ(analysis.status, 0);
    EXPECT_NE(analysis.out.find("Channel " + std::to_string(c.ltc) + ": LTC, 31 frames"), std::string::npos)
        << analysis.out;
  }
}

TEST(ShowFilesTest, MixSaysWhichChunksItLeavesOut) {
  ScratchDir dir;
  writeRecording(dir.file("song.wav"), 4800);
  std::string wav = readFile(dir.file("song.wav"));
  std::string big = "big     " + std::string((size_t{1} << 20) + 2, 'x');  // after the audio
  putLittleEndian(big, 4, 4, big.size() - 8);
  wav += big;
  putLittleEndian(wav, 4, 4, wav.size() - 8);
  writeFile(dir.file("song.wav"), wav);
  const ProgramResult r = runProgram({"--mix=song.wav", "--output=mixed.wav", "--quiet"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "song.wav has 1 chunk over 1 MiB, left out of the new file\n");
  const std::string mixed = readFile(dir.file("mixed.wav"));
  EXPECT_EQ(mixed.find("big "), std::string::npos);
  EXPECT_NE(mixed.find("Song one"), std::string::npos);  // the small ones carried
}

TEST(ShowFilesTest, MixRefusesWhatItCannotCarryAndTouchesNothing) {
  ScratchDir dir;
  writeRecording(dir.file("song.wav"), 4800);
  writeNoiseFile(dir.file("mono.wav"), 22050, 2205);
  const auto convert = [&dir](const char* from, const char* to, int format) {
    SF_INFO in{};
    SNDFILE* a = sf_open(dir.file(from).c_str(), SFM_READ, &in);
    SF_INFO out = in;
    out.format = format;
    SNDFILE* b = sf_open(dir.file(to).c_str(), SFM_WRITE, &out);
    std::vector<double> frames(static_cast<size_t>(in.frames * in.channels));
    sf_readf_double(a, frames.data(), in.frames);
    sf_writef_double(b, frames.data(), in.frames);
    sf_close(a);
    sf_close(b);
  };
  convert("mono.wav", "u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  convert("mono.wav", "double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
  const struct {
    std::vector<std::string> args;
    std::string why;
  } cases[] = {
      {{"--mix=u8.wav"}, "u8.wav: its samples are 8-bit PCM"},
      {{"--mix=double.wav"}, "double.wav: its samples are 64-bit float"},
      {{"--mix=song.wav", "--sample-rate=44100"}, "its sample rate is 48000 Hz, and --sample-rate=44100"},
      {{"--mix=song.wav", "--depth=16"}, "its samples are 24-bit PCM, and --depth=16"},
      {{"--mix=song.wav", "--channels=2"}, "--channels=2 asks for another count"},
      {{"--mix=song.wav", "--timecode-channel=4"}, "--timecode-channel=4"},
      {{"--mix=missing.wav"}, "missing.wav: no such file"},
      {{"--mix=out.wav"}, "out.wav: it is the output file too"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    writeFile(dir.file("out.wav"), "precious");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output=out.wav", "--quiet"});
    const ProgramResult r = runProgram(args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Cannot mix ", 0), 0U) << r.out;
    EXPECT_NE(r.out.find(c.why), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir.file("out.wav")), "precious");
  }
}

TEST(ShowFilesTest, StandardOutputIsAStream) {
  ScratchDir dir;
  // Read by libsndfile from the pipe itself.
  std::string command = "cd '" + dir.path() + "' && ";
  for (const std::string& word : programLauncher()) command += "'" + word + "' ";
  command += "'" + programPath() + "' --output=- --duration=90 --channels=1 --depth=24 --clean 2>messages";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  SF_INFO info{};
  SNDFILE* file = sf_open_fd(fileno(pipe), SFM_READ, &info, 0);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);
  std::vector<float> samples(90 * 1470 + 10);
  EXPECT_EQ(sf_readf_float(file, samples.data(), static_cast<sf_count_t>(samples.size())), 90 * 1470);
  sf_close(file);
  EXPECT_EQ(pclose(pipe), 0);
  samples.resize(90 * 1470);
  EXPECT_EQ(decodeLtc(samples, 1470).size(), 90U);
  // The echo went to standard error.
  EXPECT_EQ(readFile(dir.file("messages")), "output = -\nduration = 90\nchannels = 1\ndepth = 24\nclean\n");
  // A reader that goes ends the run quietly, as stream tools end.
  RunOptions early;
  early.launcher = {"bash", "-c", "\"$@\" | head -c 1000 >/dev/null; exit ${PIPESTATUS[0]}", "bash"};
  const ProgramResult r = runProgram({"--output=-", "--duration=10m", "--quiet"}, dir.path(), early);
  EXPECT_EQ(r.status, 141);
  EXPECT_EQ(r.err, "");
  // "-o -" still writes a file named "-".
  EXPECT_EQ(runProgram({"-o", "-", "-d", "1"}, dir.path()).status, 0);
  EXPECT_TRUE(fileExists(dir.file("-")));
}

}  // namespace
}  // namespace stampline::testing
