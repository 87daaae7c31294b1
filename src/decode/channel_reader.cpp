#include "decode/channel_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace stampline {
namespace {

// A piece that reads fewer than this share of the frames its length holds
// is read the other way too.
constexpr double kShortfall = 1;

// How well a way reads is told by the frames it read with their sync word
// whole: one read where the cells place it may have gone on past a turn
// of the tape or a change of speed that the way did not follow.
bool readWhole(const ReadFrame& f) { return !f.cellsOnly && !f.syncDamaged; }

size_t framesIn(const std::vector<ReadFrame>& read, size_t from) {
  return static_cast<size_t>(std::count_if(read.begin() + static_cast<std::ptrdiff_t>(from), read.end(), readWhole));
}

// Where the last frame read whole from `from` on starts (very early: none).
double lastStart(const std::vector<ReadFrame>& read, size_t from) {
  for (size_t i = read.size(); i > from; --i) {
    if (readWhole(read[i - 1])) return read[i - 1].start;
  }
  return -1e300;
}

// Adds to the frames in `out` from `from` on those of `other` whose start
// lies half a frame or more from each of theirs, in order; one read whole
// takes the place of one whose sync word was not.
void merge(std::vector<ReadFrame>& out, size_t from, const std::vector<ReadFrame>& other, double halfFrame) {
  const size_t before = out.size();
  for (const ReadFrame& f : other) {
    if (f.cellsOnly) continue;
    const auto known = std::find_if(out.begin() + static_cast<std::ptrdiff_t>(from),
                                    out.begin() + static_cast<std::ptrdiff_t>(before), [&](const ReadFrame& g) {
                                      return !g.cellsOnly && std::abs(g.start - f.start) < halfFrame;
                                    });
    if (known == out.begin() + static_cast<std::ptrdiff_t>(before)) {
      out.push_back(f);
    } else if (known->syncDamaged && !f.syncDamaged) {
      *known = f;
    }
  }
  std::inplace_merge(out.begin() + static_cast<std::ptrdiff_t>(from), out.begin() + static_cast<std::ptrdiff_t>(before),
                     out.end(), [](const ReadFrame& a, const ReadFrame& b) { return a.start < b.start; });
}

}  // namespace

template <typename T>
void SampleHistory::append(const T* samples, size_t stride, size_t count) {
  if (ring_.empty()) ring_.resize(kLength);
  const size_t skip = count > kLength ? count - kLength : 0;
  for (size_t i = skip; i < count; ++i) {
    ring_[next_] = static_cast<float>(samples[i * stride]);
    next_ = next_ + 1 == kLength ? 0 : next_ + 1;
  }
  held_ = std::min(kLength, held_ + count - skip);
}

template <typename T>
std::vector<float> SampleHistory::followedBy(const T* samples, size_t stride, size_t count) const {
  const size_t fresh = std::min(count, kLength);
  const size_t old = std::min(held_, kLength - fresh);
  std::vector<float> out;
  out.reserve(old + fresh);
  for (size_t i = 0; i < old; ++i) out.push_back(ring_[(next_ + kLength - old + i) % kLength]);
  for (size_t i = count - fresh; i < count; ++i) out.push_back(static_cast<float>(samples[i * stride]));
  return out;
}

ChannelReader::ChannelReader(int channel, double fullScale, const AnalysisSettings& settings)
    : fullScale_(fullScale),
      sampleRate_(settings.sampleRate),
      lead_(static_cast<size_t>(std::max(settings.sampleRate, 1)) / 2),
      tail_(static_cast<size_t>(std::max(settings.sampleRate, 1)) / 8),
      scan_(std::make_unique<Scan>(fullScale, settings.sampleRate)),
      analysis_(channel, settings) {}

template <typename T>
void ChannelReader::Scan::add(const T* samples, size_t stride, size_t frames, std::vector<ReadFrame>& out) {
  // (A short rest goes with the piece before: a piece must be long enough
  // to tell how well a way reads.)
  for (size_t done = 0; done < frames;) {
    const size_t rest = frames - done;
    const size_t piece = rest < kScanFrames + kScanFrames / 4 ? rest : kScanFrames;
    addPiece(samples + done * stride, stride, piece, rest - piece, out);
    done += piece;
  }
}

