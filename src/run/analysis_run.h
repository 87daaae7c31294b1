#ifndef STAMPLINE_RUN_ANALYSIS_RUN_H_
#define STAMPLINE_RUN_ANALYSIS_RUN_H_

#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "run/analysis_listener.h"
#include "timecode/frame_rate.h"
#include "wav/input_file.h"

namespace stampline {

// What --analyze is asked to do.
struct AnalysisRequest {
  std::string path;               // "-": standard input
  std::optional<int> channel;     // 1-based; none: every channel
  std::optional<FrameRate> rate;  // stated instead of detected
};

// The exit statuses of an analysis.
inline constexpr int kAnalysisClean = 0;   // LTC found, and no event
inline constexpr int kAnalysisEvents = 2;  // LTC found, with events (or only unreadable)
inline constexpr int kAnalysisNoLtc = 3;   // no channel carries LTC
inline constexpr int kAnalysisFailed = 1;  // the file could not be read (or a listener's output written)

// Reads the file, tells `listeners` what it finds, and returns the exit
// status. A file that cannot be read, or a listener that cannot follow,
// gets one line on `err` naming it and what is wrong.
int runAnalysis(const AnalysisRequest& request, std::span<AnalysisListener* const> listeners, std::FILE* err);
// The same for an input already open (`request.path` names it).
int analyzeInput(InputFile& input, const AnalysisRequest& request, std::span<AnalysisListener* const> listeners,
                 std::FILE* err);

}  // namespace stampline

#endif  // STAMPLINE_RUN_ANALYSIS_RUN_H_
