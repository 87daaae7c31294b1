#include "wav/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace stampline {

bool isStandardOutput(const std::string& path) {
  struct stat target {};
  struct stat standardOutput {};
  if (stat(path.c_str(), &target) != 0 || fstat(STDOUT_FILENO, &standardOutput) != 0) {
    return false;
  }
  if (target.st_dev != standardOutput.st_dev || target.st_ino != standardOutput.st_ino) {
    return false;
  }
  return S_ISREG(target.st_mode) || S_ISFIFO(target.st_mode) || S_ISSOCK(target.st_mode) ||
         isatty(STDOUT_FILENO) != 0;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

IoResult OutputFile::open(const std::string& path, StopFlag stop) {
  for (;;) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    if (errno != EINTR) return IoResult::kFailed;
    if (stopRequested(stop)) return IoResult::kStopped;
  }
  struct stat info {};
  seekable_ = fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  appended_ = 0;
  return IoResult::kDone;
}

IoResult OutputFile::writeBlock(const void* data, size_t bytes, StopFlag stop) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::write(fd_, next, std::min<size_t>(bytes, SSIZE_MAX));
    if (n < 0) {
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

// Not const: they change the file, if not the object.
// NOLINTNEXTLINE(readability-make-member-function-const)
bool OutputFile::writeAt(uint64_t offset, const void* data, size_t bytes) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t n = ::pwrite(fd_, next, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    next += n;
    bytes -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

// NOLINTNEXTLINE(readability-make-member-function-const)
bool OutputFile::truncate(uint64_t size) {
  for (;;) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool OutputFile::close() {
  const int fd = fd_;
  fd_ = -1;
  // After an interrupted close the descriptor is gone all the same.
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace stampline
