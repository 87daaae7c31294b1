// What a run of another kind than writing a file refuses, once the whole
// command line is scanned: --analyze the options of writing, --play those
// of a file and the short options.
#include <cstdio>
#include <string>

#include "cli/long_options.h"

namespace stampline {

bool finishPlayOptions(const OptionScan& scan, std::FILE* out) {
  const std::string& first = !scan.firstFileOnly.empty() ? scan.firstFileOnly : scan.firstShort;
  if (first.empty()) return true;
  std::fprintf(out, "Invalid %s with --play: %s\n", first.c_str(),
               !scan.firstFileOnly.empty()
                   ? "live output writes no file (--output, --depth, --bwf and --mix are a file's)"
                   : "live output takes long options only (--sample-rate, --start and the like)");
  std::fputs("\nTry 'stampline --help' for more information.\n", out);
  return false;
}

bool finishAnalysisOptions(const OptionScan& scan, std::FILE* out) {
  if (!scan.firstWriting.empty()) {
    std::fprintf(out, "Invalid %s with --analyze: an analysis writes no WAV file; it takes "
                      "--timecode-channel, --frame-rate, --json and --csv\n",
                 scan.firstWriting.c_str());
    std::fputs("\nTry 'stampline --help' for more information.\n", out);
    return false;
  }
  if (scan.settings.json && scan.settings.csvPath == "-") {
    printRefusal(out, "csv", "-",
                 "with --json the report takes standard output; give the CSV a file");
    return false;
  }
  return true;
}

}  // namespace stampline
