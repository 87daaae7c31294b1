#include "cli/analysis_report.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "timecode/frame_rate.h"
#include "timecode/label_text.h"

namespace stampline {
namespace {

using Json = nlohmann::ordered_json;

std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  std::string result = text;
  // A value that rounds to zero reads as zero, whatever its sign.
  if (result.size() > 1 && result[0] == '-' && result.find_first_not_of("0.", 1) == std::string::npos) {
    result[0] = '+';
    if (std::strchr(format, '+') == nullptr) result.erase(0, 1);
  }
  return result;
}

// A time in the file as HH:MM:SS.mmm.
std::string fileTime(uint64_t sample, int32_t rate) {
  const uint64_t ms = sample * 1000 / static_cast<uint64_t>(rate);
  char text[64];
  std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64,
                ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return text;
}

double seconds(uint64_t sample, int32_t rate) { return static_cast<double>(sample) / rate; }
// To `decimals` places, as the nearest double to the decimal figure (so
// that JSON shows -5.6, not -5.6000000000000005).
double rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale + 0.0;  // never -0
}

// The JSON's name for a kind of sample.
const char* sampleFormatName(SampleFormat format) {
  switch (format.companding) {
    case SampleFormat::Companding::kALaw: return "alaw";
    case SampleFormat::Companding::kMuLaw: return "mulaw";
    case SampleFormat::Companding::kNone: break;
  }
  return format.floating ? "float" : "pcm";
}

std::string hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08" PRIX32, value);
  return text;
}

std::string flags(unsigned bits) {
  return std::string{static_cast<char>('0' + ((bits >> 2) & 1U)), static_cast<char>('0' + ((bits >> 1) & 1U)),
                     static_cast<char>('0' + (bits & 1U))};
}

std::string direction(const ChannelReport& r) {
  return r.forward && r.backward ? "both" : r.backward ? "backward" : "forward";
}

std::string polarity(const ChannelReport& r) {
  return r.polarity > 0 ? "rising" : r.polarity < 0 ? "falling" : "both";
}

std::string dateText(const ChannelReport& r) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u-%02u-%02u", r.year, r.month, r.day);
  return text;
}

// A label with ';' before the frames where its frame says drop-frame.
std::string labelText(TimecodeWord label, bool dropFrame) { return formatLabel(label, dropFrame); }

bool hasLength(const Event& e) { return e.type == EventType::kGap || e.type == EventType::kUnreadable; }

void printEvent(std::FILE* out, const Event& e, int32_t rate) {
  std::fprintf(out, "    %-11s at sample %" PRIu64 " (%s)", eventName(e.type), e.sample,
               fileTime(e.sample, rate).c_str());
  if (hasLength(e)) std::fprintf(out, ", %" PRIu64 " samples", e.length);
  if (e.before || e.after) {
    std::fprintf(out, ": %s -> %s", e.before ? labelText(*e.before, e.beforeDropFrame).c_str() : "(none)",
                 e.after ? labelText(*e.after, e.afterDropFrame).c_str() : "(none)");
  }
  if (!e.detail.empty()) std::fprintf(out, " (%s)", e.detail.c_str());
  std::fputc('\n', out);
}

void printEvents(std::FILE* out, const ChannelReport& r, int32_t rate) {
  if (r.eventTotal() == 0) {
    std::fputs("  events        none\n", out);
    return;
  }
  std::string counts;
  for (size_t t = 0; t < kEventTypes; ++t) {
    if (r.eventCounts[t] == 0) continue;
    counts += std::string(counts.empty() ? "" : ", ") + eventName(static_cast<EventType>(t)) + " " +
              std::to_string(r.eventCounts[t]);
  }
  std::fprintf(out, "  events        %" PRIu64 " (%s)%s:\n", r.eventTotal(), counts.c_str(),
               r.eventTotal() > r.events.size() ? printed("; the first %.0f", static_cast<double>(r.events.size())).c_str() : "");
  for (const Event& e : r.events) printEvent(out, e, rate);
}

// "29.97 (30000/1001), detected; drop-frame", or why there is none.
std::string rateText(const ChannelReport& r, const RatePart& part) {
  if (!part.rateKnown && !r.rateStated) return "unknown (fewer than three frames confirmed)";
  return rateName(part.rate) + " (" + rateFraction(part.rate) + "), " + (r.rateStated ? "as stated" : "detected") +
         "; " + (part.dropFrame ? "drop-frame" : "non-drop");
}

