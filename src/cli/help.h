#ifndef STAMPLINE_CLI_HELP_H_
#define STAMPLINE_CLI_HELP_H_

#include <cstdio>

namespace stampline {

// The texts that describe the options.

// The short usage text of -h, as scripts know it.
void printUsage(std::FILE* out);
// The full help of --help: every option with its default and accepted
// values, the exit statuses and examples, in 80 columns, made from the
// option tables.
void printHelp(std::FILE* out);
// "stampline VERSION", for --version.
void printVersion(std::FILE* out);
// A bash completion script for the program, made from its option table:
// the long options, the fixed values of those that have them, and file
// names for --output. The build installs it where bash-completion looks.
void writeBashCompletion(std::FILE* out);

}  // namespace stampline

#endif  // STAMPLINE_CLI_HELP_H_
