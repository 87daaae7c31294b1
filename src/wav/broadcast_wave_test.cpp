#include "wav/broadcast_wave.h"

#include <gtest/gtest.h>

#include <string>

#include "test_bytes.h"

namespace stampline {
namespace {

BroadcastInfo info() {
  BroadcastInfo b;
  b.timeReference = (uint64_t{2} << 32) + 7;
  b.codingTool = "Stampline test";
  b.timecodeRate = "25/1";
  b.sampleRate = 48000;
  b.channels = 3;
  b.format = kPcm24;
  return b;
}

WavChunk ixml(const std::string& text) { return {{'i', 'X', 'M', 'L'}, {text.begin(), text.end()}}; }
std::string textOf(const WavChunk& c) { return {c.bytes.begin(), c.bytes.end()}; }

const std::string kTracks =
    "<TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT>"
    "<TRACK><CHANNEL_INDEX>1</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>L</NAME></TRACK>"
    "<TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>R</NAME></TRACK>"
    "</TRACK_LIST>";

TEST(BroadcastWaveTest, AnIxmlWithBlocksWithoutTheirEndIsCarriedAsItIs) {
  const struct {
    std::string xml;
    const char* problem;  // empty: edited
  } cases[] = {
      {"<BWFXML><SPEED><NOTE>x</NOTE></SPEED>" + kTracks + "</BWFXML>", ""},
      {"<BWFXML>" + kTracks + "</BWFXML>", ""},  // a SPEED block is added
      {"<BWFXML></BWFXML>", ""},
      {"<BWFXML><SPEED><NOTE>x</NOTE>" + kTracks + "</BWFXML>", "<SPEED> has no end"},
      {"<BWFXML><SPEED></SPEED><TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT></BWFXML>", "<TRACK_LIST> has no end"},
      {"<BWFXML><TRACK_LIST><TRACK><NAME>L</NAME></TRACK_LIST></BWFXML>", "<TRACK> of its <TRACK_LIST> has no end"},
      {"<BWFXML><SPEED note=\"a\"></SPEED></BWFXML>", "<SPEED> has a form"},
      {"<BWFXML><SPEED/></BWFXML>", "<SPEED> has a form"},
      {"<BWFXML></BWFXML><SPEED>", "<SPEED> has no end"},  // past the document's end
      {"<BWFXML><SPEED></SPEED>", "no </BWFXML>"},
      {"", "no </BWFXML>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    std::string problem = "stale";
    const WavChunk carried = carriedIxml(ixml(c.xml), 2, info(), problem);
    if (*c.problem != '\0') {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      EXPECT_EQ(textOf(carried), c.xml);
      continue;
    }
    EXPECT_EQ(problem, "");
    const std::string xml = textOf(carried);
    EXPECT_EQ(xml.size() % 2, 0U);
    EXPECT_NE(xml.find("<TIMECODE_RATE>25/1</TIMECODE_RATE>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>2</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"),
              std::string::npos);
    EXPECT_NE(xml.find("<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>7</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>"),
              std::string::npos);
    EXPECT_NE(xml.find("<CHANNEL_INDEX>2</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>LTC</NAME>"),
              std::string::npos)
        << xml;
  }
}

TEST(BroadcastWaveTest, TheLtcTrackTakesItsChannelAndTheOthersMoveUp) {
  const struct {
    int ltc;
    const char* order;  // the names in the list's order, with their index
  } cases[] = {{1, "1 LTC 2 L 3 R "}, {2, "1 L 2 LTC 3 R "}, {3, "1 L 2 R 3 LTC "}};
  for (const auto& c : cases) {
    std::string problem;
    const std::string xml = textOf(carriedIxml(ixml("<BWFXML>" + kTracks + "</BWFXML>"), c.ltc, info(), problem));
    std::string order;
    for (size_t at = xml.find("<TRACK>"); at != std::string::npos; at = xml.find("<TRACK>", at + 1)) {
      const size_t index = xml.find("<CHANNEL_INDEX>", at) + 15;
      const size_t name = xml.find("<NAME>", at) + 6;
      order += xml.substr(index, xml.find('<', index) - index) + " " + xml.substr(name, xml.find('<', name) - name) + " ";
    }
    EXPECT_EQ(order, c.order) << xml;
    EXPECT_NE(xml.find("<TRACK_COUNT>3</TRACK_COUNT>"), std::string::npos);
  }
}

TEST(BroadcastWaveTest, ACarriedBextKeepsItsFieldsAndGainsARow) {
  WavChunk bext{{'b', 'e', 'x', 't'}, std::vector<uint8_t>(602, 0)};
  bext.bytes[0] = 'D';
  const std::string history = "A=PCM,F=48000,W=24,M=stereo,T=Recorder\r\n";
  bext.bytes.insert(bext.bytes.end(), history.begin(), history.end());
  bext.bytes.insert(bext.bytes.end(), {0, 'x', 'y'});  // past the first zero: not history
  const WavChunk carried = carriedBext(bext, info());
  const std::string bytes = textOf(carried);
  EXPECT_EQ(bytes[0], 'D');
  EXPECT_EQ(testing::littleEndian(bytes, 338, 8), (uint64_t{2} << 32) + 7);
  EXPECT_EQ(bytes.substr(602), history + "A=PCM,F=48000,W=24,M=multitrack,T=Stampline test\r\n");
  EXPECT_EQ(bytes.size() % 2, 0U);
  // Too short to hold a time reference: kept as it is.
  const WavChunk stub{{'b', 'e', 'x', 't'}, std::vector<uint8_t>(345, 'z')};
  EXPECT_EQ(carriedBext(stub, info()).bytes, stub.bytes);
}

}  // namespace
}  // namespace stampline
