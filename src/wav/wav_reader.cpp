#include "wav/wav_reader.h"

#include <algorithm>
#include <cstring>

namespace stampline {
namespace {

// The chunks that say nothing a reader passes on: sizes, padding.
constexpr std::array<const char*, 5> kPassedOver = {"fmt ", "ds64", "fact", "JUNK", "junk"};
constexpr int32_t kMostChannels = 64;
constexpr int32_t kLowestRate = 8000;
constexpr int32_t kHighestRate = 384000;
// The bext chunk's TimeReference: offset and width.
constexpr size_t kTimeReferenceAt = 338;

uint64_t littleEndian(std::span<const uint8_t> bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i-- > 0;) value = value << 8 | bytes[at + i];
  return value;
}

bool isId(const std::array<char, 4>& id, const char* name) { return std::memcmp(id.data(), name, 4) == 0; }

}  // namespace

bool WavReader::open(std::string& problem) {
  const std::span<const uint8_t> head = input_.next(12);
  if (head.size() < 12) {
    problem = head.empty() ? "an empty file, not a WAV file" : "a truncated header";
    return false;
  }
  if (std::memcmp(head.data(), "RIFX", 4) == 0) {
    problem = "a big-endian RIFX file, which is not read";
    return false;
  }
  info_.rf64 = std::memcmp(head.data(), "RF64", 4) == 0;
  riffSize_ = static_cast<uint32_t>(littleEndian(head, 4, 4));
  if ((!info_.rf64 && std::memcmp(head.data(), "RIFF", 4) != 0) ||
      std::memcmp(head.data() + 8, "WAVE", 4) != 0) {
    problem = "not a WAV file (no RIFF, RF64 or WAVE header)";
    return false;
  }
  return readChunks(problem);
}

bool WavReader::readChunks(std::string& problem) {
  bool haveData = false;
  for (;;) {
    const std::span<const uint8_t> head = input_.next(8);
    if (head.size() < 8) break;
    std::array<char, 4> id{};
    std::memcpy(id.data(), head.data(), 4);
    const uint64_t size = littleEndian(head, 4, 4);
    if (isId(id, "data")) {
      haveData = true;
      dataStart_ = input_.position();
      info_.dataBytes = dataLength(static_cast<uint32_t>(size));
      // A stream gives its chunks in order: the samples come now. A file is
      // read past them for the chunks after, unless their end is open.
      if (!input_.seekable() || !info_.dataBytes ||
          !input_.skip(*info_.dataBytes + *info_.dataBytes % 2)) {
        break;
      }
      continue;
    }
    if (!readChunk(id, size, problem)) {
      // A damaged chunk after the samples takes nothing from them.
      if (!haveData || isId(id, "fmt ")) return false;
      problem.clear();
      break;
    }
  }
  if (!haveFormat_) {
    problem = haveData ? "no format chunk before the samples" : "a truncated header, or no format chunk";
    return false;
  }
  if (!haveData) {
    problem = "no data chunk";
    return false;
  }
  if (input_.seekable() && !input_.seek(dataStart_)) {
    problem = "a truncated header";
    return false;
  }
  dataLeft_ = info_.dataBytes.value_or(0);
  return true;
}

// The data chunk's length: from ds64 in an RF64 file; open (none) where a
// program writing to a pipe left it so, 0xFFFFFFFF, or 0 in a file whose
// RIFF size is open too.
std::optional<uint64_t> WavReader::dataLength(uint32_t size32) const {
  if (size32 == kUnknownSize32) {
    if (info_.rf64 && ds64Data_) return ds64Data_;
    return std::nullopt;
  }
  if (size32 == 0 && (riffSize_ == 0 || riffSize_ == kUnknownSize32)) return std::nullopt;
  return size32;
}

