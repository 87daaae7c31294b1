#ifndef STAMPLINE_PLATFORM_PROCESS_H_
#define STAMPLINE_PLATFORM_PROCESS_H_

#include <cstdio>
#include <ctime>

#include "platform/stop.h"

namespace stampline {

// A terminal to draw on: its stream (null for none), its width in columns,
// and whether it understands the escape code that erases to the end of the
// line.
struct Terminal {
  std::FILE* out = nullptr;
  int width = 80;
  bool escapes = true;
};

// What the program asks of the system it runs on, one implementation per
// platform (POSIX signals, the Windows console).

// Before anything is printed: the standard streams are open (so the output
// file cannot take the number of a closed one and receive the messages),
// standard output passes every message on as it is printed, and a broken
// pipe or the file size limit make writes fail instead of killing the
// program. On Windows console text goes out byte for byte.
void prepareProcess();

// From here on the first request to stop asks the run to stop: the
// returned flag then holds its signal number. On POSIX systems that is
// SIGINT, SIGTERM, SIGHUP, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM or
// SIGPROF, and system calls that wait are not restarted; on Windows Ctrl-C,
// Ctrl-Break or a closing console (SIGINT). A second request ends the
// program at once; signals ignored when the program started stay ignored.
StopFlag installStopHandlers();

// Called first on a thread the program starts: the stop signals are then
// taken by the main thread, whose waiting system calls they cut short.
void leaveStopsToMainThread();

// The run has printed its last word: a console that is closing may now end
// the program.
void runFinished();

// The calendar date and time of `time`, in UTC or in the local time zone.
std::tm calendarTime(std::time_t time, bool utc);

// Standard error as a terminal for the progress line: its width, and
// whether it takes escape codes (on Windows once virtual-terminal
// processing is on). No stream when standard error is no terminal.
Terminal standardErrorTerminal();

}  // namespace stampline

#endif  // STAMPLINE_PLATFORM_PROCESS_H_
