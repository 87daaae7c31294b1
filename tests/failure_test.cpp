// The fault table (fault_table.h), by kind of interference: the console and
// the file a run is given, stops while it runs, FIFOs, and full disks. A row
// that cannot run here (no mount, no loop device, a POSIX fault on Windows)
// is reported and counted as skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fault_table.h"
#include "test_bytes.h"
#include "program_runner.h"
#include "independent_readers.h"

namespace stampline::testing {
namespace {

using Clock = std::chrono::steady_clock;
using I = Interference;

const LtcRun kMono22050{22050, kRate30, 1, false, "01:00:00:00"};
const LtcRun kBroadcastMono22050{22050, kRate30, 1, false, "01:00:00:00", {}, true};
const LtcRun kBroadcastDefaults{44100, kRate30, 2, false, "01:00:00:00", {}, true};
const LtcRun kStereo48000{48000, kRate30, 2, false, "01:00:00:00"};
const std::vector<std::string> kLongMono = {"-s", "22050", "-c", "1", "-d", "2000000", "-o", "out"};
// A second of mono noise at 22050 Hz with the LTC put before it.
const LtcRun kMixed22050{22050, kRate30, 2, false, "01:00:00:00", {}, false, true};
// Standard input from in.fifo, which the test holds open.
const RunOptions kFromInputPipe = with([](RunOptions& o) { o.launcher = {"sh", "-c", "exec \"$@\" < in.fifo", "sh"}; });

// The faults a Windows build meets too (SIGINT is Ctrl-C there); the others
// need POSIX signals, FIFOs, resource limits, mounts or the system call tracer.
bool onWindowsToo(const FaultCase& c) {
  static const std::set<std::string> names = {
      "output is standard output's file", "standard output a broken pipe", "missing directory",
      "SIGINT mid-run", "long run stopped early", "disk full", "a longer file is cut to the new one",
      "SIGINT mid-run, Broadcast Wave", "disk full, Broadcast Wave", "mix input shorter than its header says",
      "SIGINT mid-run, --mix", "disk full, --mix"};
  return names.count(c.name) != 0;
}

// A row's scene: its scratch directory, where it runs, its output, and its
// options with the paths made whole.
struct Scene {
  explicit Scene(const FaultCase& c) : cwd(scratch.path()), options(c.options), c_(c) {}
  void settle() {
    out = cwd + "/out";
    // The input of a --mix row: a second of noise, or half of one whose
    // header says a second, with no speaker positions (so that the LTC may
    // go first).
    for (const std::string& arg : c_.args) {
      if (arg == "--mix=in.wav") writeNoiseFile(cwd + "/in.wav", 22050, 22050);
      if (arg == "--mix=cut.wav") writeNoiseFile(cwd + "/cut.wav", 22050, 11025, 22050);
      if (arg == "--mix=in.wav" || arg == "--mix=cut.wav") {
        const std::string path = cwd + "/" + arg.substr(6);
        writeFile(path, asExtensible(readFile(path), 0));
      }
    }
    if (!options.stdoutPath.empty() && options.stdoutPath[0] != '/') {
      options.stdoutPath = cwd + "/" + options.stdoutPath;
    }
    // The tracer knows the output file by its whole path.
    std::replace(options.launcher.begin(), options.launcher.end(), std::string("out"), out);
  }
  // What the program printed: its captured output, or the file it printed to.
  std::string shown(const ProgramResult& r) const {
    return options.stdoutPath.empty() ? r.out : readFile(options.stdoutPath);
  }

  ScratchDir scratch;
  std::string cwd;
  std::string out;
  RunOptions options;
  const FaultCase& c_;
};

void printRow(const FaultCase& c, bool failed) {
  std::printf("| %-38s | %3d | %-28s | %s |\n", c.name, c.status,
              c.lastLine.empty() ? "(no message)" : c.lastLine.c_str(), failed ? "FAIL" : "pass");
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    if (programIsWindows() && !onWindowsToo(GetParam())) {
      GTEST_SKIP() << "needs POSIX signals, FIFOs, limits, mounts or the system call tracer";
    }
    // qemu-i386 loses a thread's identity once a signal has been handled
    // (a thread that joins another is told it joins itself): a run with a
    // second thread is stopped there only natively.
    const std::vector<std::string> launcher = programLauncher();
    const bool i386Emulator = std::find(launcher.begin(), launcher.end(), "qemu-i386") != launcher.end();
    const std::vector<std::string>& args = GetParam().args;
    const bool threads =
        std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.rfind("--mix", 0) == 0; });
    if (i386Emulator && threads && !GetParam().signals.empty()) {
      GTEST_SKIP() << "qemu-i386 cannot join a thread after a signal";
    }
  }
  void TearDown() override {
    if (!IsSkipped()) printRow(GetParam(), HasFailure());
  }
};

