#ifndef STAMPLINE_TESTS_INDEPENDENT_READERS_H_
#define STAMPLINE_TESTS_INDEPENDENT_READERS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "timecode/frame_schedule.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"

namespace stampline::testing {

// Our files as readers that are not ours take them: libsndfile for the
// container, libltc's decoder for the timecode.

// A WAV or RF64 file as libsndfile reads it.
struct SoundFile {
  bool opened = false;
  int format = 0;  // libsndfile's SF_FORMAT_* bits
  int channels = 0;
  int sampleRate = 0;
  int64_t frames = 0;
  std::vector<int16_t> firstChannel;  // only when asked for
  bool channelsAgree = true;          // every sample frame holds one value
  std::string log;                    // libsndfile's notes on the header
  // The bext chunk, as libsndfile reads it (SFC_GET_BROADCAST_INFO).
  bool broadcast = false;
  std::string description, originator, originatorReference, originationDate, originationTime,
      codingHistory;
  uint64_t timeReference = 0;
  int version = -1;
};
SoundFile readSoundFile(const std::string& path, bool withSamples);

// One LTC frame as libltc's decoder found it.
struct DecodedFrame {
  int64_t start = 0;  // sample frame where the decoder saw the frame begin
  TimecodeWord timecode = 0;
  bool dropFrame = false;
  uint32_t userBits = 0;  // group 8 in the top four bits
  // Frame bits 27, 43, 58 and 59 (phase correction and binary group flags,
  // in one order or another by the frame rate).
  unsigned flagBits = 0;
  // The user bits read as a date (LTC_USE_DATE): "YYMMDD+HHMM".
  std::string date;
};
std::vector<DecodedFrame> decodeLtc(const std::vector<int16_t>& samples, int samplesPerFrame);
// The same for samples of full scale 1.0, as libsndfile reads any file.
std::vector<DecodedFrame> decodeLtc(const std::vector<float>& samples, int samplesPerFrame);

// The settings of a run whose file is checked.
struct LtcRun {
  int rate = 44100;
  FrameRate fps = kRate30;
  int channels = 2;
  bool drop = false;
  std::string start = "01:00:00:00";
  UserBits userBits = {};
  bool broadcastWave = false;  // bext and iXML, with the start's time reference
  bool ltcOnFirstChannelOnly = false;  // --mix --timecode-channel=1: audio on the others
};

// A mono 16-bit file of white noise at a third of full scale, of `frames`
// sample frames; with `claimed`, its header says that many instead (a
// recording cut short).
void writeNoiseFile(const std::string& path, int rate, int64_t frames, int64_t claimed = -1);

// Checks a file the program wrote as any reader would: libsndfile reads it
// without a complaint about its header, with the run's format, and libltc's
// decoder finds every frame, in order, with the label our own counting gives
// it, the user bits and group flags it should carry (and the date, read as
// the decoder reads dates), starting where the frame schedule puts it. A
// Broadcast Wave file must carry its bext, with the run's time reference. The decoder times a frame
// to within a fortieth of it on any signal, and to within 3 samples on a
// clean one; for a `clean` file the frame's first edge must also fall on
// its grid sample exactly. Returns the number of frames, or -1 after
// reporting a failed check.
int64_t checkLtcFile(const std::string& path, const LtcRun& run, bool clean = false);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_INDEPENDENT_READERS_H_