std::string speedText(const RatePart& part) {
  if (!part.rateKnown) return "unknown";
  return printed("%+.1f", part.speedPpm) + " ppm; jitter " + printed("%.2f", part.jitterSamples) + " samples";
}

// A finite figure as `format` prints it, or "unknown".
std::string figure(const char* format, double value) {
  return std::isfinite(value) ? printed(format, value) : "unknown";
}

void printChannel(std::FILE* out, const ChannelReport& r, int32_t rate) {
  std::fprintf(out, "Channel %d: LTC, %" PRIu64 " frames, %s\n", r.channel, r.frames,
               direction(r).c_str());
  for (const auto& [name, f] : {std::pair{"first", &r.first}, std::pair{"last", &r.last}}) {
    std::fprintf(out, "  %-13s %s at sample %" PRIu64 " (%s)\n", name,
                 labelText(f->label, f->dropFrame).c_str(), f->sample, fileTime(f->sample, rate).c_str());
  }
  const RatePart first = r.parts.empty() ? RatePart{} : r.parts.front();
  std::fprintf(out, "  frame rate    %s\n", rateText(r, first).c_str());
  if (r.parts.size() > 1) {
    std::fprintf(out, "  parts         %zu, at different rates:\n", r.parts.size());
    for (const RatePart& part : r.parts) {
      std::fprintf(out, "    %s to %s: %" PRIu64 " frames from sample %" PRIu64 ", %s; speed %s\n",
                   labelText(part.first.label, part.first.dropFrame).c_str(),
                   labelText(part.last.label, part.last.dropFrame).c_str(), part.frames, part.first.sample,
                   rateText(r, part).c_str(), speedText(part).c_str());
    }
  }
  std::string bits = hex8(r.userBits) + (r.userBitsChanges == 0 ? " throughout"
                                                                 : ", changing " + std::to_string(r.userBitsChanges) + " times");
  bits += ", group flags " + flags(r.groupFlags);
  if (r.holdsDate) bits += "; date " + dateText(r) + " (YY-MM-DD), time zone code " + hex8(r.timeZone).substr(6);
  std::fprintf(out, "  user bits     %s\n", bits.c_str());
  std::fprintf(out, "  level         %s dBFS peak; frames start %s; rise time %s us\n",
               figure("%.2f", r.peakDbfs).c_str(), polarity(r).c_str(), figure("%.1f", r.riseMicroseconds).c_str());
  std::fprintf(out, "  speed         %s\n", speedText(first).c_str());
  if (r.timeReference && r.timeReferencePastDay) {
    std::fputs("  time stamp    not compared: the time reference lies a day or more past midnight\n", out);
  } else if (r.timeReference) {
    std::fprintf(out, "  time stamp    %s samples at the first frame, %s at worst; it says %s\n",
                 printed("%+.0f", r.firstDifference).c_str(), printed("%+.0f", r.worstDifference).c_str(),
                 labelText(r.impliedLabel, r.dropFrame).c_str());
  }
  if (r.invalidFrames > 0 || r.nonFiniteSamples > 0) {
    std::fprintf(out, "  refused       %" PRIu64 " frames read (%" PRIu64 " unconfirmed); %" PRIu64
                      " samples not a number or infinite\n",
                 r.invalidFrames, r.unconfirmedFrames, r.nonFiniteSamples);
  }
  printEvents(out, r, rate);
}

// A channel without a confirmed frame: a signal like LTC that could not be
// read, or none (and how many frames read there were refused).
void printWithoutLtc(std::FILE* out, const ChannelReport& r, int32_t rate) {
  if (r.unreadable()) {
    std::fprintf(out, "Channel %d: a signal like LTC, unreadable: no frame confirmed (%" PRIu64
                      " frames read, %" PRIu64 " unconfirmed)\n",
                 r.channel, r.invalidFrames, r.unconfirmedFrames);
    printEvents(out, r, rate);
    return;
  }
  std::fprintf(out, "Channel %d: no LTC", r.channel);
  if (r.invalidFrames > 0) {
    std::fprintf(out, " (%" PRIu64 " frames read, none confirmed)", r.invalidFrames);
  }
  std::fputc('\n', out);
}

Json frameJson(const FrameRecord& f, int32_t rate) {
  return {{"label", labelText(f.label, f.dropFrame)}, {"sample", f.sample}, {"time", seconds(f.sample, rate)}};
}

