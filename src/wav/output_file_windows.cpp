#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "wav/output_file.h"
#include "wav/wide_path_windows.h"

namespace stampline {
namespace {

// The file's identity: its volume and its 128-bit id. A handle opened for
// writing only may report no volume (0); then the id alone decides.
bool sameFile(HANDLE a, HANDLE b) {
  FILE_ID_INFO first{};
  FILE_ID_INFO second{};
  if (GetFileInformationByHandleEx(a, FileIdInfo, &first, sizeof first) == 0 ||
      GetFileInformationByHandleEx(b, FileIdInfo, &second, sizeof second) == 0) {
    return false;
  }
  const bool volumesAgree = first.VolumeSerialNumber == second.VolumeSerialNumber ||
                            first.VolumeSerialNumber == 0 || second.VolumeSerialNumber == 0;
  return volumesAgree &&
         std::memcmp(&first.FileId, &second.FileId, sizeof first.FileId) == 0;
}

// A file, pipe or console this run must not write to: any console, and the
// file or pipe that standard output or standard input is.
bool refused(HANDLE handle) {
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode) != 0) return true;
  for (const DWORD standard : {STD_OUTPUT_HANDLE, STD_INPUT_HANDLE}) {
    const HANDLE other = GetStdHandle(standard);
    // (Only a file of the same type can be the same file: a volume that
    // reports no serial number, as Wine's do, leaves the ids alone to tell.)
    if (other != INVALID_HANDLE_VALUE && other != nullptr && GetFileType(other) == GetFileType(handle) &&
        sameFile(handle, other)) {
      return true;
    }
  }
  return false;
}

// A file of the system, written straight through without a library
// buffer: the caller hands over whole blocks.
class SystemFile final : public OutputFile {
 public:
  SystemFile() = default;
  ~SystemFile() override {
    if (fd_ >= 0) _close(fd_);
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
  int lastError_ = 0;
  std::string path_;
};

IoResult SystemFile::open(const std::string& path, StopFlag) {
  path_ = path;
  // Others may read the file while it is written, but no second writer may
  // open it: a second run on the same path is refused. Not truncated yet:
  // first it must turn out to be a file this run may write.
  const HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return IoResult::kFailed;
  if (refused(handle)) {
    CloseHandle(handle);
    return IoResult::kFailed;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(handle);
    return IoResult::kFailed;
  }
  seekable_ = GetFileType(handle) == FILE_TYPE_DISK;
  appended_ = 0;
  if (seekable_ && !truncate(0)) {
    _close(fd_);
    fd_ = -1;
    return IoResult::kFailed;
  }
  return IoResult::kDone;
}

IoResult SystemFile::append(const void* data, size_t bytes, StopFlag stop) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const int n = _write(fd_, next, static_cast<unsigned>(std::min<size_t>(bytes, INT_MAX)));
    if (n <= 0) {
      lastError_ = errno;
      return stopRequested(stop) ? IoResult::kStopped : IoResult::kFailed;
    }
    next += n;
    bytes -= static_cast<size_t>(n);
    appended_ += static_cast<uint64_t>(n);
  }
  return IoResult::kDone;
}

bool SystemFile::writeAt(uint64_t offset, const void* data, size_t bytes) {
  const __int64 end = _lseeki64(fd_, 0, SEEK_CUR);
  if (end < 0 || _lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) {
    lastError_ = errno;
    return false;
  }
  const bool written = _write(fd_, data, static_cast<unsigned>(bytes)) == static_cast<int>(bytes);
  if (!written) lastError_ = errno;
  return _lseeki64(fd_, end, SEEK_SET) >= 0 && written;
}

bool SystemFile::truncate(uint64_t size) {
  const errno_t error = _chsize_s(fd_, static_cast<__int64>(size));
  if (error != 0) lastError_ = error;
  return error == 0;
}

bool SystemFile::sync() {
  if (!seekable_ || _commit(fd_) == 0) return true;
  lastError_ = errno;
  return false;
}

// Windows frees the space of a cut at once; committing the file will do.
bool SystemFile::commitFileSystem() { return sync(); }

bool SystemFile::close() {
  if (fd_ < 0) return true;  // already closed (or removed)
  const int fd = fd_;
  fd_ = -1;
  if (_close(fd) == 0) return true;
  lastError_ = errno;
  return false;
}

void SystemFile::remove() {
  const HANDLE named =
      CreateFileW(widePath(path_).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool same = false;
  if (named != INVALID_HANDLE_VALUE) {
    same = fd_ >= 0 && sameFile(named, reinterpret_cast<HANDLE>(_get_osfhandle(fd_)));
    CloseHandle(named);
  }
  static_cast<void>(close());
  if (same) _wunlink(widePath(path_).c_str());
}

}  // namespace

IoResult openOutputFile(const std::string& path, StopFlag stop, std::unique_ptr<OutputFile>& file) {
  auto opened = std::make_unique<SystemFile>();
  const IoResult result = opened->open(path, stop);
  if (result == IoResult::kDone) file = std::move(opened);
  return result;
}

IoResult openStandardOutput(std::unique_ptr<OutputFile>& file) {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetConsoleMode(handle, &mode) != 0) {
    return IoResult::kFailed;
  }
  const int fd = _dup(_fileno(stdout));
  if (fd < 0) return IoResult::kFailed;
  _setmode(fd, _O_BINARY);
  auto opened = std::make_unique<SystemFile>();
  opened->adopt(fd);
  file = std::move(opened);
  return IoResult::kDone;
}

// A pipe whose reader has gone fails a write with EPIPE or EINVAL, as the C
// runtime maps the system's word for it, or under Wine with EBADF.
bool readerGone(int error) { return error == EPIPE || error == EINVAL || error == EBADF; }

}  // namespace stampline
