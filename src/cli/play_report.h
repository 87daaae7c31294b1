#ifndef STAMPLINE_CLI_PLAY_REPORT_H_
#define STAMPLINE_CLI_PLAY_REPORT_H_

#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "run/play_run.h"

namespace stampline {

// What live output says as text: a line on starting (the ports, and how
// to connect them), a status line once a second redrawn in place on a
// terminal (standard error; none elsewhere), and a line for each event on
// the messages' stream.
class TextPlayReport final : public PlayListener {
 public:
  TextPlayReport(std::FILE* messages, Terminal terminal) : out_(messages), terminal_(terminal) {}
  void started(const std::vector<std::string>& ports, const std::vector<std::string>& connected, uint32_t sampleRate,
               uint32_t period) override;
  void status(const PlayStatus& status) override;
  void event(const PlayEvent& event) override;
  void finished() override { clearStatus(); }

 private:
  void clearStatus();
  std::FILE* out_;
  Terminal terminal_;
  bool statusShown_ = false;
};

// The same as one JSON object a line on `out`: "started", "connection",
// "status" once a second, and one per event ("jump", "clock_step",
// "xrun", "underrun", "buffer_size").
class JsonPlayReport final : public PlayListener {
 public:
  explicit JsonPlayReport(std::FILE* out) : out_(out) {}
  void started(const std::vector<std::string>& ports, const std::vector<std::string>& connected, uint32_t sampleRate,
               uint32_t period) override;
  void status(const PlayStatus& status) override;
  void event(const PlayEvent& event) override;
  void finished() override {}

 private:
  std::FILE* out_;
};

// The status line's text (for a terminal `width` wide).
std::string statusText(const PlayStatus& status);

}  // namespace stampline

#endif  // STAMPLINE_CLI_PLAY_REPORT_H_
