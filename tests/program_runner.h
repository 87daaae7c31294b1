#ifndef STAMPLINE_TESTS_PROGRAM_RUNNER_H_
#define STAMPLINE_TESTS_PROGRAM_RUNNER_H_

#include <string>
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
  // Resource limits in bytes, or 0 for none.
  unsigned long fileSizeLimit = 0;
  unsigned long addressSpaceLimit = 0;
};

// A 20 MB file system of its own at `where` (a new directory), for runs that
// fill a disk; mounted() is false where mounting is not permitted.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& where);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// Runs stampline with `args` in directory `cwd`, standard input from
// /dev/null, POSIXLY_CORRECT set only when asked for.
ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         const RunOptions& options = {});
ProgramResult runProgram(const std::vector<std::string>& args, const std::string& cwd,
                         bool posixlyCorrect);

// A program started in the background; finish() waits for it.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& args, const std::string& cwd,
                 const RunOptions& options = {});
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  ~RunningProgram();
  int pid() const { return pid_; }
  ProgramResult finish();

 private:
  ScratchDir capture_;
  int pid_ = -1;
};

// The whole of a file, or "" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_PROGRAM_RUNNER_H_
