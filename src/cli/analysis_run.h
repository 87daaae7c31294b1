#ifndef STAMPLINE_CLI_ANALYSIS_RUN_H_
#define STAMPLINE_CLI_ANALYSIS_RUN_H_

#include <cstdio>
#include <optional>
#include <string>

#include "timecode/frame_rate.h"
#include "wav/input_file.h"

namespace stampline {

// What --analyze is asked to do.
struct AnalysisRequest {
  std::string path;                  // "-": standard input
  std::optional<int> channel;        // 1-based; none: every channel
  std::optional<FrameRate> rate;     // stated instead of detected
  bool json = false;
  std::string csvPath;               // one row per frame; "-": standard output
};

// The exit statuses of an analysis.
inline constexpr int kAnalysisClean = 0;      // LTC found, and no event
inline constexpr int kAnalysisEvents = 2;     // LTC found, with events
inline constexpr int kAnalysisNoLtc = 3;      // no channel carries LTC
inline constexpr int kAnalysisFailed = 1;     // the file (or the CSV) could not be read (written)

// Reads the file, reports on `out` (the text report goes to `err` instead
// when the CSV goes to standard output), and returns the exit status. A
// file that cannot be read gets one line on `err` naming it and what is
// wrong.
int runAnalysis(const AnalysisRequest& request, std::FILE* out, std::FILE* err);
// The same for an input already open (`request.path` names it).
int analyzeInput(InputFile& input, const AnalysisRequest& request, std::FILE* out, std::FILE* err);

}  // namespace stampline

#endif  // STAMPLINE_CLI_ANALYSIS_RUN_H_
