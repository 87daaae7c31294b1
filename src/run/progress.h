#ifndef STAMPLINE_RUN_PROGRESS_H_
#define STAMPLINE_RUN_PROGRESS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/process.h"
#include "timecode/timecode.h"

namespace stampline {

// One self-overwriting status line for long runs on a terminal: percent done,
// the timecode being written, the time elapsed and, once a second has passed,
// the write rate and an estimate of the time left. The fields at the end are
// left out where the terminal is too narrow, so the line never wraps.
// Redrawn at most ten times a second; a line without a stream prints nothing.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressLine(const Terminal& terminal, uint64_t totalFrames, uint64_t totalBytes,
               std::function<Clock::time_point()> clock = Clock::now);

  // Reports that frame `index` carrying `timecode` is being written.
  void update(uint64_t index, TimecodeWord timecode) {
    if (terminal_.out == nullptr) return;
    const Clock::time_point now = clock_();
    if (now >= nextDraw_) draw(index, timecode, now);
  }
  // Erases the line, leaving the cursor where the line started.
  void finish();

 private:
  void draw(uint64_t index, TimecodeWord timecode, Clock::time_point now);

  Terminal terminal_;
  uint64_t totalFrames_;
  uint64_t totalBytes_;
  std::function<Clock::time_point()> clock_;
  Clock::time_point start_;
  Clock::time_point nextDraw_;
  size_t drawn_ = 0;  // length of the line on screen
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_PROGRESS_H_
