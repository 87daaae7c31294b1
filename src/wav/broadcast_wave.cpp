#include "wav/broadcast_wave.h"

#include <algorithm>
#include <string>
#include <utility>

#include "wav/riff_layout.h"

namespace stampline {
namespace {

constexpr uint16_t kBextVersionOne = 1;

// Copies `text` into the field of `width` bytes at `offset`, cut to fit;
// the rest of the field stays zero.
void putText(std::vector<uint8_t>& bytes, size_t offset, size_t width, const std::string& text) {
  std::copy_n(text.begin(), std::min(width, text.size()), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string element(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

}  // namespace

WavChunk bextChunk(const BroadcastInfo& info) {
  WavChunk chunk{{'b', 'e', 'x', 't'}, std::vector<uint8_t>(kBextCodingHistory, 0)};
  std::vector<uint8_t>& b = chunk.bytes;
  putText(b, kBextDescription, kBextDescriptionBytes, info.description);
  putText(b, kBextOriginator, kBextOriginatorBytes, info.originator);
  putText(b, kBextOriginatorReference, kBextOriginatorReferenceBytes, info.originatorReference);
  putText(b, kBextOriginationDate, kBextOriginationDateBytes, info.originationDate);
  putText(b, kBextOriginationTime, kBextOriginationTimeBytes, info.originationTime);
  writeLittleEndian(b.data() + kBextTimeReference, info.timeReference, kBextTimeReferenceBytes);
  writeLittleEndian(b.data() + kBextVersion, kBextVersionOne, 2);
  const std::string history = codingHistoryRow(info);
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

WavChunk carriedBext(const WavChunk& bext, const BroadcastInfo& info) {
  if (bext.bytes.size() < kBextTimeReference + kBextTimeReferenceBytes) return bext;
  WavChunk chunk = bext;
  std::vector<uint8_t>& b = chunk.bytes;
  writeLittleEndian(b.data() + kBextTimeReference, info.timeReference, kBextTimeReferenceBytes);
  if (b.size() < kBextCodingHistory) b.resize(kBextCodingHistory, 0);
  // The history ends at its first zero byte, if any.
  const auto end = std::find(b.begin() + kBextCodingHistory, b.end(), 0);
  b.erase(end, b.end());
  const std::string row = codingHistoryRow(info);
  b.insert(b.end(), row.begin(), row.end());
  if (b.size() % 2 != 0) b.push_back(0);
  return chunk;
}

namespace {

// The text between <name> and </name> from `from` on: where it starts and
// how long it is; npos where there is none.
std::pair<size_t, size_t> contentOf(const std::string& xml, const std::string& name, size_t from = 0,
                                    size_t to = std::string::npos) {
  const std::string open = "<" + name + ">";
  const size_t start = xml.find(open, from);
  if (start == std::string::npos || start >= to) return {std::string::npos, 0};
  const size_t end = xml.find("</" + name + ">", start);
  if (end == std::string::npos || end > to) return {std::string::npos, 0};
  return {start + open.size(), end - start - open.size()};
}

// Sets the element `name` within [from, to) to `value`, or adds it before
// `to` where it is not there; returns how much longer the text became.
std::ptrdiff_t setElement(std::string& xml, const std::string& name, const std::string& value, size_t from,
                          size_t to) {
  const auto [at, length] = contentOf(xml, name, from, to);
  if (at != std::string::npos) {
    xml.replace(at, length, value);
    return static_cast<std::ptrdiff_t>(value.size()) - static_cast<std::ptrdiff_t>(length);
  }
  const std::string added = element(name, value);
  xml.insert(to, added);
  return static_cast<std::ptrdiff_t>(added.size());
}

// A whole number in `text`, or -1.
long numberIn(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stol(text);
}

// Why the blocks this edits cannot be edited safely in `xml`, or nothing:
// the document's end, and each of SPEED, TRACK_LIST and every TRACK whole,
// in order, within it (an element opened with attributes, or closed where
// it opens, is not taken apart either).
std::string uneditable(const std::string& xml) {
  const size_t root = xml.rfind("</BWFXML>");
  if (root == std::string::npos) return "it has no </BWFXML>";
  for (const std::string name : {"SPEED", "TRACK_LIST"}) {
    const size_t open = xml.find("<" + name);
    if (open == std::string::npos) continue;
    const size_t after = open + 1 + name.size();
    if (after >= xml.size() || xml[after] != '>') return "its <" + name + "> has a form this does not edit";
    const size_t close = xml.find("</" + name + ">", after);
    if (close == std::string::npos || close > root) return "its <" + name + "> has no end";
    if (name != "TRACK_LIST") continue;
    for (size_t at = xml.find("<TRACK>", after); at != std::string::npos && at < close;
         at = xml.find("<TRACK>", at + 1)) {
      const size_t end = xml.find("</TRACK>", at);
      if (end == std::string::npos || end > close) return "a <TRACK> of its <TRACK_LIST> has no end";
    }
  }
  return {};
}

// The SPEED block: the time stamp and the timecode's rate and flag.
void carrySpeed(std::string& xml, const BroadcastInfo& info) {
  size_t open = xml.find("<SPEED>");
  if (open == std::string::npos) {
    xml.insert(xml.rfind("</BWFXML>"), element("SPEED", ""));
    open = xml.find("<SPEED>");
  }
  const size_t from = open + 7;
  size_t to = xml.find("</SPEED>", from);
  const std::pair<const char*, std::string> fields[] = {
      {"MASTER_SPEED", info.timecodeRate},
      {"CURRENT_SPEED", info.timecodeRate},
      {"TIMECODE_RATE", info.timecodeRate},
      {"TIMECODE_FLAG", info.dropFrame ? "DF" : "NDF"},
      {"TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI", std::to_string(info.timeReference >> 32)},
      {"TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", std::to_string(info.timeReference & 0xFFFFFFFFU)},
      {"TIMESTAMP_SAMPLE_RATE", std::to_string(info.sampleRate)},
  };
  for (const auto& [name, value] : fields) to = static_cast<size_t>(static_cast<std::ptrdiff_t>(to) + setElement(xml, name, value, from, to));
}

// The TRACK_LIST: the tracks from `ltcChannel` on move up one, and an LTC
// track takes its place.
void carryTracks(std::string& xml, int ltcChannel) {
  if (xml.find("<TRACK_LIST>") == std::string::npos) {
    xml.insert(xml.rfind("</BWFXML>"), element("TRACK_LIST", element("TRACK_COUNT", "0")));
  }
  const size_t open = xml.find("<TRACK_LIST>");
  size_t insertAt = std::string::npos;
  long count = 0;
  for (size_t at = xml.find("<TRACK>", open); at != std::string::npos && at < xml.find("</TRACK_LIST>", open);
       at = xml.find("<TRACK>", at + 1)) {
    ++count;
    for (const char* index : {"CHANNEL_INDEX", "INTERLEAVE_INDEX"}) {
      const auto [value, length] = contentOf(xml, index, at, xml.find("</TRACK>", at));
      const long n = value == std::string::npos ? -1 : numberIn(xml.substr(value, length));
      if (n < ltcChannel) continue;
      xml.replace(value, length, std::to_string(n + 1));
      if (insertAt == std::string::npos) insertAt = at;
    }
  }
  if (insertAt == std::string::npos) insertAt = xml.find("</TRACK_LIST>", open);
  const std::string index = std::to_string(ltcChannel);
  xml.insert(insertAt, element("TRACK", element("CHANNEL_INDEX", index) + element("INTERLEAVE_INDEX", index) +
                                            element("NAME", "LTC")));
  setElement(xml, "TRACK_COUNT", std::to_string(count + 1), open, xml.find("</TRACK_LIST>", open));
}

}  // namespace

WavChunk carriedIxml(const WavChunk& ixml, int ltcChannel, const BroadcastInfo& info, std::string& problem) {
  std::string xml(ixml.bytes.begin(), ixml.bytes.end());
  problem = uneditable(xml);
  if (!problem.empty()) return ixml;
  carrySpeed(xml, info);
  carryTracks(xml, ltcChannel);
  if (xml.size() % 2 != 0) xml += xml.back() == '\0' ? '\0' : ' ';
  return {ixml.id, {xml.begin(), xml.end()}};
}

}  // namespace stampline
