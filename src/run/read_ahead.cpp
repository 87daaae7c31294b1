#include "run/read_ahead.h"

#include <system_error>

#include "platform/process.h"

namespace stampline {

ReadAhead::ReadAhead(BlockSource& source) : source_(source) {
  given_.done = source.done();
  given_.framesDone = source.framesDone();
  given_.lastLabel = source.lastLabel();
  if (given_.done) return;
  wanted_ = true;
  try {
    worker_ = std::thread([this] { work(); });
  } catch (const std::system_error&) {
    wanted_ = false;  // no thread: blocks are made when asked for
  }
}

ReadAhead::~ReadAhead() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

ReadAhead::Made ReadAhead::make() {
  Made made;
  made.block = source_.next();
  made.done = source_.done() || made.block.empty();
  made.framesDone = source_.framesDone();
  made.lastLabel = source_.lastLabel();
  made.failed = source_.failed();
  return made;
}

void ReadAhead::work() {
  leaveStopsToMainThread();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return wanted_ || stopping_; });
    if (stopping_) return;
    wanted_ = false;
    lock.unlock();
    Made made = make();
    lock.lock();
    ahead_ = std::move(made);
    ready_ = true;
    changed_.notify_all();
  }
}

std::span<const uint8_t> ReadAhead::next() {
  if (!worker_.joinable()) {
    given_ = make();
    return given_.block;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return ready_; });
  ready_ = false;
  given_ = std::move(ahead_);
  // The next block is made while this one is written.
  if (!given_.done) {
    wanted_ = true;
    changed_.notify_all();
  }
  return given_.block;
}

}  // namespace stampline
