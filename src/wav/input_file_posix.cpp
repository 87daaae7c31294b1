#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "wav/input_file.h"

namespace stampline {
namespace {

// A file of the system. A regular file is mapped a piece at a time (no
// copy, and no more of it in memory than the piece); anything else is read
// into a buffer.
class SystemInput final : public InputFile {
 public:
  SystemInput(int fd, bool ownsFd, bool regular, uint64_t size)
      : fd_(fd), ownsFd_(ownsFd), regular_(regular), size_(size) {}
  ~SystemInput() override {
    unmap();
    if (ownsFd_) ::close(fd_);
  }
  SystemInput(const SystemInput&) = delete;
  SystemInput& operator=(const SystemInput&) = delete;

  bool seekable() const override { return regular_; }
  std::span<const uint8_t> next(size_t bytes) override;
  bool skip(uint64_t bytes) override;
  bool seek(uint64_t offset) override;
  uint64_t position() const override { return position_; }
  int error() const override { return error_; }
  void stopOn(StopFlag stop) override { stop_ = stop; }
  bool stopped() const override { return stopped_; }

 private:
  bool readable();
  std::span<const uint8_t> mapped(size_t bytes);
  std::span<const uint8_t> readInto(size_t bytes);
  void unmap();

  int fd_;
  bool ownsFd_;
  bool regular_;
  uint64_t size_;
  uint64_t position_ = 0;
  int error_ = 0;
  StopFlag stop_ = nullptr;
  bool stopped_ = false;
  void* map_ = nullptr;
  size_t mapLength_ = 0;
  std::vector<uint8_t> buffer_;
};

void SystemInput::unmap() {
  if (map_ != nullptr) munmap(map_, mapLength_);
  map_ = nullptr;
}

std::span<const uint8_t> SystemInput::next(size_t bytes) {
  unmap();
  if (regular_) {
    // The file may have been cut since it was opened: never map past its end.
    struct stat info {};
    if (fstat(fd_, &info) == 0) size_ = std::min<uint64_t>(size_, static_cast<uint64_t>(info.st_size));
    const size_t count = static_cast<size_t>(std::min<uint64_t>(bytes, size_ - std::min(position_, size_)));
    const std::span<const uint8_t> view = count > 0 ? mapped(count) : std::span<const uint8_t>{};
    if (view.size() == count) return view;
    // Where mapping is not possible, read as from any stream.
    if (lseek(fd_, static_cast<off_t>(position_), SEEK_SET) < 0) {
      error_ = errno;
      return {};
    }
  }
  return readInto(bytes);
}

std::span<const uint8_t> SystemInput::mapped(size_t bytes) {
  static const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t start = position_ / page * page;
  const auto lead = static_cast<size_t>(position_ - start);
  void* map = mmap(nullptr, lead + bytes, PROT_READ, MAP_SHARED, fd_,
                   static_cast<off_t>(start));
  if (map == MAP_FAILED) return {};
  map_ = map;
  mapLength_ = lead + bytes;
  position_ += bytes;
  return {static_cast<const uint8_t*>(map) + lead, bytes};
}

// Whether a read of the stream can go ahead: at once, unless a stop is
// watched for, which is then looked at every tenth of a second.
bool SystemInput::readable() {
  if (stop_ == nullptr || regular_) return true;
  pollfd wait{fd_, POLLIN, 0};
  while (!stopRequested(stop_)) {
    // Ready, at its end, or failed: read says which. A signal that cut the
    // wait short is looked at first.
    const int ready = poll(&wait, 1, 100);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
  stopped_ = true;
  return false;
}

std::span<const uint8_t> SystemInput::readInto(size_t bytes) {
  buffer_.resize(bytes);
  size_t got = 0;
  while (got < bytes && error_ == 0 && !stopped_ && readable()) {
    const ssize_t n = ::read(fd_, buffer_.data() + got, bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  position_ += got;
  return {buffer_.data(), got};
}

bool SystemInput::skip(uint64_t bytes) {
  if (regular_) return skipWithin(position_, size_, bytes);
  while (bytes > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, 1 << 16));
    const size_t got = readInto(piece).size();
    bytes -= got;
    if (got < piece) return false;
  }
  return true;
}

bool SystemInput::seek(uint64_t offset) {
  if (!regular_) return false;
  position_ = 0;
  return skipWithin(position_, size_, offset);
}

}  // namespace

std::unique_ptr<InputFile> openInputFile(const std::string& path, std::string& why, StopFlag stop) {
  const bool standardInput = path == "-";
  int fd = STDIN_FILENO;
  while (!standardInput && (fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    if (stopRequested(stop)) {
      why.clear();
      return nullptr;
    }
  }
  if (fd < 0) {
    why = errno == ENOENT ? "no such file" : std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    why = S_ISDIR(info.st_mode) ? "a directory, not a file" : std::strerror(errno);
    if (!standardInput) ::close(fd);
    return nullptr;
  }
  const bool regular = S_ISREG(info.st_mode);
  // Standard input may be a file opened at some offset; read it from there.
  const off_t at = regular && standardInput ? lseek(fd, 0, SEEK_CUR) : 0;
  auto input = std::make_unique<SystemInput>(fd, !standardInput, regular,
                                             regular ? static_cast<uint64_t>(info.st_size) : 0);
  if (at > 0) static_cast<void>(input->seek(static_cast<uint64_t>(at)));
  return input;
}

bool namesSameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace stampline
