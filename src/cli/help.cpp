// The texts that describe the options: --help and the shell completion,
// made from the option tables so that they cannot drift from what the scan
// accepts; --version; and the short options' usage text, which scripts know
// byte for byte and which stays as it is, whatever the tables say.
#include <cstring>
#include <string>

#include "cli/help.h"
#include "cli/long_options.h"
#include "cli/short_options.h"

namespace stampline {
namespace {

// Descriptions start in this column; continuation lines are indented to it.
constexpr int kHelpColumn = 23;

void printEntry(std::FILE* out, const std::string& left, const char* text) {
  std::fprintf(out, "  %-*s", kHelpColumn - 2, left.c_str());
  // A name too long for its column has its text on the lines below.
  if (static_cast<int>(left.size()) >= kHelpColumn - 2) std::fprintf(out, "\n%*s", kHelpColumn, "");
  for (const char* c = text; *c != '\0'; ++c) {
    std::fputc(*c, out);
    if (*c == '\n') std::fprintf(out, "%*s", kHelpColumn, "");
  }
  std::fputc('\n', out);
}

}  // namespace

void printUsage(std::FILE* out) {
  static constexpr const char* kUsage[] = {
      "\nStampline [options]\n",
      "  -o \"output.wav\"\n",
      "    file to write to\n",
      "  -s 44100\n",
      "    samplerate (valid values are 22050, 44100 and 48000)\n",
      "  -c 2\n",
      "    channles (valid values are 1 and 2)\n",
      "  -t \"01:00:00:00\"\n",
      "    Starting timecode (must be in the form of \"HH:MM:SS:FF\")\n",
      "  -d 1800\n",
      "    Duration in frames\n",
      "  -f 30\n",
      "    frames per second (valid values are 30 and 25)\n",
      "  -n 0\n",
      "    Dropframe = 1, NonDropFrame = 0\n",
      "  -a 0.5\n",
      "    Volume (1.0 = max, 0.5 = half)\n",
      "  -h\n",
      "    This help file\n",
  };
  for (const char* line : kUsage) std::fputs(line, out);
}

void printHelp(std::FILE* out) {
  std::fputs(
      "Usage: stampline [OPTION]...\n"
      "  or:  stampline --analyze=FILE [--timecode-channel=K] [--frame-rate=FPS]\n"
      "                 [--json] [--csv=PATH]\n"
      "  or:  stampline --play [--connect=PORT] [--start=HH:MM:SS:FF] [OPTION]...\n"
      "Writes SMPTE linear timecode (LTC) to a WAV file, every frame's label\n"
      "computed from its position in the file, alone or beside another file's\n"
      "audio (--mix); reads the LTC of a WAV file back and reports on it; or\n"
      "plays LTC live through JACK, on the system clock's time of day.\n"
      "\n"
      "Options, with their defaults in parentheses (a value follows '=' or comes as\n"
      "the next argument; any unique beginning of a name will do):\n",
      out);
  for (const LongOptionRow& row : longOptionRows()) {
    std::string left = std::string("--") + row.name;
    if (row.valueName != nullptr) left += std::string("=") + row.valueName;
    printEntry(out, left, row.help);
  }
  std::fputs(
      "\n"
      "Short options, as scripts know them: each takes the next argument as its\n"
      "value, and each is echoed as \"letter = code value\".\n",
      out);
  for (const ShortOptionRow& row : shortOptionRows()) {
    std::string left = std::string("-") + row.letter;
    if (row.valueName != nullptr) left += std::string(" ") + row.valueName;
    printEntry(out, left, row.help);
  }
  std::fputs(
      "\n"
      "Exit status: 0 when the file is complete; 1 after a refused command line,\n"
      "\"Error opening file\", \"Error writing file\" or \"Out of memory\"; 128 + N when\n"
      "stopped by signal N (SIGINT, SIGTERM, SIGHUP), keeping the frames written;\n"
      "141 when the reader of --output=- went away.\n"
      "With --analyze: 0 when LTC was found without an event, 2 with events (jumps,\n"
      "gaps, repeats, ...), 3 when no channel carries LTC, 1 after a refused command\n"
      "line or a file that cannot be read.\n"
      "With --play: 0 when the frames asked for have all left; 1 when JACK cannot\n"
      "play or goes away; 128 + N when stopped by signal N.\n"
      "\n"
      "Examples:\n"
      "  stampline --frame-rate=25 --duration=1h --output=hour.wav\n"
      "  stampline --start=09:59:00:00 --end=10:01:00:00 --drop-frame --quiet\n"
      "  stampline -s 48000 -c 1 -t 00:59:59:00 -d 90 -n 1 -o example.wav\n"
      "  stampline --mix=song.wav --start=02:00:00:00 --output=show.wav\n"
      "  stampline --channels=8 --timecode-channel=8 --depth=24 --output=poly.wav\n"
      "  ffmpeg -i clip.mov -map 0:a -f wav - | stampline --analyze=- --csv=frames.csv\n"
      "  TZ=UTC stampline --play --frame-rate=25 --connect=system:playback_1\n",
      out);
}

void printVersion(std::FILE* out) { std::fputs("stampline " STAMPLINE_VERSION "\n", out); }

void writeBashCompletion(std::FILE* out) {
  std::string names;
  std::string cases;
  for (const LongOptionRow& row : longOptionRows()) {
    names += std::string(names.empty() ? "" : " ") + "--" + row.name;
    if (row.valueName == nullptr) continue;
    cases += std::string("    --") + row.name + ") ";
    if (std::strcmp(row.completions, "FILE") == 0) {
      cases += "compopt -o filenames 2>/dev/null\n"
               "      mapfile -t COMPREPLY < <(compgen -f -- \"$cur\") ;;\n";
    } else if (*row.completions == '\0') {
      cases += "return ;;\n";  // a free value: nothing to offer
    } else {
      cases += std::string("mapfile -t COMPREPLY < <(compgen -W \"") + row.completions +
               "\" -- \"$cur\") ;;\n";
    }
  }
  std::fprintf(out,
               "# bash completion for stampline: its long options, the fixed values of\n"
               "# some, and file names for the options that take a path. Made from the\n"
               "# program's option table.\n"
               "_stampline() {\n"
               "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} joined=\n"
               "  # \"--name=value\" arrives as one word, or as three where '=' breaks words.\n"
               "  if [[ $cur == --*=* ]]; then\n"
               "    joined=${cur%%%%=*}= prev=${cur%%%%=*} cur=${cur#*=}\n"
               "  elif [[ $cur == = ]]; then\n"
               "    cur=\n"
               "  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
               "    prev=${COMP_WORDS[COMP_CWORD-2]}\n"
               "  fi\n"
               "  COMPREPLY=()\n"
               "  case $prev in\n"
               "%s"
               "    *)\n"
               "      [[ $cur == -* ]] || return\n"
               "      mapfile -t COMPREPLY < <(compgen -W \"%s\" -- \"$cur\")\n"
               "      return ;;\n"
               "  esac\n"
               "  # A value completed inside \"--name=value\" keeps its name.\n"
               "  [[ -n $joined ]] && COMPREPLY=(\"${COMPREPLY[@]/#/$joined}\")\n"
               "  return 0\n"
               "}\n"
               "complete -F _stampline stampline\n",
               cases.c_str(), names.c_str());
}

}  // namespace stampline
