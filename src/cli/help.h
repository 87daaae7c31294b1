#ifndef STAMPLINE_CLI_HELP_H_
#define STAMPLINE_CLI_HELP_H_

#include <cstdio>

namespace stampline {

// A bash completion script for the program, made from its option table:
// the long options, the fixed values of those that have them, and file
// names for --output. The build installs it where bash-completion looks.
void writeBashCompletion(std::FILE* out);

}  // namespace stampline

#endif  // STAMPLINE_CLI_HELP_H_
