// Makes one case of the degraded corpus (tests/degraded.h), 30 s long or as
// given, as a float WAV file, and beside it the truth: every frame that
// reached the output (whole, or part of one), with its first sample in the
// output (in file order), its label, flags and user bits, and the places
// where the timecode truly changes (a splice, a change of direction or of
// rate).
//
// usage: degrade RATE CASE OUT.wav TRUTH.csv [SECONDS]
//   RATE: 24, 25, 29.97df or 30; CASE: degrade --list names them
#include <sndfile.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "degraded.h"
#include "timecode/label_text.h"

namespace {

using namespace stampline::corpus;

bool writeTruth(const Degraded& d, const char* path) {
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return false;
  std::fputs("start,end,label,drop_frame,user_bits,forward,whole\n", f);
  for (const TruthFrame& t : d.frames) {
    std::fprintf(f, "%zu,%zu,%s,%d,%08" PRIX32 ",%d,%d\n", t.start, t.end,
                 stampline::formatLabel(t.label, t.dropFrame).c_str(), t.dropFrame ? 1 : 0, t.userBits,
                 t.forward ? 1 : 0, t.whole ? 1 : 0);
  }
  std::fputs("changes", f);
  for (const size_t c : d.changes) std::fprintf(f, ",%zu", c);
  std::fputc('\n', f);
  return std::fclose(f) == 0;
}

bool writeSamples(const Degraded& d, const char* path) {
  SF_INFO info{};
  info.samplerate = kSampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path, SFM_WRITE, &info);
  if (file == nullptr) return false;
  sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
  sf_write_double(file, d.samples.data(), static_cast<sf_count_t>(d.samples.size()));
  return sf_close(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const std::string& name : caseNames()) std::printf("%s\n", name.c_str());
    return 0;
  }
  const auto names = caseNames();
  if ((argc != 5 && argc != 6) || !knownRate(argv[1]) || std::find(names.begin(), names.end(), argv[2]) == names.end()) {
    std::fputs("usage: degrade RATE CASE OUT.wav TRUTH.csv [SECONDS] (degrade --list: the cases)\n", stderr);
    return 2;
  }
  const Degraded d = degraded(argv[1], argv[2], argc == 6 ? std::atof(argv[5]) : 30);
  return writeTruth(d, argv[4]) && writeSamples(d, argv[3]) ? 0 : 1;
}
