// A run given too little memory, from too little to load the program to
// enough to run it: at every limit it either completes or leaves the file
// it was to replace as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "program_runner.h"

namespace stampline::testing {
namespace {

TEST(FailureTest, OutOfMemoryLosesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs far more address space than the limits tried";
#else
  if (!programLauncher().empty()) GTEST_SKIP() << "an emulator needs more address space itself";
  if (programIsWindows()) GTEST_SKIP() << "address space limits are POSIX";
  // From too little to load the program to enough to run it: at every limit
  // the run either completes or leaves the existing file as it was.
  ScratchDir dir;
  int outOfMemory = 0;
  for (unsigned long kib = 4096; kib <= 12288; kib += 256) {
    SCOPED_TRACE(std::to_string(kib) + " KiB");
    {
      std::ofstream(dir.file("k.wav")) << "precious";
    }
    RunOptions options;
    options.addressSpaceLimit = kib * 1024;
    const ProgramResult r = runProgram({"-d", "1800", "-o", "k.wav"}, dir.path(), options);
    if (r.status == 0) {
      EXPECT_EQ(readFile(dir.file("k.wav")).size(), 10584044U);
      continue;
    }
    EXPECT_EQ(readFile(dir.file("k.wav")), "precious") << r.out << r.err;
    // 127: the loader itself could not start the program. 134: the C++
    // runtime got no memory for its exception reserve at start-up, so it
    // cannot even raise the allocation failure (the file is untouched all the
    // same).
    const bool runtimeStarved =
        r.status == 134 && r.err.find("terminate called without an active exception") == 0;
    EXPECT_TRUE(r.status == 1 || r.status == 127 || runtimeStarved) << r.status << " " << r.err;
    if (r.status == 1) {
      EXPECT_EQ(r.out.substr(r.out.rfind("Out of memory")), "Out of memory\n");
      ++outOfMemory;
    }
  }
  EXPECT_GT(outOfMemory, 0);
#endif
}

}  // namespace
}  // namespace stampline::testing
