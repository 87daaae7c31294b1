#include "run/analysis_run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "decode/channel_reader.h"
#include "decode/ltc_analysis.h"
#include "run/second_core.h"
#include "wav/input_file.h"
#include "wav/sample_format.h"
#include "wav/wav_reader.h"

namespace stampline {
namespace {

// Samples are read about this many bytes at a time, and scanned a piece at
// a time, as the channel reader scans them.
constexpr size_t kReadBytes = size_t{8} << 20;
constexpr size_t kPieceFrames = ChannelReader::kScanFrames;

// One channel's reader, and the frames and events it has found that the
// listeners have not had yet.
struct ChannelWork {
  ChannelWork(int channel, double fullScale, const AnalysisSettings& settings)
      : index(channel - 1), reader(channel, fullScale, settings) {}
  int index;  // 0-based
  ChannelReader reader;
  std::vector<FrameRecord> rows;
  std::vector<Event> events;
};
using Channels = std::vector<std::unique_ptr<ChannelWork>>;
using Listeners = std::span<AnalysisListener* const>;

// A block of whole sample frames as the file holds them, and room for each
// thread's samples converted.
struct Block {
  std::span<const uint8_t> bytes;
  SampleFormat format;
  int32_t channels;
  std::array<std::vector<uint8_t>, 2>& scratch;
  size_t frames() const { return bytes.size() / frameBytes(); }
  size_t frameBytes() const { return bytesPerSample(format) * static_cast<size_t>(channels); }
};

// Every channel's work on a block, on two threads: a long block in two
// parts, each thread taking one part of every channel, a piece at a time
// (samples that need converting are converted a piece at a time, by the
// thread that reads them); a short one channel by channel, half of them on
// each thread. Returns whether the block was split, its ends still to be
// joined (endSplit) once the samples are gone.
bool workAll(Channels& channels, const Block& block, SecondCore& core) {
  if (channels.empty()) return false;
  const auto stride = static_cast<size_t>(block.channels);
  const size_t frameBytes = block.frameBytes();
  if (channels.front()->reader.splits(block.frames())) {
    for (const auto& c : channels) c->reader.beginSplit(block.frames());
    // Every channel a piece at a time, so that the channels after the first
    // find the piece in the processor's cache.
    // (A part's first piece is twice as long: the reader then looks for a
    // signal's half cell over the samples after its first piece too, which
    // a clipped, phase-turned signal shows only over some 30,000 samples.)
    const auto part = [&](int which) {
      const ChannelReader::Range range = channels.front()->reader.partRange(which);
      for (size_t done = 0; done < range.count;) {
        const size_t frames = std::min(done == 0 ? 2 * kPieceFrames : kPieceFrames, range.count - done);
        const SampleView view = readSamples(
            block.format, block.channels, block.bytes.subspan((range.from + done) * frameBytes, frames * frameBytes),
            block.scratch[static_cast<size_t>(which)]);
        for (const auto& c : channels) {
          withSamples(view, static_cast<size_t>(c->index), [&](const auto* samples) {
            c->reader.readPiece(which, samples, stride, frames, c->rows);
          });
        }
        done += frames;
      }
    };
    core.both([&part] { part(0); }, [&part] { part(1); });
    return true;
  }
  const SampleView view = readSamples(block.format, block.channels, block.bytes, block.scratch[0]);
  const auto some = [&channels, &view, stride](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      ChannelWork& c = *channels[i];
      withSamples(view, static_cast<size_t>(c.index),
                  [&](const auto* samples) { c.reader.add(samples, stride, view.frames, c.rows); });
    }
  };
  const size_t half = (channels.size() + 1) / 2;
  core.both([&] { some(0, half); }, [&] { some(half, channels.size()); });
  return false;
}

// Gives the listeners what each channel found since the last time, channel
// by channel, frames and events in sample order.
void tell(const Channels& channels, Listeners listeners) {
  for (const auto& c : channels) {
    c->reader.takeEvents(c->events);
    const int channel = c->index + 1;
    auto event = c->events.begin();
    for (const FrameRecord& row : c->rows) {
      for (; event != c->events.end() && event->sample < row.sample; ++event) {
        for (AnalysisListener* l : listeners) l->event(channel, *event);
      }
      for (AnalysisListener* l : listeners) l->frame(channel, row);
    }
    for (; event != c->events.end(); ++event) {
      for (AnalysisListener* l : listeners) l->event(channel, *event);
    }
    c->rows.clear();
    c->events.clear();
  }
}

int failed(std::FILE* err, const std::string& path, const std::string& why) {
  std::fprintf(err, "stampline: %s: %s\n", path == "-" ? "standard input" : path.c_str(), why.c_str());
  return kAnalysisFailed;
}

// No LTC, unless a channel carries some: clean, or with events (an
// unreadable channel has them).
int statusOf(const std::vector<ChannelReport>& reports) {
  int status = kAnalysisNoLtc;
  for (const ChannelReport& r : reports) {
    if (!r.carriesLtc() && !r.unreadable()) continue;
    if (r.eventTotal() > 0) return kAnalysisEvents;
    status = kAnalysisClean;
  }
  return status;
}

// Reads every block through the channels; the listeners hear of a block's
// frames while the next block is read.
void readAll(WavReader& reader, Channels& channels, Listeners listeners) {
  const WavInfo& info = reader.info();
  SecondCore core;
  std::array<std::vector<uint8_t>, 2> scratch;
  const size_t blockFrames = std::max<size_t>(1, kReadBytes / reader.sampleFrameBytes());
  std::span<const uint8_t> bytes = reader.next(blockFrames);
  while (!bytes.empty()) {
    const bool split = workAll(channels, Block{bytes, info.format, info.channels, scratch}, core);
    core.both([&] { bytes = reader.next(blockFrames); },
              [&] {
                if (split) {
                  for (auto& c : channels) c->reader.endSplit(c->rows);
                }
                tell(channels, listeners);
              });
  }
}

}  // namespace

