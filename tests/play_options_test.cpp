// Live output's options on the command line: refused before any JACK
// server is asked, with what only a file takes and, for its own options,
// without --play; nothing is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_runner.h"

namespace stampline::testing {
namespace {

TEST(PlayOptionsTest, RefusedBeforeAnyServerIsAsked) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
  } cases[] = {
      {"a file's option with --play", {"--play", "--depth=24"},
       "play\ndepth = 24\nInvalid --depth with --play: live output writes no file (--output, --depth, --bwf "
       "and --mix are a file's)\n\nTry 'stampline --help' for more information.\n", 1},
      {"a short option with --play", {"--play", "-t", "10:00:00:00"},
       "play\nt = 116 10:00:00:00\nInvalid -t with --play: live output takes long options only "
       "(--sample-rate, --start and the like)\n\nTry 'stampline --help' for more information.\n", 1},
      {"--name without --play", {"--name=desk"},
       "name = desk\nInvalid --name: it is for live output; give it with --play\n\n"
       "Try 'stampline --help' for more information.\n", 1},
      {"today's date for a file", {"--date=today"},
       "date = today\nInvalid --date 'today': today's date goes with --play; a file takes a date such as "
       "2026-12-07\n\nTry 'stampline --help' for more information.\n", 1},
      {"--csv with --play", {"--play", "--csv=x.csv", "--quiet"},
       "Invalid --csv: it reads a file back; give it with --analyze=FILE\n\n"
       "Try 'stampline --help' for more information.\n", 1},
      {"--downstream-delay beyond ten seconds", {"--play", "--downstream-delay=10.5", "--quiet"},
       refused("downstream-delay", "10.5", "seconds from -10 to 10, such as 0.0015"), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const ProgramResult r = runProgram(c.args, dir.path());
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(fileExists(dir.file("output.wav")));
  }
}

}  // namespace
}  // namespace stampline::testing
