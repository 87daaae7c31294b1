#include "cli/analysis_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/analysis_report.h"
#include "decode/edge_finder.h"
#include "decode/ltc_analysis.h"
#include "decode/ltc_decoder.h"
#include "wav/input_file.h"
#include "wav/sample_format.h"
#include "wav/wav_reader.h"

namespace stampline {
namespace {

// Samples are read about this many bytes at a time.
constexpr size_t kReadBytes = size_t{4} << 20;

// One channel's way from samples to its report.
struct ChannelWork {
  ChannelWork(int channel, double fullScale, const AnalysisSettings& settings)
      : index(channel - 1), finder(fullScale), analysis(channel, settings) {}
  int index;  // 0-based
  EdgeFinder finder;
  LtcDecoder decoder;
  ChannelAnalysis analysis;
  std::vector<ReadFrame> frames;
  std::vector<FrameRecord> rows;
};

// The samples of one block through a channel's finder, decoder and analysis.
std::span<const Edge> edgesOf(EdgeFinder& finder, const SampleView& view, size_t at) {
  const auto stride = static_cast<size_t>(view.channels);
  switch (view.kind) {
    case SampleKind::kInt16:
      return finder.scan(static_cast<const int16_t*>(view.data) + at, stride, view.frames);
    case SampleKind::kInt32:
      return finder.scan(static_cast<const int32_t*>(view.data) + at, stride, view.frames);
    case SampleKind::kFloat:
      break;
  }
  return finder.scan(static_cast<const float*>(view.data) + at, stride, view.frames);
}

// A channel is scanned this many sample frames at a time, so that its
// reversals take little memory.
constexpr size_t kScanFrames = size_t{1} << 16;

void work(ChannelWork& c, const SampleView& view) {
  c.frames.clear();
  for (size_t done = 0; done < view.frames; done += kScanFrames) {
    SampleView part = view;
    part.frames = std::min(kScanFrames, view.frames - done);
    const size_t offset = done * static_cast<size_t>(view.channels);
    switch (view.kind) {
      case SampleKind::kInt16: part.data = static_cast<const int16_t*>(view.data) + offset; break;
      case SampleKind::kInt32: part.data = static_cast<const int32_t*>(view.data) + offset; break;
      case SampleKind::kFloat: part.data = static_cast<const float*>(view.data) + offset; break;
    }
    c.decoder.add(edgesOf(c.finder, part, static_cast<size_t>(c.index)), c.frames);
  }
  for (const ReadFrame& frame : c.frames) c.analysis.add(frame, c.rows);
  c.finder.setWindow(c.decoder.cellLength());
}

// The CSV's file: standard output, a file, or none.
struct CsvFile {
  std::FILE* file = nullptr;
  bool owned = false;
  ~CsvFile() {
    if (owned) std::fclose(file);
  }
};

// Every channel's work on a block: with two channels or more, half of them
// on a second thread (the machine's second core), the rest on this one.
// Where no thread can be started, all on this one.
void workAll(std::vector<std::unique_ptr<ChannelWork>>& channels, const SampleView& view) {
  const size_t half = (channels.size() + 1) / 2;
  std::thread other;
  if (channels.size() >= 2) {
    try {
      other = std::thread([&channels, &view, half] {
        for (size_t i = half; i < channels.size(); ++i) work(*channels[i], view);
      });
    } catch (const std::system_error&) {
      // No thread: this one does it all.
    }
  }
  const size_t here = other.joinable() ? half : channels.size();
  for (size_t i = 0; i < here; ++i) work(*channels[i], view);
  if (other.joinable()) other.join();
}

void writeRows(std::vector<std::unique_ptr<ChannelWork>>& channels, std::FILE* csv) {
  for (auto& c : channels) {
    if (csv != nullptr) {
      for (const FrameRecord& row : c->rows) printCsvRow(csv, c->index + 1, row);
    }
    c->rows.clear();
  }
}

int failed(std::FILE* err, const std::string& path, const std::string& why) {
  std::fprintf(err, "stampline: %s: %s\n", path == "-" ? "standard input" : path.c_str(), why.c_str());
  return kAnalysisFailed;
}

int statusOf(const std::vector<ChannelReport>& reports) {
  int status = kAnalysisNoLtc;
  for (const ChannelReport& r : reports) {
    if (!r.carriesLtc()) continue;
    if (r.eventTotal() > 0) return kAnalysisEvents;
    status = kAnalysisClean;
  }
  return status;
}

}  // namespace

int runAnalysis(const AnalysisRequest& request, std::FILE* out, std::FILE* err) {
  std::string why;
  const std::unique_ptr<InputFile> input = openInputFile(request.path, why);
  if (!input) return failed(err, request.path, "cannot be read: " + why);
  WavReader reader(*input);
  if (!reader.open(why)) return failed(err, request.path, why);
  FileFacts facts{request.path, reader.info(), 0, false, {}};
  const WavInfo& info = reader.info();
  if (request.channel && *request.channel > info.channels) {
    return failed(err, request.path, "has " + std::to_string(info.channels) +
                                         " channels, and --timecode-channel asks for channel " +
                                         std::to_string(*request.channel));
  }
  CsvFile csv;
  if (request.csvPath == "-") {
    csv.file = out;
  } else if (!request.csvPath.empty()) {
    csv.file = std::fopen(request.csvPath.c_str(), "w");
    if (csv.file == nullptr) return failed(err, request.csvPath, std::string("cannot be written: ") + std::strerror(errno));
    csv.owned = true;
  }
  if (csv.file != nullptr) printCsvHeader(csv.file);

  AnalysisSettings settings{info.sampleRate, request.rate, info.timeReference};
  std::vector<uint8_t> scratch;
  const double fullScale = readSamples(info.format, info.channels, {}, scratch).fullScale;
  std::vector<std::unique_ptr<ChannelWork>> channels;
  for (int c = 1; c <= info.channels; ++c) {
    if (request.channel && c != *request.channel) continue;
    channels.push_back(std::make_unique<ChannelWork>(c, fullScale, settings));
    facts.scanned.push_back(c);
  }
  const size_t blockFrames = std::max<size_t>(1, kReadBytes / reader.sampleFrameBytes());
  for (;;) {
    const std::span<const uint8_t> bytes = reader.next(blockFrames);
    if (bytes.empty()) break;
    const SampleView view = readSamples(info.format, info.channels, bytes, scratch);
    workAll(channels, view);
    writeRows(channels, csv.file);
  }
  if (reader.error() != 0) {
    return failed(err, request.path, std::string("cannot be read to its end: ") + std::strerror(reader.error()));
  }
  facts.sampleFrames = reader.framesRead();
  facts.truncated = reader.truncated();
  std::vector<ChannelReport> reports;
  for (auto& c : channels) {
    c->frames.clear();
    c->decoder.add(c->finder.finish(), c->frames);
    for (const ReadFrame& frame : c->frames) c->analysis.add(frame, c->rows);
    c->analysis.finish(c->rows, facts.truncated, facts.sampleFrames, c->finder.peak(), fullScale,
                       c->finder.riseSamples());
    reports.push_back(c->analysis.report());
  }
  writeRows(channels, csv.file);
  const int status = statusOf(reports);
  if (request.json) {
    printJsonReport(out, facts, reports, status);
  } else {
    printTextReport(csv.file == out ? err : out, facts, reports);
  }
  return status;
}

}  // namespace stampline
