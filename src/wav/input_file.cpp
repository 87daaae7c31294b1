#include "wav/input_file.h"

#include <algorithm>
#include <utility>

namespace stampline {

bool skipWithin(uint64_t& position, uint64_t size, uint64_t bytes) {
  const uint64_t left = size - std::min(position, size);
  position = bytes <= left ? position + bytes : size;
  return bytes <= left;
}

namespace {

// Bytes in memory, read as the system's files are: a regular file reads
// and skips to its end and no further; a stream reads what it skips; a
// read past `failAt` fails there.
class MemoryInput final : public InputFile {
 public:
  MemoryInput(std::string bytes, bool seekable, MemoryInputFaults faults)
      : bytes_(std::move(bytes)), seekable_(seekable), faults_(faults) {}

  bool seekable() const override { return seekable_; }
  std::span<const uint8_t> next(size_t bytes) override {
    const uint64_t at = std::min<uint64_t>(position_, bytes_.size());
    uint64_t end = bytes_.size();
    if (faults_.failAt && *faults_.failAt < end) end = std::max(at, *faults_.failAt);
    const auto count = static_cast<size_t>(std::min<uint64_t>(bytes, end - at));
    if (count < bytes && end < bytes_.size()) error_ = faults_.error;
    position_ = at + count;
    return {reinterpret_cast<const uint8_t*>(bytes_.data()) + at, count};
  }
  bool skip(uint64_t bytes) override {
    if (seekable_) return skipWithin(position_, bytes_.size(), bytes);
    // A stream moves on by reading.
    while (bytes > 0 && error_ == 0) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(bytes, 1 << 16));
      const size_t got = next(piece).size();
      bytes -= got;
      if (got < piece) return false;
    }
    return bytes == 0;
  }
  bool seek(uint64_t offset) override {
    if (!seekable_) return false;
    position_ = 0;
    return skipWithin(position_, bytes_.size(), offset);
  }
  uint64_t position() const override { return position_; }
  int error() const override { return error_; }
  void stopOn(StopFlag) override {}
  bool stopped() const override { return false; }

 private:
  std::string bytes_;
  bool seekable_;
  MemoryInputFaults faults_;
  uint64_t position_ = 0;
  int error_ = 0;
};

}  // namespace

std::unique_ptr<InputFile> memoryInput(std::string bytes, bool seekable, MemoryInputFaults faults) {
  return std::make_unique<MemoryInput>(std::move(bytes), seekable, faults);
}

}  // namespace stampline
