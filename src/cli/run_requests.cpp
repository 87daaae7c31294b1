#include "cli/run_requests.h"

#include "timecode/frame_rate.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

LtcSignal signalOf(const Settings& s) {
  LtcSignal signal;
  signal.rate = s.frameRate;
  signal.dropFrame = s.dropFrame;
  signal.start = packTimecodeText(s.startText);
  signal.volume = s.volume;
  signal.clean = s.clean;
  signal.userBits = s.userBits;
  return signal;
}

// 0 or fewer frames: none.
uint64_t framesOf(const Settings& s) {
  return s.durationFrames > 0 ? static_cast<uint64_t>(s.durationFrames) : 0;
}

}  // namespace

std::string identityOf(const Settings& s) {
  std::string seen = std::to_string(s.sampleRate) + " " + std::to_string(s.channels) + " " + s.startText + " " +
                     std::to_string(s.durationFrames) + " " + rateName(s.frameRate) +
                     (s.dropFrame ? " DF " : " NDF ") + std::to_string(s.volume) +
                     (s.clean ? " clean " : " noisy ") + std::to_string(s.userBits.word) + " " +
                     std::to_string(s.userBits.startDay);
  if (s.format != kPcm16) seen += " depth " + std::to_string(s.format.bits) + (s.format.floating ? "f" : "");
  if (s.timecodeChannel) seen += " channel " + std::to_string(*s.timecodeChannel);
  if (s.mix) seen += " mix " + s.mixPath;
  return seen;
}

GenerationRequest generationRequest(const Settings& s) {
  GenerationRequest r;
  r.output = {s.outputPath, s.toStandardOutput};
  r.signal = signalOf(s);
  r.sampleRate = s.sampleRate;
  r.channels = s.channels;
  r.format = s.format;
  r.timecodeChannel = s.timecodeChannel;
  r.frames = framesOf(s);
  r.broadcastWave = s.broadcastWave;
  r.identity = identityOf(s);
  return r;
}

MixRequest mixRequest(const Settings& s) {
  MixRequest r;
  r.output = {s.outputPath, s.toStandardOutput};
  r.inputPath = s.mixPath;
  r.signal = signalOf(s);
  if (s.durationGiven) r.frames = framesOf(s);
  r.timecodeChannel = s.timecodeChannel;
  r.broadcastWave = s.broadcastWave;
  if (!s.sampleRateGiven.empty()) r.sampleRate = {s.sampleRate, s.sampleRateGiven};
  if (!s.channelsGiven.empty()) r.channels = {s.channels, s.channelsGiven};
  if (!s.depthGiven.empty()) r.format = {s.format, s.depthGiven};
  r.identity = identityOf(s);
  return r;
}

AnalysisRequest analysisRequest(const Settings& s) {
  AnalysisRequest r;
  r.path = s.analyzePath;
  r.channel = s.timecodeChannel;
  if (s.frameRateGiven) r.rate = s.frameRate;
  return r;
}

PlayRequest playRequest(const Settings& s) {
  PlayRequest r;
  r.signal = signalOf(s);
  r.freeRun = s.startGiven;
  r.dateToday = s.dateToday;
  if (s.durationGiven) r.frames = framesOf(s);
  if (!s.sampleRateGiven.empty()) r.sampleRate = s.sampleRate;
  r.channels = s.channels;
  r.timecodeChannel = s.timecodeChannel;
  r.name = s.clientName;
  r.connect = s.connect;
  r.downstreamDelay = s.downstreamDelay;
  return r;
}

}  // namespace stampline
