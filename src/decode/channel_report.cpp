#include "decode/channel_report.h"

#include <numeric>

namespace stampline {

const char* eventName(EventType type) {
  switch (type) {
    case EventType::kJump: return "jump";
    case EventType::kRepeat: return "repeat";
    case EventType::kGap: return "gap";
    case EventType::kDirection: return "direction";
    case EventType::kDropFrame: return "drop_frame";
    case EventType::kUserBits: return "user_bits";
    case EventType::kTimeStamp: return "time_stamp";
    case EventType::kInvalid: return "invalid";
    case EventType::kTruncated: return "truncated";
    case EventType::kRate: return "rate";
    case EventType::kUnreadable: return "unreadable";
  }
  return "?";
}

uint64_t ChannelReport::eventTotal() const {
  return std::accumulate(eventCounts.begin(), eventCounts.end(), uint64_t{0});
}

}  // namespace stampline