// Nothing happens while the run goes: what it is given is the fault (its
// console, an output that is no file for it, a limit, or a system call the
// tracer makes fail).
class ConsoleAndFileTest : public FaultTest {};

std::vector<FaultCase> consoleAndFileCases() {
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
      {"device that is full", {"-d", "100", "-o", "/dev/full"}, {}, I::kNone, {}, 1,
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
      // The audio it has, then silence to the length its header gave.
      {"mix input shorter than its header says", {"--mix=cut.wav", "--timecode-channel=1", "-o", "out"},
       {}, I::kNone, {}, 0, "cut.wav ended after 11025 sample frames, before its header said; silence follows",
       Left::kValidWav, kMixed22050, 30},
  };
}

TEST_P(ConsoleAndFileTest, LeavesAnHonestStatusAndAValidFile) {
  const FaultCase& c = GetParam();
  Scene scene(c);
  scene.settle();
  if (c.interference == I::kLongerFileThere) {
    std::ofstream(scene.out, std::ios::binary) << std::string(1 << 20, 'x');
  }
  Aftermath after;
  after.out = scene.out;
  std::string received;
  std::thread reader;
  if (c.interference == I::kStdoutFifo) {
    // Standard output is a FIFO a reader empties; the output may be it too.
    after.fifo = scene.options.stdoutPath == scene.out;
    ASSERT_EQ(mkfifo(scene.options.stdoutPath.c_str(), 0600), 0);
    reader = std::thread([&] { received = readFile(scene.options.stdoutPath); });
  }
  ProgramResult r;
  if (c.interference == I::kTerminal) {
    r = runOnTerminal(c.args, scene.cwd, true);
    r.out = r.err;
    for (size_t at; (at = r.out.find("\r\n")) != std::string::npos;) r.out.erase(at, 1);
  } else {
    r = runProgram(c.args, scene.cwd, scene.options);
  }
  if (reader.joinable()) reader.join();
  after.shown = c.interference == I::kStdoutFifo ? received : scene.shown(r);
  checkAftermath(c, r, after, scene.scratch);
}

INSTANTIATE_TEST_SUITE_P(Faults, ConsoleAndFileTest, ::testing::ValuesIn(consoleAndFileCases()),
                         [](const auto& row) { return rowName(row.param); });

// A signal, a kill or a second run reaches the run while it writes.
class StopTest : public FaultTest {};

std::vector<FaultCase> stopCases() {
  const auto signalStops = [](const char* name, int signal) {
    return FaultCase{name, kLongMono, {}, I::kSignalsMidRun, {signal}, 128 + signal,
                     "Interrupted after", Left::kValidWav, kMono22050};
  };
  return {
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
      {"two runs on one path", {"-d", "3000", "-o", "out"}, slowed(), I::kSecondRun, {}, 1,
       "Error opening file", Left::kCompleteWav},
      {"SIGINT mid-run, --mix", {"--mix=in.wav", "--timecode-channel=1", "-d", "2000000", "-o", "out"}, {},
       I::kSignalsMidRun, {SIGINT}, 130, "Interrupted after", Left::kValidWav, kMixed22050},
      // A stop while --mix waits on its input ends the run within half a
      // second, whatever the input does.
      {"SIGINT while --mix=- waits for a header", {"--mix=-", "-o", "out"}, kFromInputPipe, I::kInputSilent,
       {SIGINT}, 130, "Interrupted after 0 frames", Left::kNothing},
      {"SIGTERM while --mix=- waits for samples", {"--mix=-", "--timecode-channel=1", "-o", "out"},
       kFromInputPipe, I::kInputStalls, {SIGTERM}, 143, "Interrupted after 0 frames", Left::kValidWav,
       kMixed22050, 0},
      {"SIGINT while --mix waits for a FIFO's writer", {"--mix=in.fifo", "-o", "out"}, {}, I::kInputSilent,
       {SIGINT}, 130, "Interrupted after 0 frames", Left::kNothing},
  };
}

