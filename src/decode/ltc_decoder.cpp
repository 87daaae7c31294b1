#include "decode/ltc_decoder.h"

#include <algorithm>
#include <bit>

namespace stampline {
namespace {

// The sync word, bits 64 to 79, as the newest 16 bits of the window (bit 64
// the oldest of them): played forwards 0011 1111 1111 1101.
constexpr uint64_t kSyncForward = 0x3FFD;
// Played backwards, bit 79 arrives first: the oldest 16 bits of the window
// read 1011 1111 1111 1100.
constexpr uint16_t kSyncBackward = 0xBFFC;
// An interval from a quarter to three quarters of the cell is a half, from
// there to one and a half a whole cell; shorter or longer ones fit neither.
// After this many intervals in a row that fit no cell, the cell is learned
// afresh (the speed has jumped).
constexpr int kRelearnAfter = 24;
constexpr int64_t kMisfitsToRelearn = 12;
// The cell is learned from this many intervals, at least a frame's worth.
constexpr size_t kLearnFrom = 160;

// The bits of `v` in the opposite order.
uint64_t reversed(uint64_t v) {
  v = (v >> 1 & 0x5555555555555555U) | (v & 0x5555555555555555U) << 1;
  v = (v >> 2 & 0x3333333333333333U) | (v & 0x3333333333333333U) << 2;
  v = (v >> 4 & 0x0F0F0F0F0F0F0F0FU) | (v & 0x0F0F0F0F0F0F0F0FU) << 4;
  return __builtin_bswap64(v);
}

// Whether `v` holds an odd number of ones.
bool oddOnes(uint64_t v) {
  for (int shift = 32; shift > 0; shift /= 2) v ^= v >> shift;
  return (v & 1U) != 0;
}

}  // namespace

void LtcDecoder::add(std::span<const Edge> edges, std::vector<ReadFrame>& frames) {
  size_t i = 0;
  if (!haveEdge_ && !edges.empty()) {
    haveEdge_ = true;
    hot_.last = edges[0].position;
    learnFrom_ = hot_.last;
    i = 1;
  }
  Hot h = hot_;
  for (; i < edges.size(); ++i) {
    const int64_t position = edges[i].position;
    const int64_t length = position - h.last;
    h.last = position;
    // The common case without a branch on the bits, which no processor can
    // foresee: an interval that fits (a half, or a whole cell after no
    // lone half) either completes a bit or is a first half.
    const bool half = length < h.halfBelow;
    const bool fits = length >= h.halfFrom && length < h.wholeBelow && (half || !h.halfSeen);
    if (!fits || h.cells + 1 >= marks_.due) {
      // Everything else the long way, with the state where it lives.
      hot_ = h;
      if (cell_ == 0) {
        learning_.emplace_back(length, edges[i]);
        if (learning_.size() >= kLearnFrom) learn(frames);
      } else {
        interval(length, edges[i], frames);
        markCellsOnly(edges[i], frames);
      }
      h = hot_;
      continue;
    }
    const bool completes = !half || h.halfSeen;
    const int64_t step = completes ? 1 : 0;
    h.halfSeen = half && !h.halfSeen;
    h.cellsLength += completes ? position - h.cellStart : 0;
    cellStarts_[static_cast<size_t>(h.cells) % cellStarts_.size()] = h.cellStart;
    h.cells += step;
    if (h.cells == marks_.follow) {
      cell_ += (h.cellsLength / kFollowCells - cell_) / 2;
      h.halfFrom = cell_ >> 2;
      h.halfBelow = cell_ - h.halfFrom;
      h.wholeBelow = cell_ + (cell_ >> 1);
      h.cellsLength = 0;
      marks_.follow = h.cells + kFollowCells;
    }
    failures_ = 0;
    h.cellStart = completes ? position : h.cellStart;
    const auto high = static_cast<uint16_t>(uint64_t{h.high} << 1 | h.low >> 63);
    const uint64_t low = h.low << 1 | (half ? 1U : 0U);
    h.high = completes ? high : h.high;
    h.low = completes ? low : h.low;
    // Whether a sync word just ended: the conditions combined as numbers,
    // without a branch on the bits (only a frame's end takes one).
    const bool forward = (h.low & 0xFFFF) == kSyncForward;
    const auto one = [](bool b) { return static_cast<unsigned>(b); };
    const unsigned synced = one(completes) & one(h.cells >= marks_.whole) & (one(forward) | one(h.high == kSyncBackward));
    if (synced != 0) {
      hot_ = h;
      frames.push_back(frameRead(forward, edges[i]));
      frameFound(forward);
    }
  }
  hot_ = h;
}

void LtcDecoder::restart() {
  std::vector<std::pair<int64_t, Edge>> learning = std::move(learning_);
  learning.clear();
  *this = LtcDecoder();
  learning_ = std::move(learning);
}

// The cell from the intervals seen: the shortest are halves, those twice
// as long whole cells. Both are there in every frame (the sync word holds
// twelve ones and three zeros); until both are seen, more intervals are
// gathered. Then the intervals are read with the cell learned.
void LtcDecoder::learn(std::vector<ReadFrame>& frames) {
  std::vector<int64_t> lengths;
  for (const auto& [length, edge] : learning_) lengths.push_back(length);
  std::sort(lengths.begin(), lengths.end());
  const int64_t shortest = lengths[lengths.size() / 32];  // past a stray spike or two
  std::vector<int64_t> halves;
  size_t wholes = 0;
  for (const int64_t length : lengths) {
    if (length * 5 < 7 * shortest) halves.push_back(length);
    if (length * 5 > 8 * shortest && length * 5 < 12 * shortest) ++wholes;
  }
  if (shortest <= 0 || halves.size() < 8 || wholes < 4) {
    // Not yet telling: drop the older half and gather on.
    learnFrom_ = learning_[learning_.size() / 2 - 1].second.position;
    learning_.erase(learning_.begin(), learning_.begin() + static_cast<std::ptrdiff_t>(learning_.size() / 2));
    return;
  }
  setCell(2 * halves[halves.size() / 2]);
  const std::vector<std::pair<int64_t, Edge>> replay = std::move(learning_);
  learning_.clear();
  lose();
  hot_.cellStart = learnFrom_;
  for (const auto& [length, edge] : replay) interval(length, edge, frames);
}

// A frame's worth of cells read since the last frame or mark: marked where
// they came close together and few intervals among them fit no cell
// (losses between them or not: LTC too garbled to read), not where silence
// or noise stood between them.
void LtcDecoder::markCellsOnly(const Edge& edge, std::vector<ReadFrame>& frames) {
  if (cell_ != 0 && hot_.cells >= marks_.cellsOnly) {
    const int64_t from = cellStarts_[static_cast<size_t>(hot_.cells - kFrameCells) % cellStarts_.size()];
    if (edge.position - from <= 2 * kFrameCells * cell_ && misfits_ <= kFrameCells / 8) {
      ReadFrame mark;
      mark.cellsOnly = true;
      mark.start = edgeSamples(from);
      mark.end = edgeSamples(edge.position);
      frames.push_back(mark);
    }
    marks_.cellsOnly = hot_.cells + kFrameCells;
    misfits_ = 0;
  }
  marks_.due = std::min(marks_.overdue, marks_.cellsOnly);
}

// Reads one interval, whatever it is.
void LtcDecoder::interval(int64_t length, const Edge& edge, std::vector<ReadFrame>& frames) {
  if (hot_.cells > --marks_.overdue) {
    relearn(edge.position);
    return;
  }
  const bool half = length >= hot_.halfFrom && length < hot_.halfBelow;
  const bool whole = length >= hot_.halfBelow && length < hot_.wholeBelow;
  if (half && !hot_.halfSeen) {
    hot_.halfSeen = true;
  } else if (half || (whole && !hot_.halfSeen)) {
    ++marks_.overdue;  // counted once, above
    bit(half, edge, frames);
  } else {
    // A cell whose closing reversal never came (it ran into silence or a
    // dropout, or the tape turned back there and the signal stayed): it
    // closed where it would have, a one after its half, a zero held on.
    if (hot_.halfSeen ? length >= hot_.halfBelow : length >= hot_.wholeBelow) {
      bit(hot_.halfSeen, {hot_.cellStart + cell_, edge.rising}, frames);
    }
    // A whole cell after a half, or an interval too short or too long: what
    // was read no longer lines up. This reversal may open a cell.
    lose();
    hot_.cellStart = edge.position;
    ++misfits_;
    if (++failures_ >= kRelearnAfter || misfits_ > kMisfitsToRelearn) relearn(hot_.cellStart);
  }
}

void LtcDecoder::lose() {
  marks_.whole = hot_.cells + kFrameCells;
  hot_.halfSeen = false;
}

void LtcDecoder::setCell(int64_t cell) {
  cell_ = cell;
  hot_.cellsLength = 0;
  marks_.follow = hot_.cells + kFollowCells;
  hot_.halfFrom = cell >> 2;
  hot_.halfBelow = cell - hot_.halfFrom;
  hot_.wholeBelow = cell + (cell >> 1);
}

void LtcDecoder::relearn(int64_t from) {
  lose();
  setCell(0);
  failures_ = 0;
  frameFound(true);
  framedAt_ = -1;
  learnFrom_ = from;
}

void LtcDecoder::bit(bool one, const Edge& edge, std::vector<ReadFrame>& frames) {
  // The interval(s) fitted the cell: follow its length.
  const int64_t position = edge.position;
  hot_.cellsLength += position - hot_.cellStart;
  cellStarts_[static_cast<size_t>(hot_.cells) % cellStarts_.size()] = hot_.cellStart;
  if (++hot_.cells == marks_.follow) setCell(cell_ + (hot_.cellsLength / kFollowCells - cell_) / 2);
  failures_ = 0;
  hot_.halfSeen = false;
  hot_.cellStart = position;
  hot_.high = static_cast<uint16_t>(uint64_t{hot_.high} << 1 | hot_.low >> 63);
  hot_.low = hot_.low << 1 | (one ? 1U : 0U);
  if (hot_.cells < marks_.whole) return;
  const bool forward = (hot_.low & 0xFFFF) == kSyncForward;
  if (!forward && hot_.high != kSyncBackward) {
    syncFollows(edge, frames);
    return;
  }
  frames.push_back(frameRead(forward, edge));
  frameFound(forward);
}

// A frame whose sync word is off by a few bits, where the frame before
// and the cells since place one. (Reached the long way: a frame's worth of
// cells after a frame is a mark the loop watches.)
void LtcDecoder::syncFollows(const Edge& end, std::vector<ReadFrame>& frames) {
  if (framedAt_ < 0 || hot_.cells != framedAt_ + kFrameCells) return;
  const uint64_t off = framedForward_ ? (hot_.low & 0xFFFF) ^ kSyncForward : uint64_t{hot_.high} ^ kSyncBackward;
  if (std::popcount(off) > kSyncSlips) return;
  ReadFrame read = frameRead(framedForward_, end);
  read.syncDamaged = true;
  const LtcFrame fresh;  // holds only the sync word, as it belongs
  std::copy(fresh.bytes.begin() + 8, fresh.bytes.end(), read.frame.bytes.begin() + 8);
  frames.push_back(read);
  framed(framedForward_);
}

// The frame the window holds: frame bit i came in 79 - i bits ago played
// forwards (the window reversed), i bits ago played backwards (the window
// as it is).
ReadFrame LtcDecoder::frameRead(bool forward, const Edge& end) const {
  ReadFrame read;
  read.forward = forward;
  // Frame bits 0-63 and 64-79, little-endian.
  const uint64_t low = forward ? reversed(hot_.low) << 16 | reversed(hot_.high) >> 48 : hot_.low;
  const uint64_t high = forward ? reversed(hot_.low) >> 48 : hot_.high;
  for (size_t i = 0; i < 8; ++i) read.frame.bytes[i] = static_cast<uint8_t>(low >> (8 * i));
  read.frame.bytes[8] = static_cast<uint8_t>(high);
  read.frame.bytes[9] = static_cast<uint8_t>(high >> 8);
  // The oldest cell in the window opened the frame. From there to the
  // reversal that closes it the signal reversed once a cell and once more
  // a one: an even number of times where the ones are even.
  read.start = edgeSamples(cellStarts_[static_cast<size_t>(hot_.cells - kFrameCells) % cellStarts_.size()]);
  read.startRising = end.rising != oddOnes(hot_.low ^ hot_.high);
  read.end = edgeSamples(end.position);
  return read;
}

}  // namespace stampline
