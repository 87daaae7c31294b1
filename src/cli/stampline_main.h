#ifndef STAMPLINE_CLI_STAMPLINE_MAIN_H_
#define STAMPLINE_CLI_STAMPLINE_MAIN_H_

namespace stampline {

// The whole program: the process prepared, the options scanned, then the
// run with what it takes from the environment (stop signals, the progress
// terminal, the test hooks). Returns the exit status.
int stamplineMain(int argc, char** argv);

}  // namespace stampline

#endif  // STAMPLINE_CLI_STAMPLINE_MAIN_H_
