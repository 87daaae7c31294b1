#include "platform/option_scanner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

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

int OptionScanner::next(int argc, char** argv, const char* letters,
                        const LongOption* longOptions, std::FILE* diagnostics) {
  argument = nullptr;
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
    if (longOptions != nullptr && argv[index][1] == '-') {
      pending_ = argv[index] + 2;
      return longOption(argc, argv, longOptions, diagnostics);
    }
    pending_ = argv[index] + 1;
  }

  const char letter = *pending_++;
  if (*pending_ == '\0') ++index;
  if (letter == ':' || letter == ';' || std::strchr(letters, letter) == nullptr) {
    if (diagnostics != nullptr) {
      std::fprintf(diagnostics, "%s: invalid option -- '%c'\n", argv[0], letter);
    }
    return '?';
  }
  return letter;
}

// "--" and what follows it in pending_: an exact name, else the one name it
// abbreviates; either way the element is used up, and its value too.
int OptionScanner::longOption(int argc, char** argv, const LongOption* longOptions,
                              std::FILE* diagnostics) {
  const char* text = pending_;
  const char* nameEnd = std::strchr(text, '=');
  if (nameEnd == nullptr) nameEnd = text + std::strlen(text);
  const auto length = static_cast<size_t>(nameEnd - text);
  pending_ = nullptr;
  ++index;

  const LongOption* found = nullptr;
  for (const LongOption* o = longOptions; o->name != nullptr && found == nullptr; ++o) {
    if (std::strncmp(o->name, text, length) == 0 && std::strlen(o->name) == length) found = o;
  }
  if (found == nullptr) {
    bool ambiguous = false;
    for (const LongOption* o = longOptions; o->name != nullptr; ++o) {
      if (std::strncmp(o->name, text, length) != 0) continue;
      if (found == nullptr) {
        found = o;
      } else if (found->takesValue != o->takesValue || found->code != o->code) {
        ambiguous = true;
      }
    }
    if (ambiguous) {
      if (diagnostics != nullptr) {
        std::fprintf(diagnostics, "%s: option '--%s' is ambiguous; possibilities:", argv[0], text);
        // The first match, and every later one that is a different option.
        for (const LongOption* o = longOptions; o->name != nullptr; ++o) {
          if (std::strncmp(o->name, text, length) == 0 &&
              (o == found || found->takesValue != o->takesValue || found->code != o->code)) {
            std::fprintf(diagnostics, " '--%s'", o->name);
          }
        }
        std::fputc('\n', diagnostics);
      }
      return '?';
    }
  }
  if (found == nullptr) {
    if (diagnostics != nullptr) {
      std::fprintf(diagnostics, "%s: unrecognized option '--%s'\n", argv[0], text);
    }
    return '?';
  }

  if (*nameEnd == '=') {
    if (!found->takesValue) {
      if (diagnostics != nullptr) {
        std::fprintf(diagnostics, "%s: option '--%s' doesn't allow an argument\n", argv[0],
                     found->name);
      }
      return '?';
    }
    argument = nameEnd + 1;
  } else if (found->takesValue) {
    if (index >= argc) {
      if (diagnostics != nullptr) {
        std::fprintf(diagnostics, "%s: option '--%s' requires an argument\n", argv[0],
                     found->name);
      }
      return '?';
    }
    argument = argv[index++];
  }
  return found->code;
}

#if defined(STAMPLINE_PORTABLE_GETOPT)

namespace {
OptionScanner gScanner;
}  // namespace

void startOptionScan() { gScanner.index = 0; }
int nextOption(int argc, char** argv, const char* letters, const LongOption* longOptions) {
  return gScanner.next(argc, argv, letters, longOptions, stderr);
}
int optionIndex() { return gScanner.index; }
const char* optionArgument() { return gScanner.argument; }

#else

namespace {

// glibc's own table, built once from ours.
const option* glibcTable(const LongOption* longOptions) {
  static const LongOption* built = nullptr;
  static std::vector<option> table;
  if (built != longOptions) {
    table.clear();
    for (const LongOption* o = longOptions; o != nullptr && o->name != nullptr; ++o) {
      table.push_back({o->name, o->takesValue ? required_argument : no_argument, nullptr, o->code});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    built = longOptions;
  }
  return table.data();
}

}  // namespace

// 0 rather than 1 makes getopt start over completely, re-reading
// POSIXLY_CORRECT, so a scan does not depend on an earlier one.
void startOptionScan() { optind = 0; }
int nextOption(int argc, char** argv, const char* letters, const LongOption* longOptions) {
  return getopt_long(argc, argv, letters, glibcTable(longOptions), nullptr);
}
int optionIndex() { return optind; }
const char* optionArgument() { return optarg; }

#endif

}  // namespace stampline
