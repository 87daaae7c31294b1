#include "run/progress.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "timecode/label_text.h"

namespace stampline {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

ProgressLine::ProgressLine(const Terminal& terminal, uint64_t totalFrames, uint64_t totalBytes,
                           std::function<Clock::time_point()> clock)
    : terminal_(terminal),
      totalFrames_(totalFrames),
      totalBytes_(totalBytes),
      clock_(std::move(clock)),
      start_(clock_()),
      nextDraw_(start_) {}

void ProgressLine::draw(uint64_t index, TimecodeWord timecode, Clock::time_point now) {
  nextDraw_ = now + kRedrawInterval;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double percent = totalFrames_ == 0 ? 100.0 : 100.0 * static_cast<double>(index) /
                                                         static_cast<double>(totalFrames_);
  std::vector<std::string> fields = {printed("%5.1f%%", percent), formatLabel(timecode),
                                     printed("%.1fs", elapsed)};
  // The rate means little before a second has passed.
  if (elapsed >= 1.0 && index > 0) {
    // Frames differ in length by a sample at most: the mean is exact enough.
    const double frameBytes = static_cast<double>(totalBytes_) / static_cast<double>(totalFrames_);
    const double bytesPerSecond = static_cast<double>(index) * frameBytes / elapsed;
    const double left = static_cast<double>(totalFrames_ - index) * frameBytes / bytesPerSecond;
    const auto seconds = static_cast<unsigned long long>(std::llround(left));
    char text[64];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu left", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    fields.push_back(printed("%.1f MB/s", bytesPerSecond / 1e6));
    fields.emplace_back(text);
  }
  // Never as wide as the terminal: a line that reaches the last column
  // wraps on some terminals, and every redraw would leave a row behind.
  std::string line;
  for (const std::string& field : fields) {
    const size_t longer = line.size() + (line.empty() ? 0 : 2) + field.size();
    if (static_cast<int>(longer) >= terminal_.width) break;
    if (!line.empty()) line += "  ";
    line += field;
  }
  std::fputc('\r', terminal_.out);
  std::fputs(line.c_str(), terminal_.out);
  if (terminal_.escapes) {
    std::fputs("\x1b[K", terminal_.out);
  } else if (drawn_ > line.size()) {
    // Without escape codes, blanks cover what is left of the line before.
    std::fprintf(terminal_.out, "%*s", static_cast<int>(drawn_ - line.size()), "");
  }
  std::fflush(terminal_.out);
  drawn_ = std::max(line.size(), terminal_.escapes ? size_t{1} : drawn_);
}

void ProgressLine::finish() {
  if (terminal_.out == nullptr || drawn_ == 0) return;
  if (terminal_.escapes) {
    std::fputs("\r\x1b[K", terminal_.out);
  } else {
    std::fprintf(terminal_.out, "\r%*s\r", static_cast<int>(drawn_), "");
  }
  std::fflush(terminal_.out);
  drawn_ = 0;
}

}  // namespace stampline
