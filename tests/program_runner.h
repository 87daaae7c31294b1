#ifndef STAMPLINE_TESTS_PROGRAM_RUNNER_H_
#define STAMPLINE_TESTS_PROGRAM_RUNNER_H_

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace stampline::testing {

// What one run of the built stampline binary did.
struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal number when killed
  std::string out;
  std::string err;
};

// An argument vector as exec and getopt take it: `program`, then `args`,
// then a null pointer. getopt may reorder the pointers; the strings stay.
class ArgumentVector {
 public:
  ArgumentVector(const std::string& program, const std::vector<std::string>& args);
  ArgumentVector(const ArgumentVector&) = delete;
  ArgumentVector& operator=(const ArgumentVector&) = delete;
  char** data() { return pointers_.data(); }
  int count() const { return static_cast<int>(strings_.size()); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

// A fresh, empty directory under the test's temporary directory; removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The program under test: $STAMPLINE_PROGRAM if set, else the one built with
// the tests. It is started through the words of $STAMPLINE_LAUNCHER, if set
// (an emulator such as qemu-i386, or wine), so the same tests check a build
// for another machine.
std::string programPath();
std::vector<std::string> programLauncher();
// True when the program under test is a Windows .exe (run through Wine).
bool programIsWindows();

// How the program is started, beyond its arguments.
struct RunOptions {
  bool posixlyCorrect = false;
  // Words put before the program, such as a fault-injecting tracer.
  std::vector<std::string> launcher;
  // Standard output to this file instead of the capture (which stays empty),
  // or to a pipe that nobody reads from.
  std::string stdoutPath;
  bool stdoutBrokenPipe = false;
  // Standard input, output and error closed.
  bool standardStreamsClosed = false;
  // Resource limits in bytes: the file size limit applies from 0 on, -1 is
  // none; an address space limit of 0 is none.
  long fileSizeLimit = -1;
  unsigned long addressSpaceLimit = 0;
  // The umask the program starts with, or -1 to keep the test's.
  int umask = -1;
  // Variables set in the program's environment.
  std::vector<std::pair<std::string, std::string>> environment;
};

// A file system of its own at `where` (a new directory), for runs that fill
// a disk: a tmpfs of `size` ("20m", "64k"), or with `btrfsMegabytes` a
// btrfs of that size on a loop device. mounted() is false where that cannot
// be done here (no permission to mount, no loop device, no mkfs.btrfs);
// why() says which.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where, const std::string& size = "20m");
  SmallDisk(const std::string& where, int btrfsMegabytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string path_;
  std::string image_;
  bool mounted_ = false;
  std::string why_;
};

// The whole of a file, or "" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// The message of a refused long option (one without a value has none in
// its message).
inline std::string refused(const std::string& option, const char* value, const std::string& why) {
  return "Invalid --" + option + (value == nullptr ? "" : " '" + std::string(value) + "'") + ": " + why +
         "\n\nTry 'stampline --help' for more information.\n";
}

// Runs stampline with `args` in directory `cwd`, standard input from
// /dev/null, POSIXLY_CORRECT set only when asked for.
ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         const RunOptions& options = {});
ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         bool posixlyCorrect);

// Runs stampline on a pseudo-terminal of its own, its controlling terminal,
// which standard error (and, with `stdoutOnTerminal`, standard output) goes
// to; standard output otherwise to a file. Returns the run with `err`
// holding everything the terminal received.
ProgramResult runOnTerminal(const std::vector<std::string>& args, const std::string& cwd,
                            bool stdoutOnTerminal = false);

// A program started in the background; finish() waits for it.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& args, const std::string& cwd,
                 const RunOptions& options = {});
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  ~RunningProgram();
  int pid() const { return pid_; }
  // What it has printed on standard output so far (unless redirected).
  std::string outputSoFar() const;
  ProgramResult finish();
  // Whether it ends within `time`; if not, it is killed (finish() then
  // reaps it).
  bool endsWithin(std::chrono::milliseconds time) const;

 private:
  ScratchDir capture_;
  int pid_ = -1;
};


}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_PROGRAM_RUNNER_H_