int runAnalysis(const AnalysisRequest& request, Listeners listeners, std::FILE* err) {
  std::string why;
  const std::unique_ptr<InputFile> input = openInputFile(request.path, why);
  if (!input) return failed(err, request.path, "cannot be read: " + why);
  return analyzeInput(*input, request, listeners, err);
}

int analyzeInput(InputFile& input, const AnalysisRequest& request, Listeners listeners, std::FILE* err) {
  std::string why;
  WavReader reader(input);
  if (!reader.open(why)) return failed(err, request.path, why);
  const WavInfo& info = reader.info();
  if (request.channel && *request.channel > info.channels) {
    return failed(err, request.path,
                  "has " + std::to_string(info.channels) + " channels, and --timecode-channel asks for channel " +
                      std::to_string(*request.channel));
  }
  FileFacts facts{request.path, info, 0, false, {}};
  for (int c = 1; c <= info.channels; ++c) {
    if (!request.channel || c == *request.channel) facts.scanned.push_back(c);
  }
  for (AnalysisListener* l : listeners) {
    if (!l->started(facts, why)) {
      std::fprintf(err, "stampline: %s\n", why.c_str());
      return kAnalysisFailed;
    }
  }
  const AnalysisSettings settings{info.sampleRate, request.rate, info.timeReference};
  Channels channels;
  for (const int c : facts.scanned) {
    channels.push_back(std::make_unique<ChannelWork>(c, readFullScale(info.format), settings));
  }
  readAll(reader, channels, listeners);
  if (reader.error() != 0) {
    return failed(err, request.path, std::string("cannot be read to its end: ") + std::strerror(reader.error()));
  }
  facts.sampleFrames = reader.framesRead();
  facts.truncated = reader.truncated();
  std::vector<ChannelReport> reports;
  for (auto& c : channels) {
    c->reader.finish(c->rows, facts.truncated, facts.sampleFrames);
    reports.push_back(c->reader.report());
  }
  tell(channels, listeners);
  for (AnalysisListener* l : listeners) {
    if (!l->ended(why)) {
      std::fprintf(err, "stampline: %s\n", why.c_str());
      return kAnalysisFailed;
    }
  }
  const int status = statusOf(reports);
  for (AnalysisListener* l : listeners) l->finished(facts, reports, status);
  return status;
}

}  // namespace stampline
