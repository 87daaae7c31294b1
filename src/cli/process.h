#ifndef STAMPLINE_CLI_PROCESS_H_
#define STAMPLINE_CLI_PROCESS_H_

#include <csignal>

namespace stampline {

// What the program asks of the system it runs on, one implementation per
// platform (POSIX signals, the Windows console).

// Before anything is printed: the standard streams are open (so the output
// file cannot take the number of a closed one and receive the messages),
// and a broken pipe or the file size limit make writes fail instead of
// killing the program. On Windows console text goes out byte for byte.
void prepareProcess();

// From here on the first SIGINT, SIGTERM or SIGHUP (Ctrl-C, Ctrl-Break or a
// closed console window on Windows) asks the run to stop: the returned flag
// then holds the signal number. System calls that wait are not restarted.
// A second request ends the program at once; signals ignored when the
// program started stay ignored.
const volatile std::sig_atomic_t* installStopHandlers();

// The run has printed its last word: a console that is closing may now end
// the program.
void runFinished();

bool standardErrorIsTerminal();

}  // namespace stampline

#endif  // STAMPLINE_CLI_PROCESS_H_