Json eventJson(const Event& e, int32_t rate) {
  Json j = {{"type", eventName(e.type)}, {"sample", e.sample}, {"time", seconds(e.sample, rate)}};
  j["before"] = e.before ? Json(labelText(*e.before, e.beforeDropFrame)) : Json(nullptr);
  j["after"] = e.after ? Json(labelText(*e.after, e.afterDropFrame)) : Json(nullptr);
  if (hasLength(e)) j["length"] = e.length;
  if (!e.detail.empty()) j["detail"] = e.detail;
  return j;
}

// A rate, or null where fewer than three frames leave it unknown.
Json rateJson(const ChannelReport& r, const RatePart& part, bool name) {
  if (!part.rateKnown && !r.rateStated) return nullptr;
  return name ? rateName(part.rate) : rateFraction(part.rate);
}

Json partJson(const ChannelReport& r, const RatePart& part, int32_t rate) {
  return {{"first", frameJson(part.first, rate)},
          {"last", frameJson(part.last, rate)},
          {"frames", part.frames},
          {"frame_rate", rateJson(r, part, false)},
          {"frame_rate_name", rateJson(r, part, true)},
          {"drop_frame", part.dropFrame},
          {"speed_ppm", part.rateKnown ? Json(rounded(part.speedPpm, 1)) : Json(nullptr)},
          {"jitter_samples", part.rateKnown ? Json(rounded(part.jitterSamples, 2)) : Json(nullptr)}};
}

Json eventsJson(const ChannelReport& r, int32_t rate, Json& j) {
  Json events = Json::array();
  for (const Event& e : r.events) events.push_back(eventJson(e, rate));
  j["events"] = events;
  Json counts = Json::object();
  for (size_t t = 0; t < kEventTypes; ++t) counts[eventName(static_cast<EventType>(t))] = r.eventCounts[t];
  j["event_counts"] = counts;
  return j;
}

Json channelJson(const ChannelReport& r, int32_t rate) {
  Json j = {{"channel", r.channel},
            {"ltc", r.carriesLtc()},
            {"frames", r.frames},
            {"invalid_frames", r.invalidFrames},
            {"unconfirmed_frames", r.unconfirmedFrames},
            {"non_finite_samples", r.nonFiniteSamples},
            {"unreadable", r.unreadable()}};
  if (!r.carriesLtc()) return r.unreadable() ? eventsJson(r, rate, j) : j;
  const RatePart first = r.parts.empty() ? RatePart{} : r.parts.front();
  j["first"] = frameJson(r.first, rate);
  j["last"] = frameJson(r.last, rate);
  j["direction"] = direction(r);
  j["frame_rate"] = rateJson(r, first, false);
  j["frame_rate_name"] = rateJson(r, first, true);
  j["frame_rate_stated"] = r.rateStated;
  j["drop_frame"] = r.dropFrame;
  Json parts = Json::array();
  for (const RatePart& part : r.parts) parts.push_back(partJson(r, part, rate));
  j["parts"] = parts;
  Json bits = {{"value", hex8(r.userBits)}, {"changes", r.userBitsChanges},
               {"binary_group_flags", flags(r.groupFlags)}};
  if (r.holdsDate) {
    bits["date"] = {{"year", r.year}, {"month", r.month}, {"day", r.day}};
    bits["time_zone"] = hex8(r.timeZone).substr(6);
  }
  j["user_bits"] = bits;
  j["level_dbfs"] = std::isfinite(r.peakDbfs) ? Json(rounded(r.peakDbfs, 2)) : Json(nullptr);
  j["polarity"] = polarity(r);
  j["rise_time_us"] = std::isfinite(r.riseMicroseconds) ? Json(rounded(r.riseMicroseconds, 1)) : Json(nullptr);
  j["speed_ppm"] = first.rateKnown ? Json(rounded(r.speedPpm, 1)) : Json(nullptr);
  j["jitter_samples"] = first.rateKnown ? Json(rounded(r.jitterSamples, 2)) : Json(nullptr);
  j["time_stamp"] = nullptr;
  if (r.timeReference && r.timeReferencePastDay) {
    j["time_stamp"] = {{"time_reference", *r.timeReference},
                       {"first_difference", nullptr},
                       {"worst_difference", nullptr},
                       {"label", nullptr}};
  } else if (r.timeReference) {
    j["time_stamp"] = {{"time_reference", *r.timeReference},
                       {"first_difference", r.firstDifference},
                       {"worst_difference", r.worstDifference},
                       {"label", labelText(r.impliedLabel, r.dropFrame)}};
  }
  return eventsJson(r, rate, j);
}

}  // namespace

void printTextReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels) {
  const WavInfo& info = file.info;
  std::fprintf(out, "%s: %s, %d Hz, %d channel%s of %s, %" PRIu64 " sample frames (%s)%s\n",
               file.name == "-" ? "standard input" : file.name.c_str(), info.rf64 ? "RF64" : "RIFF WAVE",
               info.sampleRate, info.channels, info.channels == 1 ? "" : "s", describeFormat(info.format).c_str(),
               file.sampleFrames, fileTime(file.sampleFrames, info.sampleRate).c_str(),
               file.truncated ? ", cut short" : "");
  if (info.timeReference) {
    std::fprintf(out, "Time stamp (bext): %" PRIu64 " samples since midnight\n", *info.timeReference);
  }
  std::string without;
  for (const ChannelReport& r : channels) {
    if (r.carriesLtc() || r.unreadable() || r.invalidFrames > 0 || channels.size() == 1) {
      if (r.carriesLtc()) {
        printChannel(out, r, info.sampleRate);
      } else {
        printWithoutLtc(out, r, info.sampleRate);
      }
    } else {
      without += (without.empty() ? "" : ", ") + std::to_string(r.channel);
    }
  }
  if (!without.empty()) std::fprintf(out, "No LTC on channel%s %s\n", without.find(',') != std::string::npos ? "s" : "", without.c_str());
}

void printJsonReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels,
                     int status) {
  const WavInfo& info = file.info;
  Json format = {{"container", info.rf64 ? "RF64" : "RIFF"},
                 {"sample_rate", info.sampleRate},
                 {"channels", info.channels},
                 {"sample_format", sampleFormatName(info.format)},
                 {"bits", info.format.bits},
                 {"sample_frames", file.sampleFrames},
                 {"duration", seconds(file.sampleFrames, info.sampleRate)},
                 {"truncated", file.truncated}};
  format["time_reference"] = info.timeReference ? Json(*info.timeReference) : Json(nullptr);
  Json ltc = Json::array();
  Json reports = Json::array();
  for (const ChannelReport& r : channels) {
    if (r.carriesLtc()) ltc.push_back(r.channel);
    reports.push_back(channelJson(r, info.sampleRate));
  }
  const Json document = {{"file", file.name},       {"format", format},   {"channels_scanned", file.scanned},
                         {"ltc_channels", ltc},     {"channels", reports}, {"status", status}};
  std::fputs(document.dump(2).c_str(), out);
  std::fputc('\n', out);
}

void printCsvHeader(std::FILE* csv) {
  std::fputs("channel,sample,label,drop_frame,color_frame,binary_group_flags,user_bits,direction,length,position\n",
             csv);
}

void printCsvRow(std::FILE* csv, int channel, const FrameRecord& row) {
  std::fprintf(csv, "%d,%" PRIu64 ",%s,%d,%d,%s,%s,%s,%" PRIu64 ",%.3f\n", channel, row.sample,
               labelText(row.label, row.dropFrame).c_str(), row.dropFrame ? 1 : 0, row.colourFrame ? 1 : 0,
               flags(row.groupFlags).c_str(), hex8(row.userBits).c_str(), row.forward ? "forward" : "backward",
               row.length, row.position);
}

}  // namespace stampline

namespace stampline {

void TextReport::finished(const FileFacts& file, const std::vector<ChannelReport>& channels, int) {
  printTextReport(out_, file, channels);
}

void JsonReport::finished(const FileFacts& file, const std::vector<ChannelReport>& channels, int status) {
  printJsonReport(out_, file, channels, status);
}

CsvReport::~CsvReport() {
  if (owned_) static_cast<void>(std::fclose(file_));
}

bool CsvReport::started(const FileFacts&, std::string& problem) {
  if (path_ == "-") {
    file_ = standardOutput_;
  } else {
    file_ = std::fopen(path_.c_str(), "w");
    owned_ = file_ != nullptr;
    if (!owned_) {
      problem = path_ + ": cannot be written: " + std::strerror(errno);
      return false;
    }
  }
  printCsvHeader(file_);
  return true;
}

bool CsvReport::ended(std::string& problem) {
  bool written = false;
  if (!owned_) {
    written = std::fflush(file_) == 0;
  } else {
    owned_ = false;
    const bool noError = std::ferror(file_) == 0;
    written = std::fclose(file_) == 0 && noError;
  }
  if (!written) problem = (path_ == "-" ? "standard output" : path_) + ": could not be written to its end";
  return written;
}

}  // namespace stampline
