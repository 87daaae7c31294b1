// End-to-end checks of the progress line a long run shows on a terminal.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "program_runner.h"

namespace stampline::testing {
namespace {

TEST(LongRunTest, ProgressLineOnATerminalOnly) {
  ScratchDir dir;
  const ProgramResult r = runOnTerminal({"-d", "9000", "-o", "long.wav"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "d = 100 9000\no = 111 long.wav\n");
  // The first redraw names the last frame of the first block written.
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("^\r *[0-9]+\\.[0-9]%  01:00:0[0-9]:[0-9]{2}  [0-9]+\\.[0-9]s\x1b\\[K")))
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\x1b[K") << r.err;

  // Five seconds of audio or less: nothing on the terminal.
  EXPECT_EQ(runOnTerminal({"-d", "150", "-o", "short.wav"}, dir.path()).err, "");
  // Not a terminal: nothing on standard error.
  EXPECT_EQ(runProgram({"-d", "9000", "-o", "long.wav"}, dir.path()).err, "");
}

}  // namespace
}  // namespace stampline::testing
