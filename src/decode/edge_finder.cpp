#include "decode/edge_finder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "decode/reach.h"
#include "decode/stretch_bits.h"

namespace stampline {
namespace {

// The finder works through a channel in blocks of this many sample frames
// (about half a frame at 48 kHz); the envelope moves once a block.
constexpr size_t kBlockFrames = 4096;
// The envelope's level and middle follow each block by this share (a
// quarter every 4096 samples).
constexpr double kFollow = 0.25;
// A crossing whose signal stays this many cells on the far side without
// reaching the threshold (a noise spike returns at once) is a reversal.
constexpr double kDwellCells = 1.0 / 3;
// A block (long enough to hold cells) whose swing is below this share of
// the envelope's (the level dropped, a dropout) is judged by its own
// envelope instead.
constexpr double kQuieter = 0.35;
// A reversal must reach this share of the level past the middle.
constexpr double kReach = 0.4;
// Below this share of full scale the signal is silence.
constexpr double kSilence = 1.0 / 4096;
// The level is measured on every this many samples.
constexpr size_t kLevelStep = 64;
// A last cell that leans towards no reversal (a stepped signal, or one a
// high-pass made to droop or ring) closes at the input's end where its
// last reversal lies within this many cells of the end.
constexpr double kClosingCells = 1.25;
// One reversal in this many (a power of two) has its rise time measured.
constexpr uint64_t kRiseEvery = 256;
static_assert(std::has_single_bit(kRiseEvery));

template <typename T>
double valueAt(const T* samples, size_t stride, size_t i) {
  return static_cast<double>(samples[i * stride]);
}

// Where between two samples the signal crosses the middle: a share of the
// way from the first. Floating-point samples may be infinite or no number,
// and the crossing is then taken half way.
template <typename F>
F within(F fraction) {
  return fraction >= 0 && fraction <= 1 ? fraction : F{0.5};
}

// The middle in the sample type: for integers its whole part, so that
// "above the middle" reads the same in both.
template <typename T>
T asSample(double value) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(value);
  } else {
    return static_cast<T>(std::floor(value));
  }
}

// A float's exponent bits: all set, it is infinite or no number.
constexpr uint32_t kExponent = 0x7f800000;

// Asks for the cache lines of the 64-sample stretch at `stretch`.
template <typename T>
void fetchStretch(const T* stretch, size_t stride) {
  constexpr size_t kLine = 64;
  const auto* const bytes = reinterpret_cast<const char*>(stretch);
  for (size_t line = 0; line < 64 * stride * sizeof(T); line += kLine) __builtin_prefetch(bytes + line);
}

}  // namespace

EdgeFinder::EdgeFinder(double fullScale) : fullScale_(fullScale) {}

EdgeFinder::EdgeFinder(double fullScale, uint64_t firstSample)
    : fullScale_(fullScale), first_(firstSample), joined_(true) {}

void EdgeFinder::restartAt(uint64_t firstSample) {
  Scratch<Edge> found = std::move(found_);
  *this = EdgeFinder(fullScale_, firstSample);
  found_ = std::move(found);
}

void EdgeFinder::absorbMeasures(const EdgeFinder& before) {
  peak_ = std::max(peak_, before.peak_);
  riseSum_ += before.riseSum_;
  riseCount_ += before.riseCount_;
  nonFinite_ += before.nonFinite_;
}

std::span<const Edge> EdgeFinder::scan(const int16_t* samples, size_t stride, size_t frames) {
  return scanAll(samples, stride, frames);
}
std::span<const Edge> EdgeFinder::scan(const int32_t* samples, size_t stride, size_t frames) {
  return scanAll(samples, stride, frames);
}
std::span<const Edge> EdgeFinder::scan(const float* samples, size_t stride, size_t frames) {
  // Samples that are no number or infinite are a dropout: read as silence.
  uint32_t unfit = 0;
  for (size_t i = 0; i < frames; ++i) {
    unfit |= (std::bit_cast<uint32_t>(samples[i * stride]) & kExponent) == kExponent ? 1U : 0U;
  }
  if (unfit == 0) return scanAll(samples, stride, frames);
  finite_.items.resize(frames);
  for (size_t i = 0; i < frames; ++i) {
    const float v = samples[i * stride];
    const bool fit = std::isfinite(v);
    finite_.items[i] = fit ? v : 0.0F;
    if (!fit && first_ + i >= countFrom_ && first_ + i < countUntil_) ++nonFinite_;
  }
  return scanAll(finite_.items.data(), 1, frames);
}

