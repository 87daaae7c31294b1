#ifndef STAMPLINE_CLI_MIX_RUN_H_
#define STAMPLINE_CLI_MIX_RUN_H_

#include <cstdio>

#include "cli/generation_run.h"
#include "cli/options.h"

namespace stampline {

// --mix: writes the input's channels, every sample as it is, with the LTC on
// one channel more (the last, or --timecode-channel), at the input's sample
// rate and format, as long as the input rounded up to whole frames (padded
// with silence) or as --duration or --end say. The input's bext is carried
// with the LTC's time stamp and a line of coding history, its iXML with an
// LTC track and the time stamp, every other chunk as it is. An input the
// output cannot carry bit for bit, or that is the output itself, is refused
// with a message and status 1 before the output is touched; otherwise the
// statuses of runGeneration, and 1 after "Error reading ..." when the input
// fails part way (the output then keeps its whole frames).
int runMix(const Settings& settings, std::FILE* out, const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_CLI_MIX_RUN_H_
