#ifndef STAMPLINE_TESTS_WAV_READER_H_
#define STAMPLINE_TESTS_WAV_READER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "timecode/timecode.h"

namespace stampline::testing {

// A WAV or RF64 file as libsndfile reads it.
struct SoundFile {
  bool opened = false;
  int format = 0;  // libsndfile's SF_FORMAT_* bits
  int channels = 0;
  int sampleRate = 0;
  int64_t frames = 0;
  std::vector<int16_t> firstChannel;  // only when asked for
  bool channelsAgree = true;          // every sample frame holds one value
};
SoundFile readSoundFile(const std::string& path, bool withSamples);

// One LTC frame as libltc's decoder found it.
struct DecodedFrame {
  int64_t start = 0;  // sample frame where the decoder saw the frame begin
  TimecodeWord timecode = 0;
  bool dropFrame = false;
};
std::vector<DecodedFrame> decodeLtc(const std::vector<int16_t>& samples, int samplesPerFrame);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_WAV_READER_H_
