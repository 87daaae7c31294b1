#include "fault_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "test_bytes.h"
#include "timecode/label_text.h"

namespace stampline::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The run's state letter from /proc: 'S' while it waits in a system call.
char processState(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t end = line.rfind(')');
  return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

std::string lastLine(std::string out) {
  if (!out.empty() && out.back() == '\n') out.pop_back();
  const size_t newline = out.rfind('\n');
  return newline == std::string::npos ? out : out.substr(newline + 1);
}

// The part of a file its header describes: the header and the data chunk's
// declared size (the ds64 chunk's in RF64; the file may hold more), copied
// to `part`. Returns the data bytes, or -1 without a data chunk.
int64_t describedPart(const std::string& path, const std::string& part) {
  const std::string bytes = readFile(path);
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint64_t size = littleEndian(bytes, at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) {
      if (bytes.compare(0, 4, "RF64") == 0) size = littleEndian(bytes, 28, 8);
      const auto end = static_cast<size_t>(std::min<uint64_t>(at + 8 + size, bytes.size()));
      std::ofstream(part, std::ios::binary) << bytes.substr(0, end);
      return static_cast<int64_t>(size);
    }
    at += static_cast<size_t>(8 + size + size % 2);
  }
  return -1;
}

void checkLastLine(const FaultCase& c, const std::string& shown) {
  const std::string last = lastLine(shown);
  if (c.lastLine == "Interrupted after") {
    EXPECT_EQ(last.rfind("Interrupted after ", 0), 0U) << shown;
    EXPECT_EQ(last.substr(last.size() - 7), " frames") << shown;
  } else if (c.lastLine.empty()) {
    EXPECT_EQ(shown.find("Error"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Interrupted"), std::string::npos) << shown;
  } else {
    EXPECT_EQ(last, c.lastLine) << shown;
  }
}

// A valid file, complete or not, with as many frames as the row says.
void checkWav(const FaultCase& c, const std::string& path, const std::string& shown) {
  const int64_t frames = checkLtcFile(path, c.run);
  if (!c.header.empty()) {
    std::string start = readFile(path).substr(0, c.header.size());
    for (size_t i = 4; i < std::min<size_t>(8, start.size()); ++i) start[i] = '.';
    EXPECT_EQ(start, c.header);
  }
  if (c.left == Left::kCompleteWav) {
    const auto d = std::find(c.args.begin(), c.args.end(), "-d");
    EXPECT_EQ(frames, std::stoll(*(d + 1)));
  } else if (c.frames >= 0) {
    EXPECT_EQ(frames, c.frames);
  } else {
    EXPECT_GE(frames, 0);
  }
  if (c.lastLine == "Interrupted after") {
    EXPECT_EQ(lastLine(shown), "Interrupted after " + std::to_string(frames) + " frames");
  }
}

}  // namespace

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

std::string rowName(const FaultCase& c) {
  std::string name;
  for (const char* p = c.name; *p != '\0'; ++p) {
    if (std::isalnum(static_cast<unsigned char>(*p)) != 0) name += *p;
    if (*p == ' ' || *p == '-' || *p == '/') name += '_';
  }
  return name;
}

RunOptions injected(std::initializer_list<std::string> faults) {
  RunOptions options;
  options.launcher = {"strace", "-f", "-qq", "-o", "/dev/null", "-P", "out",
                      "-e", "trace=write,pwrite64,ftruncate,fdatasync,close"};
  for (const std::string& fault : faults) {
    options.launcher.push_back("-e");
    options.launcher.push_back("inject=" + fault);
  }
  // A sanitizer build's leak check cannot run under a tracer; it would end
  // a clean run with status 1.
  options.environment = {{"ASAN_OPTIONS", "detect_leaks=0"}};
  return options;
}

RunOptions slowed() { return injected({"write:delay_exit=20000"}); }

RunOptions with(const std::function<void(RunOptions&)>& change) {
  RunOptions options;
  change(options);
  return options;
}

std::string echoLines(const FaultCase& c) {
  std::string text;
  for (size_t i = 0; i < c.args.size(); ++i) {
    if (c.args[i].rfind("--", 0) == 0) {
      const size_t equals = c.args[i].find('=');
      text += equals == std::string::npos
                  ? c.args[i].substr(2) + "\n"
                  : c.args[i].substr(2, equals - 2) + " = " + c.args[i].substr(equals + 1) + "\n";
    } else if (i + 1 < c.args.size()) {
      const char letter = c.args[i][1];
      text += std::string(1, letter) + " = " + std::to_string(letter) + " " + c.args[++i] + "\n";
    }
  }
  return text;
}

uint64_t wholeFrames(const LtcRun& run, uint64_t dataBytes) {
  const FrameSchedule schedule(run.fps, run.rate, packTimecodeText(run.start), run.drop);
  return schedule.completeFrames(dataBytes / static_cast<uint64_t>(2 * run.channels));
}

uint64_t wholeFrameBytes(const LtcRun& run, uint64_t dataBytes) {
  const FrameSchedule schedule(run.fps, run.rate, packTimecodeText(run.start), run.drop);
  return schedule.frameStart(wholeFrames(run, dataBytes)) * static_cast<uint64_t>(2 * run.channels);
}

uint64_t sizeOf(const std::string& path) {
  std::error_code noFileYet;
  const auto size = std::filesystem::file_size(path, noFileYet);
  return noFileYet ? 0 : size;
}

void waitUntil(const std::function<bool()>& ready) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!ready() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void waitUntilBlocked(int pid) {
  int sleeping = 0;
  waitUntil([&] {
    sleeping = processState(pid) == 'S' ? sleeping + 1 : 0;
    return sleeping >= 10;
  });
}

void sendSignals(int pid, const std::vector<int>& signals, bool atOnce) {
  for (const int s : signals) {
    kill(pid, s);
    if (!atOnce) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void checkAftermath(const FaultCase& c, const ProgramResult& r, const Aftermath& after,
                    const ScratchDir& scratch) {
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  checkLastLine(c, after.shown);
  std::string path = after.out;
  switch (c.left) {
    case Left::kNothing:
      if (!after.fifo) {
        EXPECT_FALSE(fileExists(after.out));
      }
      break;
    case Left::kMessages:
      EXPECT_EQ(after.shown, echoLines(c) + c.lastLine + "\n");
      break;
    case Left::kStreamFrames: {
      const uint64_t data = after.received.size() > 44 ? after.received.size() - 44 : 0;
      EXPECT_EQ(lastLine(after.shown),
                "Interrupted after " + std::to_string(wholeFrames(c.run, data)) + " frames");
      break;
    }
    case Left::kWavAndTail: {
      path = scratch.file("described.wav");
      const int64_t data = describedPart(after.out, path);
      EXPECT_GE(data, static_cast<int64_t>(after.describedAtLeast));
      EXPECT_LE(static_cast<uint64_t>(data) + 44, sizeOf(after.out));
      checkWav(c, path, after.shown);
      break;
    }
    case Left::kValidWav:
    case Left::kCompleteWav:
      if (after.fifo) {
        path = scratch.file("received.wav");
        std::ofstream(path, std::ios::binary) << after.received;
      }
      checkWav(c, path, after.shown);
      break;
    case Left::kUnchecked:
      break;
  }
  if (c.mode >= 0) {
    struct stat info {};
    ASSERT_EQ(stat(after.out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, static_cast<unsigned>(c.mode));
  }
}

}  // namespace stampline::testing
