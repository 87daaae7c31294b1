#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "wav/output_file.h"

namespace stampline {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open file `info` (descriptor `fd`) must not take the samples:
// a terminal, or the file, FIFO or socket of standard output or input.
bool refused(int fd, const struct stat& info) {
  if (isatty(fd) != 0) return true;
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode)) return false;
  for (const int standard : {STDOUT_FILENO, STDIN_FILENO}) {
    struct stat other {};
    if (fstat(standard, &other) == 0 && sameFile(info, other)) return true;
  }
  return false;
}

// A file of the system, written straight through without a library
// buffer: the caller hands over whole blocks.
class SystemFile final : public OutputFile {
 public:
  SystemFile() = default;
  ~SystemFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  SystemFile(const SystemFile&) = delete;
  SystemFile& operator=(const SystemFile&) = delete;

  IoResult open(const std::string& path, StopFlag stop);
  // Takes over `fd`, written as a stream.
  void adopt(int fd) {
    fd_ = fd;
    seekable_ = false;
  }
  bool seekable() const override { return seekable_; }
  IoResult append(const void* data, size_t bytes, StopFlag stop) override;
  uint64_t appended() const override { return appended_; }
  void startWriteBack() override;
  bool writeAt(uint64_t offset, const void* data, size_t bytes) override;
  bool truncate(uint64_t size) override;
  bool sync() override;
  bool commitFileSystem() override;
  int lastError() const override { return lastError_; }
  bool close() override;
  void remove() override;

 private:
  int fd_ = -1;
  bool seekable_ = false;
  uint64_t appended_ = 0;
  uint64_t writeBackFrom_ = 0;  // the first byte not yet handed to write-back
  int lastError_ = 0;
  std::string path_;
};

IoResult SystemFile::open(const std::string& path, StopFlag stop) {
  path_ = path;
  for (;;) {
    // Not truncated yet: first it must turn out to be a file this run may
    // write. No controlling terminal is taken on by the way.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ >= 0) break;
    lastError_ = errno;
    if (errno != EINTR) return IoResult::kFailed;
    if (stopRequested(stop)) return IoResult::kStopped;
  }
  struct stat info {};
  if (fstat(fd_, &info) != 0 || refused(fd_, info)) {
    ::close(fd_);
    fd_ = -1;
    return IoResult::kFailed;
  }
  seekable_ = S_ISREG(info.st_mode);
  appended_ = 0;
  if (!seekable_) return IoResult::kDone;
  // A run that finds the file locked leaves it alone. A file system without
  // locks is written unlocked.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
    lastError_ = errno;
    ::close(fd_);
    fd_ = -1;
    return IoResult::kFailed;
  }
  if (info.st_size > 0 && !truncate(0)) {
    ::close(fd_);
    fd_ = -1;
    return IoResult::kFailed;
  }
  return IoResult::kDone;
}

IoResult SystemFile::append(const void* data, size_t bytes, StopFlag stop) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, next, std::min<size_t>(bytes, SSIZE_MAX));
    if (n < 0) {
      lastError_ = errno;
      if (errno != EINTR) return IoResult::kFailed;
      if (stopRequested(stop)) return IoResult::kStopped;
      continue;
    }
    if (n == 0) return IoResult::kFailed;
    next += n;
    bytes -= static_cast<size_t>(n);
    appended_ += static_cast<uint64_t>(n);
    // A short write to a stream means a signal cut a wait short.
    if (bytes > 0 && stopRequested(stop)) return IoResult::kStopped;
  }
  return IoResult::kDone;
}

bool SystemFile::writeAt(uint64_t offset, const void* data, size_t bytes) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd_, next, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    next += n;
    bytes -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool SystemFile::truncate(uint64_t size) {
  for (;;) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
    lastError_ = errno;
    if (errno != EINTR) return false;
  }
}

bool SystemFile::sync() {
  if (!seekable_) return true;
  for (;;) {
    if (::fdatasync(fd_) == 0) return true;
    lastError_ = errno;
    if (errno != EINTR) return false;
  }
}

bool SystemFile::commitFileSystem() {
#if defined(__linux__)
  if (::syncfs(fd_) == 0) return true;
  lastError_ = errno;
  return false;
#else
  ::sync();
  return true;
#endif
}

bool SystemFile::close() {
  if (fd_ < 0) return true;  // already closed (or removed)
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) == 0) return true;
  lastError_ = errno;
  // After an interrupted close the descriptor is gone all the same.
  return errno == EINTR;
}

void SystemFile::startWriteBack() {
#if defined(__linux__)
  // The data appended since the last call goes to the device now, in the
  // background; a checkpoint's fdatasync then finds most of it written.
  if (!seekable_ || appended_ <= writeBackFrom_) return;
  sync_file_range(fd_, static_cast<off_t>(writeBackFrom_),
                  static_cast<off_t>(appended_ - writeBackFrom_), SYNC_FILE_RANGE_WRITE);
  writeBackFrom_ = appended_;
#endif
}

void SystemFile::remove() {
  struct stat ours {};
  struct stat named {};
  if (fd_ >= 0 && fstat(fd_, &ours) == 0 && stat(path_.c_str(), &named) == 0 &&
      sameFile(ours, named)) {
    ::unlink(path_.c_str());
  }
  static_cast<void>(close());
}

}  // namespace

IoResult openOutputFile(const std::string& path, StopFlag stop, std::unique_ptr<OutputFile>& file) {
  auto opened = std::make_unique<SystemFile>();
  const IoResult result = opened->open(path, stop);
  if (result == IoResult::kDone) file = std::move(opened);
  return result;
}

IoResult openStandardOutput(std::unique_ptr<OutputFile>& file) {
  if (isatty(STDOUT_FILENO) != 0) return IoResult::kFailed;
  const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return IoResult::kFailed;
  auto opened = std::make_unique<SystemFile>();
  opened->adopt(fd);
  file = std::move(opened);
  return IoResult::kDone;
}

bool readerGone(int error) { return error == EPIPE; }

}  // namespace stampline
