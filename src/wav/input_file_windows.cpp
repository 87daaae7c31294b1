#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "wav/input_file.h"
#include "wav/wide_path_windows.h"

namespace stampline {
namespace {

// A file of the system or standard input, read into a buffer.
class SystemInput final : public InputFile {
 public:
  SystemInput(int fd, bool ownsFd, bool regular) : fd_(fd), ownsFd_(ownsFd), regular_(regular) {}
  ~SystemInput() override {
    if (ownsFd_) _close(fd_);
  }
  SystemInput(const SystemInput&) = delete;
  SystemInput& operator=(const SystemInput&) = delete;

  bool seekable() const override { return regular_; }
  std::span<const uint8_t> next(size_t bytes) override {
    buffer_.resize(bytes);
    size_t got = 0;
    while (got < bytes && error_ == 0 && !stopped_ && readable()) {
      const int n = _read(fd_, buffer_.data() + got,
                          static_cast<unsigned>(std::min<size_t>(bytes - got, INT_MAX)));
      if (n < 0) error_ = errno;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    position_ += got;
    return {buffer_.data(), got};
  }
  bool skip(uint64_t bytes) override {
    if (regular_) {
      const bool whole = skipWithin(position_, length(), bytes);
      return _lseeki64(fd_, static_cast<__int64>(position_), SEEK_SET) >= 0 && whole;
    }
    while (bytes > 0) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, 1 << 16));
      const size_t got = next(piece).size();
      bytes -= got;
      if (got < piece) return false;
    }
    return true;
  }
  bool seek(uint64_t offset) override {
    if (!regular_) return false;
    position_ = 0;
    return skip(offset);
  }
  uint64_t position() const override { return position_; }
  int error() const override { return error_; }
  void stopOn(StopFlag stop) override { stop_ = stop; }
  bool stopped() const override { return stopped_; }

 private:
  uint64_t length() const {
    const __int64 bytes = _filelengthi64(fd_);
    return bytes < 0 ? 0 : static_cast<uint64_t>(bytes);
  }
  // Whether a read can go ahead: at once, unless a stop is watched for and
  // the input is a pipe, which is then looked at every 20 ms until it has
  // bytes, ends or fails (the read then says which).
  bool readable() {
    if (stop_ == nullptr || regular_) return true;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    if (GetFileType(handle) != FILE_TYPE_PIPE) return true;
    while (!stopRequested(stop_)) {
      DWORD available = 0;
      if (PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) == 0 || available > 0) return true;
      Sleep(20);
    }
    stopped_ = true;
    return false;
  }

  StopFlag stop_ = nullptr;
  bool stopped_ = false;
  int fd_;
  bool ownsFd_;
  bool regular_;
  uint64_t position_ = 0;
  int error_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<InputFile> openInputFile(const std::string& path, std::string& why, StopFlag) {
  const bool standardInput = path == "-";
  int fd = -1;
  if (standardInput) {
    fd = _fileno(stdin);
    _setmode(fd, _O_BINARY);
  } else {
    fd = _wopen(widePath(path).c_str(), _O_RDONLY | _O_BINARY);
  }
  if (fd < 0) {
    why = errno == ENOENT ? "no such file" : std::strerror(errno);
    return nullptr;
  }
  struct _stat64 info {};
  if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFDIR) != 0) {
    why = (info.st_mode & _S_IFDIR) != 0 ? "a directory, not a file" : std::strerror(errno);
    if (!standardInput) _close(fd);
    return nullptr;
  }
  const bool regular = (info.st_mode & _S_IFREG) != 0;
  auto input = std::make_unique<SystemInput>(fd, !standardInput, regular);
  if (regular && standardInput) static_cast<void>(input->seek(static_cast<uint64_t>(_telli64(fd))));
  return input;
}

bool namesSameFile(const std::string& a, const std::string& b) {
  const auto open = [](const std::string& path) {
    return CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  const HANDLE first = open(a);
  const HANDLE second = open(b);
  bool same = false;
  BY_HANDLE_FILE_INFORMATION x{};
  BY_HANDLE_FILE_INFORMATION y{};
  if (first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE &&
      GetFileInformationByHandle(first, &x) != 0 && GetFileInformationByHandle(second, &y) != 0) {
    same = x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
  }
  if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  return same;
}

}  // namespace stampline
