#ifndef STAMPLINE_CLI_ANALYSIS_REPORT_H_
#define STAMPLINE_CLI_ANALYSIS_REPORT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "decode/channel_report.h"
#include "run/analysis_listener.h"

namespace stampline {

// The report for people: the file, then each channel that carries LTC
// (every channel looked at, when one was asked for) with its labels, rate,
// user bits, level, speed, time stamp and the events (each type counted,
// the first 1,000 listed), and which channels carry none.
void printTextReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels);

// The same as one JSON document, every event listed up to the first 1,000.
void printJsonReport(std::FILE* out, const FileFacts& file, const std::vector<ChannelReport>& channels,
                     int status);

// The CSV: its first row names the columns; then one row per frame read.
void printCsvHeader(std::FILE* csv);
void printCsvRow(std::FILE* csv, int channel, const FrameRecord& row);

// The reports as an analysis's listeners: the text or JSON report once the
// file has been read, on `out`.
class TextReport final : public AnalysisListener {
 public:
  explicit TextReport(std::FILE* out) : out_(out) {}
  void finished(const FileFacts& file, const std::vector<ChannelReport>& channels, int status) override;

 private:
  std::FILE* out_;
};
class JsonReport final : public AnalysisListener {
 public:
  explicit JsonReport(std::FILE* out) : out_(out) {}
  void finished(const FileFacts& file, const std::vector<ChannelReport>& channels, int status) override;

 private:
  std::FILE* out_;
};
// The CSV's rows as the frames come, to a file of its own or ("-") to
// `standardOutput`; a file that cannot be created, or written to its end,
// stops the analysis with a message.
class CsvReport final : public AnalysisListener {
 public:
  CsvReport(std::string path, std::FILE* standardOutput) : path_(std::move(path)), standardOutput_(standardOutput) {}
  ~CsvReport() override;
  CsvReport(const CsvReport&) = delete;
  CsvReport& operator=(const CsvReport&) = delete;
  bool started(const FileFacts& file, std::string& problem) override;
  void frame(int channel, const FrameRecord& frame) override { printCsvRow(file_, channel, frame); }
  bool ended(std::string& problem) override;

 private:
  std::string path_;
  std::FILE* standardOutput_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace stampline

#endif  // STAMPLINE_CLI_ANALYSIS_REPORT_H_
