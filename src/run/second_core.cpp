#include "run/second_core.h"

#include <exception>
#include <system_error>
#include <utility>

#include "platform/process.h"

namespace stampline {

SecondCore::SecondCore() {
  try {
    worker_ = std::thread([this] { work(); });
  } catch (const std::system_error&) {
    // No thread: both halves run on the caller's.
  }
}

SecondCore::~SecondCore() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void SecondCore::work() {
  leaveStopsToMainThread();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return job_ != nullptr || stopping_; });
    if (job_ == nullptr) return;
    const std::function<void()>* job = job_;
    job_ = nullptr;
    busy_ = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
      (*job)();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    failure_ = failure;
    busy_ = false;
    changed_.notify_all();
  }
}

void SecondCore::both(const std::function<void()>& here, const std::function<void()>& there) {
  if (!worker_.joinable()) {
    here();
    there();
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = &there;
    failure_ = nullptr;
  }
  changed_.notify_all();
  // The other half is waited for however this one ends.
  struct Joined {
    SecondCore& core;
    ~Joined() {
      std::unique_lock<std::mutex> lock(core.mutex_);
      core.changed_.wait(lock, [this] { return core.job_ == nullptr && !core.busy_; });
    }
  };
  {
    const Joined joined{*this};
    here();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace stampline
