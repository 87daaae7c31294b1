#ifndef STAMPLINE_WAV_WIDE_PATH_WINDOWS_H_
#define STAMPLINE_WAV_WIDE_PATH_WINDOWS_H_

#include <windows.h>

#include <string>

namespace stampline {

// Paths arrive as UTF-8 (the command line is read in UTF-16 and converted);
// the file system takes UTF-16, so any character survives the trip.
inline std::wstring widePath(const std::string& path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return wide;
}

}  // namespace stampline

#endif  // STAMPLINE_WAV_WIDE_PATH_WINDOWS_H_
