#include "live/live_schedule.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace stampline {
namespace {

constexpr int64_t kSecondNanos = 1'000'000'000;

int64_t floorDivide(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

}  // namespace

LiveSchedule::LiveSchedule(const Settings& settings, UtcOffset utcOffset)
    : settings_(settings),
      utcOffset_(std::move(utcOffset)),
      labelsPerDay_(labelsPerDay(settings.rate.nominal, settings.dropFrame)),
      freeSchedule_(settings.rate, settings.sampleRate, settings.start.value_or(0), settings.dropFrame) {}

double LiveSchedule::frameNanos(uint64_t n) const {
  // n x DEN x 1e9 / NUM stays within 64 bits for a day's frames.
  const uint64_t scaled = n * settings_.rate.denominator * static_cast<uint64_t>(kSecondNanos);
  const uint64_t whole = scaled / settings_.rate.numerator;
  return static_cast<double>(whole) +
         static_cast<double>(scaled % settings_.rate.numerator) / settings_.rate.numerator;
}

LiveSchedule::Slot LiveSchedule::locate(int64_t wallNanos, int64_t offset) const {
  const int64_t local = wallNanos + offset;
  const int64_t day = floorDivide(local, kDayNanos);
  const auto inDay = static_cast<uint64_t>(local - day * kDayNanos);
  // inDay x NUM stays within 64 bits: below 8.64e13 x 30000.
  const uint64_t perFrame = uint64_t{settings_.rate.denominator} * static_cast<uint64_t>(kSecondNanos);
  return {day, inDay * settings_.rate.numerator / perFrame};
}

LiveSchedule::Slot LiveSchedule::following(Slot slot) const {
  if (frameNanos(slot.n + 1) >= static_cast<double>(kDayNanos)) return {slot.day + 1, 0};
  return {slot.day, slot.n + 1};
}

int64_t LiveSchedule::instant(Slot slot, int64_t offset) const {
  return slot.day * kDayNanos - offset + std::llround(frameNanos(slot.n)) - settings_.aheadNanos;
}

double LiveSchedule::idealStart(Slot slot, int64_t offset, const ClockLock& lock, double latency) const {
  // A frame's first edge lies half a sample before its first sample.
  return lock.frameAt(instant(slot, offset)) - latency + 0.5;
}

void LiveSchedule::relocate(bool jumped) {
  if (settings_.start) return;
  started_ = false;
  jumped_ = jumped_ || jumped;
}

void LiveSchedule::clockStepped(int64_t nanos) {
  const double half = frameNanos(1) / 2;
  if (static_cast<double>(nanos < 0 ? -nanos : nanos) >= half) stepped_ = true;
}

LiveFrame LiveSchedule::freeRun(int64_t from) {
  if (!started_) {
    start_ = from;
    started_ = true;
  }
  LiveFrame f;
  f.label = freeSchedule_.label(freeFrame_);
  f.start = start_ + static_cast<int64_t>(freeSchedule_.frameStart(freeFrame_));
  f.length = static_cast<uint32_t>(freeSchedule_.frameLength(freeFrame_));
  f.day = static_cast<int64_t>((freeSchedule_.startNumber() + freeFrame_) / labelsPerDay_);
  ++freeFrame_;
  return f;
}

LiveFrame LiveSchedule::next(const ClockLock& lock, double latency, int64_t from) {
  if (settings_.start) return freeRun(from);
  // The wall-clock time at which card frame `frame` leaves, on the labels'
  // clock (later by the delay after the card).
  const auto labelTime = [&](double frame) { return lock.wallAt(frame + latency) + settings_.aheadNanos; };
  if (!started_) {
    // The first boundary at or after `from`; a new count where the clock
    // stepped since the frame before.
    if (placed_ && stepped_) jumped_ = true;
    const int64_t wall = labelTime(static_cast<double>(from));
    offset_ = utcOffset_(wall);
    current_ = following(locate(wall, offset_));
    start_ = static_cast<int64_t>(std::llround(idealStart(current_, offset_, lock, latency)));
    started_ = true;
  }
  // Where the frame ends at the card's rate, and where the clock puts the
  // next boundary (the local time's offset may have changed).
  Slot after = following(current_);
  const double expected =
      static_cast<double>(start_) + lock.frameAt(instant(after, offset_)) - lock.frameAt(instant(current_, offset_));
  const int64_t offset = utcOffset_(labelTime(expected));
  const double ideal = idealStart(after, offset, lock, latency);
  const double full = settings_.sampleRate * (1 + lock.ppm() * 1e-6) * settings_.rate.denominator /
                      settings_.rate.numerator;
  int64_t end = 0;
  bool jump = false;
  if (std::abs(ideal - expected) < full / 2) {
    // Within a sample of the frame's length on the card.
    end = std::clamp(static_cast<int64_t>(std::llround(ideal)), static_cast<int64_t>(std::floor(expected)) - 1,
                     static_cast<int64_t>(std::ceil(expected)) + 1);
  } else {
    // The clock stepped: the label it now says, half a frame on or more.
    after = following(locate(labelTime(static_cast<double>(start_) + full / 2), offset));
    end = static_cast<int64_t>(std::llround(idealStart(after, offset, lock, latency)));
    jump = true;
  }
  LiveFrame f;
  f.label = labelOfNumber(current_.n % labelsPerDay_, settings_.rate.nominal, settings_.dropFrame);
  f.start = start_;
  f.length = static_cast<uint32_t>(end - start_);
  f.day = current_.day;
  f.utcOffsetNanos = offset_;
  f.instantNanos = instant(current_, offset_);
  f.jumped = jumped_;
  current_ = after;
  start_ = end;
  offset_ = offset;
  jumped_ = jump;
  placed_ = true;
  stepped_ = false;
  return f;
}

}  // namespace stampline
