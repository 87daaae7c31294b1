#include "live/jack_library.h"

namespace stampline {

bool loadJackLibrary(JackLibrary&, std::string& why) {
  why = "this build of stampline plays no live output (it needs JACK, on Linux)";
  return false;
}

}  // namespace stampline
