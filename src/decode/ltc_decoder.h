#ifndef STAMPLINE_DECODE_LTC_DECODER_H_
#define STAMPLINE_DECODE_LTC_DECODER_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "decode/edge_finder.h"
#include "timecode/ltc_frame.h"

namespace stampline {

// An LTC frame read from the signal: its 80 bits, which way it was played,
// and where it lies, in sample frames from the start of the input (the
// interpolated reversals that open its first cell and close its last).
// Played backwards, the first cell in the input is that of bit 79.
struct ReadFrame {
  LtcFrame frame;
  bool forward = true;
  double start = 0;
  double end = 0;
  bool startRising = false;  // which way the signal goes where the frame starts
  // No frame: a frame's worth of cells read from `start` to `end` without a
  // sync word where one belongs, the mark of a signal like LTC that cannot
  // be read.
  bool cellsOnly = false;
  // A frame whose sync word came with a few bits wrong (kSyncSlips at
  // most), read where the cells place it: a frame's length after the frame before, with no cell
  // lost between (see LtcDecoder).
  bool syncDamaged = false;
};

// Reads LTC frames from a channel's polarity reversals.
//
// Biphase-mark code starts every bit cell with a reversal and reverses once
// more in the middle of a one: the time between reversals is a whole cell
// (a zero) or half a cell (two halves make a one). The cell's length is
// learned from the first reversals (twice the typical shortest interval,
// once whole cells are seen too) and followed from cell to cell, so the
// speed may drift or change (0.5x to 2x and more). An interval that fits
// neither, or a whole cell after a lone half, loses the bits read so far;
// many in a row, or long without a frame, and the cell is learned afresh.
// Bits go into an 80-bit window; a frame is read where the window holds 80
// bits read without a loss and its newest 16 are the sync word (played
// forwards) or its oldest 16 the sync word reversed (played backwards).
// Nothing about a frame's contents is checked here. Where the window holds
// 80 bits exactly 80 cells after a frame, every cell between read, and its
// sync word is off by at most kSyncSlips bits (a channel that garbles a
// few bits there), the frame is read all the same, marked as such, in the
// direction of the frame before. Every 80 cells read close together without
// a frame give a mark of that (ReadFrame::cellsOnly).
class LtcDecoder {
 public:
  // Takes the reversals in order; appends every frame completed to `frames`.
  void add(std::span<const Edge> edges, std::vector<ReadFrame>& frames);
  // Starts afresh, as constructed, keeping the memory it has.
  void restart();
  // The cell length followed, in samples (0 while it is being learned).
  double cellLength() const { return edgeSamples(cell_); }

 private:
  // Positions and lengths are in the reversals' units (1/kEdgeUnit sample),
  // in integers: the loop from one reversal to the next carries only
  // integer additions and shifts from step to step.

  // What every interval reads and changes, kept together (and few) so that
  // the loop over them can hold it in registers.
  struct Hot {
    int64_t last = 0;        // where the reversal before lies
    int64_t halfFrom = 0;    // the interval lengths that part misfits, halves,
    int64_t halfBelow = 0;   // whole cells and misfits again
    int64_t wholeBelow = 0;
    int64_t cellStart = 0;   // where the cell being read opened
    int64_t cellsLength = 0;  // of the cells read since the cell was followed
    // Cells read in all: every other count is kept as the number of cells
    // at which it reaches its mark (Marks).
    int64_t cells = 0;
    // The window: the newest bit in bit 0 of `low`, the oldest of 80 in
    // bit 15 of `high`.
    uint64_t low = 0;
    uint16_t high = 0;
    bool halfSeen = false;
  };
  // A frame's cells. Every kFollowCells cells read move the followed
  // length half way to their mean (about as fast as a sixteenth a cell,
  // without making each interval wait for the one before). After kOverdue
  // cells without a frame, the cell is learned afresh (the speed has
  // jumped).
  static constexpr int64_t kFrameCells = 80;
  static constexpr int64_t kFollowCells = 8;
  static constexpr int64_t kOverdue = 480;
  static constexpr int kSyncSlips = 4;
  // The counts the loop compares with but seldom changes, as cell counts:
  // where the window will hold a frame's bits read since the last loss;
  // where the cell is next followed; where a frame is overdue; where the
  // cells read since the last frame (or mark) make a frame's worth; and the
  // nearer of those two, which the loop watches. (An interval read the long
  // way that completes no bit moves `overdue` one nearer: it counts as a
  // cell there.)
  struct Marks {
    int64_t whole = kFrameCells;
    int64_t follow = kFollowCells;
    int64_t overdue = kOverdue;
    int64_t cellsOnly = kFrameCells;
    int64_t due = kFrameCells;
  };

  void interval(int64_t length, const Edge& edge, std::vector<ReadFrame>& frames);
  void learn(std::vector<ReadFrame>& frames);
  void bit(bool one, const Edge& edge, std::vector<ReadFrame>& frames);
  ReadFrame frameRead(bool forward, const Edge& end) const;
  void syncFollows(const Edge& end, std::vector<ReadFrame>& frames);
  void lose();
  void relearn(int64_t from);
  void setCell(int64_t cell);
  // A frame found with its sync word whole: the cell is held, and the next
  // frame is looked for from here.
  void frameFound(bool forward) {
    misfits_ = 0;
    marks_.overdue = hot_.cells + kOverdue;
    framed(forward);
  }
  // A frame read where the cells place it: the next is looked for from
  // here, while the counts that tell a cell lost (the speed changed) go on
  // as if no frame came.
  void framed(bool forward) {
    framedAt_ = hot_.cells;
    framedForward_ = forward;
    marks_.cellsOnly = hot_.cells + kFrameCells;
    marks_.due = std::min(marks_.overdue, marks_.cellsOnly);
  }
  void markCellsOnly(const Edge& edge, std::vector<ReadFrame>& frames);

  Hot hot_;
  Marks marks_;
  int64_t cell_ = 0;  // the cell's length, 0 while it is learned
  int failures_ = 0;  // intervals in a row that fit no cell
  int64_t misfits_ = 0;  // intervals that fit no cell since the last frame or mark
  bool haveEdge_ = false;
  // The cells read when the last frame ended (none: never), and its way.
  int64_t framedAt_ = -1;
  bool framedForward_ = true;
  // Intervals and their closing reversals, while the cell is learned, and
  // where the first of them opened.
  std::vector<std::pair<int64_t, Edge>> learning_;
  int64_t learnFrom_ = 0;
  // Where the last cells opened, cell n at n % 128.
  std::array<int64_t, 128> cellStarts_{};
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_LTC_DECODER_H_