void EdgeFinder::setWay(Way way) {
  way_ = way == Way::kSteps ? Way::kSteps : Way::kCrossings;
  // Each way's state is its own: the crossings' envelope is measured
  // afresh, the steps' measure starts clean.
  haveEnvelope_ = false;
  pending_ = false;
  stepBefore_ = stepLast_ = 0;
  sinceStep_ = 0;
  rebuilder_ = EdgeRebuilder();
}

void EdgeFinder::rebuild(double halfCell, int32_t sampleRate, bool bandLimited) {
  setWay(Way::kCrossings);
  way_ = Way::kRebuilt;
  rebuilder_ = EdgeRebuilder(halfCell, first_, sampleRate, bandLimited);
}

template <typename T>
std::span<const Edge> EdgeFinder::scanAll(const T* samples, size_t stride, size_t frames) {
  // At most one reversal a sample, one before the first, and one the last
  // call left waiting.
  if (found_.items.size() < frames + 2) found_.items.resize(frames + 2);
  count_ = 0;
  if (way_ == Way::kSteps) {
    scanSteps(samples, stride, frames);
    return {found_.items.data(), count_};
  }
  if (way_ == Way::kRebuilt) {
    scanRebuilt(samples, stride, frames);
    return {found_.items.data(), count_};
  }
  for (size_t done = 0; done < frames; done += kBlockFrames) {
    scanBlock(samples + done * stride, stride, std::min(kBlockFrames, frames - done), frames - done);
  }
  // The latest samples, for the steps way should it take over.
  for (size_t i = frames > recent_.size() ? frames - recent_.size() : 0; i < frames; ++i) {
    recent_[recentSlot(seen_++)] = static_cast<double>(samples[i * stride]);
  }
  return crossingsFound();
}

template <typename T>
void EdgeFinder::scanBlock(const T* block, size_t stride, size_t count, size_t readable) {
  // The envelope of the blocks before serves this one, which then moves it
  // on; the first block, or one after silence, is measured first.
  if (!haveEnvelope_ || silent_) {
    const bool wasSilent = haveEnvelope_ && silent_;
    T highest = block[0];
    T lowest = block[0];
    for (size_t i = 0; i < count; ++i) {
      highest = std::max(highest, block[i * stride]);
      lowest = std::min(lowest, block[i * stride]);
    }
    updateEnvelope(block, stride, count, highest, lowest);
    if (wasSilent && !silent_) resumeAfterSilence(block, stride, count);
  }
  if (!started_) {
    // A signal that starts at one of its levels began its first cell with
    // a reversal just before; one joined part way just stands there.
    started_ = true;
    last_ = valueAt(block, stride, 0);
    if (!silent_ && std::abs(last_ - mid_) >= reach_) {
      if (joined_) {
        state_ = last_ > mid_ ? 1 : -1;
      } else {
        accept(-0.5, last_ > mid_);
      }
    }
  }
  // What the block may have to be read again from.
  const Resume resume{count_, reversals_, state_, pending_, pendingPosition_, pendingRising_, passOver_};
  if (pending_) confirm(block, stride, count, 0);
  T highest = block[0];
  T lowest = block[0];
  crossings(block, stride, count, readable, highest, lowest);
  const double swing = (static_cast<double>(highest) - static_cast<double>(lowest)) / 2;
  if (count >= kBlockFrames / 2 && swing < kQuieter * (high_ - low_) / 2 && std::isfinite(swing)) {
    // Far quieter than the envelope: read again by its own.
    count_ = resume.count;
    reversals_ = resume.reversals;
    state_ = resume.state;
    pending_ = resume.pending;
    pendingPosition_ = resume.pendingPosition;
    pendingRising_ = resume.pendingRising;
    passOver_ = resume.passOver;
    haveEnvelope_ = false;
    updateEnvelope(block, stride, count, highest, lowest);
    if (pending_) confirm(block, stride, count, 0);
    crossings(block, stride, count, readable, highest, lowest);
  }
  last_ = valueAt(block, stride, count - 1);
  first_ += count;
  updateEnvelope(block, stride, count, highest, lowest);
}

