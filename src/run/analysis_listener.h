#ifndef STAMPLINE_RUN_ANALYSIS_LISTENER_H_
#define STAMPLINE_RUN_ANALYSIS_LISTENER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "decode/channel_report.h"
#include "wav/wav_reader.h"

namespace stampline {

// What an analysis says of the file as a whole.
struct FileFacts {
  std::string name;  // as given; "-" is standard input
  WavInfo info;
  uint64_t sampleFrames = 0;  // read
  bool truncated = false;
  std::vector<int> scanned;  // the channels looked at, 1-based
};

// What follows an analysis as it reads: the reports (text, JSON, CSV), next
// a live display. Calls come from one thread at a time, in this order:
// started; frame and event for each frame read and each event found, in
// sample order for each channel (a frame before the events found at its
// sample), as the reader takes them; ended; finished.
class AnalysisListener {
 public:
  virtual ~AnalysisListener() = default;
  // The file's header has been read. False when the listener cannot follow
  // (its output cannot be written), with `problem` saying so: the analysis
  // then fails with that message before it reads a sample.
  virtual bool started(const FileFacts& file, std::string& problem) {
    static_cast<void>(file);
    static_cast<void>(problem);
    return true;
  }
  virtual void frame(int channel, const FrameRecord& frame) {
    static_cast<void>(channel);
    static_cast<void>(frame);
  }
  virtual void event(int channel, const Event& event) {
    static_cast<void>(channel);
    static_cast<void>(event);
  }
  // Every frame and event has come. False when what the listener wrote
  // did not all reach its output, with `problem` saying so: the analysis
  // then fails with that message, and reports nothing.
  virtual bool ended(std::string& problem) {
    static_cast<void>(problem);
    return true;
  }
  // The file, each channel's report, and the exit status.
  virtual void finished(const FileFacts& file, const std::vector<ChannelReport>& channels, int status) {
    static_cast<void>(file);
    static_cast<void>(channels);
    static_cast<void>(status);
  }
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_ANALYSIS_LISTENER_H_
