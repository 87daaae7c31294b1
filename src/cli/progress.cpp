#include "cli/progress.h"

#include <cmath>

namespace stampline {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

std::string formatTimecode(TimecodeWord word) {
  std::string text = "00:00:00:00";
  const auto digit = [word](int shift, uint32_t mask) {
    return static_cast<char>('0' + ((word >> shift) & mask));
  };
  text[0] = digit(4, 0xF);
  text[1] = digit(0, 0xF);
  text[3] = digit(12, 0xF);
  text[4] = digit(8, 0xF);
  text[6] = digit(20, 0xF);
  text[7] = digit(16, 0xF);
  text[9] = digit(28, 0x3);
  text[10] = digit(24, 0xF);
  return text;
}

ProgressLine::ProgressLine(std::FILE* out, uint64_t totalFrames, uint64_t totalBytes)
    : out_(out),
      totalFrames_(totalFrames),
      totalBytes_(totalBytes),
      start_(Clock::now()),
      nextDraw_(start_) {}

void ProgressLine::draw(uint64_t index, TimecodeWord timecode) {
  const auto now = Clock::now();
  nextDraw_ = now + kRedrawInterval;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double percent = totalFrames_ == 0 ? 100.0 : 100.0 * static_cast<double>(index) /
                                                         static_cast<double>(totalFrames_);
  // \r and erase-to-end-of-line redraw the line in place.
  std::fprintf(out_, "\r%5.1f%%  %s  %.1fs", percent, formatTimecode(timecode).c_str(), elapsed);
  // The rate means little before a second has passed.
  if (elapsed >= 1.0 && index > 0) {
    // Frames differ in length by a sample at most: the mean is exact enough.
    const double frameBytes = static_cast<double>(totalBytes_) / static_cast<double>(totalFrames_);
    const double bytesPerSecond = static_cast<double>(index) * frameBytes / elapsed;
    const double left = static_cast<double>(totalFrames_ - index) * frameBytes / bytesPerSecond;
    const auto seconds = static_cast<unsigned long long>(std::llround(left));
    std::fprintf(out_, "  %.1f MB/s  %llu:%02llu:%02llu left", bytesPerSecond / 1e6,
                 seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  std::fputs("\x1b[K", out_);
  std::fflush(out_);
  drawn_ = true;
}

void ProgressLine::finish() {
  if (out_ == nullptr || !drawn_) return;
  std::fputs("\r\x1b[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

}  // namespace stampline
