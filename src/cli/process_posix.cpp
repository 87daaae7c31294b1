#include "cli/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace stampline {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;

// The first stop signal asks the run to stop; a second one, while the run
// is still winding up, ends the program the default way.
extern "C" void requestStop(int signalNumber) {
  if (gStopSignal != 0) {
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    return;
  }
  gStopSignal = signalNumber;
}

}  // namespace

void prepareProcess() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      static_cast<void>(open("/dev/null", O_RDWR));
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

const volatile std::sig_atomic_t* installStopHandlers() {
  gStopSignal = 0;
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a stop must cut short an open or write that waits for a
  // FIFO's reader; the output code retries the calls a signal interrupts.
  action.sa_flags = 0;
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    sigaction(signalNumber, nullptr, &previous);
    // Ignored at start (nohup, a background job): the user meant it so.
    if (previous.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &action, nullptr);
  }
  return &gStopSignal;
}

void runFinished() {}

bool standardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace stampline
