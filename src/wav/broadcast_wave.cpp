#include "wav/broadcast_wave.h"

#include <algorithm>

namespace stampline {
namespace {

constexpr size_t kBextFixedBytes = 602;
constexpr uint16_t kBextVersion = 1;

// Copies `text` into the field of `width` bytes at `offset`, cut to fit;
// the rest of the field stays zero.
void putText(std::vector<uint8_t>& bytes, size_t offset, size_t width, const std::string& text) {
  std::copy_n(text.begin(), std::min(width, text.size()), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

void putNumber(std::vector<uint8_t>& bytes, size_t offset, int width, uint64_t value) {
  for (int i = 0; i < width; ++i) {
    bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
  }
}

std::string element(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

}  // namespace

WavChunk bextChunk(const BroadcastInfo& info) {
  WavChunk chunk{{'b', 'e', 'x', 't'}, std::vector<uint8_t>(kBextFixedBytes, 0)};
  std::vector<uint8_t>& b = chunk.bytes;
  putText(b, 0, 256, info.description);
  putText(b, 256, 32, info.originator);
  putText(b, 288, 32, info.originatorReference);
  putText(b, 320, 10, info.originationDate);
  putText(b, 330, 8, info.originationTime);
  putNumber(b, 338, 8, info.timeReference);
  putNumber(b, 346, 2, kBextVersion);
  const std::string history = info.codingHistory + codingHistoryRow(info);
  b.insert(b.end(), history.begin(), history.end());
  // An even size of its own: a reader of RF64 files (libsndfile's) fails on
  // an odd one, pad byte or not. The history ends at its first zero.
  if (b.size() % 2 != 0) b.push_back(0);
  return chunk;
}

std::string codingHistoryRow(const BroadcastInfo& info) {
  const char* mode = info.channels == 1 ? "mono" : info.channels == 2 ? "stereo" : "multitrack";
  return "A=PCM,F=" + std::to_string(info.sampleRate) + ",W=" + std::to_string(info.format.bits) +
         ",M=" + mode + ",T=" + info.codingTool + "\r\n";
}

WavChunk ixmlChunk(const BroadcastInfo& info) {
  const std::string rate = std::to_string(info.sampleRate);
  std::string speed = element("NOTE", "LTC") + element("MASTER_SPEED", info.timecodeRate) +
                      element("CURRENT_SPEED", info.timecodeRate) +
                      element("TIMECODE_RATE", info.timecodeRate) +
                      element("TIMECODE_FLAG", info.dropFrame ? "DF" : "NDF") +
                      element("FILE_SAMPLE_RATE", rate) + element("AUDIO_BIT_DEPTH", std::to_string(info.format.bits)) +
                      element("DIGITIZER_SAMPLE_RATE", rate) +
                      element("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI",
                              std::to_string(info.timeReference >> 32)) +
                      element("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO",
                              std::to_string(info.timeReference & 0xFFFFFFFFU)) +
                      element("TIMESTAMP_SAMPLE_RATE", rate);
  std::string tracks = element("TRACK_COUNT", std::to_string(info.trackNames.size()));
  for (size_t c = 0; c < info.trackNames.size(); ++c) {
    const std::string index = std::to_string(c + 1);
    tracks += element("TRACK", element("CHANNEL_INDEX", index) + element("INTERLEAVE_INDEX", index) +
                                   element("NAME", info.trackNames[c]));
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>" +
                    element("IXML_VERSION", "1.61") + element("SPEED", speed) +
                    element("TRACK_LIST", tracks) + "</BWFXML>\n";
  // An even size, as for bext; white space after the document is no harm.
  if (xml.size() % 2 != 0) xml += ' ';
  return {{'i', 'X', 'M', 'L'}, {xml.begin(), xml.end()}};
}

}  // namespace stampline
