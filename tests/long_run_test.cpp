// End-to-end checks of what a user sees around a run: file errors, the
// progress line on a terminal, and interrupting a long run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"
#include "wav_reader.h"

namespace stampline::testing {
namespace {

TEST(LongRunTest, FilesThatCannotBeWritten) {
  ScratchDir dir;
  const struct {
    std::string output;
    const char* message;
  } cases[] = {
      {dir.file("no/such/dir.wav"), "Error opening file\n"},
      {dir.path(), "Error opening file\n"},
      {"/dev/full", "Error writing file\n"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = runProgram({"-o", c.output, "-d", "100"}, dir.path());
    EXPECT_EQ(r.status, 1) << c.output;
    EXPECT_EQ(r.out, "o = 111 " + c.output + "\nd = 100 100\n" + c.message) << c.output;
    EXPECT_EQ(r.err, "") << c.output;
  }
}

// Runs the program with standard error on a pseudo-terminal and standard
// output in a file; returns everything the terminal received.
std::string runOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                          std::string& out, int& status) {
  const std::string outPath = cwd + "/stdout";
  ArgumentVector argv(STAMPLINE_BINARY, args);

  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const int file = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || chdir(cwd.c_str()) != 0) _exit(125);
    dup2(file, 1);
    execv(argv.data()[0], argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    seen.append(buffer, static_cast<size_t>(n));
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(terminal);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  out = readFile(outPath);
  return seen;
}

TEST(LongRunTest, ProgressLineOnATerminalOnly) {
  ScratchDir dir;
  std::string out;
  int status = -1;
  const std::string shown = runOnTerminal({"-d", "9000", "-o", "long.wav"}, dir.path(), out, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "d = 100 9000\no = 111 long.wav\n");
  EXPECT_EQ(shown.rfind("\r  0.0%  01:00:00:00  0.0s\x1b[K", 0), 0U) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K") << shown;

  // Five seconds of audio or less: nothing on the terminal.
  EXPECT_EQ(runOnTerminal({"-d", "150", "-o", "short.wav"}, dir.path(), out, status), "");
  // Not a terminal: nothing on standard error.
  EXPECT_EQ(runProgram({"-d", "9000", "-o", "long.wav"}, dir.path()).err, "");
}

TEST(LongRunTest, InterruptedRunsLeaveCompleteFiles) {
  const struct {
    int signalNumber;
    int status;
  } cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signalNumber);
    ScratchDir dir;
    // Long enough that the signal always lands mid-run (18.5 hours of audio).
    RunningProgram program({"-s", "22050", "-c", "1", "-d", "2000000", "-o", "cut.wav"}, dir.path());
    // Wait until frames are being written, then stop the run.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto written = [&dir] {
      std::error_code noFileYet;
      const auto size = std::filesystem::file_size(dir.file("cut.wav"), noFileYet);
      return noFileYet ? 0 : size;
    };
    while (written() < 200000 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(program.pid(), c.signalNumber);
    const ProgramResult r = program.finish();
    ASSERT_EQ(r.status, c.status);

    const std::string prefix = "s = 115 22050\nc = 99 1\nd = 100 2000000\no = 111 cut.wav\nInterrupted after ";
    ASSERT_EQ(r.out.rfind(prefix, 0), 0U) << "out: " << r.out << " err: " << r.err;
    const int frames = std::stoi(r.out.substr(prefix.size()));
    EXPECT_EQ(r.out, prefix + std::to_string(frames) + " frames\n");
    ASSERT_GT(frames, 0);
    ASSERT_LT(frames, 2000000);

    const SoundFile wav = readSoundFile(dir.file("cut.wav"), true);
    ASSERT_TRUE(wav.opened);
    EXPECT_EQ(wav.frames, int64_t{frames} * 735);
    EXPECT_EQ(readFile(dir.file("cut.wav")).size(), 44U + static_cast<size_t>(frames) * 735 * 2);
    const std::vector<DecodedFrame> decoded = decodeLtc(wav.firstChannel, 735);
    ASSERT_EQ(decoded.size(), static_cast<size_t>(frames));
    for (size_t i = 0; i < decoded.size(); ++i) {
      TimecodeWord expected = 0;
      timecodeAt(i * 735, 22050, 30, expected, 0x00000001, false);
      ASSERT_EQ(decoded[i].timecode, expected) << "frame " << i;
    }
  }
}

}  // namespace
}  // namespace stampline::testing
