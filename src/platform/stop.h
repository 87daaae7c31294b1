#ifndef STAMPLINE_PLATFORM_STOP_H_
#define STAMPLINE_PLATFORM_STOP_H_

#include <atomic>

namespace stampline {

// How an operation that may wait ended: done, failed, or given up because a
// stop was requested while it waited (a FIFO without a reader, a pipe whose
// reader has stopped reading).
enum class [[nodiscard]] IoResult { kDone, kFailed, kStopped };

// A request to stop, set from a signal handler or the console's thread: the
// signal number, or 0. Lock-free, so a handler may store it.
using StopFlag = const std::atomic<int>*;
static_assert(std::atomic<int>::is_always_lock_free);

// Whether `stop` (which may be null: never) holds a request.
bool stopRequested(StopFlag stop);

}  // namespace stampline

#endif  // STAMPLINE_PLATFORM_STOP_H_