bool WavReader::readChunk(const std::array<char, 4>& id, uint64_t size, std::string& problem) {
  const uint64_t pad = size % 2;
  const bool passed = std::any_of(kPassedOver.begin(), kPassedOver.end(),
                                  [&id](const char* name) { return isId(id, name); });
  const bool kept = !passed && size <= kMostKeptChunkBytes;
  if (!passed && !kept && !isId(id, "fmt ") && !isId(id, "ds64")) ++info_.chunksLeftOut;
  if (isId(id, "fmt ") || isId(id, "ds64") || kept) {
    const auto wanted = static_cast<size_t>(std::min<uint64_t>(size, kMostKeptChunkBytes));
    const std::span<const uint8_t> body = input_.next(wanted);
    if (body.size() < wanted) {
      problem = "a truncated header";
      return false;
    }
    if (isId(id, "fmt ") && !readFormat(body, problem)) return false;
    if (isId(id, "ds64") && body.size() >= 16) ds64Data_ = littleEndian(body, 8, 8);
    if (isId(id, "bext") && body.size() >= kTimeReferenceAt + 8) {
      info_.timeReference = littleEndian(body, kTimeReferenceAt, 8);
    }
    if (kept) info_.chunks.push_back({id, std::vector<uint8_t>(body.begin(), body.end())});
    size -= wanted;
  }
  if (!input_.skip(size + pad)) {
    problem = "a truncated header";
    return false;
  }
  return true;
}

bool WavReader::readFormat(std::span<const uint8_t> body, std::string& problem) {
  if (body.size() < 16) {
    problem = "a format chunk too short";
    return false;
  }
  info_.formatTag = static_cast<uint16_t>(littleEndian(body, 0, 2));
  info_.channels = static_cast<int32_t>(littleEndian(body, 2, 2));
  info_.sampleRate = static_cast<int32_t>(std::min<uint64_t>(littleEndian(body, 4, 4), INT32_MAX));
  const auto blockAlign = static_cast<size_t>(littleEndian(body, 12, 2));
  const auto bits = static_cast<uint16_t>(littleEndian(body, 14, 2));
  uint16_t kind = info_.formatTag;
  if (kind == kFormatExtensible) {
    if (body.size() < 40 || std::memcmp(body.data() + 26, kSubFormatTail, 14) != 0) {
      problem = "an extensible format of an unknown kind";
      return false;
    }
    kind = static_cast<uint16_t>(littleEndian(body, 24, 2));
  }
  const bool pcm = kind == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floating = kind == kFormatIeeeFloat && (bits == 32 || bits == 64);
  if (!pcm && !floating) {
    problem = "samples of format " + std::to_string(kind) + " and " + std::to_string(bits) +
              " bits, which are not read (PCM of 8 to 32 bits and float of 32 or 64 are)";
    return false;
  }
  info_.format = {bits, floating};
  if (info_.channels == 0 || info_.channels > kMostChannels) {
    problem = std::to_string(info_.channels) + " channels (1 to 64 are read)";
    return false;
  }
  if (info_.sampleRate < kLowestRate || info_.sampleRate > kHighestRate) {
    problem = "a sample rate of " + std::to_string(info_.sampleRate) + " Hz (8000 to 384000 are read)";
    return false;
  }
  frameBytes_ = static_cast<size_t>(info_.channels) * bytesPerSample(info_.format);
  if (blockAlign != frameBytes_) {
    problem = "a block of " + std::to_string(blockAlign) + " bytes for " +
              std::to_string(info_.channels) + " channels of " + std::to_string(bits) + " bits";
    return false;
  }
  haveFormat_ = true;
  return true;
}

std::span<const uint8_t> WavReader::next(size_t frames) {
  if (ended_) return {};
  size_t want = frames * frameBytes_;
  if (info_.dataBytes) want = static_cast<size_t>(std::min<uint64_t>(want, dataLeft_));
  const std::span<const uint8_t> view = input_.next(want);
  if (info_.dataBytes) dataLeft_ -= view.size();
  const size_t whole = view.size() / frameBytes_ * frameBytes_;
  if (view.size() < want || (info_.dataBytes && dataLeft_ == 0)) {
    ended_ = true;
    truncated_ = (info_.dataBytes && dataLeft_ > 0) || (!info_.dataBytes && whole < view.size());
  }
  framesRead_ += whole / frameBytes_;
  return view.first(whole);
}

}  // namespace stampline
