#include "cli/broadcast.h"

#include <cinttypes>
#include <cstdio>

#include "cli/process.h"
#include "cli/progress.h"
#include "wav/broadcast_wave.h"

namespace stampline {

std::string rateName(const FrameRate& rate) {
  if (rate == kRate23976) return "23.976";
  if (rate == kRate2997) return "29.97";
  return std::to_string(rate.numerator / rate.denominator);
}

std::vector<WavChunk> broadcastChunks(const Settings& settings, const FrameSchedule& schedule,
                                      const Origination& origination) {
  BroadcastInfo info;
  std::string start = formatTimecode(schedule.label(0));
  if (settings.dropFrame) start[8] = ';';
  info.description = "LTC " + rateName(settings.frameRate) + (settings.dropFrame ? " DF" : " NDF") +
                     ", start " + start + ", " + std::to_string(settings.sampleRate) + " Hz";
  char text[64];
  if (settings.userBits.kind != UserBits::Kind::kNone) {
    // As field recorders note them.
    std::snprintf(text, sizeof text, "\r\nsUBITS=$%08" PRIX32, userBitsWord(settings.userBits, 0));
    info.description += text;
  }
  info.originator = "Stampline";
  const std::tm when = calendarTime(origination.time, origination.utc);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.tm_year + 1900, when.tm_mon + 1,
                when.tm_mday);
  info.originationDate = text;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", when.tm_hour, when.tm_min, when.tm_sec);
  info.originationTime = text;
  std::snprintf(text, sizeof text, "STAMPLINE%04d%02d%02d%02d%02d%02d%08" PRIX32,
                when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min,
                when.tm_sec, static_cast<uint32_t>(origination.unique));
  info.originatorReference = text;
  info.timeReference = schedule.startSample();
  info.codingHistory = "A=PCM,F=" + std::to_string(settings.sampleRate) +
                       ",W=16,M=" + (settings.channels == 1 ? "mono" : "stereo") +
                       ",T=Stampline " STAMPLINE_VERSION "\r\n";
  info.timecodeRate = std::to_string(settings.frameRate.numerator) + "/" +
                      std::to_string(settings.frameRate.denominator);
  info.dropFrame = settings.dropFrame;
  info.sampleRate = settings.sampleRate;
  info.channels = settings.channels;
  return {bextChunk(info), ixmlChunk(info)};
}

}  // namespace stampline
