// Every way a run can end early or fail, against the built program: the exit
// status, the last message, and what is left on disk, read back by libsndfile
// and libltc's decoder. Each row is a test of its own, so a row that cannot
// run here (no mount, no loop device, a POSIX fault on Windows) is reported
// and counted as skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "timecode/label_text.h"
#include "program_runner.h"
#include "test_bytes.h"
#include "wav_reader.h"

namespace stampline::testing {
namespace {

using Clock = std::chrono::steady_clock;

// What happens to the run while it goes.
enum class Interference {
  kNone,
  kSignalsMidRun,      // the signals, 50 ms apart, once the file has passed 200 kB
  kSignalsAtOnce,      // the same, back to back
  kKillMidRun,         // SIGKILL to the (slowed) program after 2.5 s
  kSecondRun,          // a second run on the same path while this (slowed) one runs
  kFifoWithoutReader,  // output is a FIFO nobody opens; the signals
  kFifoStalledReader,  // a reader takes 100 kB, waits for the program to end, takes the rest
  kFifoFull,           // a FIFO the test has filled and holds open; the signals
  kFifoReadAll,        // a reader that takes everything
  kStdoutFifo,         // standard output is a FIFO, which a reader empties
  kTerminal,           // on a pseudo-terminal, standard output on it too
  kLongerFileThere,    // "out" holds 1 MB before the run
  kSmallDisk,          // output on a 20 MB tmpfs
  kFullDisk,           // output on a 64 KiB tmpfs that is already full
  kBtrfs128,           // output on a btrfs of 128 MB on a loop device
  kBtrfs300,           // ... of 300 MB
};

// What must be left afterwards.
enum class Left {
  kNothing,      // no output file
  kMessages,     // the output (or the terminal) holds the program's messages only
  kValidWav,     // a valid file of fewer frames than asked for
  kCompleteWav,  // every frame asked for
  kWavAndTail,   // a valid file as its header describes it, an unfinished block after it
  kStreamFrames, // the stream's reader got the frames "Interrupted after" counts
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

const LtcRun kMono22050{22050, kRate30, 1, false, "01:00:00:00"};
const LtcRun kBroadcastMono22050{22050, kRate30, 1, false, "01:00:00:00", {}, true};
const LtcRun kBroadcastDefaults{44100, kRate30, 2, false, "01:00:00:00", {}, true};
const LtcRun kStereo48000{48000, kRate30, 2, false, "01:00:00:00"};
const std::vector<std::string> kLongMono = {"-s", "22050", "-c", "1", "-d", "2000000", "-o", "out"};

// Faults injected by the system call tracer, on the output file only.
RunOptions injected(std::initializer_list<std::string> faults) {
  RunOptions options;
  options.launcher = {"strace", "-f", "-qq", "-o", "/dev/null", "-P", "out",
                      "-e", "trace=write,pwrite64,ftruncate,fdatasync,close"};
  for (const std::string& fault : faults) {
    options.launcher.push_back("-e");
    options.launcher.push_back("inject=" + fault);
  }
  // A sanitizer build's leak check cannot run under a tracer; it would end
  // a clean run with status 1.
  options.environment = {{"ASAN_OPTIONS", "detect_leaks=0"}};
  return options;
}
// A run slowed to about 13 MB/s: every write to the output waits 20 ms.
RunOptions slowed() { return injected({"write:delay_exit=20000"}); }

RunOptions with(std::function<void(RunOptions&)> change) {
  RunOptions options;
  change(options);
  return options;
}

std::vector<FaultCase> faultCases() {
  using I = Interference;
  const auto signalStops = [](const char* name, int signal) {
    return FaultCase{name, kLongMono, {}, I::kSignalsMidRun, {signal}, 128 + signal,
                     "Interrupted after", Left::kValidWav, kMono22050};
  };
  return {
      {"output is standard output's file", {"-d", "100", "-o", "out"},
       with([](RunOptions& o) { o.stdoutPath = "out"; }), I::kNone, {}, 1, "Error opening file",
       Left::kMessages},
      {"output is /dev/stdout", {"-d", "100", "-o", "/dev/stdout"},
       with([](RunOptions& o) { o.stdoutPath = "out"; }), I::kNone, {}, 1, "Error opening file",
       Left::kMessages},
      {"output is the FIFO of standard output", {"-d", "30", "-o", "out"},
       with([](RunOptions& o) { o.stdoutPath = "out"; }), I::kStdoutFifo, {}, 1,
       "Error opening file", Left::kMessages},
      {"output is /dev/tty, a terminal", {"-d", "30", "-o", "/dev/tty"}, {}, I::kTerminal, {}, 1,
       "Error opening file", Left::kMessages},
      {"/dev/null for output and messages", {"-d", "30", "-o", "/dev/null"},
       with([](RunOptions& o) { o.stdoutPath = "/dev/null"; }), I::kNone, {}, 0, "",
       Left::kUnchecked},
      {"standard output a broken pipe", {"-d", "300", "-o", "out"},
       with([](RunOptions& o) { o.stdoutBrokenPipe = true; }), I::kNone, {}, 0, "",
       Left::kCompleteWav},
      {"standard streams closed", {"-d", "30", "-o", "out"},
       with([](RunOptions& o) { o.standardStreamsClosed = true; }), I::kNone, {}, 0, "",
       Left::kCompleteWav},
      {"missing directory", {"-d", "100", "-o", "no/such/dir.wav"}, {}, I::kNone, {}, 1,
       "Error opening file", Left::kNothing},
      {"a longer file is cut to the new one", {"-d", "30", "-o", "out"}, {}, I::kLongerFileThere,
       {}, 0, "", Left::kCompleteWav},
      {"a new file's mode follows the umask", {"-d", "1", "-o", "out"},
       with([](RunOptions& o) { o.umask = 027; }), I::kNone, {}, 0, "", Left::kCompleteWav, {}, -1,
       "", 0640},
      {"two runs on one path", {"-d", "3000", "-o", "out"}, slowed(), I::kSecondRun, {}, 1,
       "Error opening file", Left::kCompleteWav},
      {"device that is full", {"-d", "100", "-o", "/dev/full"}, {}, I::kNone, {}, 1,
       "Error writing file", Left::kNothing},
      signalStops("SIGINT mid-run", SIGINT),
      signalStops("SIGTERM mid-run", SIGTERM),
      signalStops("SIGHUP mid-run", SIGHUP),
      signalStops("SIGXCPU mid-run", SIGXCPU),
      signalStops("SIGALRM mid-run", SIGALRM),
      signalStops("SIGUSR1 mid-run", SIGUSR1),
      signalStops("SIGUSR2 mid-run", SIGUSR2),
      signalStops("SIGVTALRM mid-run", SIGVTALRM),
      signalStops("SIGPROF mid-run", SIGPROF),
      {"SIGINT mid-run, Broadcast Wave", {"-s", "22050", "-c", "1", "-d", "2000000", "-o", "out", "--bwf"},
       {}, I::kSignalsMidRun, {SIGINT}, 130, "Interrupted after", Left::kValidWav,
       kBroadcastMono22050, -1, "RIFF....WAVEfmt "},
      {"SIGHUP ignored from the start", kLongMono, with([](RunOptions& o) { o.launcher = {"nohup"}; }),
       I::kSignalsMidRun, {SIGHUP, SIGTERM}, 143, "Interrupted after", Left::kValidWav, kMono22050},
      // Two signals sent back to back: SIGINT, the lower number, arrives first
      // and stops the run; SIGTERM then ends it at once.
      {"a second signal ends the run at once", kLongMono, {}, I::kSignalsAtOnce, {SIGINT, SIGTERM},
       143, "", Left::kWavAndTail, kMono22050},
      {"SIGKILL mid-run", kLongMono, slowed(), I::kKillMidRun, {}, 128 + SIGKILL, "",
       Left::kWavAndTail, kMono22050},
      // The header becomes RF64 the moment the data needs it (here past 1 MB).
      {"SIGKILL after the change to RF64", kLongMono,
       [] {
         RunOptions o = slowed();
         o.environment.emplace_back("STAMPLINE_RIFF_LIMIT", "1000000");
         return o;
       }(),
       I::kKillMidRun, {}, 128 + SIGKILL, "", Left::kWavAndTail, kMono22050, -1, "RF64"},
      // Planned past 4 GiB, stopped long before: a plain WAV any reader opens.
      {"long run stopped early", {"-s", "48000", "-d", "700000", "-o", "out"}, {},
       I::kSignalsMidRun, {SIGINT}, 130, "Interrupted after", Left::kValidWav, kStereo48000, -1,
       "RIFF....WAVEJUNK"},
      {"RIFF limit hook above the real limit", {"-s", "48000", "-d", "700000", "-o", "out"},
       with([](RunOptions& o) { o.environment = {{"STAMPLINE_RIFF_LIMIT", "99999999999"}}; }),
       I::kSignalsMidRun, {SIGINT}, 130, "Interrupted after", Left::kValidWav, kStereo48000, -1,
       "RIFF....WAVEJUNK"},
      {"FIFO without a reader, SIGINT", {"-o", "out"}, {}, I::kFifoWithoutReader, {SIGINT}, 130,
       "Interrupted after 0 frames", Left::kNothing},
      {"FIFO without a reader, SIGTERM", {"-o", "out"}, {}, I::kFifoWithoutReader, {SIGTERM}, 143,
       "Interrupted after 0 frames", Left::kNothing},
      {"FIFO with a stalled reader", {"-o", "out"}, {}, I::kFifoStalledReader, {SIGTERM}, 143,
       "Interrupted after", Left::kStreamFrames},
      {"FIFO full, stopped in a write", {"-o", "out"}, {}, I::kFifoFull, {SIGTERM}, 143,
       "Interrupted after 0 frames", Left::kNothing},
      {"FIFO read to the end", {"-d", "900", "-o", "out"}, {}, I::kFifoReadAll, {}, 0, "",
       Left::kCompleteWav},
      {"disk full", {"-d", "18000", "-o", "out"}, {}, I::kSmallDisk, {}, 1, "Error writing file",
       Left::kValidWav},
      {"disk full, Broadcast Wave", {"-d", "18000", "-o", "out", "--bwf"}, {}, I::kSmallDisk, {}, 1,
       "Error writing file", Left::kValidWav, kBroadcastDefaults, -1, "RIFF....WAVEfmt "},
      {"disk full on btrfs of 128 MB", {"-d", "30000", "-o", "out"}, {}, I::kBtrfs128, {}, 1,
       "Error writing file", Left::kValidWav},
      {"disk full on btrfs of 300 MB", {"-d", "60000", "-o", "out"}, {}, I::kBtrfs300, {}, 1,
       "Error writing file", Left::kValidWav},
      {"no room even for the header", {"-d", "100", "-o", "out"}, {}, I::kFullDisk, {}, 1,
       "Error writing file", Left::kNothing},
      {"file size limit", {"-d", "1800", "-o", "out"},
       with([](RunOptions& o) { o.fileSizeLimit = 1000 * 1024; }), I::kNone, {}, 1,
       "Error writing file", Left::kValidWav},
      // The limit holds for a captured standard output too, but not for a FIFO.
      {"file size limit of 0", {"-d", "100", "-o", "out"}, with([](RunOptions& o) {
         o.fileSizeLimit = 0;
         o.stdoutPath = "messages";
       }),
       I::kStdoutFifo, {}, 1, "Error writing file", Left::kNothing},
      // Later writes would succeed: a run that went on would leave frames.
      {"first sample write fails", {"-d", "1800", "-o", "out"}, injected({"write:error=EIO:when=2"}),
       I::kNone, {}, 1, "Error writing file", Left::kValidWav, {}, 0},
      {"header write fails", {"-d", "1800", "-o", "out"}, injected({"write:error=ENOSPC:when=1"}),
       I::kNone, {}, 1, "Error writing file", Left::kValidWav, {}, 0},
      {"header rewrite fails", {"-d", "1800", "-o", "out"}, injected({"pwrite64:error=EIO"}),
       I::kNone, {}, 1, "Error writing file", Left::kValidWav, {}, 0},
      {"fdatasync fails", {"-d", "1800", "-o", "out"}, injected({"fdatasync:error=EIO"}), I::kNone,
       {}, 1, "Error writing file", Left::kValidWav},
      {"complete run, ftruncate fails", {"-d", "1800", "-o", "out"},
       injected({"ftruncate:error=EIO"}), I::kNone, {}, 0, "", Left::kCompleteWav},
      {"write and ftruncate fail", {"-d", "1800", "-o", "out"},
       injected({"write:error=EIO:when=3", "ftruncate:error=EINVAL"}), I::kNone, {}, 1,
       "Error writing file", Left::kValidWav},
      {"close fails", {"-d", "30", "-o", "out"}, injected({"close:error=EIO"}), I::kNone, {}, 1,
       "Error writing file", Left::kCompleteWav},
      {"close interrupted", {"-d", "30", "-o", "out"}, injected({"close:error=EINTR"}), I::kNone, {},
       0, "", Left::kCompleteWav},
  };
}

// The faults a Windows build meets too (SIGINT is Ctrl-C there); the others
// need POSIX signals, FIFOs, resource limits, mounts or the system call tracer.
bool onWindowsToo(const FaultCase& c) {
  static const std::set<std::string> names = {
      "output is standard output's file", "standard output a broken pipe", "missing directory",
      "SIGINT mid-run", "long run stopped early", "disk full", "a longer file is cut to the new one",
      "SIGINT mid-run, Broadcast Wave", "disk full, Broadcast Wave"};
  return names.count(c.name) != 0;
}

// The run's state letter from /proc: 'S' while it waits in a system call.
char processState(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t end = line.rfind(')');
  return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

void waitUntil(const std::function<bool()>& ready) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!ready() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Waits until the program has been waiting in a system call for a while.
void waitUntilBlocked(int pid) {
  int sleeping = 0;
  waitUntil([&] {
    sleeping = processState(pid) == 'S' ? sleeping + 1 : 0;
    return sleeping >= 10;
  });
}

void sendSignals(int pid, const std::vector<int>& signals, bool atOnce) {
  for (const int s : signals) {
    kill(pid, s);
    if (!atOnce) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

uint64_t sizeOf(const std::string& path) {
  std::error_code noFileYet;
  const auto size = std::filesystem::file_size(path, noFileYet);
  return noFileYet ? 0 : size;
}

std::string lastLine(std::string out) {
  if (!out.empty() && out.back() == '\n') out.pop_back();
  const size_t newline = out.rfind('\n');
  return newline == std::string::npos ? out : out.substr(newline + 1);
}

// The program a tracer started: its first child.
int tracedProgram(int tracer) {
  std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) +
                         "/children");
  int child = -1;
  children >> child;
  return child;
}

// The part of a file its header describes: the header and the data chunk's
// declared size (the ds64 chunk's in RF64; the file may hold more), copied
// to `part`. Returns the data bytes, or -1 without a data chunk.
int64_t describedPart(const std::string& path, const std::string& part) {
  const std::string bytes = readFile(path);
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint64_t size = littleEndian(bytes, at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) {
      if (bytes.compare(0, 4, "RF64") == 0) size = littleEndian(bytes, 28, 8);
      const auto end = static_cast<size_t>(std::min<uint64_t>(at + 8 + size, bytes.size()));
      std::ofstream(part, std::ios::binary) << bytes.substr(0, end);
      return static_cast<int64_t>(size);
    }
    at += static_cast<size_t>(8 + size + size % 2);
  }
  return -1;
}

// The whole frames of a run in `dataBytes` of samples, and their bytes.
uint64_t wholeFrames(const LtcRun& run, uint64_t dataBytes) {
  const FrameSchedule schedule(run.fps, run.rate, packTimecodeText(run.start), run.drop);
  return schedule.completeFrames(dataBytes / static_cast<uint64_t>(2 * run.channels));
}
uint64_t wholeFrameBytes(const LtcRun& run, uint64_t dataBytes) {
  const FrameSchedule schedule(run.fps, run.rate, packTimecodeText(run.start), run.drop);
  return schedule.frameStart(wholeFrames(run, dataBytes)) * static_cast<uint64_t>(2 * run.channels);
}

// The echo lines of a command line of short options and long flags.
std::string echoLines(const FaultCase& c) {
  std::string text;
  for (size_t i = 0; i < c.args.size(); ++i) {
    if (c.args[i].rfind("--", 0) == 0) {
      text += c.args[i].substr(2) + "\n";
    } else if (i + 1 < c.args.size()) {
      const char letter = c.args[i][1];
      text += std::string(1, letter) + " = " + std::to_string(letter) + " " + c.args[++i] + "\n";
    }
  }
  return text;
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, LeavesAnHonestStatusAndAValidFile) {
  const FaultCase& c = GetParam();
  if (programIsWindows() && !onWindowsToo(c)) {
    GTEST_SKIP() << "needs POSIX signals, FIFOs, limits, mounts or the system call tracer";
  }
  ScratchDir scratch;
  std::string cwd = scratch.path();
  std::optional<SmallDisk> disk;
  if (c.interference == Interference::kSmallDisk) disk.emplace(scratch.file("disk"));
  if (c.interference == Interference::kFullDisk) disk.emplace(scratch.file("disk"), "64k");
  if (c.interference == Interference::kBtrfs128) disk.emplace(scratch.file("disk"), 128);
  if (c.interference == Interference::kBtrfs300) disk.emplace(scratch.file("disk"), 300);
  if (disk) {
    if (!disk->mounted()) GTEST_SKIP() << disk->why();
    cwd = scratch.file("disk");
  }
  const std::string out = cwd + "/out";
  if (c.interference == Interference::kFullDisk) {
    std::ofstream filler(cwd + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  if (c.interference == Interference::kLongerFileThere) {
    std::ofstream(out, std::ios::binary) << std::string(1 << 20, 'x');
  }
  RunOptions options = c.options;
  if (!options.stdoutPath.empty() && options.stdoutPath[0] != '/') {
    options.stdoutPath = cwd + "/" + options.stdoutPath;
  }
  // The tracer knows the output file by its whole path.
  std::replace(options.launcher.begin(), options.launcher.end(), std::string("out"), out);
  const std::set<Interference> fifos = {Interference::kFifoWithoutReader, Interference::kFifoStalledReader,
                                        Interference::kFifoFull, Interference::kFifoReadAll};
  const bool stdoutFifo = c.interference == Interference::kStdoutFifo;
  const bool fifo = fifos.count(c.interference) != 0 || (stdoutFifo && options.stdoutPath == out);
  if (fifo) {
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
  }
  if (stdoutFifo && options.stdoutPath != out) {
    ASSERT_EQ(mkfifo(options.stdoutPath.c_str(), 0600), 0);
  }

  std::string received;
  std::atomic<bool> programDone = false;
  std::thread reader;
  int heldOpen = -1;
  if (c.interference == Interference::kFifoReadAll) {
    reader = std::thread([&] { received = readFile(out); });
  } else if (c.interference == Interference::kStdoutFifo) {
    reader = std::thread([&] { received = readFile(options.stdoutPath); });
  } else if (c.interference == Interference::kFifoStalledReader) {
    reader = std::thread([&] {
      const int fd = open(out.c_str(), O_RDONLY);
      char buffer[4096];
      const auto take = [&](size_t most) {
        for (ssize_t n; received.size() < most && (n = read(fd, buffer, sizeof buffer)) > 0;) {
          received.append(buffer, static_cast<size_t>(n));
        }
      };
      take(100000);
      waitUntil([&] { return programDone.load(); });
      take(SIZE_MAX);
      close(fd);
    });
  } else if (c.interference == Interference::kFifoFull) {
    // Held open for reading, so the program's open does not wait, and full,
    // so its first write waits before it has written anything.
    heldOpen = open(out.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(heldOpen, 0);
    const std::string block(4096, 'x');
    while (write(heldOpen, block.data(), block.size()) > 0) {
    }
  }

  ProgramResult r;
  ProgramResult firstRun;
  uint64_t describedAtLeast = 0;
  if (c.interference == Interference::kTerminal) {
    r = runOnTerminal(c.args, cwd, true);
    r.out = r.err;
    for (size_t at; (at = r.out.find("\r\n")) != std::string::npos;) r.out.erase(at, 1);
  } else {
    RunningProgram program(c.args, cwd, options);
    switch (c.interference) {
      case Interference::kSignalsMidRun:
      case Interference::kSignalsAtOnce:
        waitUntil([&] { return sizeOf(out) > 200000; });
        // Every message is out while the run goes on (no console library
        // holds them back until the end).
        if (options.stdoutPath.empty()) {
          EXPECT_EQ(program.outputSoFar(), echoLines(c));
        }
        sendSignals(program.pid(), c.signals, c.interference == Interference::kSignalsAtOnce);
        break;
      case Interference::kFifoWithoutReader:
        waitUntilBlocked(program.pid());
        // Every message is out before the open that waits.
        EXPECT_EQ(program.outputSoFar(), "o = 111 out\n");
        sendSignals(program.pid(), c.signals, false);
        break;
      case Interference::kFifoStalledReader:
      case Interference::kFifoFull:
        waitUntilBlocked(program.pid());
        sendSignals(program.pid(), c.signals, false);
        break;
      case Interference::kKillMidRun: {
        // The file's size every 10 ms: whatever it held a second before the
        // kill (and a block's wait) its header must describe.
        waitUntil([&] { return sizeOf(out) > 0; });
        std::vector<std::pair<Clock::time_point, uint64_t>> sizes;
        const auto killAt = Clock::now() + std::chrono::milliseconds(2500);
        while (Clock::now() < killAt) {
          sizes.emplace_back(Clock::now(), sizeOf(out));
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(tracedProgram(program.pid()), SIGKILL);
        for (const auto& [when, size] : sizes) {
          if (when < killAt - std::chrono::milliseconds(1050) && size > 44) {
            describedAtLeast = wholeFrameBytes(c.run, size - 44);
          }
        }
        break;
      }
      case Interference::kSecondRun:
        waitUntil([&] { return sizeOf(out) > 100000; });
        r = runProgram(c.args, cwd);
        break;
      default:
        break;
    }
    if (c.interference == Interference::kSecondRun) {
      firstRun = program.finish();
      EXPECT_EQ(firstRun.status, 0) << "the first run: " << firstRun.out;
    } else {
      r = program.finish();
    }
  }
  programDone = true;
  if (reader.joinable()) reader.join();
  if (heldOpen >= 0) close(heldOpen);

  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  // What the program printed: its captured output, or the file or FIFO it
  // printed to instead (which the reader has emptied).
  std::string shown = r.out;
  if (c.interference == Interference::kStdoutFifo) {
    shown = received;
  } else if (!options.stdoutPath.empty()) {
    shown = readFile(options.stdoutPath);
  }
  const std::string last = lastLine(shown);
  if (c.lastLine == "Interrupted after") {
    EXPECT_EQ(last.rfind("Interrupted after ", 0), 0U) << shown;
    EXPECT_EQ(last.substr(last.size() - 7), " frames") << shown;
  } else if (c.lastLine.empty()) {
    EXPECT_EQ(shown.find("Error"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Interrupted"), std::string::npos) << shown;
  } else {
    EXPECT_EQ(last, c.lastLine) << shown;
  }

  std::string path = out;
  switch (c.left) {
    case Left::kNothing:
      if (!fifo) {
        EXPECT_FALSE(fileExists(out));
      }
      break;
    case Left::kMessages:
      EXPECT_EQ(shown, echoLines(c) + c.lastLine + "\n");
      break;
    case Left::kStreamFrames: {
      const uint64_t data = received.size() > 44 ? received.size() - 44 : 0;
      EXPECT_EQ(last, "Interrupted after " + std::to_string(wholeFrames(c.run, data)) + " frames");
      break;
    }
    case Left::kWavAndTail: {
      path = scratch.file("described.wav");
      const int64_t data = describedPart(out, path);
      EXPECT_GE(data, static_cast<int64_t>(describedAtLeast));
      EXPECT_LE(static_cast<uint64_t>(data) + 44, sizeOf(out));
      [[fallthrough]];
    }
    case Left::kValidWav:
    case Left::kCompleteWav: {
      if (c.interference == Interference::kFifoReadAll) {
        path = scratch.file("received.wav");
        std::ofstream(path, std::ios::binary) << received;
      }
      const int64_t frames = checkLtcFile(path, c.run);
      if (!c.header.empty()) {
        std::string start = readFile(path).substr(0, c.header.size());
        for (size_t i = 4; i < std::min<size_t>(8, start.size()); ++i) start[i] = '.';
        EXPECT_EQ(start, c.header);
      }
      if (c.left == Left::kCompleteWav) {
        const auto d = std::find(c.args.begin(), c.args.end(), "-d");
        EXPECT_EQ(frames, std::stoll(*(d + 1)));
      } else if (c.frames >= 0) {
        EXPECT_EQ(frames, c.frames);
      } else {
        EXPECT_GE(frames, 0);
      }
      if (c.lastLine == "Interrupted after") {
        EXPECT_EQ(last, "Interrupted after " + std::to_string(frames) + " frames");
      }
      break;
    }
    case Left::kUnchecked:
      break;
  }
  if (c.mode >= 0) {
    struct stat info {};
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, static_cast<unsigned>(c.mode));
  }
  std::printf("| %-38s | %3d | %-28s | %s |\n", c.name, c.status,
              c.lastLine.empty() ? "(no message)" : c.lastLine.c_str(),
              HasFailure() ? "FAIL" : "pass");
}

// Rows show by name in failure reports.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

std::string rowName(const ::testing::TestParamInfo<FaultCase>& info) {
  std::string name;
  for (const char* c = info.param.name; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c)) != 0) name += *c;
    if (*c == ' ' || *c == '-' || *c == '/') name += '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(faultCases()), rowName);

TEST(FailureTest, OutOfMemoryLosesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than the limits tried";
#else
  if (!programLauncher().empty()) GTEST_SKIP() << "an emulator needs more address space itself";
  if (programIsWindows()) GTEST_SKIP() << "address space limits are POSIX";
  // From too little to load the program to enough to run it: at every limit
  // the run either completes or leaves the existing file as it was.
  ScratchDir dir;
  int outOfMemory = 0;
  for (unsigned long kib = 4096; kib <= 12288; kib += 256) {
    SCOPED_TRACE(std::to_string(kib) + " KiB");
    {
      std::ofstream(dir.file("k.wav")) << "precious";
    }
    RunOptions options;
    options.addressSpaceLimit = kib * 1024;
    const ProgramResult r = runProgram({"-d", "1800", "-o", "k.wav"}, dir.path(), options);
    if (r.status == 0) {
      EXPECT_EQ(readFile(dir.file("k.wav")).size(), 10584044U);
      continue;
    }
    EXPECT_EQ(readFile(dir.file("k.wav")), "precious") << r.out << r.err;
    // 127: the loader itself could not start the program. 134: the C++
    // runtime got no memory for its exception reserve at start-up, so it
    // cannot even raise the allocation failure (the file is untouched all the
    // same).
    const bool runtimeStarved =
        r.status == 134 && r.err.find("terminate called without an active exception") == 0;
    EXPECT_TRUE(r.status == 1 || r.status == 127 || runtimeStarved) << r.status << " " << r.err;
    if (r.status == 1) {
      EXPECT_EQ(lastLine(r.out), "Out of memory");
      ++outOfMemory;
    }
  }
  EXPECT_GT(outOfMemory, 0);
#endif
}

}  // namespace
}  // namespace stampline::testing
