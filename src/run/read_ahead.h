#ifndef STAMPLINE_RUN_READ_AHEAD_H_
#define STAMPLINE_RUN_READ_AHEAD_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "run/block_source.h"

namespace stampline {

// Makes the blocks of another source one ahead, on a thread of its own,
// while the run writes the block before: the machine's second core
// interleaves while the first writes. The source's blocks must stay valid
// until the call after next. Where no thread can be started, the blocks
// are made as they are asked for.
class ReadAhead final : public BlockSource {
 public:
  explicit ReadAhead(BlockSource& source);
  ~ReadAhead() override;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  bool done() const override { return given_.done; }
  std::span<const uint8_t> next() override;
  uint64_t framesDone() const override { return given_.framesDone; }
  TimecodeWord lastLabel() const override { return given_.lastLabel; }
  std::string failed() const override { return given_.failed; }

 private:
  // A block and what the source said of itself once it was made.
  struct Made {
    std::span<const uint8_t> block;
    bool done = false;
    uint64_t framesDone = 0;
    TimecodeWord lastLabel = 0;
    std::string failed;
  };
  Made make();
  void work();

  BlockSource& source_;
  Made given_;  // the block handed out last
  Made ahead_;  // the one made after it
  std::mutex mutex_;
  std::condition_variable changed_;
  bool wanted_ = false;  // the worker is to make a block
  bool ready_ = false;   // ahead_ holds it
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_READ_AHEAD_H_