// The crossings of the middle, found 64 samples at a time. The common case
// (a crossing that reaches past the threshold at once) is taken here with
// the state in locals; the rest goes the long way through crossing().
template <typename T>
void EdgeFinder::crossings(const T* block, size_t stride, size_t count, size_t readable, T& highest, T& lowest) {
  const T mid = asSample<T>(mid_);
  // Every other sample is read in pairs: the last pair must be whole (a
  // block that more samples follow has it whole).
  const size_t stretches = (count - (stride == 2 && readable == count ? 1 : 0)) / 64;
  std::array<uint64_t, kBlockFrames / 64> bits{};
  stretchBits(block, stride, stretches, mid, bits.data(), highest, lowest);
  const double middle = mid_;
  const Reach<T> reach(middle, reach_);
  // The fast way's crossings lie after the block's first sample: past 0.
  const auto base = static_cast<int64_t>(first_) - 1;
  // Whether the signal before the block stands above the middle: as the
  // state has it, once there is one. (The middle has moved since the last
  // sample was read, and may have moved past it if it lay on a reversal:
  // read against the new middle, the reversal would be lost.)
  uint64_t carry = state_ != 0 ? (state_ > 0 ? 1 : 0) : static_cast<T>(last_) > mid ? 1 : 0;
  int state = state_;
  Edge* const edges = found_.items.data();
  Edge* next = edges + count_;
  // Every reversal found is counted in both: the difference stays. The
  // rise of reversal 1 in every kRiseEvery is measured: this many more on.
  const uint64_t counted = reversals_ - count_;
  const auto riseAfter = [this] { return ((0 - reversals_) & (kRiseEvery - 1)) + 1; };
  uint64_t riseIn = riseAfter();
  // Where the long way takes over: a crossing waiting, or one to pass over.
  const auto passOverAt = [this, count] {
    return passOver_ >= first_ && passOver_ - first_ < count ? static_cast<size_t>(passOver_ - first_) : SIZE_MAX;
  };
  size_t passOver = passOverAt();
  // The long way, with the state where it lives. While a crossing waits
  // (to the block's end), the crossings after it change nothing.
  bool waiting = pending_ || silent_;
  const auto longWay = [&](size_t at) {
    state_ = state;
    count_ = static_cast<size_t>(next - edges);
    reversals_ = counted + count_;
    crossing(block, stride, count, at);
    state = state_;
    next = edges + count_;
    passOver = passOverAt();
    waiting = pending_;
    riseIn = riseAfter();
  };
  // While this block's crossings are found, the next block's samples are
  // asked for: a mapped file's come from memory, and the processor's own
  // prefetching stops at the end of each page. (Of a file of many
  // channels, the first channel's reading brings in the rest.)
  const size_t fetch = stride <= 2 && readable > count ? std::min(readable - count - 1, count) / 64 : 0;
  const T* const nextBlock = block + count * stride;
  for (size_t c = 0; c < stretches && !waiting; ++c) {
    if (c < fetch) fetchStretch(nextBlock + c * 64 * stride, stride);
    uint64_t crossed = bits[c] ^ (bits[c] << 1 | carry);
    carry = bits[c] >> 63;
    if (c == 0 && (crossed & 1U) != 0) {
      crossed &= ~uint64_t{1};
      longWay(0);  // against the sample before the block
      if (waiting) break;
    }
    for (; crossed != 0; crossed &= crossed - 1) {
      const int k = std::countr_zero(crossed);
      const size_t at = c * 64 + static_cast<size_t>(k);
      const T* const sample = block + at * stride;
      const bool rising = ((bits[c] >> k) & 1U) != 0;  // now above the middle
      if (state == (rising ? 1 : -1)) continue;  // back where it stands
      // Past the threshold at once, not a crossing back: the common case,
      // here.
      if (!reach.past(sample[0], rising) || at == passOver) {
        longWay(at);
        if (waiting) break;
        continue;
      }
      const T before = sample[-static_cast<std::ptrdiff_t>(stride)];
      // The fraction of a sample in units (the span scaled, which is exact,
      // to keep the multiplication off the path from the samples), rounded
      // up: it lies between 0 and kEdgeUnit, and n - x cut to a whole
      // number is n less x rounded up.
      constexpr double kUnitsPerSample = kEdgeUnit;
      auto units = (middle - static_cast<double>(before)) / (Reach<T>::span(before, sample[0]) / kUnitsPerSample);
      // Integers on either side of the middle always cross between them.
      if constexpr (std::is_floating_point_v<T>) units = within(units / kUnitsPerSample) * kUnitsPerSample;
      const double below = kUnitsPerSample - units;
      next->position = (base + static_cast<int64_t>(at) + 1) * kEdgeUnit - static_cast<int64_t>(below);
      next->rising = rising;
      ++next;
      state = rising ? 1 : -1;
      if (--riseIn == 0) {
        riseIn = kRiseEvery;
        measureRise(block, stride, count, at, rising);
      }
    }
  }
  state_ = state;
  count_ = static_cast<size_t>(next - edges);
  reversals_ = counted + count_;
  T high = highest;
  T low = lowest;
  for (size_t i = stretches * 64; i < count; ++i) {
    const T v = block[i * stride];
    high = std::max(high, v);
    low = std::min(low, v);
    const uint64_t above = v > mid ? 1 : 0;
    if (above != carry && !silent_) crossing(block, stride, count, i);
    carry = above;
  }
  highest = high;
  lowest = low;
}

