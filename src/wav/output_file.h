#ifndef STAMPLINE_WAV_OUTPUT_FILE_H_
#define STAMPLINE_WAV_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/stop.h"

namespace stampline {

// Where a WAV file's bytes go: the narrow interface the writer needs, with
// the system's files behind it and an in-memory stand-in in the tests. A
// regular file is seekable and can be completed or cut back in place;
// anything else (a pipe, FIFO or device) is a stream that only ever grows.
class OutputFile {
 public:
  virtual ~OutputFile() = default;

  virtual bool seekable() const = 0;
  // Appends all of `data`, retrying short writes; gives up at the first
  // failure, or when `stop` is set while a write waits.
  virtual IoResult append(const void* data, size_t bytes, StopFlag stop) = 0;
  // Bytes that have reached the file by append, including a partial block.
  virtual uint64_t appended() const = 0;
  // Asks the system to start writing what was appended to the device, and
  // returns at once; a later sync() then has less to wait for. A hint: it
  // may do nothing.
  virtual void startWriteBack() {}

  // Regular files only: overwrites bytes in place; cuts the file to `size`
  // bytes; makes the data written so far durable (fdatasync); commits the
  // whole file system, which on a copy-on-write file system is when the
  // space a cut freed becomes free again.
  [[nodiscard]] virtual bool writeAt(uint64_t offset, const void* data, size_t bytes) = 0;
  [[nodiscard]] virtual bool truncate(uint64_t size) = 0;
  [[nodiscard]] virtual bool sync() = 0;
  [[nodiscard]] virtual bool commitFileSystem() = 0;
  // The system's error number of the last operation that failed.
  virtual int lastError() const = 0;

  // Closes the file; false when the system reports that it could not keep
  // what was written. A file already closed (or removed) stays so.
  [[nodiscard]] virtual bool close() = 0;
  // Closes the file and removes it, if the path still names it.
  virtual void remove() = 0;
};

// Opens `path` for writing, creating a new file with mode 0666 less the
// umask. Refused without a byte written: any terminal, and the very file,
// FIFO or pipe that standard output or standard input is (their messages
// or input would be mixed into it); devices that discard or stream what
// they get (/dev/null) are allowed. A regular file is then locked for this
// run alone (a second run on it is refused) and only then truncated. On
// POSIX systems opening waits as long as it waits (a FIFO waits for its
// reader) unless `stop` is set meanwhile. Sets `file` when done.
IoResult openOutputFile(const std::string& path, StopFlag stop, std::unique_ptr<OutputFile>& file);

// Standard output as a stream, whatever it is (a pipe, a file, a device),
// written from where it stands; refused when it is a terminal. Sets `file`
// when done.
IoResult openStandardOutput(std::unique_ptr<OutputFile>& file);

// Whether `error` (an OutputFile's lastError()) says the reader of a pipe
// has gone.
bool readerGone(int error);

}  // namespace stampline

#endif  // STAMPLINE_WAV_OUTPUT_FILE_H_
