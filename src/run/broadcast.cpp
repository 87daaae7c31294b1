#include "run/broadcast.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <random>

#include "platform/process.h"
#include "timecode/frame_rate.h"
#include "timecode/label_text.h"

namespace stampline {

Origination origination(const std::string& identity, std::optional<int64_t> sourceDateEpoch) {
  Origination o;
  if (sourceDateEpoch) {
    o.time = static_cast<std::time_t>(*sourceDateEpoch);
    o.utc = true;
    const std::string seen = std::to_string(*sourceDateEpoch) + " " + identity;
    // FNV-1a: the same request at the same time gives the same reference.
    o.unique = 14695981039346656037ULL;
    for (const char c : seen) o.unique = (o.unique ^ static_cast<uint8_t>(c)) * 1099511628211ULL;
    return o;
  }
  o.time = std::time(nullptr);
  try {
    std::random_device random;
    o.unique = uint64_t{random()} << 32 | random();
  } catch (const std::exception&) {
    // No source of randomness: the clock's finest count will do.
    o.unique = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  return o;
}

std::vector<std::string> ltcTrackNames(int32_t channels, std::optional<int32_t> timecodeChannel) {
  const auto count = static_cast<size_t>(channels);
  if (!timecodeChannel) return std::vector<std::string>(count, "LTC");
  std::vector<std::string> names(count, "silence");
  names[static_cast<size_t>(*timecodeChannel - 1)] = "LTC";
  return names;
}

BroadcastInfo timecodeInfo(const LtcSignal& signal, const FrameSchedule& schedule, const WavLayout& layout) {
  BroadcastInfo info;
  info.timeReference = schedule.startSample();
  info.codingTool = "Stampline " STAMPLINE_VERSION;
  info.timecodeRate = rateFraction(signal.rate);
  info.dropFrame = signal.dropFrame;
  info.sampleRate = layout.sampleRate;
  info.channels = layout.channels;
  info.format = layout.format;
  return info;
}

BroadcastChunks broadcastChunks(const LtcSignal& signal, const FrameSchedule& schedule, const WavLayout& layout,
                                const Origination& made, const std::vector<std::string>& trackNames) {
  BroadcastInfo info = timecodeInfo(signal, schedule, layout);
  const std::string start = formatLabel(schedule.label(0), signal.dropFrame);
  info.description = "LTC " + rateName(signal.rate) + (signal.dropFrame ? " DF" : " NDF") + ", start " + start +
                     ", " + std::to_string(layout.sampleRate) + " Hz";
  char text[64];
  if (signal.userBits.kind != UserBits::Kind::kNone) {
    // As field recorders note them.
    std::snprintf(text, sizeof text, "\r\nsUBITS=$%08" PRIX32, userBitsWord(signal.userBits, 0));
    info.description += text;
  }
  info.originator = "Stampline";
  const std::tm when = calendarTime(made.time, made.utc);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.tm_year + 1900, when.tm_mon + 1, when.tm_mday);
  info.originationDate = text;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
  info.originationTime = text;
  std::snprintf(text, sizeof text, "STAMPLINE%04d%02d%02d%02d%02d%02d%08" PRIX32, when.tm_year + 1900,
                when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec,
                static_cast<uint32_t>(made.unique));
  info.originatorReference = text;
  info.trackNames = trackNames;
  return {bextChunk(info), ixmlChunk(info)};
}

}  // namespace stampline
