#ifndef STAMPLINE_CLI_RUN_REQUESTS_H_
#define STAMPLINE_CLI_RUN_REQUESTS_H_

#include <string>

#include "cli/options.h"
#include "run/analysis_run.h"
#include "run/generation_run.h"
#include "run/mix_run.h"
#include "run/play_run.h"

namespace stampline {

// The requests the runs take, filled from the command line's settings
// (already validated).
GenerationRequest generationRequest(const Settings& settings);
MixRequest mixRequest(const Settings& settings);
AnalysisRequest analysisRequest(const Settings& settings);
PlayRequest playRequest(const Settings& settings);

// The settings as text, for a reproducible Broadcast Wave reference: the
// same settings give the same text, and every setting that changes the
// file changes it. (What later versions added comes only where it is not
// the default, so that a file made without it keeps its reference.)
std::string identityOf(const Settings& settings);

}  // namespace stampline

#endif  // STAMPLINE_CLI_RUN_REQUESTS_H_
