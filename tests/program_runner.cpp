#include "program_runner.h"

#include <fcntl.h>
#include <pty.h>
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
#include <thread>

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

SmallDisk::SmallDisk(const std::string& where, const std::string& size) : path_(where) {
  std::filesystem::create_directory(path_);
  mounted_ = mount("stampline-test", path_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  if (!mounted_) why_ = "no permission to mount a small tmpfs";
}

SmallDisk::SmallDisk(const std::string& where, int btrfsMegabytes)
    : path_(where), image_(where + ".img") {
  std::filesystem::create_directory(path_);
  if (std::system("command -v mkfs.btrfs >/dev/null && command -v losetup >/dev/null") != 0) {
    why_ = "mkfs.btrfs or losetup is missing";
    return;
  }
  const std::string setup = "truncate -s " + std::to_string(btrfsMegabytes) + "M '" + image_ +
                            "' && mkfs.btrfs -q '" + image_ + "' >/dev/null 2>&1 && mount -o loop '" +
                            image_ + "' '" + path_ + "' 2>/dev/null";
  mounted_ = std::system(setup.c_str()) == 0;
  if (!mounted_) why_ = "no loop device or no permission to mount one";
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount(path_.c_str());
  if (!image_.empty()) std::filesystem::remove(image_);
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
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    if (options.umask >= 0) ::umask(static_cast<mode_t>(options.umask));
    if (options.fileSizeLimit >= 0) {
      const auto bytes = static_cast<rlim_t>(options.fileSizeLimit);
      const rlimit value{bytes, bytes};
      if (setrlimit(RLIMIT_FSIZE, &value) != 0) _exit(125);
    }
    if (options.addressSpaceLimit != 0) {
      const rlimit value{options.addressSpaceLimit, options.addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &value) != 0) _exit(125);
    }
    if (options.standardStreamsClosed) {
      // The launcher (a tracer, an emulator) starts with them closed too.
      for (const int fd : {0, 1, 2}) close(fd);
    }
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
  // Wine now and then drops a start: it ends with status 1 before the
  // program runs, leaving both streams empty, where the program itself never
  // fails without a word. Such a run of the Windows build is started again,
  // twice at most.
  const bool startsMayDrop = programIsWindows() && options.stdoutPath.empty() && !options.stdoutBrokenPipe &&
                             !options.standardStreamsClosed;
  for (int attempt = 1;; ++attempt) {
    ScratchDir capture;
    ProgramResult result = wait(start(args, cwd, capture, options), capture);
    const bool dropped = result.status == 1 && result.out.empty() && result.err.empty();
    if (!startsMayDrop || !dropped || attempt == 3) return result;
  }
}

ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         bool posixlyCorrect) {
  RunOptions options;
  options.posixlyCorrect = posixlyCorrect;
  return runProgram(args, cwd, options);
}

ProgramResult runOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                            bool stdoutOnTerminal) {
  ScratchDir capture;
  const std::string outPath = capture.file("stdout");
  std::vector<std::string> words = programLauncher();
  words.push_back(programPath());
  words.insert(words.end(), args.begin(), args.end());
  ArgumentVector argv(words.front(), {words.begin() + 1, words.end()});

  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(125);
    if (!stdoutOnTerminal) {
      const int file = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (file < 0) _exit(125);
      dup2(file, 1);
    }
    execvp(argv.data()[0], argv.data());
    _exit(127);
  }
  ProgramResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    result.err.append(buffer, static_cast<size_t>(n));
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(terminal);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = readFile(outPath);
  return result;
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

std::string RunningProgram::outputSoFar() const { return readFile(capture_.file("stdout")); }

ProgramResult RunningProgram::finish() {
  const ProgramResult result = wait(pid_, capture_);
  pid_ = -1;
  return result;
}

bool RunningProgram::endsWithin(std::chrono::milliseconds time) const {
  const auto deadline = std::chrono::steady_clock::now() + time;
  siginfo_t info{};
  while (std::chrono::steady_clock::now() < deadline) {
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid_, SIGKILL);
  return false;
}

}  // namespace stampline::testing
