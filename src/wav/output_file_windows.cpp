#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "wav/output_file.h"

namespace stampline {
namespace {

// Paths arrive as UTF-8 (the command line is read in UTF-16 and converted);
// the file system takes UTF-16, so any character survives the trip.
std::wstring widePath(const std::string& path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return wide;
}

// The file's identity: its volume and its 128-bit id. A handle opened for
// writing only may report no volume (0); then the id alone decides.
bool sameFile(HANDLE a, HANDLE b) {
  FILE_ID_INFO first{};
  FILE_ID_INFO second{};
  if (GetFileInformationByHandleEx(a, FileIdInfo, &first, sizeof first) == 0 ||
      GetFileInformationByHandleEx(b, FileIdInfo, &second, sizeof second) == 0) {
    return false;
  }
  const bool volumesAgree = first.VolumeSerialNumber == second.VolumeSerialNumber ||
                            first.VolumeSerialNumber == 0 || second.VolumeSerialNumber == 0;
  return volumesAgree &&
         std::memcmp(&first.FileId, &second.FileId, sizeof first.FileId) == 0;
}

}  // namespace

bool isStandardOutput(const std::string& path) {
  const HANDLE standardOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  if (standardOutput == INVALID_HANDLE_VALUE || standardOutput == nullptr) return false;
  DWORD mode = 0;
  if (GetConsoleMode(standardOutput, &mode) != 0) {
    // The console has no file identity; it is reached by these names.
    std::string upper = path;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return upper == "CON" || upper == "CONOUT$" || upper == R"(\\.\CON)" ||
           upper == R"(\\.\CONOUT$)";
  }
  const HANDLE target =
      CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) return false;
  const bool same = sameFile(target, standardOutput);
  CloseHandle(target);
  return same;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) _close(fd_);
}

IoResult OutputFile::open(const std::string& path, StopFlag) {
  fd_ = _wopen(widePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
  if (fd_ < 0) return IoResult::kFailed;
  seekable_ = GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd_))) == FILE_TYPE_DISK;
  appended_ = 0;
  return IoResult::kDone;
}

IoResult OutputFile::writeBlock(const void* data, size_t bytes, StopFlag stop) {
  const auto* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const int n = _write(fd_, next, static_cast<unsigned>(std::min<size_t>(bytes, INT_MAX)));
    if (n <= 0) return stopRequested(stop) ? IoResult::kStopped : IoResult::kFailed;
    next += n;
    bytes -= static_cast<size_t>(n);
    appended_ += static_cast<uint64_t>(n);
  }
  return IoResult::kDone;
}

// NOLINTNEXTLINE(readability-make-member-function-const)
bool OutputFile::writeAt(uint64_t offset, const void* data, size_t bytes) {
  const __int64 end = _lseeki64(fd_, 0, SEEK_CUR);
  if (end < 0 || _lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
  const bool written = _write(fd_, data, static_cast<unsigned>(bytes)) == static_cast<int>(bytes);
  return _lseeki64(fd_, end, SEEK_SET) >= 0 && written;
}

// NOLINTNEXTLINE(readability-make-member-function-const)
bool OutputFile::truncate(uint64_t size) {
  return _chsize_s(fd_, static_cast<__int64>(size)) == 0;
}

bool OutputFile::close() {
  const int fd = fd_;
  fd_ = -1;
  return _close(fd) == 0;
}

}  // namespace stampline
