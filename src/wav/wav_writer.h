#ifndef STAMPLINE_WAV_WAV_WRITER_H_
#define STAMPLINE_WAV_WAV_WRITER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/stop.h"
#include "wav/output_file.h"
#include "wav/wav_header.h"

namespace stampline {

// Writes a WAV file and owns finishing it: its header is the truth about the
// file at every moment a run can end in.
//
// A stream (pipe, FIFO, device) cannot be rewritten, so it gets its final
// sizes up front; its header leaves in one write with at least the first
// kFirstStreamData bytes of data (or all of them, when fewer), since
// readers that sniff a pipe's first read take too little for no WAV file.
// A regular file starts with a header for no data and, after
// the first block, again at least once a second, and when the data needs
// RF64, the header is rewritten for the data written so far, once that data
// is durable. Whatever ends the run (a kill, a crash, a power cut), the file
// is a valid WAV of at least the frames up to the last rewrite; a run that
// finishes or fails is completed by finish() or cut().
class WavWriter {
 public:
  using Clock = std::chrono::steady_clock;
  // How often at least the header of a regular file is brought up to date.
  static constexpr Clock::duration kUpdateInterval = std::chrono::seconds(1);
  static constexpr size_t kFirstStreamData = size_t{64} << 10;

  // `file` is open. `plannedDataBytes` is what a complete run appends;
  // `riffLimit` as for plannedFormat(). `wholeFrames(n)` is the largest
  // amount of data at most n bytes long that holds whole frames only.
  WavWriter(OutputFile& file, WavLayout layout, uint64_t plannedDataBytes, uint64_t riffLimit,
            std::function<uint64_t(uint64_t)> wholeFrames);

  // Writes the header (a stream's, with the first data).
  IoResult begin(StopFlag stop);
  // Appends whole frames of sample data; `now` tells whether the header is
  // due to be brought up to date. Failed: the data or the header could not
  // be written.
  IoResult append(const void* data, size_t bytes, StopFlag stop, Clock::time_point now);
  // Completes a file that holds every planned frame: the data made durable,
  // the chunks after it appended, then its final header, made durable too.
  // False when that failed; cut() then.
  [[nodiscard]] bool finish();
  // Regular files: the chunks that follow the data become `chunks`, when
  // they are known only once the data is (a stream's input read to its
  // end). A stream's header has said its trailer already.
  void setChunksAfter(std::vector<WavChunk> chunks);

  // After a failure or a stop: a regular file is cut back to the whole
  // frames that reached it and given the header for exactly those. When a
  // full disk will not take even that header (a copy-on-write file system
  // needs fresh space to overwrite one), the file system is committed, which
  // frees the space the cut released, and the file cut further back, whole
  // frames at a time, until it does, but never below the data the header
  // last written describes: if no new header can be written, that one
  // stays true. A file whose first header never reached it is removed. A
  // stream keeps what it got. Returns the sample data bytes the file (or
  // stream) holds in whole frames under its header.
  uint64_t cut();

  // Sample data bytes that reached the file, possibly ending inside a frame.
  uint64_t dataAppended() const;

 private:
  [[nodiscard]] bool rewriteHeader(uint64_t dataBytes, bool withTrailer = false);
  IoResult flushHeld(StopFlag stop);

  OutputFile& file_;
  WavLayout layout_;
  uint64_t planned_;
  uint64_t riffLimit_;
  std::function<uint64_t(uint64_t)> wholeFrames_;
  WavFormat format_ = WavFormat::kRiff;
  size_t headerSize_ = 0;
  bool begun_ = false;       // the first header is in the file
  uint64_t described_ = 0;   // the data the header in the file describes
  uint64_t appended_ = 0;    // the data given to append()
  Clock::time_point lastUpdate_{};
  // A stream's header and first data, held until they make one write.
  std::vector<uint8_t> held_;
};

}  // namespace stampline

#endif  // STAMPLINE_WAV_WAV_WRITER_H_
