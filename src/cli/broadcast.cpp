#include "cli/broadcast.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <random>

#include "platform/process.h"
#include "timecode/frame_rate.h"
#include "timecode/label_text.h"
#include "wav/broadcast_wave.h"

namespace stampline {

Origination origination(const Settings& s, std::optional<int64_t> sourceDateEpoch) {
  Origination o;
  if (sourceDateEpoch) {
    o.time = static_cast<std::time_t>(*sourceDateEpoch);
    o.utc = true;
    std::string seen = std::to_string(*sourceDateEpoch) + " " +
                             std::to_string(s.sampleRate) + " " + std::to_string(s.channels) +
                             " " + s.startText + " " + std::to_string(s.durationFrames) + " " +
                             rateName(s.frameRate) + (s.dropFrame ? " DF " : " NDF ") +
                             std::to_string(s.volume) + (s.clean ? " clean " : " noisy ") +
                             std::to_string(s.userBits.word) + " " +
                             std::to_string(s.userBits.startDay);
    // (What later versions added, only where it is not the default, so that
    // a file made without it keeps its reference.)
    if (s.format != kPcm16) seen += " depth " + std::to_string(s.format.bits) + (s.format.floating ? "f" : "");
    if (s.timecodeChannel) seen += " channel " + std::to_string(*s.timecodeChannel);
    if (s.mix) seen += " mix " + s.mixPath;
    // FNV-1a: the same settings at the same time give the same reference.
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

std::vector<std::string> ltcTrackNames(const Settings& settings) {
  const auto channels = static_cast<size_t>(settings.channels);
  if (!settings.timecodeChannel) return std::vector<std::string>(channels, "LTC");
  std::vector<std::string> names(channels, "silence");
  names[static_cast<size_t>(*settings.timecodeChannel - 1)] = "LTC";
  return names;
}

std::vector<WavChunk> broadcastChunks(const Settings& settings, const FrameSchedule& schedule,
                                      const WavLayout& layout, const Origination& made,
                                      const std::vector<std::string>& trackNames) {
  BroadcastInfo info;
  const std::string start = formatLabel(schedule.label(0), settings.dropFrame);
  info.description = "LTC " + rateName(settings.frameRate) + (settings.dropFrame ? " DF" : " NDF") +
                     ", start " + start + ", " + std::to_string(layout.sampleRate) + " Hz";
  char text[64];
  if (settings.userBits.kind != UserBits::Kind::kNone) {
    // As field recorders note them.
    std::snprintf(text, sizeof text, "\r\nsUBITS=$%08" PRIX32, userBitsWord(settings.userBits, 0));
    info.description += text;
  }
  info.originator = "Stampline";
  const std::tm when = calendarTime(made.time, made.utc);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.tm_year + 1900, when.tm_mon + 1,
                when.tm_mday);
  info.originationDate = text;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
  info.originationTime = text;
  std::snprintf(text, sizeof text, "STAMPLINE%04d%02d%02d%02d%02d%02d%08" PRIX32,
                when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min,
                when.tm_sec, static_cast<uint32_t>(made.unique));
  info.originatorReference = text;
  info.timeReference = schedule.startSample();
  info.codingTool = "Stampline " STAMPLINE_VERSION;
  info.timecodeRate = rateFraction(settings.frameRate);
  info.dropFrame = settings.dropFrame;
  info.sampleRate = layout.sampleRate;
  info.channels = layout.channels;
  info.format = layout.format;
  info.trackNames = trackNames;
  return {bextChunk(info), ixmlChunk(info)};
}

}  // namespace stampline
