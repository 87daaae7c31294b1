#ifndef STAMPLINE_TESTS_FAULT_TABLE_H_
#define STAMPLINE_TESTS_FAULT_TABLE_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "program_runner.h"
#include "independent_readers.h"

namespace stampline::testing {

// The fault table: every way a run can end early or fail, against the built
// program, each row a test of its own. A row says what interferes with the
// run, and what the run must leave: its exit status, its last message, and
// what is on disk, read back by libsndfile and libltc's decoder.

// What happens around or to the run.
enum class Interference {
  kNone,
  kLongerFileThere,    // "out" holds 1 MB before the run
  kTerminal,           // on a pseudo-terminal, standard output on it too
  kStdoutFifo,         // standard output is a FIFO, which a reader empties
  kSignalsMidRun,      // the signals, 50 ms apart, once the file has passed 200 kB
  kSignalsAtOnce,      // the same, back to back
  kKillMidRun,         // SIGKILL to the (slowed) program after 2.5 s
  kSecondRun,          // a second run on the same path while this (slowed) one runs
  kFifoWithoutReader,  // output is a FIFO nobody opens; the signals
  kFifoStalledReader,  // a reader takes 100 kB, waits for the program to end, takes the rest
  kFifoFull,           // a FIFO the test has filled and holds open; the signals
  kFifoReadAll,        // a reader that takes everything
  kSmallDisk,          // output on a 20 MB tmpfs
  kFullDisk,           // output on a 64 KiB tmpfs that is already full
  kBtrfs128,           // output on a btrfs of 128 MB on a loop device
  kBtrfs300,           // ... of 300 MB
  kInputSilent,        // standard input is a pipe whose writer sends nothing; the signals
  kInputStalls,        // ... that sends a WAV header, then nothing; the signals
};

// What must be left afterwards.
enum class Left {
  kNothing,       // no output file
  kMessages,      // the output (or the terminal) holds the program's messages only
  kValidWav,      // a valid file of fewer frames than asked for
  kCompleteWav,   // every frame asked for
  kWavAndTail,    // a valid file as its header describes it, an unfinished block after it
  kStreamFrames,  // the stream's reader got the frames "Interrupted after" counts
  kUnchecked,
};

struct FaultCase {
  const char* name;
  std::vector<std::string> args;  // the output file is "out" (a FIFO where one is used)
  RunOptions options;
  Interference interference;
  std::vector<int> signals;
  int status;
  std::string lastLine;  // "Interrupted after" matches any count
  Left left;
  LtcRun run = {};
  int64_t frames = -1;   // the frames a valid file must hold; -1: any
  std::string header{};  // the chunk names the file must start with, if given
  int mode = -1;         // the file's permission bits, if given
};

// Rows show by name in failure reports and test names.
void PrintTo(const FaultCase& c, std::ostream* os);
std::string rowName(const FaultCase& c);

// Faults injected by the system call tracer, on the output file only.
RunOptions injected(std::initializer_list<std::string> faults);
// A run slowed to about 13 MB/s: every write to the output waits 20 ms.
RunOptions slowed();
RunOptions with(const std::function<void(RunOptions&)>& change);

// What a row's run left, as seen afterwards.
struct Aftermath {
  std::string out;       // path of the output file
  std::string shown;     // what the program printed, wherever it went
  std::string received;  // what a reader of a FIFO output received
  bool fifo = false;     // the output was a FIFO
  uint64_t describedAtLeast = 0;  // data a header must describe (SIGKILL rows)
};

// Checks the exit status, the last message and what is left, as the row says.
void checkAftermath(const FaultCase& c, const ProgramResult& r, const Aftermath& after,
                    const ScratchDir& scratch);

// The echo lines of a command line of short options and long flags.
std::string echoLines(const FaultCase& c);
// The whole frames of a run in `dataBytes` of samples, and their bytes.
uint64_t wholeFrames(const LtcRun& run, uint64_t dataBytes);
uint64_t wholeFrameBytes(const LtcRun& run, uint64_t dataBytes);
uint64_t sizeOf(const std::string& path);
// Polls `ready` every 5 ms for up to 20 s.
void waitUntil(const std::function<bool()>& ready);
// Waits until process `pid` has been waiting in a system call for a while.
void waitUntilBlocked(int pid);
void sendSignals(int pid, const std::vector<int>& signals, bool atOnce);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_FAULT_TABLE_H_
