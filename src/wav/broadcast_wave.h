#ifndef STAMPLINE_WAV_BROADCAST_WAVE_H_
#define STAMPLINE_WAV_BROADCAST_WAVE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "wav/sample_format.h"
#include "wav/wav_header.h"

namespace stampline {

// What a Broadcast Wave file says about itself, so that an editor can place
// it at its own time: a "bext" chunk (EBU Tech 3285, version 1) and an
// "iXML" chunk with the same time stamp and the timecode's rate.
struct BroadcastInfo {
  std::string description;          // at most 256 bytes; lines end in CR LF
  std::string originator;           // at most 32
  std::string originatorReference;  // at most 32, unique to the file
  std::string originationDate;      // "yyyy-mm-dd"
  std::string originationTime;      // "hh:mm:ss"
  // Sample frames from midnight to the file's first sample.
  uint64_t timeReference = 0;
  // What made the file, for its row of coding history
  // ("A=PCM,F=48000,W=16,M=stereo,T=Stampline 0.3.0").
  std::string codingTool;
  // The timecode's rate as a fraction ("30000/1001", "25/1"), and whether
  // its labels are drop-frame.
  std::string timecodeRate;
  bool dropFrame = false;
  int32_t sampleRate = 48000;
  int32_t channels = 1;
  SampleFormat format = kPcm16;
  std::vector<std::string> trackNames;  // one a channel, for the iXML track list
};

// The bext chunk, version 1, laid out as riff_layout.h has it, the UMID,
// loudness and reserved bytes zero, the coding history one row, then a
// zero byte if need be: both chunks come out an even number of bytes long.
WavChunk bextChunk(const BroadcastInfo& info);
// The row a file adds to its coding history, ending in CR LF.
std::string codingHistoryRow(const BroadcastInfo& info);
// The iXML chunk: its SPEED block (the rates, the drop-frame flag, the bit
// depth, the time stamp in samples since midnight) and its TRACK_LIST.
WavChunk ixmlChunk(const BroadcastInfo& info);

// Another file's bext chunk carried into a new one: everything kept but the
// TimeReference, which becomes `info`'s, and the coding history, which gets
// `info`'s row. A chunk too short to hold a TimeReference is kept as it is.
WavChunk carriedBext(const WavChunk& bext, const BroadcastInfo& info);
// Another file's iXML chunk carried into a new one with one channel more:
// a track named "LTC" at channel `ltcChannel` (1-based; the tracks from
// there on move up one) and the track count in its TRACK_LIST, and in its
// SPEED block the timecode's rate and flag and the time stamp as `info`
// has them; everything else as it is. A chunk whose blocks cannot be edited
// safely (no closing BWFXML; a SPEED, TRACK_LIST or TRACK block without its
// end) is kept as it is, with `problem` saying why in a few words (else
// empty).
WavChunk carriedIxml(const WavChunk& ixml, int ltcChannel, const BroadcastInfo& info, std::string& problem);

}  // namespace stampline

#endif  // STAMPLINE_WAV_BROADCAST_WAVE_H_
