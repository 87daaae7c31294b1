#include "decode/channel_reader.h"

#include <algorithm>

namespace stampline {
namespace {

// A piece that reads fewer than this share of the frames its length holds
// is read the other way too.
constexpr double kShortfall = 0.7;

}  // namespace

ChannelReader::ChannelReader(int channel, double fullScale, const AnalysisSettings& settings)
    : fullScale_(fullScale),
      sampleRate_(settings.sampleRate),
      lead_(static_cast<size_t>(std::max(settings.sampleRate, 1)) / 2),
      tail_(static_cast<size_t>(std::max(settings.sampleRate, 1)) / 8),
      scan_(std::make_unique<Scan>(fullScale, settings.sampleRate)),
      analysis_(channel, settings) {}

template <typename T>
void ChannelReader::Scan::add(const T* samples, size_t stride, size_t frames, std::vector<ReadFrame>& out) {
  for (size_t done = 0; done < frames; done += kScanFrames) {
    addPiece(samples + done * stride, stride, std::min(kScanFrames, frames - done), out);
  }
}

template <typename T>
void ChannelReader::Scan::addPiece(const T* samples, size_t stride, size_t frames, std::vector<ReadFrame>& out) {
  const auto framesIn = [](const std::vector<ReadFrame>& read, size_t from) {
    return std::count_if(read.begin() + static_cast<std::ptrdiff_t>(from), read.end(),
                         [](const ReadFrame& f) { return !f.cellsOnly; });
  };
  const auto readsFrames = [&](const std::vector<ReadFrame>& read, size_t from) { return framesIn(read, from) > 0; };
  const size_t from = out.size();
  const auto found = [&] {
    sinceFrame = 0;
    probeWait = probeAfter;
  };
  const bool first = !started;
  started = true;
  // The frames a piece of this length holds at the cell followed.
  const double cell = decoder.cellLength();
  const double promised = cell > 0 ? static_cast<double>(frames) / (80 * cell) : 0;
  const bool shortOf = promised >= 3 && static_cast<double>(framesLastPiece) < kShortfall * promised;
  if (!first && !shortOf && (sinceFrame < probeWait || !finder.hearsSignal())) {
    take(finder.scan(samples, stride, frames), out);
    framesLastPiece = static_cast<uint64_t>(framesIn(out, from));
    if (readsFrames(out, from)) {
      found();
    } else {
      sinceFrame += frames;
    }
    return;
  }
  // No frame for a while: this piece the other way too.
  Scan other = *this;
  other.finder.switchWay();
  tried.clear();
  other.take(other.finder.scan(samples, stride, frames), tried);
  take(finder.scan(samples, stride, frames), out);
  framesLastPiece = static_cast<uint64_t>(std::max(framesIn(out, from), framesIn(tried, 0)));
  if (framesIn(out, from) >= framesIn(tried, 0) && readsFrames(out, from)) {
    found();
    return;
  }
  if (!readsFrames(tried, 0)) {
    sinceFrame = 0;
    probeWait = std::min(2 * probeWait, 25 * probeAfter);
    return;
  }
  out.resize(from);
  out.insert(out.end(), tried.begin(), tried.end());
  std::swap(finder, other.finder);
  std::swap(decoder, other.decoder);
  found();
}

void ChannelReader::Scan::take(std::span<const Edge> edges, std::vector<ReadFrame>& out) {
  decoder.add(edges, out);
  finder.setWindow(decoder.cellLength());
}

template <typename T>
void ChannelReader::add(const T* samples, size_t stride, size_t frames, std::vector<FrameRecord>& rows) {
  frames_.clear();
  scan_->add(samples, stride, frames, frames_);
  analyse(frames_, rows);
  samplesRead_ += frames;
}

void ChannelReader::analyse(const std::vector<ReadFrame>& frames, std::vector<FrameRecord>& rows) {
  for (const ReadFrame& frame : frames) analysis_.add(frame, rows);
}

// Where the second part takes over: the two parts, with the lead and the
// tail, equally long.
size_t ChannelReader::middle() const { return (splitFrames_ + lead_ - tail_) / 2; }

void ChannelReader::beginSplit(size_t frames) {
  splitFrames_ = frames;
  // The scan the last split left behind serves again, the way the first
  // part reads.
  if (!ahead_) ahead_ = std::make_unique<Scan>(fullScale_, sampleRate_);
  ahead_->finder.restartAt(samplesRead_ + middle() - lead_);
  // The samples both parts read are counted once.
  scan_->finder.countNonFinite(0, samplesRead_ + middle());
  ahead_->finder.countNonFinite(samplesRead_ + middle(), UINT64_MAX);
  if (ahead_->finder.way() != scan_->finder.way()) ahead_->finder.switchWay();
  ahead_->decoder.restart();
  ahead_->finder.setWindow(scan_->decoder.cellLength());
  ahead_->sinceFrame = 0;
  ahead_->started = false;
  frames_.clear();
  aheadFrames_.clear();
  haveFirstPartFrame_ = false;
}

ChannelReader::Range ChannelReader::partRange(int part) const {
  const size_t half = middle();
  if (part == 0) return {0, half + tail_};
  return {half - lead_, splitFrames_ - (half - lead_)};
}

template <typename T>
void ChannelReader::readPiece(int part, const T* samples, size_t stride, size_t frames,
                              std::vector<FrameRecord>& rows) {
  if (part != 0) {
    ahead_->add(samples, stride, frames, aheadFrames_);
    return;
  }
  frames_.clear();
  scan_->add(samples, stride, frames, frames_);
  analyse(frames_, rows);
  if (!frames_.empty()) {
    firstPartFrame_ = frames_.back();
    haveFirstPartFrame_ = true;
  }
}

void ChannelReader::endSplit(std::vector<FrameRecord>& rows) {
  // The second part's frames from the first the first part did not read:
  // past the start of its last frame by more than half a frame, or from
  // the middle where it read none.
  auto from = static_cast<double>(samplesRead_ + middle());
  if (haveFirstPartFrame_) {
    const ReadFrame& last = firstPartFrame_;
    from = last.start + (last.end - last.start) / 2;
  }
  for (const ReadFrame& frame : aheadFrames_) {
    if (frame.start >= from) analysis_.add(frame, rows);
  }
  ahead_->finder.absorbMeasures(scan_->finder);
  std::swap(scan_, ahead_);
  samplesRead_ += splitFrames_;
  splitFrames_ = 0;
}

void ChannelReader::finish(std::vector<FrameRecord>& rows, bool truncated, uint64_t endSample) {
  frames_.clear();
  scan_->take(scan_->finder.finish(), frames_);
  analyse(frames_, rows);
  const EdgeFinder& finder = scan_->finder;
  analysis_.finish(rows, truncated, endSample, {finder.peak(), fullScale_, finder.riseSamples(), finder.nonFinite()});
}

template void ChannelReader::add(const int16_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::add(const int32_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::add(const float*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const int16_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const int32_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const float*, size_t, size_t, std::vector<FrameRecord>&);

}  // namespace stampline
