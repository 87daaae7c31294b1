#include "program_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace stampline::testing {

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/stampline-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

ArgumentVector::ArgumentVector(const std::string& program, const std::vector<std::string>& args)
    : strings_{program} {
  strings_.insert(strings_.end(), args.begin(), args.end());
  for (std::string& s : strings_) pointers_.push_back(s.data());
  pointers_.push_back(nullptr);
}

namespace {

// Starts the program with its output captured in files under `capture`.
pid_t start(const std::vector<std::string>& args, const std::string& cwd,
            const ScratchDir& capture, bool posixlyCorrect) {
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  ArgumentVector argv(STAMPLINE_BINARY, args);

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (posixlyCorrect) {
      setenv("POSIXLY_CORRECT", "1", 1);
    } else {
      unsetenv("POSIXLY_CORRECT");
    }
    execv(argv.data()[0], argv.data());
    _exit(127);
  }
  return pid;
}

ProgramResult wait(pid_t pid, const ScratchDir& capture) {
  ProgramResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(capture.file("stdout"));
  result.err = readFile(capture.file("stderr"));
  return result;
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         bool posixlyCorrect) {
  ScratchDir capture;
  return wait(start(args, cwd, capture, posixlyCorrect), capture);
}

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::string& cwd)
    : pid_(start(args, cwd, capture_, false)) {}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

ProgramResult RunningProgram::finish() {
  const ProgramResult result = wait(pid_, capture_);
  pid_ = -1;
  return result;
}

}  // namespace stampline::testing
