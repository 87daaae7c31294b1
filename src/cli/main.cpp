#include "cli/stampline_main.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <vector>

// Windows hands the command line over in UTF-16; the program works in UTF-8,
// so a path with any characters reaches the file system as it was typed.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> utf8;
  for (int i = 0; i < argc; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text.data(), bytes, nullptr, nullptr);
    utf8.push_back(text);
  }
  std::vector<char*> pointers;
  for (std::string& s : utf8) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return stampline::stamplineMain(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return stampline::stamplineMain(argc, argv); }
#endif
