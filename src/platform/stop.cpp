#include "platform/stop.h"

namespace stampline {

bool stopRequested(StopFlag stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

}  // namespace stampline
