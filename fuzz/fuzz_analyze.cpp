// Arbitrary bytes as a file to analyse, read as a regular file or as a
// stream, reported as text or JSON with the CSV rows: the reader and the
// decoder must neither crash nor hang, and keep their memory bounded
// whatever the header claims.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/analysis_report.h"
#include "run/analysis_run.h"
#include "wav/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 0;
  const std::unique_ptr<stampline::InputFile> input =
      stampline::memoryInput(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), (choice & 1U) != 0);
  stampline::AnalysisRequest request;
  request.path = "fuzz.wav";
  if ((choice & 4U) != 0) request.channel = 1 + (choice >> 4);
  if ((choice & 8U) != 0) request.rate = stampline::kRate2997;
  stampline::CsvReport csv("/dev/null", sink);
  stampline::TextReport text(sink);
  stampline::JsonReport json(sink);
  std::vector<stampline::AnalysisListener*> listeners;
  if ((choice & 2U) != 0) {
    listeners.push_back(&json);
  } else {
    listeners = {&csv, &text};
  }
  stampline::analyzeInput(*input, request, listeners, sink);
  return 0;
}