template <typename T>
void ChannelReader::Scan::addPiece(const T* samples, size_t stride, size_t frames, size_t following,
                                  std::vector<ReadFrame>& out) {
  const size_t from = out.size();
  const Scan before = *this;
  take(finder.scan(samples, stride, frames), out);
  const size_t read = framesIn(out, from);
  // The frames a piece of this length holds at the cell followed (or just
  // learned).
  const double cell = before.decoder.cellLength() > 0 ? before.decoder.cellLength() : decoder.cellLength();
  const double promised = cell > 0 ? static_cast<double>(frames) / (80 * cell) : 0;
  // Read the other ways too: the first piece; one that read some frames but
  // far fewer than it holds at the cell it started with; one that read none
  // where the piece before read some, or after a while.
  bool retry = !started;
  if (started && finder.hearsSignal()) {
    const bool shortOf = before.decoder.cellLength() > 0 && promised >= 3 && static_cast<double>(read) + kShortfall < promised;
    retry = read > 0 ? shortOf : readBefore || sinceFrame >= probeWait;
  }
  started = true;
  if (retry) tryOthers(samples, stride, frames, following, before, out, from, promised);
  readBefore = framesIn(out, from) > 0;
  // (The history holds the samples of the pieces in a row that read no
  // frame: a signal still to be found.)
  if (readBefore) {
    history->clear();
    sinceFrame = 0;
    probeWait = probeAfter;
    return;
  }
  history->append(samples, stride, frames);
  if (retry && history->held() < SampleHistory::kLength) {
    // No way reads a frame, but the line was looked for over fewer samples
    // than the history holds: the next piece is tried, over more.
    sinceFrame = probeWait;
  } else if (retry) {
    // No way reads a frame: the next try waits twice as long.
    sinceFrame = 0;
    probeWait = std::min(2 * probeWait, 25 * probeAfter);
  } else {
    sinceFrame += frames;
  }
}

// The piece read the ways other than the one `before` reads, one by one
// while it still reads short; the rebuilt way only where the piece, the
// piece with the samples before it, or (where too few came before) with
// those after it shows the half cell's line (with each half cell it
// suggests, and then through a band-pass as well), or where `before`
// rebuilds (with the half cell it follows, the other band). A piece that
// shows a line of LTC's family and still gives no frame, nor cells, is
// marked as a signal like LTC, frame by frame.
template <typename T>
void ChannelReader::Scan::tryOthers(const T* samples, size_t stride, size_t frames, size_t following,
                                    const Scan& before, std::vector<ReadFrame>& out, size_t from, double promised) {
  using Way = EdgeFinder::Way;
  const double halfFrame = 40 * std::max(before.decoder.cellLength(), 1.0);
  const auto readsShort = [&] {
    const size_t read = framesIn(out, from);
    return read == 0 || promised <= 0 || static_cast<double>(read) + kShortfall < promised;
  };
  const auto tryWay = [&](Way way, double halfCell, bool bandLimited = false) {
    Scan other = before;
    if (way == Way::kRebuilt) {
      other.finder.rebuild(halfCell, sampleRate, bandLimited);
    } else {
      other.finder.setWay(way);
    }
    other.take(other.finder.scan(samples, stride, frames), other.tried.items);
    if (choose(out, from, other.tried.items, framesIn(out, from), halfFrame)) {
      std::swap(finder, other.finder);
      std::swap(decoder, other.decoder);
    }
  };
  for (const Way way : {Way::kCrossings, Way::kSteps}) {
    if (way != before.finder.way() && readsShort()) tryWay(way, 0);
  }
  if (!readsShort()) return;
  std::optional<EdgeRebuilder::CellLine> line = EdgeRebuilder::cellLine(samples, stride, frames, sampleRate);
  if (!line && history->held() > 0) {
    const std::vector<float> longer = history->followedBy(samples, stride, frames);
    line = EdgeRebuilder::cellLine(longer.data(), 1, longer.size(), sampleRate);
  }
  if (!line && following > 0) {
    // (Too few samples before it: those after it, as far as they came.)
    line = EdgeRebuilder::cellLine(samples, stride, std::min(frames + following, SampleHistory::kLength), sampleRate);
  }
  const bool rebuilding = before.finder.way() == Way::kRebuilt;
  if (!line && rebuilding) {
    // (A rebuilt way that reads short still knows the half cell: through
    // the band-pass or without it may read more. The piece showed no line:
    // where nothing reads, it is not marked as a signal like LTC.)
    line = EdgeRebuilder::CellLine{{before.finder.rebuiltHalfCell(), 0}, false};
  }
  if (!line) return;
  for (const bool bandLimited : {false, true}) {
    for (const double half : line->halfCells) {
      const bool same = rebuilding && bandLimited == before.finder.rebuiltBandLimited();
      if (half > 0 && readsShort() && !same) tryWay(Way::kRebuilt, half, bandLimited);
    }
  }
  if (out.size() > from || !line->family) return;
  const double frame = 160 * line->halfCells[0];
  const auto start = static_cast<double>(before.finder.nextSample());
  for (double at = start; at + frame <= start + static_cast<double>(frames); at += frame) {
    ReadFrame mark;
    mark.cellsOnly = true;
    mark.start = at;
    mark.end = at + frame;
    out.push_back(mark);
  }
}

