#include "cli/play_report.h"

#include <cinttypes>
#include <cmath>

#include <nlohmann/json.hpp>

#include "timecode/label_text.h"

namespace stampline {
namespace {

using Json = nlohmann::ordered_json;

void printLine(std::FILE* out, const Json& j) {
  std::fprintf(out, "%s\n", j.dump().c_str());
  std::fflush(out);
}

double rounded(double v, int places) {
  const double scale = std::pow(10.0, places);
  return std::round(v * scale) / scale;
}

}  // namespace

std::string statusText(const PlayStatus& s) {
  char text[160];
  const std::string label = formatLabel(s.label, s.dropFrame);
  const double latencyMs = s.sampleRate > 0 ? s.latencySamples * 1000 / s.sampleRate : 0;
  if (s.offsetMicros) {
    std::snprintf(text, sizeof text, "%s  edge %+.1f us  card %+.1f ppm  xruns %" PRIu64 "  latency %.0f (%.1f ms)",
                  label.c_str(), *s.offsetMicros, s.ppm, s.xruns, s.latencySamples, latencyMs);
  } else {
    std::snprintf(text, sizeof text, "%s  free run  xruns %" PRIu64 "  latency %.0f (%.1f ms)", label.c_str(),
                  s.xruns, s.latencySamples, latencyMs);
  }
  return text;
}

void TextPlayReport::started(const std::vector<std::string>& ports, const std::vector<std::string>& connected,
                             uint32_t sampleRate, uint32_t period) {
  std::string names;
  for (const std::string& port : ports) names += (names.empty() ? "" : ", ") + port;
  std::fprintf(out_, "Playing on %s (%u Hz, %u-sample periods)\n", names.c_str(), sampleRate, period);
  for (size_t i = 0; i < ports.size(); ++i) {
    if (i < connected.size()) {
      std::fprintf(out_, "  %s -> %s\n", ports[i].c_str(), connected[i].c_str());
    } else {
      std::fprintf(out_, "  %s is not connected: jack_connect %s PORT\n", ports[i].c_str(), ports[i].c_str());
    }
  }
}

void TextPlayReport::clearStatus() {
  if (!statusShown_) return;
  std::fprintf(terminal_.out, "\r%*s\r", terminal_.width - 1, "");
  std::fflush(terminal_.out);
  statusShown_ = false;
}

void TextPlayReport::status(const PlayStatus& s) {
  if (terminal_.out == nullptr) return;
  std::string text = statusText(s);
  if (static_cast<int>(text.size()) >= terminal_.width) text.resize(static_cast<size_t>(std::max(terminal_.width - 1, 0)));
  std::fprintf(terminal_.out, "\r%-*s\r", terminal_.width - 1, text.c_str());
  std::fflush(terminal_.out);
  statusShown_ = true;
}

void TextPlayReport::event(const PlayEvent& e) {
  clearStatus();
  switch (e.type) {
    case PlayEvent::Type::kJump:
      std::fprintf(out_, "The clock moved: the labels jump to %s\n", formatLabel(e.label, e.dropFrame).c_str());
      break;
    case PlayEvent::Type::kClockStep:
      std::fprintf(out_, "The system clock stepped by %+.6f s\n", static_cast<double>(e.nanos) / 1e9);
      break;
    case PlayEvent::Type::kXrun:
      std::fprintf(out_, "Xrun: JACK lost a cycle (%" PRIu64 " so far); the labels stay on the clock\n", e.count);
      break;
    case PlayEvent::Type::kUnderrun:
      std::fprintf(out_, "%" PRIu64 " samples came too late and played as silence\n", e.count);
      break;
    case PlayEvent::Type::kBufferSize:
      std::fprintf(out_, "JACK's buffer size is now %u samples\n", e.period);
      break;
  }
  std::fflush(out_);
}

void JsonPlayReport::started(const std::vector<std::string>& ports, const std::vector<std::string>& connected,
                             uint32_t sampleRate, uint32_t period) {
  printLine(out_, Json{{"type", "started"}, {"ports", ports}, {"sample_rate", sampleRate}, {"period", period}});
  for (size_t i = 0; i < ports.size() && i < connected.size(); ++i) {
    printLine(out_, Json{{"type", "connection"}, {"port", ports[i]}, {"to", connected[i]}});
  }
}

void JsonPlayReport::status(const PlayStatus& s) {
  Json j{{"type", "status"}, {"label", formatLabel(s.label, s.dropFrame)}};
  j["offset_us"] = s.offsetMicros ? Json(rounded(*s.offsetMicros, 1)) : Json(nullptr);
  j["ppm"] = rounded(s.ppm, 2);
  j["xruns"] = s.xruns;
  j["latency_samples"] = s.latencySamples;
  j["callback_us"] = rounded(s.longestCallbackMicros, 1);
  printLine(out_, j);
}

void JsonPlayReport::event(const PlayEvent& e) {
  switch (e.type) {
    case PlayEvent::Type::kJump:
      printLine(out_, Json{{"type", "jump"}, {"label", formatLabel(e.label, e.dropFrame)}});
      break;
    case PlayEvent::Type::kClockStep:
      printLine(out_, Json{{"type", "clock_step"}, {"seconds", rounded(static_cast<double>(e.nanos) / 1e9, 6)}});
      break;
    case PlayEvent::Type::kXrun:
      printLine(out_, Json{{"type", "xrun"}, {"xruns", e.count}});
      break;
    case PlayEvent::Type::kUnderrun:
      printLine(out_, Json{{"type", "underrun"}, {"samples", e.count}});
      break;
    case PlayEvent::Type::kBufferSize:
      printLine(out_, Json{{"type", "buffer_size"}, {"period", e.period}});
      break;
  }
}

}  // namespace stampline