// Sample `at` lies on the other side of the middle from the one before.
template <typename T>
void EdgeFinder::crossing(const T* block, size_t stride, size_t count, size_t at) {
  if (pending_ || first_ + at == passOver_) return;
  const double v = valueAt(block, stride, at);
  const bool rising = v > mid_;
  if (rising == (state_ > 0) && state_ != 0) return;  // back where it stands
  const double before = at > 0 ? valueAt(block, stride, at - 1) : last_;
  const double position = static_cast<double>(first_ + at) - 1 + within((mid_ - before) / (v - before));
  // Most reversals are past the threshold at once.
  if ((rising ? v - mid_ : mid_ - v) >= reach_) {
    accept(position, rising);
    if (reversals_ % kRiseEvery == 1) measureRise(block, stride, count, at, rising);
    return;
  }
  pendingPosition_ = position;
  pendingRising_ = rising;
  pending_ = true;
  confirm(block, stride, count, at + 1);
}

// The signal comes back after silence: its first level (where it first
// reaches the threshold) opens a cell, whichever side it is on.
template <typename T>
void EdgeFinder::resumeAfterSilence(const T* block, size_t stride, size_t count) {
  pending_ = false;
  for (size_t i = 0; i < count; ++i) {
    const double v = valueAt(block, stride, i) - mid_;
    if (std::abs(v) >= reach_) {
      state_ = 0;
      accept(static_cast<double>(first_ + i) - 0.5, v > 0);
      return;
    }
  }
}

// Follows a crossing on from sample `from`: a reversal once the signal
// reaches past the threshold (or stays past the middle a third of a cell),
// a spike if it crosses back first. At the end of the block it waits for
// the next.
template <typename T>
void EdgeFinder::confirm(const T* block, size_t stride, size_t count, size_t from) {
  const double sign = pendingRising_ ? 1 : -1;
  // A level that stays on the far side this long is a reversal, however
  // far it reaches (the signal fell: a dropout, a fade).
  const double dwell = window_ >= 6 ? window_ * kDwellCells : INFINITY;
  for (size_t j = from; j < count; ++j) {
    const double v = (valueAt(block, stride, j) - mid_) * sign;
    if (v >= reach_ || (v > 0 && static_cast<double>(first_ + j) - pendingPosition_ >= dwell)) {
      pending_ = false;
      accept(pendingPosition_, pendingRising_);
      return;
    }
    if (pendingRising_ ? v <= 0 : v < 0) {
      pending_ = false;
      passOver_ = first_ + j;
      return;
    }
  }
}

