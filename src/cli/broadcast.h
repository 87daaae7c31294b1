#ifndef STAMPLINE_CLI_BROADCAST_H_
#define STAMPLINE_CLI_BROADCAST_H_

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "timecode/frame_schedule.h"
#include "wav/sample_format.h"
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
// the settings, so that the same run at the same epoch gives the same file.
Origination origination(const Settings& settings, std::optional<int64_t> sourceDateEpoch);

// The bext and iXML chunks of a run's file of `layout` (its chunks aside):
// its description ("LTC 29.97 DF, start 01:00:00;00, 48000 Hz", and the
// user bits as "sUBITS=$HHHHHHHH" when the frames carry any), the
// origination, the time reference (the first sample's place on the day's
// grid), the coding history, and the timecode's rate and a name for each
// channel in the iXML.
std::vector<WavChunk> broadcastChunks(const Settings& settings, const FrameSchedule& schedule,
                                      const WavLayout& layout, const Origination& made,
                                      const std::vector<std::string>& trackNames);
// What the file's tracks are, for the iXML: "LTC" on every channel, or on
// --timecode-channel alone and "silence" on the others.
std::vector<std::string> ltcTrackNames(const Settings& settings);

}  // namespace stampline

#endif  // STAMPLINE_CLI_BROADCAST_H_
