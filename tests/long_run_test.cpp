// End-to-end checks of the progress line a long run shows on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"
#include "wav_reader.h"

namespace stampline::testing {
namespace {

// Runs the program with standard error on a pseudo-terminal and standard
// output in a file; returns everything the terminal received.
std::string runOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                          std::string& out, int& status) {
  const std::string outPath = cwd + "/stdout";
  std::vector<std::string> words = programLauncher();
  words.push_back(programPath());
  words.insert(words.end(), args.begin(), args.end());
  ArgumentVector argv(words.front(), {words.begin() + 1, words.end()});

  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const int file = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || chdir(cwd.c_str()) != 0) _exit(125);
    dup2(file, 1);
    execvp(argv.data()[0], argv.data());
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
  // The first redraw names the last frame of the first block written: frame
  // 43 of 9000 (0.5 %), labelled 01:00:01:13.
  EXPECT_TRUE(std::regex_search(shown, std::regex("^\r  0\\.5%  01:00:01:13  [0-9]+\\.[0-9]s\x1b\\[K")))
      << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K") << shown;

  // Five seconds of audio or less: nothing on the terminal.
  EXPECT_EQ(runOnTerminal({"-d", "150", "-o", "short.wav"}, dir.path(), out, status), "");
  // Not a terminal: nothing on standard error.
  EXPECT_EQ(runProgram({"-d", "9000", "-o", "long.wav"}, dir.path()).err, "");
}

}  // namespace
}  // namespace stampline::testing
