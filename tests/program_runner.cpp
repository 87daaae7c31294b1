#include "program_runner.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
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

SmallDisk::SmallDisk(const std::string& where) : path_(where) {
  std::filesystem::create_directory(path_);
  mounted_ = mount("stampline-test", path_.c_str(), "tmpfs", 0, "size=20m") == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount(path_.c_str());
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

std::string programPath() {
  const char* chosen = std::getenv("STAMPLINE_PROGRAM");
  return chosen != nullptr && *chosen != '\0' ? chosen : STAMPLINE_BINARY;
}

std::vector<std::string> programLauncher() {
  std::vector<std::string> words;
  std::istringstream launcher(std::getenv("STAMPLINE_LAUNCHER") != nullptr
                                  ? std::getenv("STAMPLINE_LAUNCHER")
                                  : "");
  for (std::string word; launcher >> word;) words.push_back(word);
  return words;
}

bool programIsWindows() {
  const std::string path = programPath();
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

namespace {

// Starts the program with its output captured in files under `capture`.
pid_t start(const std::vector<std::string>& args, const std::string& cwd,
            const ScratchDir& capture, const RunOptions& options) {
  const std::string outPath =
      options.stdoutPath.empty() ? capture.file("stdout") : options.stdoutPath;
  const std::string errPath = capture.file("stderr");
  std::vector<std::string> words = options.launcher;
  const std::vector<std::string> launcher = programLauncher();
  words.insert(words.end(), launcher.begin(), launcher.end());
  words.push_back(programPath());
  words.insert(words.end(), args.begin(), args.end());
  ArgumentVector argv(words.front(), {words.begin() + 1, words.end()});
  int brokenPipe[2] = {-1, -1};
  if (options.stdoutBrokenPipe && pipe(brokenPipe) != 0) std::abort();

  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = options.stdoutBrokenPipe
                        ? brokenPipe[1]
                        : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(125);
    if (options.stdoutBrokenPipe) close(brokenPipe[0]);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (options.posixlyCorrect) {
      setenv("POSIXLY_CORRECT", "1", 1);
    } else {
      unsetenv("POSIXLY_CORRECT");
    }
    const auto limit = [](int resource, unsigned long bytes) {
      const rlimit value{bytes, bytes};
      if (bytes != 0 && setrlimit(resource, &value) != 0) _exit(125);
    };
    limit(RLIMIT_FSIZE, options.fileSizeLimit);
    limit(RLIMIT_AS, options.addressSpaceLimit);
    execvp(argv.data()[0], argv.data());
    _exit(127);
  }
  if (options.stdoutBrokenPipe) {
    close(brokenPipe[0]);
    close(brokenPipe[1]);
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
                         const RunOptions& options) {
  ScratchDir capture;
  return wait(start(args, cwd, capture, options), capture);
}

ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         bool posixlyCorrect) {
  RunOptions options;
  options.posixlyCorrect = posixlyCorrect;
  return runProgram(args, cwd, options);
}

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::string& cwd,
                               const RunOptions& options)
    : pid_(start(args, cwd, capture_, options)) {}

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
