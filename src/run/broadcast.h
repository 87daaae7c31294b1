#ifndef STAMPLINE_RUN_BROADCAST_H_
#define STAMPLINE_RUN_BROADCAST_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "run/signal.h"
#include "timecode/frame_schedule.h"
#include "wav/broadcast_wave.h"
#include "wav/wav_header.h"

namespace stampline {

// When a Broadcast Wave file says it was made, and what tells it from every
// other file.
struct Origination {
  std::time_t time = 0;
  bool utc = false;     // shown in UTC rather than local time
  uint64_t unique = 0;  // random, or derived from a fixed time for reproducible files
};

// When and as what a run's file is made: now, with a random reference, or
// at SOURCE_DATE_EPOCH, shown in UTC, with a reference drawn from it and
// `identity` (the request as text), so that the same run at the same epoch
// gives the same file.
Origination origination(const std::string& identity, std::optional<int64_t> sourceDateEpoch);

// What a file of `layout` carrying `signal` on `schedule` says of its
// timecode in bext and iXML: the time reference (the first sample's place
// on the day's grid), the rate and counting, the samples, and this program
// as what made it.
BroadcastInfo timecodeInfo(const LtcSignal& signal, const FrameSchedule& schedule, const WavLayout& layout);

// The bext and iXML chunks of a run's file.
struct BroadcastChunks {
  WavChunk bext;
  WavChunk ixml;
  std::vector<WavChunk> both() const { return {bext, ixml}; }
};
// Those of a file of `layout` (its chunks aside): its timecodeInfo, its
// description ("LTC 29.97 DF, start 01:00:00;00, 48000 Hz", and the user
// bits as "sUBITS=$HHHHHHHH" when the frames carry any), the origination,
// and a name for each channel in the iXML.
BroadcastChunks broadcastChunks(const LtcSignal& signal, const FrameSchedule& schedule, const WavLayout& layout,
                                const Origination& made, const std::vector<std::string>& trackNames);
// What a file's tracks are, for the iXML: "LTC" on every channel, or on
// `timecodeChannel` (1-based) alone and "silence" on the others.
std::vector<std::string> ltcTrackNames(int32_t channels, std::optional<int32_t> timecodeChannel);

}  // namespace stampline

#endif  // STAMPLINE_RUN_BROADCAST_H_
