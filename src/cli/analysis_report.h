#ifndef STAMPLINE_CLI_ANALYSIS_REPORT_H_
#define STAMPLINE_CLI_ANALYSIS_REPORT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decode/channel_report.h"
#include "wav/wav_reader.h"

namespace stampline {

// What a report says of the file as a whole.
struct FileFacts {
  std::string name;  // as given; "-" is standard input
  WavInfo info;
  uint64_t sampleFrames = 0;  // read
  bool truncated = false;
  std::vector<int> scanned;  // the channels looked at, 1-based
};

// The report for people: the file, then each channel that carries LTC
// (every channel looked at, when one was asked for) with its labels, rate,
// user bits, level, speed, time stamp and the events, the first of each
// type shown, and which channels carry none.
void printTextReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels);

// The same as one JSON document, every event listed up to the first 1,000.
void printJsonReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels,
                     int status);

// The CSV: its first row names the columns; then one row per frame read.
void printCsvHeader(std::FILE* csv);
void printCsvRow(std::FILE* csv, int channel, const FrameRecord& row);

}  // namespace stampline

#endif  // STAMPLINE_CLI_ANALYSIS_REPORT_H_