// The 10 % and 90 % points of a reversal between the levels a quarter cell
// before and after it, by linear interpolation between samples.
template <typename T>
void EdgeFinder::measureRise(const T* block, size_t stride, size_t count, size_t at, bool rising) {
  const auto reachOut = static_cast<size_t>(std::clamp(window_ / 4, 1.0, 32.0));
  if (at < reachOut + 1 || at + reachOut >= count) return;
  const size_t from = at - 1 - reachOut;
  const size_t to = at + reachOut;
  const double start = valueAt(block, stride, from);
  const double swing = valueAt(block, stride, to) - start;
  if (!(std::abs(swing) >= reach_) || !std::isfinite(swing) || (swing > 0) != rising) return;
  const auto when = [&](double share) {
    const double level = start + share * swing;
    for (size_t j = from; j < to; ++j) {
      const double a = (valueAt(block, stride, j) - level) * (rising ? 1 : -1);
      const double b = (valueAt(block, stride, j + 1) - level) * (rising ? 1 : -1);
      if (a < 0 && b >= 0) return static_cast<double>(j) + a / (a - b);
    }
    return -1.0;
  };
  const double t10 = when(0.1);
  const double t90 = when(0.9);
  if (t10 < 0 || t90 < t10) return;
  riseSum_ += t90 - t10;
  ++riseCount_;
}

// Moves the envelope on by a block whose extremes are `highest` and
// `lowest`.
template <typename T>
void EdgeFinder::updateEnvelope(const T* block, size_t stride, size_t count, T highest, T lowest) {
  for (const T extreme : {highest, lowest}) {
    const double magnitude = std::abs(static_cast<double>(extreme));
    if (std::isfinite(magnitude)) peak_ = std::max(peak_, magnitude);
  }
  // The two levels: the means of the samples above and below the middle
  // (on every few samples; the first block splits at its extremes' middle).
  const double split =
      haveEnvelope_ ? mid_ : (static_cast<double>(highest) + static_cast<double>(lowest)) / 2;
  // (Each sample is added to both sums, as itself or as 0, with no branch
  // on which side it lies.)
  double above = 0;
  double below = 0;
  size_t aboveCount = 0;
  size_t taken = 0;
  for (size_t i = 0; i < count; i += kLevelStep, ++taken) {
    const double v = valueAt(block, stride, i);
    const bool up = v > split;
    above += up ? v : 0.0;
    below += up ? 0.0 : v;
    aboveCount += up ? 1 : 0;
  }
  const size_t belowCount = taken - aboveCount;
  // A side the block's samples never reached (a short block, or one
  // within a long cell) says nothing about its level: it stays.
  const double upper = aboveCount > 0 ? above / static_cast<double>(aboveCount) : haveEnvelope_ ? high_ : split;
  const double lower = belowCount > 0 ? below / static_cast<double>(belowCount) : haveEnvelope_ ? low_ : split;
  if (!std::isfinite(upper) || !std::isfinite(lower)) {
    silent_ = true;  // a floating-point block with a value that is no number
    return;
  }
  if (!haveEnvelope_) {
    high_ = upper;
    low_ = lower;
    haveEnvelope_ = true;
  } else {
    high_ += kFollow * (upper - high_);
    low_ += kFollow * (lower - low_);
  }
  mid_ = (high_ + low_) / 2;
  reach_ = kReach * (high_ - low_) / 2;
  silent_ = (high_ - low_) / 2 < kSilence * fullScale_;
}

std::span<const Edge> EdgeFinder::finish() {
  // The last cell ends where the input does. (A crossing still waiting to
  // reach past the threshold is taken: the input ended as the signal
  // crossed the middle.)
  if (found_.items.size() < 2) found_.items.resize(2);
  count_ = 0;
  if (pending_) accept(pendingPosition_, pendingRising_);
  pending_ = false;
  // (The last sample may already lean towards a reversal that never came;
  // where it does not, as in a signal a high-pass made to droop or ring, or
  // a stepped one, which leans nowhere, the cell closes where the last
  // reversal lies within a cell and a bit of the end. A reversal just
  // before the end, which the channel may have moved later, is closed half
  // a cell after it.)
  const auto end = static_cast<double>(first_);
  const bool leans = way_ != Way::kSteps && (last_ > mid_) == (state_ > 0);
  const bool recent = window_ > 0 && end - lastReversal_ <= kClosingCells * window_;
  if (state_ == 0 || silent_ || !(leans || recent)) return {found_.items.data(), count_};
  double at = end - 0.5;
  if (window_ > 0 && at - lastReversal_ < window_ / 4) at = lastReversal_ + window_ / 2;
  accept(at, state_ < 0);
  return {found_.items.data(), count_};
}

}  // namespace stampline