// The program a tracer started: its first child.
int tracedProgram(int tracer) {
  std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) +
                         "/children");
  int child = -1;
  children >> child;
  return child;
}

// Kills the (traced) program after 2.5 s, sampling the file's size every
// 10 ms: whatever it held a second before the kill (and a block's wait) its
// header must describe. Returns that many data bytes.
uint64_t killAfterAWhile(const RunningProgram& program, const FaultCase& c, const std::string& out) {
  waitUntil([&] { return sizeOf(out) > 0; });
  std::vector<std::pair<Clock::time_point, uint64_t>> sizes;
  const auto killAt = Clock::now() + std::chrono::milliseconds(2500);
  while (Clock::now() < killAt) {
    sizes.emplace_back(Clock::now(), sizeOf(out));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(tracedProgram(program.pid()), SIGKILL);
  uint64_t describedAtLeast = 0;
  for (const auto& [when, size] : sizes) {
    if (when < killAt - std::chrono::milliseconds(1050) && size > 44) {
      describedAtLeast = wholeFrameBytes(c.run, size - 44);
    }
  }
  return describedAtLeast;
}

// The input pipe of a row that stops --mix while it waits: a FIFO the
// test writes to (`header`: the first 200 bytes of in.wav) and holds open
// without writing more. Standard input, or the FIFO itself, where the row
// names it: its writer then never comes.
int openInputPipe(const Scene& scene, const FaultCase& c) {
  const std::string fifo = scene.cwd + "/in.fifo";
  EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  if (std::find(c.args.begin(), c.args.end(), "--mix=in.fifo") != c.args.end()) return -1;
  const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  if (c.interference == I::kInputStalls) {
    const std::string header = readFile(scene.cwd + "/in.wav").substr(0, 200);
    EXPECT_EQ(write(writer, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  }
  return writer;
}

TEST_P(StopTest, LeavesAnHonestStatusAndAValidFile) {
  const FaultCase& c = GetParam();
  Scene scene(c);
  scene.settle();
  Aftermath after;
  after.out = scene.out;
  const bool inputWaits = c.interference == I::kInputSilent || c.interference == I::kInputStalls;
  if (inputWaits && c.interference == I::kInputStalls) writeNoiseFile(scene.cwd + "/in.wav", 22050, 22050);
  if (inputWaits && c.interference == I::kInputStalls) {
    writeFile(scene.cwd + "/in.wav", asExtensible(readFile(scene.cwd + "/in.wav"), 0));
  }
  const int writer = inputWaits ? openInputPipe(scene, c) : -1;
  RunningProgram program(c.args, scene.cwd, scene.options);
  ProgramResult r;
  if (inputWaits) {
    waitUntilBlocked(program.pid());
    sendSignals(program.pid(), c.signals, false);
    EXPECT_TRUE(program.endsWithin(std::chrono::milliseconds(500))) << "still waiting on its input";
    r = program.finish();
    if (writer >= 0) close(writer);
  } else if (c.interference == I::kKillMidRun) {
    after.describedAtLeast = killAfterAWhile(program, c, scene.out);
  } else if (c.interference == I::kSecondRun) {
    waitUntil([&] { return sizeOf(scene.out) > 100000; });
    r = runProgram(c.args, scene.cwd);
    const ProgramResult firstRun = program.finish();
    EXPECT_EQ(firstRun.status, 0) << "the first run: " << firstRun.out;
  } else {
    waitUntil([&] { return sizeOf(scene.out) > 200000; });
    // Every message is out while the run goes on (no console library holds
    // them back until the end).
    EXPECT_EQ(program.outputSoFar(), echoLines(c));
    sendSignals(program.pid(), c.signals, c.interference == I::kSignalsAtOnce);
  }
  if (c.interference != I::kSecondRun && !inputWaits) r = program.finish();
  after.shown = r.out;
  checkAftermath(c, r, after, scene.scratch);
}

INSTANTIATE_TEST_SUITE_P(Faults, StopTest, ::testing::ValuesIn(stopCases()),
                         [](const auto& row) { return rowName(row.param); });

// The output is a FIFO, and its reader does what the row says.
class FifoTest : public FaultTest {};

std::vector<FaultCase> fifoCases() {
  return {
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
  };
}

TEST_P(FifoTest, LeavesAnHonestStatusAndAValidFile) {
  const FaultCase& c = GetParam();
  Scene scene(c);
  scene.settle();
  ASSERT_EQ(mkfifo(scene.out.c_str(), 0600), 0);
  Aftermath after;
  after.out = scene.out;
  after.fifo = true;
  std::atomic<bool> programDone = false;
  std::thread reader;
  int heldOpen = -1;
  if (c.interference == I::kFifoReadAll) {
    reader = std::thread([&] { after.received = readFile(scene.out); });
  } else if (c.interference == I::kFifoStalledReader) {
    reader = std::thread([&] {
      const int fd = open(scene.out.c_str(), O_RDONLY);
      char buffer[4096];
      const auto take = [&](size_t most) {
        for (ssize_t n; after.received.size() < most && (n = read(fd, buffer, sizeof buffer)) > 0;) {
          after.received.append(buffer, static_cast<size_t>(n));
        }
      };
      take(100000);
      waitUntil([&] { return programDone.load(); });
      take(SIZE_MAX);
      close(fd);
    });
  } else if (c.interference == I::kFifoFull) {
    // Held open for reading, so the program's open does not wait, and full,
    // so its first write waits before it has written anything.
    heldOpen = open(scene.out.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(heldOpen, 0);
    const std::string block(4096, 'x');
    while (write(heldOpen, block.data(), block.size()) > 0) {
    }
  }
  RunningProgram program(c.args, scene.cwd, scene.options);
  if (c.interference != I::kFifoReadAll) {
    waitUntilBlocked(program.pid());
    // Every message is out before the open or write that waits.
    if (c.interference == I::kFifoWithoutReader) {
      EXPECT_EQ(program.outputSoFar(), "o = 111 out\n");
    }
    sendSignals(program.pid(), c.signals, false);
  }
  const ProgramResult r = program.finish();
  programDone = true;
  if (reader.joinable()) reader.join();
  if (heldOpen >= 0) close(heldOpen);
  after.shown = r.out;
  checkAftermath(c, r, after, scene.scratch);
}

INSTANTIATE_TEST_SUITE_P(Faults, FifoTest, ::testing::ValuesIn(fifoCases()),
                         [](const auto& row) { return rowName(row.param); });

// The output's file system fills up: a small tmpfs, one already full, or a
// small btrfs, which needs fresh space even to overwrite the header.
class FullDiskTest : public FaultTest {};

std::vector<FaultCase> fullDiskCases() {
  return {
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
      {"disk full, --mix", {"--mix=in.wav", "--timecode-channel=1", "-d", "18000", "-o", "out"}, {},
       I::kSmallDisk, {}, 1, "Error writing file", Left::kValidWav, kMixed22050},
  };
}

TEST_P(FullDiskTest, LeavesAnHonestStatusAndAValidFile) {
  const FaultCase& c = GetParam();
  Scene scene(c);
  std::optional<SmallDisk> disk;
  const std::string where = scene.scratch.file("disk");
  switch (c.interference) {
    case I::kFullDisk: disk.emplace(where, "64k"); break;
    case I::kBtrfs128: disk.emplace(where, 128); break;
    case I::kBtrfs300: disk.emplace(where, 300); break;
    default: disk.emplace(where); break;
  }
  if (!disk->mounted()) GTEST_SKIP() << disk->why();
  scene.cwd = where;
  scene.settle();
  if (c.interference == I::kFullDisk) {
    std::ofstream filler(scene.cwd + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  const ProgramResult r = runProgram(c.args, scene.cwd, scene.options);
  Aftermath after;
  after.out = scene.out;
  after.shown = r.out;
  checkAftermath(c, r, after, scene.scratch);
}

INSTANTIATE_TEST_SUITE_P(Faults, FullDiskTest, ::testing::ValuesIn(fullDiskCases()),
                         [](const auto& row) { return rowName(row.param); });

}  // namespace
}  // namespace stampline::testing
