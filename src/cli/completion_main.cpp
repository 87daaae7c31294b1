// Writes the bash completion script made from the option table to the file
// named on the command line; the build runs it and installs the result.
#include <cstdio>

#include "cli/help.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: stampline_completion OUTPUT\n", stderr);
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) return 1;
  stampline::writeBashCompletion(out);
  return std::fclose(out) == 0 ? 0 : 1;
}
