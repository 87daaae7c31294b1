#ifndef STAMPLINE_DECODE_EDGE_REBUILDER_H_
#define STAMPLINE_DECODE_EDGE_REBUILDER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decode/edge.h"

namespace stampline {

// LTC is a two-level signal whose level may change only every half cell.
// A channel that rotates its phase (a camera's input: band-limited,
// AC-coupled, through all-pass stages) or a codec at a low rate turns it
// into a waveform whose crossings and steps fall anywhere. Its reversals
// are rebuilt here:
// - the half-cell length from the spectral line that the energy of the
//   signal's slope has at the half-cell rate (it steps only there, so that
//   energy repeats at that rate whatever the bits and whatever the phase);
// - an adaptive equalizer (a FIR filter) that makes the signal two-level
//   again where it is read, once a half cell, a quarter cell from any
//   reversal: its taps learn to minimise how far the squared output lies
//   from 1 (the constant-modulus rule, which needs no knowledge of the
//   bits);
// - a timing loop that keeps those instants between the reversals: the
//   output midway between two instants that differ in sign lies on the
//   reversal, at 0, and its sign says whether the instants run early or
//   late (Gardner's detector), which moves them and the half cell.
// A reversal is rebuilt midway between two instants of opposite sign, less
// the equalizer's delay (half its length). The positions are those of the
// rebuilt signal: a channel's own delay is not known, so they may lie a
// millisecond or so from where the signal's crossings would have been.
class EdgeRebuilder {
 public:
  // The half-cell length, in samples, that the slope's energy of `count`
  // samples shows, where its spectral line stands clear (between half and
  // twice the speed of 24 to 30 fps): the likelier first, another or 0
  // second; and whether other lines of its family stand too (a tone's has
  // the one line). None where no line stands clear (no LTC, or too few
  // samples).
  struct CellLine {
    std::array<double, 2> halfCells{};
    bool family = false;
  };
  template <typename T>
  static std::optional<CellLine> cellLine(const T* samples, size_t stride, size_t count, int32_t sampleRate);

  // Rebuilds from sample frame `firstSample` on, with half cells of
  // `halfCell` samples to start with; `bandLimited`: through a band-pass
  // around LTC's band first (a quarter of the cell rate to one and a half
  // times it), which gives back a signal clipped after its phase was
  // turned much of its shape (clipping keeps its crossings). (A rebuilder
  // made empty rebuilds nothing.)
  EdgeRebuilder() = default;
  EdgeRebuilder(double halfCell, uint64_t firstSample, int32_t sampleRate, bool bandLimited = false);

  // The next `count` samples (finite), `stride` values apart; appends the
  // reversals rebuilt to `out`.
  template <typename T>
  void scan(const T* samples, size_t stride, size_t count, std::vector<Edge>& out);

  double halfCellLength() const { return half_; }
  bool bandLimited() const { return !band_.empty(); }

 private:
  double bandPassed(double v);
  double output(double at) const;
  double outputAt(uint64_t n) const;
  void instant(std::vector<Edge>& out);
  void decide(double y, double place, std::vector<Edge>& out);

  std::vector<double> taps_;
  std::vector<double> recent_;  // the normalised input, sample n at n % size
  std::vector<double> band_;    // the band-pass's taps, if any
  std::vector<double> raw_;     // its input, sample n at n % size
  uint64_t next_ = 0;           // the next sample frame to come
  double power_ = 0;            // the input's mean square, followed
  double follow_ = 0;           // by this share a sample
  double half_ = 0;             // the half cell followed
  double at_ = 0;               // the next instant
  double before_ = 0;           // the output at the instant before
  bool primed_ = false;
  // The cells: which instants' boundaries open cells (every cell opens
  // with a reversal, so that the boundaries of one parity reverse always,
  // the others only in ones), how often each parity's reversed of late,
  // and, between cells, the middle boundary's place and the level the
  // cell opened with (the mean of the instants either side of its
  // opening boundary, signs set).
  uint64_t instants_ = 0;
  std::array<double, 2> reversing_{};
  double middle_ = -1;  // none: the last boundary opened a cell
  double opened_ = 0;   // 0: no level told since the cells were told
  double twoBefore_ = 0;  // the output two instants before
};

}  // namespace stampline

#endif  // STAMPLINE_DECODE_EDGE_REBUILDER_H_
