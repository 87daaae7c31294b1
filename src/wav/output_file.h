#ifndef STAMPLINE_WAV_OUTPUT_FILE_H_
#define STAMPLINE_WAV_OUTPUT_FILE_H_

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

namespace stampline {

// How an operation that may wait ended: done, failed, or given up because a
// stop was requested while it waited (a FIFO without a reader, a pipe whose
// reader has stopped reading).
enum class IoResult { kDone, kFailed, kStopped };

// A request to stop, set from a signal handler: the signal number, or 0.
using StopFlag = const volatile std::sig_atomic_t*;

inline bool stopRequested(StopFlag stop) { return stop != nullptr && *stop != 0; }

// True when `path` names the very file, pipe or terminal that standard output
// goes to: writing samples there would mix them with the program's messages.
// Devices that discard or stream what they get (/dev/null) do not count.
bool isStandardOutput(const std::string& path);

// The output file, written straight to the system without a library buffer:
// the caller hands over whole blocks. A regular file is seekable and can be
// completed or cut back in place; anything else (a pipe, FIFO or device) is
// a stream that only ever grows.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates `path` for writing. Waits as long as opening waits
  // (a FIFO waits for its reader) unless `stop` is set meanwhile.
  IoResult open(const std::string& path, StopFlag stop);
  bool seekable() const { return seekable_; }
  // Appends all of `data`, retrying short writes; gives up at the first
  // failure, or when `stop` is set while a write waits.
  IoResult writeBlock(const void* data, size_t bytes, StopFlag stop);
  // Bytes that have reached the file by writeBlock, including a partial block.
  uint64_t appended() const { return appended_; }
  // Regular files only: overwrites bytes in place, and cuts the file to
  // `size` bytes.
  [[nodiscard]] bool writeAt(uint64_t offset, const void* data, size_t bytes);
  [[nodiscard]] bool truncate(uint64_t size);
  // Closes the file; false when the system reports that it could not keep
  // what was written.
  [[nodiscard]] bool close();

 private:
  int fd_ = -1;
  bool seekable_ = false;
  uint64_t appended_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_WAV_OUTPUT_FILE_H_
