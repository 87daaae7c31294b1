#ifndef STAMPLINE_RUN_BLOCK_SOURCE_H_
#define STAMPLINE_RUN_BLOCK_SOURCE_H_

#include <cstdint>
#include <span>
#include <string>

#include "timecode/timecode.h"

namespace stampline {

// A run's sample source: blocks of the output's samples, whole LTC frames
// at a time, as the sink takes them (the encoder's alone, or a mixed
// input's with the LTC among them).
class BlockSource {
 public:
  virtual ~BlockSource() = default;
  virtual bool done() const = 0;
  // The next block, valid until the next call; empty when it could not be
  // made (failed() then says so) or when the input stopped on a request.
  virtual std::span<const uint8_t> next() = 0;
  // Frames given so far, and the label of the last of them.
  virtual uint64_t framesDone() const = 0;
  virtual TimecodeWord lastLabel() const = 0;
  // A block could not be made: the message to print, else empty.
  virtual std::string failed() const { return {}; }
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_BLOCK_SOURCE_H_
