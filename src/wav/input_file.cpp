#include "wav/input_file.h"

#include <algorithm>
#include <utility>

namespace stampline {
namespace {

class MemoryInput final : public InputFile {
 public:
  MemoryInput(std::string bytes, bool seekable) : bytes_(std::move(bytes)), seekable_(seekable) {}

  bool seekable() const override { return seekable_; }
  std::span<const uint8_t> next(size_t bytes) override {
    const size_t at = static_cast<size_t>(std::min<uint64_t>(position_, bytes_.size()));
    const size_t count = std::min(bytes, bytes_.size() - at);
    position_ += count;
    return {reinterpret_cast<const uint8_t*>(bytes_.data()) + at, count};
  }
  bool skip(uint64_t bytes) override {
    const uint64_t left = bytes_.size() - std::min<uint64_t>(position_, bytes_.size());
    position_ += std::min(bytes, left);
    return bytes <= left;
  }
  bool seek(uint64_t offset) override {
    if (!seekable_) return false;
    position_ = std::min<uint64_t>(offset, bytes_.size());
    return offset <= bytes_.size();
  }
  uint64_t position() const override { return position_; }
  int error() const override { return 0; }

 private:
  std::string bytes_;
  bool seekable_;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<InputFile> memoryInput(std::string bytes, bool seekable) {
  return std::make_unique<MemoryInput>(std::move(bytes), seekable);
}

}  // namespace stampline
