#ifndef STAMPLINE_WAV_OUTPUT_FILE_H_
#define STAMPLINE_WAV_OUTPUT_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace stampline {

// How an operation that may wait ended: done, failed, or given up because a
// stop was requested while it waited (a FIFO without a reader, a pipe whose
// reader has stopped reading).
enum class [[nodiscard]] IoResult { kDone, kFailed, kStopped };

// A request to stop, set from a signal handler or the console's thread: the
// signal number, or 0. Lock-free, so a handler may store it.
using StopFlag = const std::atomic<int>*;
static_assert(std::atomic<int>::is_always_lock_free);

inline bool stopRequested(StopFlag stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

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

  // Opens `path` for writing, creating a new file with mode 0666 less the
  // umask. Refused without a byte written: any terminal, and the very file,
  // FIFO or pipe that standard output or standard input is (their messages
  // or input would be mixed into it); devices that discard or stream what
  // they get (/dev/null) are allowed. A regular file is then locked for this
  // run alone (a second run on it is refused) and only then truncated. On
  // POSIX systems opening waits as long as it waits (a FIFO waits for its
  // reader) unless `stop` is set meanwhile.
  IoResult open(const std::string& path, StopFlag stop);
  bool seekable() const { return seekable_; }
  // Appends all of `data`, retrying short writes; gives up at the first
  // failure, or when `stop` is set while a write waits.
  IoResult append(const void* data, size_t bytes, StopFlag stop);
  // Bytes that have reached the file by append, including a partial block.
  uint64_t appended() const { return appended_; }

  // Regular files only: overwrites bytes in place; cuts the file to `size`
  // bytes; makes the data written so far durable (fdatasync); commits the
  // whole file system, which on a copy-on-write file system is when the
  // space a cut freed becomes free again.
  [[nodiscard]] bool writeAt(uint64_t offset, const void* data, size_t bytes);
  [[nodiscard]] bool truncate(uint64_t size);
  [[nodiscard]] bool sync();
  [[nodiscard]] bool commitFileSystem();
  // The system's error number of the last operation that failed.
  int lastError() const { return lastError_; }

  // Closes the file; false when the system reports that it could not keep
  // what was written. A file already closed (or removed) stays so.
  [[nodiscard]] bool close();
  // Closes the file and removes it, if the path still names it.
  void remove();

 private:
  int fd_ = -1;
  bool seekable_ = false;
  uint64_t appended_ = 0;
  int lastError_ = 0;
  std::string path_;
};

}  // namespace stampline

#endif  // STAMPLINE_WAV_OUTPUT_FILE_H_
