#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include "platform/process.h"

namespace stampline {
namespace {

std::atomic<int> gStopSignal = 0;

// Every signal that asks a process to end without a fault of its own: each
// stops the run as SIGTERM does.
constexpr int kStopSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGXCPU, SIGALRM,
                                SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};

// The first stop signal asks the run to stop; a second one, while the run
// is still winding up, ends the program the default way.
extern "C" void requestStop(int signalNumber) {
  int none = 0;
  if (!gStopSignal.compare_exchange_strong(none, signalNumber)) {
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
  }
}

}  // namespace

void prepareProcess() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      static_cast<void>(open("/dev/null", O_RDWR));
    }
  }
  // Messages reach standard output as they are printed, before the output
  // file is opened; the buffer is static so that printing "Out of memory"
  // needs no memory.
  static char consoleBuffer[BUFSIZ];
  std::setvbuf(stdout, consoleBuffer, _IOLBF, sizeof consoleBuffer);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

StopFlag installStopHandlers() {
  gStopSignal = 0;
  struct sigaction action {};
  action.sa_handler = requestStop;
  // One request at a time: two signals that arrive together are taken in
  // turn, the first asking the run to stop, the second ending it.
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : kStopSignals) sigaddset(&action.sa_mask, signalNumber);
  // No SA_RESTART: a stop must cut short an open or write that waits for a
  // FIFO's reader; the output code retries the calls a signal interrupts.
  action.sa_flags = 0;
  for (const int signalNumber : kStopSignals) {
    struct sigaction previous {};
    sigaction(signalNumber, nullptr, &previous);
    // Ignored at start (nohup, a background job): the user meant it so.
    if (previous.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &action, nullptr);
  }
  return &gStopSignal;
}

void leaveStopsToMainThread() {
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signalNumber : kStopSignals) sigaddset(&stops, signalNumber);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

void runFinished() {}

std::tm calendarTime(std::time_t time, bool utc) {
  std::tm calendar{};
  if (utc) {
    gmtime_r(&time, &calendar);
  } else {
    localtime_r(&time, &calendar);
  }
  return calendar;
}

Terminal standardErrorTerminal() {
  Terminal terminal;
  if (isatty(STDERR_FILENO) == 0) return terminal;
  terminal.out = stderr;
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) terminal.width = size.ws_col;
  return terminal;
}

}  // namespace stampline
