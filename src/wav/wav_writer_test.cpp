#include "wav/wav_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "test_bytes.h"

namespace stampline {
namespace {

using Clock = WavWriter::Clock;
using testing::littleEndian;

// The data size the header at the start of `bytes` declares (the ds64
// chunk's in RF64), or none without a data chunk.
std::optional<uint64_t> declaredData(const std::string& bytes) {
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint64_t size = littleEndian(bytes, at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) {
      return bytes.compare(0, 4, "RF64") == 0 ? littleEndian(bytes, 28, 8) : size;
    }
    at += static_cast<size_t>(8 + size + size % 2);
  }
  return std::nullopt;
}

// What goes wrong with a MemoryFile.
struct Faults {
  int appendFailsAt = 0;         // the Nth append fails (1-based); 0: none does
  size_t appendWritesFirst = 0;  // ... after writing this many of its bytes
  int syncFailsAt = 0;           // the Nth sync fails
  int overwriteFailsFrom = 0;    // the Nth overwrite and every one after fail with EIO
  bool truncateFails = false;
  // A copy-on-write disk that the failed append found full: from then on
  // overwriting needs this many bytes freed by cuts whose space a commit
  // has given back (0: not such a disk).
  uint64_t overwriteNeeds = 0;
};

// A file in memory that can be told to fail, and a copy-on-write disk that
// is full: overwriting the header needs fresh space, which only a cut
// followed by a commit of the file system gives back.
class MemoryFile final : public OutputFile {
 public:
  explicit MemoryFile(const Faults& faults = {}, bool stream = false) : faults_(faults), stream_(stream) {}

  bool seekable() const override { return !stream_; }
  IoResult append(const void* data, size_t bytes, StopFlag) override {
    const auto* p = static_cast<const char*>(data);
    if (++appends_ == faults_.appendFailsAt) {
      contents.append(p, std::min(bytes, faults_.appendWritesFirst));
      error_ = ENOSPC;
      full_ = true;
      return IoResult::kFailed;
    }
    contents.append(p, bytes);
    writes.push_back(bytes);
    return IoResult::kDone;
  }
  uint64_t appended() const override { return contents.size(); }
  bool writeAt(uint64_t offset, const void* data, size_t bytes) override {
    const bool noSpace = full_ && free_ < faults_.overwriteNeeds;
    const bool broken = faults_.overwriteFailsFrom > 0 && ++overwrites_ >= faults_.overwriteFailsFrom;
    if (broken || noSpace) {
      error_ = noSpace ? ENOSPC : EIO;
      log.emplace_back("overwrite failed");
      return false;
    }
    // A header describes only data that was durable before it came.
    const std::string header(static_cast<const char*>(data), bytes);
    if (offset == 0) {
      const uint64_t declared = declaredData(header).value_or(UINT64_MAX);
      EXPECT_LE(bytes + declared, durableSize_) << "a header ahead of the synced data";
      log.push_back("header " + std::to_string(declared));
    }
    contents.replace(static_cast<size_t>(offset), bytes, header);
    return true;
  }
  bool truncate(uint64_t size) override {
    if (faults_.truncateFails) {
      error_ = EIO;
      return false;
    }
    if (size < contents.size()) freedSinceCommit_ += contents.size() - size;
    contents.resize(static_cast<size_t>(size), '\0');
    durableSize_ = std::min<uint64_t>(durableSize_, size);
    log.push_back("cut to " + std::to_string(size));
    return true;
  }
  bool sync() override {
    if (++syncs_ == faults_.syncFailsAt) {
      error_ = EIO;
      return false;
    }
    durableSize_ = contents.size();
    return true;
  }
  bool commitFileSystem() override {
    free_ += freedSinceCommit_;
    freedSinceCommit_ = 0;
    log.emplace_back("commit");
    return true;
  }
  int lastError() const override { return error_; }
  bool close() override { return true; }
  void remove() override {
    removed = true;
    contents.clear();
  }

  std::string contents;
  std::vector<size_t> writes;  // the size of each append
  std::vector<std::string> log;
  bool removed = false;

