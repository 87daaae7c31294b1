#include "wav/wav_reader.h"

#include <algorithm>
#include <cstring>

#include "wav/riff_layout.h"
#include "wav/wav_limits.h"

namespace stampline {
namespace {

// The chunks that say nothing a reader passes on: sizes, padding.
constexpr std::array<const char*, 5> kPassedOver = {"fmt ", "ds64", "fact", "JUNK", "junk"};

uint64_t littleEndian(std::span<const uint8_t> bytes, size_t at, size_t width) {
  return readLittleEndian(bytes, at, width);
}

bool isId(const std::array<char, 4>& id, const char* name) { return std::memcmp(id.data(), name, 4) == 0; }

}  // namespace

bool WavReader::open(std::string& problem) {
  const std::span<const uint8_t> head = input_.next(kFileHeadBytes);
  if (head.size() < kFileHeadBytes) {
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
    const std::span<const uint8_t> head = input_.next(kChunkHeadBytes);
    if (head.size() < kChunkHeadBytes) break;
    std::array<char, 4> id{};
    std::memcpy(id.data(), head.data(), 4);
    const uint64_t size = littleEndian(head, 4, 4);
    if (isId(id, "data")) {
      haveData = true;
      dataStart_ = input_.position();
      info_.dataBytes = dataLength(static_cast<uint32_t>(size));
      // A stream gives its chunks in order: the samples come now. A file is
      // read past them for the chunks after, unless their end is open or
      // lies past the end of the file (the pad byte skipped on its own: a
      // length from ds64 may be the largest number there is).
      if (!input_.seekable() || !info_.dataBytes || !input_.skip(*info_.dataBytes) ||
          !input_.skip(*info_.dataBytes % 2)) {
        break;
      }
      continue;
    }
    if (!readChunk(id, size, haveData, problem)) {
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

void WavReader::readChunksAfter() {
  if (input_.seekable() || !info_.dataBytes || dataLeft_ > 0 || truncated_) return;
  if (!input_.skip(*info_.dataBytes % 2)) return;
  std::string problem;
  for (;;) {
    const std::span<const uint8_t> head = input_.next(kChunkHeadBytes);
    if (head.size() < kChunkHeadBytes) return;
    std::array<char, 4> id{};
    std::memcpy(id.data(), head.data(), 4);
    if (!readChunk(id, littleEndian(head, 4, 4), true, problem)) return;
  }
}

bool WavReader::readChunk(const std::array<char, 4>& id, uint64_t size, bool afterData, std::string& problem) {
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
    if (isId(id, "ds64") && body.size() >= kDs64DataSize + 8) ds64Data_ = littleEndian(body, kDs64DataSize, 8);
    if (isId(id, "bext") && body.size() >= kBextTimeReference + kBextTimeReferenceBytes) {
      info_.timeReference = littleEndian(body, kBextTimeReference, kBextTimeReferenceBytes);
    }
    if (kept) {
      (afterData ? info_.chunksAfter : info_.chunks).push_back({id, std::vector<uint8_t>(body.begin(), body.end())});
    }
    size -= wanted;
  }
  if (!input_.skip(size + pad)) {
    problem = "a truncated header";
    return false;
  }
  return true;
}

bool WavReader::readFormat(std::span<const uint8_t> body, std::string& problem) {
  if (body.size() < kPcmFormatBytes) {
    problem = "a format chunk too short";
    return false;
  }
  info_.formatTag = static_cast<uint16_t>(littleEndian(body, kFmtTag, 2));
  info_.channels = static_cast<int32_t>(littleEndian(body, kFmtChannels, 2));
  info_.sampleRate = static_cast<int32_t>(std::min<uint64_t>(littleEndian(body, kFmtSampleRate, 4), INT32_MAX));
  const auto blockAlign = static_cast<size_t>(littleEndian(body, kFmtBlockAlign, 2));
  const auto bits = static_cast<uint16_t>(littleEndian(body, kFmtBits, 2));
  uint16_t kind = info_.formatTag;
  if (kind == kFormatExtensible) {
    if (body.size() < kExtensibleFormatBytes ||
        std::memcmp(body.data() + kSubFormatTailAt, kSubFormatTail, sizeof kSubFormatTail) != 0) {
      problem = "an extensible format of an unknown kind";
      return false;
    }
    kind = static_cast<uint16_t>(littleEndian(body, kFmtSubFormat, 2));
    info_.channelMask = static_cast<uint32_t>(littleEndian(body, kFmtChannelMask, 4));
  }
  const bool pcm = kind == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floating = kind == kFormatIeeeFloat && (bits == 32 || bits == 64);
  const bool companded = (kind == kFormatALaw || kind == kFormatMuLaw) && bits == 8;
  if (!pcm && !floating && !companded) {
    problem = "samples of format " + std::to_string(kind) + " and " + std::to_string(bits) +
              " bits, which are not read (PCM of 8 to 32 bits, float of 32 or 64, A-law and mu-law are)";
    return false;
  }
  info_.format = companded ? (kind == kFormatALaw ? kALaw : kMuLaw) : SampleFormat{bits, floating};
  if (info_.channels == 0 || info_.channels > kMostChannels) {
    problem = std::to_string(info_.channels) + " channels (1 to " + std::to_string(kMostChannels) + " are read)";
    return false;
  }
  if (info_.sampleRate < kLowestReadRate || info_.sampleRate > kHighestRate) {
    problem = "a sample rate of " + std::to_string(info_.sampleRate) + " Hz (" + std::to_string(kLowestReadRate) +
              " to " + std::to_string(kHighestRate) + " are read)";
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
