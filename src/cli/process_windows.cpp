#include "cli/process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace stampline {
namespace {

volatile std::sig_atomic_t gStopSignal = 0;
volatile LONG gFinished = 0;

// Ctrl-C, Ctrl-Break and closing the console stop the run as SIGINT does on
// other systems. The handler runs on a thread of its own; when the console
// is closing, Windows ends the process as soon as it returns, so it waits
// (within the few seconds Windows allows) for the run to complete the file.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  // A second request: the default handling ends the program at once.
  if (gStopSignal != 0) return FALSE;
  gStopSignal = SIGINT;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    for (int waited = 0; waited < 450 && gFinished == 0; ++waited) Sleep(10);
  }
  return TRUE;
}

}  // namespace

void prepareProcess() {
  // Messages go out as on every other system, lines ending in LF alone, and
  // UTF-8 paths echo as themselves.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

const volatile std::sig_atomic_t* installStopHandlers() {
  gStopSignal = 0;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  return &gStopSignal;
}

void runFinished() { InterlockedExchange(&gFinished, 1); }

bool standardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace stampline
