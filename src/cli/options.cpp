#include "cli/options.h"

#include <span>
#include <vector>

#include "cli/help.h"
#include "cli/long_options.h"
#include "platform/option_scanner.h"
#include "cli/short_options.h"

namespace stampline {
namespace {

ScanResult fail(std::FILE* out) {
  printUsage(out);
  return ScanResult::kRefused;
}

// Stores the value of a short option, echoes it and checks it; false (after
// the message) when the value is refused.
bool applyShortOption(const ShortOptionRow& row, const char* value, OptionScan& scan, bool echo,
                      std::FILE* out) {
  row.store(value, scan);
  if (echo) std::fprintf(out, "%c = %d %s\n", row.letter, row.letter, value);
  return row.check == nullptr || row.check(value, scan, out);
}

// Stores the value of a long option and echoes it; false (after the message)
// when the value is refused.
bool applyLongOption(const LongOptionRow& row, const char* value, OptionScan& scan, bool echo,
                     std::FILE* out) {
  std::string why;
  if (!row.take(value, scan, why)) {
    printRefusal(out, row.name, value, why.empty() ? row.accepted : why);
    return false;
  }
  if (!echo) return true;
  if (value != nullptr) {
    std::fprintf(out, "%s = %s\n", row.name, value);
  } else {
    std::fprintf(out, "%s\n", row.name);
  }
  return true;
}

// Drop-frame labels exist only in 30-label counting (29.97 and 30 frames
// per second), whichever order the frame rate and drop-frame came in. A
// command line of short options alone keeps its own message and the usage
// text.
bool checkDropFrame(const OptionScan& scan, std::FILE* out) {
  const Settings& s = scan.settings;
  if (!s.dropFrame || s.frameRate.nominal == 30) return true;
  const std::string why = "drop-frame counting needs 29.97 or 30 frames per second";
  if (scan.dropFrame == Spelling::kLong) {
    printRefusal(out, "drop-frame", nullptr, why);
  } else if (scan.rate == Spelling::kLong) {
    printRefusal(out, "frame-rate", scan.rateText.c_str(), why);
  } else {
    std::fputs("Drop-frame counting needs 30 frames per second\n\n", out);
    printUsage(out);
  }
  return false;
}

// True when the command line holds the long option `name` (--quiet,
// --analyze), found as the scan will find it (not as the value of an
// option, not after "--"), so that not even the echo lines before it are
// printed.
bool givenAnywhere(int argc, char** argv, const char* name) {
  std::vector<char*> copy(argv, argv + argc);
  copy.push_back(nullptr);
  OptionScanner scanner;
  const int wanted = longCode(name);
  for (;;) {
    const int code =
        scanner.next(argc, copy.data(), shortOptionLetters(), longOptionTable(), nullptr);
    if (code == -1) return false;
    if (code == wanted) return true;
  }
}

// Notes `option` (as "--name" or "-x") when it is the first given of those
// that only writing (playing too), only --analyze, only --play or only a
// file takes. --json goes with --play as well as --analyze.
void noteUse(OptionScan& scan, LongOptionRow::Use use, const std::string& option, bool play) {
  using Use = LongOptionRow::Use;
  const auto note = [&option](std::string& first) {
    if (first.empty()) first = option;
  };
  if (use == Use::kWriting || use == Use::kPlaying || use == Use::kFileOnly) note(scan.firstWriting);
  if (use == Use::kPlaying) note(scan.firstPlaying);
  if (use == Use::kFileOnly) note(scan.firstFileOnly);
  if (use == Use::kAnalyzing && !(play && option == "--json")) note(scan.firstAnalyzing);
  if (option.size() == 2) note(scan.firstShort);
}

}  // namespace

bool writesStandardOutput(int argc, char** argv) {
  if (givenAnywhere(argc, argv, "analyze")) return false;
  std::vector<char*> copy(argv, argv + argc);
  copy.push_back(nullptr);
  OptionScanner scanner;
  const int output = longCode("output");
  bool standard = false;
  for (;;) {
    const int code =
        scanner.next(argc, copy.data(), shortOptionLetters(), longOptionTable(), nullptr);
    if (code == -1) return standard;
    if (code == output) standard = scanner.argument != nullptr && std::string(scanner.argument) == "-";
    if (code == 'o') standard = false;
  }
}

ScanResult scanOptions(int argc, char** argv, Settings& settings, std::FILE* out) {
  // An analysis echoes nothing and takes no option of writing's: those are
  // noted, not taken, and refused at the end.
  const bool analyze = givenAnywhere(argc, argv, "analyze");
  // Live output with --json prints its JSON lines instead of the echo.
  const bool play = !analyze && givenAnywhere(argc, argv, "play");
  const bool echo = !analyze && !givenAnywhere(argc, argv, "quiet") && !(play && givenAnywhere(argc, argv, "json"));
  const std::span<const LongOptionRow> rows = longOptionRows();
  OptionScan scan;
  scan.settings = settings;
  // The settings are kept as far as they got, refused or not.
  const auto ended = [&](ScanResult result) {
    settings = scan.settings;
    return result;
  };
  startOptionScan();
  for (;;) {
    const int code = nextOption(argc, argv, shortOptionLetters(), longOptionTable());
    if (code == -1) break;
    if (code >= kFirstLongCode) {
      const LongOptionRow& row = rows[static_cast<size_t>(code - kFirstLongCode)];
      if (code == longCode("help")) {
        printHelp(out);
        return ended(ScanResult::kFinished);
      }
      if (code == longCode("version")) {
        printVersion(out);
        return ended(ScanResult::kFinished);
      }
      noteUse(scan, row.use, std::string("--") + row.name, play);
      if (analyze && row.use == LongOptionRow::Use::kWriting) continue;
      if (!applyLongOption(row, optionArgument(), scan, echo, out)) {
        return ended(ScanResult::kRefused);
      }
      continue;
    }
    const ShortOptionRow* row = shortOption(code);
    if (row == nullptr || row->store == nullptr) return ended(fail(out));  // -h, or '?'
    noteUse(scan, LongOptionRow::Use::kWriting, std::string("-") + row->letter, play);
    if (analyze) continue;
    // A short option's value is the element the scan stands on.
    const int at = optionIndex();
    if (at >= argc) {
      std::fprintf(out, "Missing value for -%c\n\n", code);
      return ended(fail(out));
    }
    if (!applyShortOption(*row, argv[at], scan, echo, out)) return ended(fail(out));
  }
  if (analyze) {
    return ended(finishAnalysisOptions(scan, out) ? ScanResult::kAnalyze : ScanResult::kRefused);
  }
  // Live output has one port unless --channels says more.
  if (play && scan.settings.channelsGiven.empty()) scan.settings.channels = 1;
  if ((play && !finishPlayOptions(scan, out)) || !checkDropFrame(scan, out) || !finishLongOptions(scan, out)) {
    return ended(ScanResult::kRefused);
  }
  return ended(play ? ScanResult::kPlay : ScanResult::kRun);
}

}  // namespace stampline
