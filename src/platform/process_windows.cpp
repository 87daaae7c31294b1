#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/process.h"

namespace stampline {
namespace {

std::atomic<int> gStopSignal = 0;
std::atomic<bool> gFinished = false;

// Ctrl-C, Ctrl-Break and closing the console stop the run as SIGINT does on
// other systems. The handler runs on a thread of its own, hence the atomic
// flags; when the console is closing, Windows ends the process as soon as
// it returns, so it waits (within the few seconds Windows allows) for the
// run to complete the file.
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
  int none = 0;
  if (!gStopSignal.compare_exchange_strong(none, SIGINT)) return FALSE;
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    for (int waited = 0; waited < 450 && !gFinished.load(); ++waited) Sleep(10);
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
  // The C runtime buffers a stream it is asked to buffer by lines as fully
  // as any other, so messages would wait for the end of the run: every
  // message goes out as it is printed instead.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

StopFlag installStopHandlers() {
  gStopSignal = 0;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  return &gStopSignal;
}

// Ctrl-C comes to a thread of its own on Windows: nothing to do.
void leaveStopsToMainThread() {}

void runFinished() { gFinished = true; }

std::tm calendarTime(std::time_t time, bool utc) {
  std::tm calendar{};
  if (utc) {
    gmtime_s(&calendar, &time);
  } else {
    localtime_s(&calendar, &time);
  }
  return calendar;
}

Terminal standardErrorTerminal() {
  Terminal terminal;
  if (_isatty(_fileno(stderr)) == 0) return terminal;
  terminal.out = stderr;
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(console, &info) != 0) {
    terminal.width = info.srWindow.Right - info.srWindow.Left + 1;
  }
  // Consoles before Windows 10 show escape codes as they are; blanks then
  // cover the line instead.
  DWORD mode = 0;
  terminal.escapes = GetConsoleMode(console, &mode) != 0 &&
                     SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  return terminal;
}

}  // namespace stampline
