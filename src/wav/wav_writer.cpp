#include "wav/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace stampline {
namespace {

// How far a file is cut back at first when a full disk refuses its header;
// the step doubles at each further try.
constexpr uint64_t kFirstCutBack = uint64_t{1} << 20;

bool outOfSpace(int error) {
#if defined(EDQUOT)
  if (error == EDQUOT) return true;  // a quota is a disk of its own
#endif
  return error == ENOSPC || error == EFBIG;
}

}  // namespace

WavWriter::WavWriter(OutputFile& file, WavLayout layout, uint64_t plannedDataBytes,
                     uint64_t riffLimit, std::function<uint64_t(uint64_t)> wholeFrames)
    : file_(file),
      layout_(std::move(layout)),
      planned_(plannedDataBytes),
      riffLimit_(riffLimit),
      wholeFrames_(std::move(wholeFrames)) {}

IoResult WavWriter::begin(StopFlag stop) {
  format_ = plannedFormat(layout_, planned_, file_.seekable(), riffLimit_);
  headerSize_ = headerBytes(layout_, format_);
  if (!file_.seekable()) {
    // Its final sizes, chunks after the data counted, with the first data.
    described_ = planned_;
    held_ = wavHeader(layout_, format_, described_, true);
    return planned_ == 0 ? flushHeld(stop) : IoResult::kDone;
  }
  const std::vector<uint8_t> header = wavHeader(layout_, format_, described_);
  const IoResult result = file_.append(header.data(), header.size(), stop);
  begun_ = result == IoResult::kDone;
  return result;
}

IoResult WavWriter::flushHeld(StopFlag stop) {
  if (held_.empty()) return IoResult::kDone;
  const IoResult result = file_.append(held_.data(), held_.size(), stop);
  begun_ = begun_ || file_.appended() >= headerSize_;
  held_.clear();
  held_.shrink_to_fit();
  return result;
}

void WavWriter::setChunksAfter(std::vector<WavChunk> chunks) {
  if (file_.seekable()) layout_.chunksAfter = std::move(chunks);
}

uint64_t WavWriter::dataAppended() const {
  const uint64_t data = file_.appended() > headerSize_ ? file_.appended() - headerSize_ : 0;
  return std::min(data, appended_);
}

IoResult WavWriter::append(const void* data, size_t bytes, StopFlag stop, Clock::time_point now) {
  appended_ += bytes;
  if (!held_.empty()) {
    const auto* from = static_cast<const uint8_t*>(data);
    held_.insert(held_.end(), from, from + bytes);
    const bool enough = held_.size() >= headerSize_ + kFirstStreamData || appended_ >= planned_;
    return enough ? flushHeld(stop) : IoResult::kDone;
  }
  const IoResult result = file_.append(data, bytes, stop);
  if (result != IoResult::kDone || !file_.seekable()) return result;
  // The device starts on the data now, so the next sync finds it written.
  file_.startWriteBack();
  const uint64_t written = dataAppended();
  const bool first = described_ == 0;
  const bool needsRf64 = finalFormat(layout_, format_, written, riffLimit_) != format_;
  if (!first && !needsRf64 && now - lastUpdate_ < kUpdateInterval) return IoResult::kDone;
  lastUpdate_ = now;
  // The data first: a header must never describe data that a power cut
  // could still take away.
  return file_.sync() && rewriteHeader(written) ? IoResult::kDone : IoResult::kFailed;
}

bool WavWriter::rewriteHeader(uint64_t dataBytes, bool withTrailer) {
  const WavFormat format = finalFormat(layout_, format_, dataBytes, riffLimit_);
  const std::vector<uint8_t> header = wavHeader(layout_, format, dataBytes, withTrailer);
  if (!file_.writeAt(0, header.data(), header.size())) return false;
  format_ = format;
  described_ = dataBytes;
  return true;
}

bool WavWriter::finish() {
  if (flushHeld(nullptr) != IoResult::kDone) return false;
  // Data of an odd length ends with its pad byte; the chunks after it
  // follow.
  const uint64_t data = dataAppended();
  std::vector<uint8_t> tail(static_cast<size_t>(padByte(data)), 0);
  const std::vector<uint8_t> trailer = trailerChunks(layout_);
  tail.insert(tail.end(), trailer.begin(), trailer.end());
  if (!tail.empty() && file_.append(tail.data(), tail.size(), nullptr) != IoResult::kDone) return false;
  if (!file_.seekable()) return true;
  // Every frame is in: nothing to cut, so a file system that cannot
  // truncate does not stand in the way. The data is durable before the
  // header that describes it is written, and the header after.
  return file_.sync() && rewriteHeader(data, true) && file_.sync();
}

uint64_t WavWriter::cut() {
  const uint64_t whole = begun_ ? wholeFrames_(dataAppended()) : 0;
  if (!file_.seekable()) return whole;
  if (!begun_) headerSize_ = headerBytes(layout_, format_);

  // Never below what the header in the file describes: while a new header
  // cannot be written, that one must stay true.
  const uint64_t floor = begun_ ? described_ : 0;
  uint64_t keep = whole;
  uint64_t step = kFirstCutBack;
  bool committed = false;
  for (;;) {
    // Always cut: a failed write may have left more than it reported. What
    // is kept (with a zero pad byte where its length is odd) is made as
    // durable as it can be before a header describes it.
    static_cast<void>(file_.truncate(headerSize_ + keep + padByte(keep)));
    static_cast<void>(file_.sync());
    if (rewriteHeader(keep)) {
      static_cast<void>(file_.sync());
      return keep;
    }
    if (!outOfSpace(file_.lastError())) break;
    if (!committed) {
      // The space the cut released comes back when the file system commits.
      static_cast<void>(file_.commitFileSystem());
      committed = true;
      continue;
    }
    if (keep == floor) break;
    keep = std::max(floor, wholeFrames_(keep > floor + step ? keep - step : floor));
    step *= 2;
    committed = false;
  }
  // The header last written, if any, still stands, and the file holds the
  // data it describes. Otherwise it is no WAV at all.
  if (begun_) {
    static_cast<void>(file_.truncate(headerSize_ + described_ + padByte(described_)));
    return described_;
  }
  file_.remove();
  return 0;
}

}  // namespace stampline
