#ifndef STAMPLINE_CLI_PROGRESS_H_
#define STAMPLINE_CLI_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "timecode/timecode.h"

namespace stampline {

// Formats a TimecodeWord as "HH:MM:SS:FF", each digit its nibble's value
// (digits above 9 show as the next characters after '9').
std::string formatTimecode(TimecodeWord word);

// One self-overwriting status line for long runs on a terminal: percent done,
// the timecode being written, the time elapsed and, once a second has passed,
// the write rate and an estimate of the time left. Redrawn at most ten times
// a second; a disabled line prints nothing at all.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // `out` is the terminal stream, or null for no progress line.
  ProgressLine(std::FILE* out, uint64_t totalFrames, uint64_t totalBytes);

  // Reports that frame `index` carrying `timecode` is being written.
  void update(uint64_t index, TimecodeWord timecode) {
    if (out_ != nullptr && Clock::now() >= nextDraw_) draw(index, timecode);
  }
  // Erases the line, leaving the cursor where the line started.
  void finish();

 private:
  void draw(uint64_t index, TimecodeWord timecode);

  std::FILE* out_;
  uint64_t totalFrames_;
  uint64_t totalBytes_;
  Clock::time_point start_;
  Clock::time_point nextDraw_;
  bool drawn_ = false;
};

}  // namespace stampline

#endif  // STAMPLINE_CLI_PROGRESS_H_