// Both ways' frames count, each frame once (the one this way read where
// both read it); the way read on is the one still reading at the piece's
// end, or that read more. Where neither reads a frame, it is the one that
// reads cells like LTC's, and its marks of them stand.
bool ChannelReader::Scan::choose(std::vector<ReadFrame>& out, size_t from, const std::vector<ReadFrame>& there,
                                 size_t read, double halfFrame) {
  const size_t otherRead = framesIn(there, 0);
  if (otherRead == 0) {
    const bool marksMore = read == 0 && there.size() > out.size() - from;
    if (marksMore) {
      out.resize(from);
      out.insert(out.end(), there.begin(), there.end());
    }
    return marksMore;
  }
  const double lastHere = lastStart(out, from);
  const double lastThere = lastStart(there, 0);
  merge(out, from, there, halfFrame);
  return lastThere > lastHere + halfFrame || (otherRead > read && lastThere >= lastHere);
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
  if (scan_->finder.way() == EdgeFinder::Way::kRebuilt) {
    ahead_->finder.rebuild(scan_->finder.rebuiltHalfCell(), sampleRate_, scan_->finder.rebuiltBandLimited());
  } else {
    ahead_->finder.setWay(scan_->finder.way());
  }
  // The samples both parts read are counted once.
  scan_->finder.countNonFinite(0, samplesRead_ + middle());
  ahead_->finder.countNonFinite(samplesRead_ + middle(), UINT64_MAX);
  ahead_->decoder.restart();
  ahead_->history->clear();
  ahead_->finder.setWindow(scan_->decoder.cellLength());
  ahead_->sinceFrame = 0;
  ahead_->started = true;  // as the first part reads: no need to try every way
  ahead_->readBefore = false;
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

template void ChannelReader::Scan::tryOthers(const int16_t*, size_t, size_t, size_t, const Scan&, std::vector<ReadFrame>&, size_t,
                                             double);
template void ChannelReader::Scan::tryOthers(const int32_t*, size_t, size_t, size_t, const Scan&, std::vector<ReadFrame>&, size_t,
                                             double);
template void ChannelReader::Scan::tryOthers(const float*, size_t, size_t, size_t, const Scan&, std::vector<ReadFrame>&, size_t,
                                             double);
template void ChannelReader::add(const int16_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::add(const int32_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::add(const float*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const int16_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const int32_t*, size_t, size_t, std::vector<FrameRecord>&);
template void ChannelReader::readPiece(int, const float*, size_t, size_t, std::vector<FrameRecord>&);

}  // namespace stampline
