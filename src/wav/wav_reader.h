#ifndef STAMPLINE_WAV_WAV_READER_H_
#define STAMPLINE_WAV_WAV_READER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wav/input_file.h"
#include "wav/sample_format.h"
#include "wav/wav_header.h"

namespace stampline {

// What a WAV file's header says: RIFF WAVE, RF64 or Broadcast Wave, its
// samples, and the chunks around them.
struct WavInfo {
  bool rf64 = false;
  uint16_t formatTag = 1;  // 1 PCM, 3 IEEE float, 0xFFFE extensible
  SampleFormat format;
  int32_t channels = 0;
  int32_t sampleRate = 0;
  // An extensible file's speaker positions (0: none given, or a plain file).
  uint32_t channelMask = 0;
  // The data's length in bytes, unless the header leaves it open (0 or
  // 0xFFFFFFFF, as programs writing to a pipe leave it): the data then runs
  // to the end of the input.
  std::optional<uint64_t> dataBytes;
  // Broadcast Wave: the first sample's place in sample frames since
  // midnight, from the bext chunk.
  std::optional<uint64_t> timeReference;
  // The chunks other than "fmt ", "data", "ds64", "fact" and "JUNK", in file
  // order: those before the data ("bext", "iXML", "LIST", ...), and those
  // after it where the input can be read ahead (a stream's come with
  // readChunksAfter()); each at most kMostKeptChunkBytes (a longer one is
  // skipped and not kept, and counted).
  std::vector<WavChunk> chunks;
  std::vector<WavChunk> chunksAfter;
  size_t chunksLeftOut = 0;
};

// Reads a WAV file from any input, its header first, then its samples a
// block of whole sample frames at a time. Chunks come in any order; unknown
// ones are skipped; chunks of odd length are followed by a pad byte.
class WavReader {
 public:
  static constexpr size_t kMostKeptChunkBytes = size_t{1} << 20;

  explicit WavReader(InputFile& input) : input_(input) {}

  // Reads the header up to the samples. False when the input is no WAV file
  // this reader takes, with `problem` saying why in a few words.
  [[nodiscard]] bool open(std::string& problem);
  const WavInfo& info() const { return info_; }
  size_t sampleFrameBytes() const { return frameBytes_; }

  // The next whole sample frames, at most `frames` of them, as the file
  // holds them; empty at the end of the data. Valid until the next call.
  std::span<const uint8_t> next(size_t frames);
  uint64_t framesRead() const { return framesRead_; }
  // Whether the data ended before the length its header gives, or in the
  // middle of a sample frame: a recording cut short.
  bool truncated() const { return truncated_; }
  // The system's error number where reading failed, or 0.
  int error() const { return input_.error(); }
  bool seekable() const { return input_.seekable(); }
  // Whether the input stopped waiting for data on a request to stop.
  bool stopped() const { return input_.stopped(); }
  // A stream read to the end of its data (of a known length): the chunks
  // that follow it, to the end of the input, into info().chunksAfter.
  // (A file's were read with its header.)
  void readChunksAfter();

 private:
  bool readChunks(std::string& problem);
  bool readFormat(std::span<const uint8_t> body, std::string& problem);
  bool readChunk(const std::array<char, 4>& id, uint64_t size, bool afterData, std::string& problem);
  std::optional<uint64_t> dataLength(uint32_t size32) const;

  InputFile& input_;
  WavInfo info_;
  size_t frameBytes_ = 0;
  bool haveFormat_ = false;
  uint32_t riffSize_ = 0;
  uint64_t dataStart_ = 0;
  uint64_t dataLeft_ = 0;  // bytes, where the length is known
  std::optional<uint64_t> ds64Data_;
  uint64_t framesRead_ = 0;
  bool truncated_ = false;
  bool ended_ = false;
};

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_READER_H_
