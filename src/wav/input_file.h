#ifndef STAMPLINE_WAV_INPUT_FILE_H_
#define STAMPLINE_WAV_INPUT_FILE_H_

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/stop.h"

namespace stampline {

// Where a WAV file's bytes come from: the narrow interface the reader needs,
// with the system's files and standard input behind it, and a stand-in in
// memory that behaves as they do for the tests and the fuzzers. A regular
// file can be read at any offset; a stream (a pipe, standard input) only
// from the front.
class InputFile {
 public:
  virtual ~InputFile() = default;

  virtual bool seekable() const = 0;
  // The next `bytes` bytes, or fewer only where the input ends (or fails,
  // or stops); valid until the next call. A regular file is mapped rather
  // than copied where the system allows it.
  virtual std::span<const uint8_t> next(size_t bytes) = 0;
  // Moves on by `bytes` without reading them; false where the input ends
  // first (it then stands at its end: a skip never wraps around).
  virtual bool skip(uint64_t bytes) = 0;
  // Seekable inputs only: goes to `offset` from the start; false past the
  // end (it then stands at its end).
  virtual bool seek(uint64_t offset) = 0;
  // Bytes from the start of the input to where it stands.
  virtual uint64_t position() const = 0;
  // The system's error number of a read that failed (the input then ends
  // there), or 0.
  virtual int error() const = 0;
  // From now on, a read of a stream that waits for its writer gives up
  // once `stop` holds a request (within a tenth of a second): the input
  // then ends there, and stopped() says so.
  virtual void stopOn(StopFlag stop) = 0;
  virtual bool stopped() const = 0;
};

// Where a skip of `bytes` from `position` takes an input of `size` bytes:
// no further than its end. Returns whether it got all the way.
bool skipWithin(uint64_t& position, uint64_t size, uint64_t bytes);

// Opens `path` for reading, or standard input for "-". Fails, with `why`
// set to what is wrong in a few words ("no such file", "a directory"),
// for a path that cannot be read, or with `why` empty when a stop came
// while opening waited (a FIFO without a writer).
std::unique_ptr<InputFile> openInputFile(const std::string& path, std::string& why, StopFlag stop = nullptr);

// Whether both paths name one file that exists (through links too).
bool namesSameFile(const std::string& a, const std::string& b);

// An input held in memory, read as a stream (`seekable` false: skips read
// and discard, no seeks) or as a regular file. With `failAt`, reading the
// byte at that offset fails with `error`, as a disk's bad sector does.
struct MemoryInputFaults {
  std::optional<uint64_t> failAt;
  int error = EIO;
};
std::unique_ptr<InputFile> memoryInput(std::string bytes, bool seekable, MemoryInputFaults faults = {});

}  // namespace stampline

#endif  // STAMPLINE_WAV_INPUT_FILE_H_