 private:
  Faults faults_;
  bool stream_;
  int appends_ = 0;
  int syncs_ = 0;
  int overwrites_ = 0;
  bool full_ = false;
  int error_ = 0;
  uint64_t durableSize_ = 0;
  uint64_t free_ = 0;
  uint64_t freedSinceCommit_ = 0;
};

// Frames of 1000 bytes (250 stereo 16-bit samples), in blocks of ten.
constexpr uint64_t kFrameBytes = 1000;
constexpr uint64_t kBlockBytes = 10 * kFrameBytes;

WavLayout stereo() {
  WavLayout layout;
  layout.sampleRate = 48000;
  layout.channels = 2;
  return layout;
}

uint64_t wholeFrames(uint64_t bytes) { return bytes / kFrameBytes * kFrameBytes; }

// What a run of `blocks` blocks, 100 ms apart, left: the data its writer
// reports and the file's declared and actual data.
struct Outcome {
  bool failed = false;
  uint64_t kept = 0;
  uint64_t declared = 0;
  uint64_t present = 0;
};

Outcome writeRun(MemoryFile& file, int blocks, uint64_t riffLimit = kMaxRiffDataBytes,
                 const WavLayout& layout = stereo()) {
  const uint64_t planned = static_cast<uint64_t>(blocks) * kBlockBytes;
  WavWriter writer(file, layout, planned, riffLimit, wholeFrames);
  const std::string block(kBlockBytes, 'x');
  Outcome outcome;
  Clock::time_point now{};
  IoResult result = writer.begin(nullptr);
  for (int b = 0; b < blocks && result == IoResult::kDone; ++b) {
    now += std::chrono::milliseconds(100);
    result = writer.append(block.data(), block.size(), nullptr, now);
  }
  outcome.failed = result != IoResult::kDone || !writer.finish();
  outcome.kept = outcome.failed ? writer.cut() : planned;
  const size_t header = headerBytes(stereo(), file.contents.compare(0, 4, "RF64") == 0
                                                  ? WavFormat::kRf64
                                                  : WavFormat::kRiff);
  outcome.declared = declaredData(file.contents).value_or(0);
  outcome.present = file.contents.size() > header ? file.contents.size() - header : 0;
  return outcome;
}

TEST(WavWriter, CompleteRunCheckpointsOnceASecond) {
  MemoryFile file;
  const Outcome o = writeRun(file, 35);
  EXPECT_FALSE(o.failed);
  EXPECT_EQ(o.declared, 35 * kBlockBytes);
  EXPECT_EQ(o.present, 35 * kBlockBytes);
  // After the first block, then a second apart (blocks 10, 20, 30 at 100 ms
  // each), then the final header.
  std::vector<std::string> headers;
  for (const std::string& entry : file.log) {
    if (entry.rfind("header ", 0) == 0) headers.push_back(entry);
  }
  EXPECT_EQ(headers, (std::vector<std::string>{"header 10000", "header 110000", "header 210000",
                                               "header 310000", "header 350000"}));
}

TEST(WavWriter, EveryRungOfTheFailureLadder) {
  using F = Faults;
  const struct {
    const char* name;
    F faults;
    uint64_t kept;      // data the file holds under its header afterwards
    bool removed = false;
  } cases[] = {
      {"the first block's write fails", {.appendFailsAt = 2}, 0},
      {"a later block's write fails", {.appendFailsAt = 7}, 5 * kBlockBytes},
      {"a short write, then a failure", {.appendFailsAt = 7, .appendWritesFirst = 2500},
       5 * kBlockBytes + 2000},
      // The second checkpoint's, a second after the first: the data is
      // there, and the cut makes it durable before describing it.
      {"fdatasync fails at a checkpoint", {.syncFailsAt = 2}, 11 * kBlockBytes},
      {"no header can be rewritten", {.overwriteFailsFrom = 1}, 0},
      // The second checkpoint's header fails: the first one stays true.
      {"a header rewrite fails", {.overwriteFailsFrom = 2}, kBlockBytes},
      {"the file cannot be cut", {.appendFailsAt = 7, .appendWritesFirst = 2500, .truncateFails = true},
       5 * kBlockBytes + 2000},
      // The header went out in a write of its own that failed; an
      // overwrite puts it in place after all.
      {"the first header's write fails", {.appendFailsAt = 1}, 0},
      {"no room for even a header", {.appendFailsAt = 1, .overwriteNeeds = 1}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile file(c.faults);
    const Outcome o = writeRun(file, 20);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(file.removed, c.removed);
    EXPECT_EQ(o.kept, c.kept);
    if (c.removed) continue;
    // The header tells the truth: whole frames that are there.
    EXPECT_EQ(o.declared, c.kept);
    EXPECT_EQ(o.declared % kFrameBytes, 0U);
    EXPECT_LE(o.declared, o.present);
  }
}

TEST(WavWriter, AFullCopyOnWriteDiskCommitsBeforeCuttingFurther) {
  // Block 6's write fills the disk half-way through (55,500 bytes of data,
  // 55,000 in whole frames); a header was last written for block 1's 10,000.
  // The cut to whole frames frees 500 bytes, which the commit gives back.
  const struct {
    uint64_t needs;  // what an overwrite needs
    uint64_t kept;
    std::vector<std::string> log;  // from the first failed overwrite on
  } cases[] = {
      {400, 55000, {"overwrite failed", "commit", "cut to 55044", "header 55000"}},
      // Not enough: cut back further, but not below the last header's data.
      {900, 10000, {"overwrite failed", "commit", "cut to 55044", "overwrite failed", "cut to 10044",
                    "overwrite failed", "commit", "cut to 10044", "header 10000"}},
      // Never enough: that header stays true, and the file stays.
      {1000000, 10000, {"overwrite failed", "commit", "cut to 55044", "overwrite failed",
                        "cut to 10044", "overwrite failed", "commit", "cut to 10044",
                        "overwrite failed", "cut to 10044"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.needs);
    MemoryFile file({.appendFailsAt = 7, .appendWritesFirst = 5500, .overwriteNeeds = c.needs});
    const Outcome o = writeRun(file, 20);
    EXPECT_TRUE(o.failed);
    EXPECT_FALSE(file.removed);
    EXPECT_EQ(o.kept, c.kept);
    EXPECT_EQ(o.declared, c.kept);
    EXPECT_EQ(o.present, c.kept);
    const auto first = std::find(file.log.begin(), file.log.end(), "overwrite failed");
    EXPECT_EQ(std::vector<std::string>(first, file.log.end()), c.log);
  }
}

TEST(WavWriter, BecomesRf64WhenTheDataNeedsIt) {
  // A limit of 25000 bytes: the reserved header becomes RF64 at the block
  // that passes it, whatever the time, and stays so.
  MemoryFile file;
  const Outcome o = writeRun(file, 5, 25000);
  EXPECT_FALSE(o.failed);
  EXPECT_EQ(file.contents.substr(0, 4), "RF64");
  EXPECT_EQ(o.declared, 5 * kBlockBytes);
  EXPECT_EQ(o.present, 5 * kBlockBytes);
  EXPECT_EQ(std::count(file.log.begin(), file.log.end(), "header 30000"), 1);
}

TEST(WavWriter, AStreamGetsItsFinalSizesFirst) {
  MemoryFile stream({}, true);
  const Outcome o = writeRun(stream, 3);
  EXPECT_FALSE(o.failed);
  EXPECT_EQ(o.declared, 3 * kBlockBytes);
  EXPECT_TRUE(stream.log.empty());  // nothing rewritten, nothing cut
}

TEST(WavWriter, AStreamsHeaderLeavesWithItsFirstData) {
  // Readers that sniff a pipe's first read need the header and samples
  // together: at least 64 KiB of them, or the whole file where shorter.
  const size_t header = headerBytes(stereo(), WavFormat::kRiff);
  const auto block = static_cast<size_t>(kBlockBytes);
  MemoryFile shortStream({}, true);
  writeRun(shortStream, 3);
  EXPECT_EQ(shortStream.writes, std::vector<size_t>({header + 3 * block}));
  MemoryFile longStream({}, true);
  writeRun(longStream, 10);
  EXPECT_EQ(longStream.writes, std::vector<size_t>({header + 7 * block, block, block, block}));
  MemoryFile empty({}, true);
  writeRun(empty, 0);
  EXPECT_EQ(empty.writes, std::vector<size_t>({header}));
  // A file gets its header at once.
  MemoryFile file;
  writeRun(file, 10);
  EXPECT_EQ(file.writes.front(), header);
}

TEST(WavWriter, ChunksAfterTheDataFollowItAndCount) {
  WavLayout layout = stereo();
  layout.chunksAfter = {{{'c', 'u', 'e', ' '}, {1, 2, 3}}, {{'L', 'I', 'S', 'T'}, {4, 5}}};
  const std::string trailer = std::string("cue \x03\0\0\0\x01\x02\x03\0LIST\x02\0\0\0\x04\x05", 22);
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "a stream" : "a file");
    MemoryFile out({}, stream);
    const Outcome o = writeRun(out, 2, kMaxRiffDataBytes, layout);
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.declared, 2 * kBlockBytes);
    EXPECT_EQ(out.contents.substr(out.contents.size() - trailer.size()), trailer);
    EXPECT_EQ(testing::littleEndian(out.contents, 4, 4), out.contents.size() - 8);
  }
  // A file cut back after a failure has no trailer, and its sizes say so.
  Faults failing;
  failing.appendFailsAt = 3;
  MemoryFile cut(failing);
  const Outcome o = writeRun(cut, 5, kMaxRiffDataBytes, layout);
  EXPECT_TRUE(o.failed);
  EXPECT_EQ(cut.contents.find("cue "), std::string::npos);
  EXPECT_EQ(testing::littleEndian(cut.contents, 4, 4), cut.contents.size() - 8);
}

}  // namespace
}  // namespace stampline
