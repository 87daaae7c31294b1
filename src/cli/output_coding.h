#ifndef STAMPLINE_CLI_OUTPUT_CODING_H_
#define STAMPLINE_CLI_OUTPUT_CODING_H_

#include "synth/cell_plan.h"
#include "wav/sample_format.h"

namespace stampline {

// The encoder's values written as a WAV file's samples of `format`: the
// format's full scale, and its bytes as the WAV layer lays them out.
SampleCoding outputCoding(SampleFormat format);

}  // namespace stampline

#endif  // STAMPLINE_CLI_OUTPUT_CODING_H_
