#ifndef STAMPLINE_RUN_SECOND_CORE_H_
#define STAMPLINE_RUN_SECOND_CORE_H_

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace stampline {

// A thread kept for a run's many short pieces of work on the machine's
// second core: waking it costs far less than starting a thread each time.
// Where no thread can be started, the work is done on the caller's.
class SecondCore {
 public:
  SecondCore();
  ~SecondCore();
  SecondCore(const SecondCore&) = delete;
  SecondCore& operator=(const SecondCore&) = delete;

  // Runs `here` on the calling thread and `there` on the kept one, and
  // returns once both have; what either throws is thrown on.
  void both(const std::function<void()>& here, const std::function<void()>& there);

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* job_ = nullptr;  // the work waiting, if any
  bool busy_ = false;                           // a job taken and not yet done
  bool stopping_ = false;
  std::exception_ptr failure_;  // what the kept thread's last job threw
  std::thread worker_;
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_SECOND_CORE_H_
