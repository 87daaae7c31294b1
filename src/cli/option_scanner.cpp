#include "cli/option_scanner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if !defined(STAMPLINE_PORTABLE_GETOPT)
#include <getopt.h>
#endif

namespace stampline {
namespace {

// A lone "-" and anything not starting with '-' are words, not options.
bool isWord(const char* element) { return element[0] != '-' || element[1] == '\0'; }

}  // namespace

void OptionScanner::moveWordsBehindOptions(char** argv) {
  // The words skipped earlier sit in [firstWord_, endOfWords_); the options
  // scanned since sit in [endOfWords_, index). Swap the two blocks, keeping
  // the order within each.
  std::rotate(argv + firstWord_, argv + endOfWords_, argv + index);
  firstWord_ += index - endOfWords_;
  endOfWords_ = index;
}

int OptionScanner::next(int argc, char** argv, const char* letters, std::FILE* diagnostics) {
  if (index == 0) {
    index = 1;
    firstWord_ = endOfWords_ = 1;
    pending_ = nullptr;
    inOrder_ = std::getenv("POSIXLY_CORRECT") != nullptr;
  }

  if (pending_ == nullptr || *pending_ == '\0') {
    // On to the next element. The word block cannot lie beyond it.
    endOfWords_ = std::min(endOfWords_, index);
    firstWord_ = std::min(firstWord_, index);
    if (!inOrder_) {
      if (firstWord_ != endOfWords_ && endOfWords_ != index) {
        moveWordsBehindOptions(argv);
      } else if (endOfWords_ != index) {
        firstWord_ = index;
      }
      while (index < argc && isWord(argv[index])) ++index;
      endOfWords_ = index;
    }

    if (index != argc && std::strcmp(argv[index], "--") == 0) {
      ++index;
      if (firstWord_ != endOfWords_ && endOfWords_ != index) {
        moveWordsBehindOptions(argv);
      } else if (firstWord_ == endOfWords_) {
        firstWord_ = index;
      }
      endOfWords_ = argc;
      index = argc;
    }

    if (index == argc) {
      // Leave the index on the words, which now close the vector.
      if (firstWord_ != endOfWords_) index = firstWord_;
      return -1;
    }
    if (isWord(argv[index])) return -1;  // only when scanning in order
    pending_ = argv[index] + 1;
  }

  const char letter = *pending_++;
  if (*pending_ == '\0') ++index;
  if (letter == ':' || std::strchr(letters, letter) == nullptr) {
    std::fprintf(diagnostics, "%s: invalid option -- '%c'\n", argv[0], letter);
    return '?';
  }
  return letter;
}

#if defined(STAMPLINE_PORTABLE_GETOPT)

namespace {
OptionScanner gScanner;
}  // namespace

void startOptionScan() { gScanner.index = 0; }
int nextOption(int argc, char** argv, const char* letters) {
  return gScanner.next(argc, argv, letters, stderr);
}
int optionIndex() { return gScanner.index; }

#else

// 0 rather than 1 makes getopt start over completely, re-reading
// POSIXLY_CORRECT, so a scan does not depend on an earlier one.
void startOptionScan() { optind = 0; }
int nextOption(int argc, char** argv, const char* letters) { return getopt(argc, argv, letters); }
int optionIndex() { return optind; }

#endif

}  // namespace stampline
