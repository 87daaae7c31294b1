#include "independent_readers.h"

#include <ltc.h>
#include <sndfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <filesystem>

#include "timecode/label_text.h"

namespace stampline::testing {

SoundFile readSoundFile(const std::string& path, bool withSamples) {
  SoundFile result;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return result;
  result.opened = true;
  result.format = info.format;
  result.channels = info.channels;
  result.sampleRate = info.samplerate;
  result.frames = info.frames;
  char log[4096] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  // libsndfile's RF64 reader does not know the iXML chunk its WAV reader
  // reads; it notes it and reads on.
  result.log = log;
  for (size_t at; (at = result.log.find("*** iXML")) != std::string::npos;) {
    result.log.erase(at, result.log.find('\n', at) - at);
  }
  SF_BROADCAST_INFO bext{};
  if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
    const auto field = [](const char* text, size_t width) {
      return std::string(text, strnlen(text, width));
    };
    result.broadcast = true;
    result.description = field(bext.description, sizeof bext.description);
    result.originator = field(bext.originator, sizeof bext.originator);
    result.originatorReference = field(bext.originator_reference, sizeof bext.originator_reference);
    result.originationDate = field(bext.origination_date, sizeof bext.origination_date);
    result.originationTime = field(bext.origination_time, sizeof bext.origination_time);
    result.timeReference = uint64_t{bext.time_reference_high} << 32 | bext.time_reference_low;
    result.version = bext.version;
    result.codingHistory = field(bext.coding_history, bext.coding_history_size);
  }
  if (withSamples) {
    std::vector<short> block(static_cast<size_t>(4096 * info.channels));
    for (;;) {
      const sf_count_t got = sf_readf_short(file, block.data(), 4096);
      if (got <= 0) break;
      for (sf_count_t i = 0; i < got; ++i) {
        const auto at = static_cast<size_t>(i * info.channels);
        result.firstChannel.push_back(block[at]);
        if (info.channels == 2 && block[at] != block[at + 1]) result.channelsAgree = false;
      }
    }
  }
  sf_close(file);
  return result;
}

namespace {

template <typename T>
std::vector<DecodedFrame> decodeAny(const std::vector<T>& samples, int samplesPerFrame, T level) {
  std::vector<DecodedFrame> frames;
  LTCDecoder* decoder = ltc_decoder_create(samplesPerFrame, 32);
  // The decoder reports a frame when it sees the transition that starts the
  // next one; a cell of the opposite level after the end lets it report the
  // file's last frame too. Likewise it needs to see the transition that
  // starts the first bit, so one cell of the opposite level goes before it.
  const auto cell = static_cast<size_t>(samplesPerFrame / 80);
  const auto opposite = [level](T v) { return v > 0 ? static_cast<T>(-level) : level; };
  std::vector<T> signal;
  if (!samples.empty()) {
    signal.assign(cell, opposite(samples.front()));
    signal.insert(signal.end(), samples.begin(), samples.end());
    signal.insert(signal.end(), cell, opposite(samples.back()));
  }
  std::vector<T> block;
  constexpr size_t kBlock = 1024;
  for (size_t at = 0; at < signal.size(); at += kBlock) {
    const size_t n = std::min(kBlock, signal.size() - at);
    block.assign(signal.begin() + static_cast<long>(at), signal.begin() + static_cast<long>(at + n));
    if constexpr (std::is_same_v<T, float>) {
      ltc_decoder_write_float(decoder, block.data(), n, static_cast<ltc_off_t>(at));
    } else {
      ltc_decoder_write_s16(decoder, block.data(), n, static_cast<ltc_off_t>(at));
    }
    LTCFrameExt found;
    while (ltc_decoder_read(decoder, &found) != 0) {
      const LTCFrame& f = found.ltc;
      DecodedFrame d;
      d.start = found.off_start - static_cast<ltc_off_t>(cell);
      // The bit fields promote to int; each holds at most four bits.
      const auto field = [](unsigned value, int shift) { return TimecodeWord{value} << shift; };
      d.timecode = field(f.hours_units, 0) | field(f.hours_tens, 4) | field(f.mins_units, 8) |
                   field(f.mins_tens, 12) | field(f.secs_units, 16) | field(f.secs_tens, 20) |
                   field(f.frame_units, 24) | field(f.frame_tens, 28);
      d.dropFrame = f.dfbit != 0;
      d.userBits = field(f.user1, 0) | field(f.user2, 4) | field(f.user3, 8) | field(f.user4, 12) |
                   field(f.user5, 16) | field(f.user6, 20) | field(f.user7, 24) |
                   field(f.user8, 28);
      // libltc names these bits as the 30 fps layout has them.
      d.flagBits = unsigned{f.biphase_mark_phase_correction} | unsigned{f.binary_group_flag_bit0} << 1 |
                   unsigned{f.binary_group_flag_bit1} << 2 | unsigned{f.binary_group_flag_bit2} << 3;
      SMPTETimecode date{};
      LTCFrame bits = f;
      ltc_frame_to_time(&date, &bits, LTC_USE_DATE);
      char text[32];
      std::snprintf(text, sizeof text, "%02u%02u%02u%s", date.years, date.months, date.days,
                    date.timezone);
      d.date = text;
      frames.push_back(d);
    }
  }
  ltc_decoder_free(decoder);
  return frames;
}

}  // namespace

std::vector<DecodedFrame> decodeLtc(const std::vector<int16_t>& samples, int samplesPerFrame) {
  return decodeAny<int16_t>(samples, samplesPerFrame, 16383);
}

std::vector<DecodedFrame> decodeLtc(const std::vector<float>& samples, int samplesPerFrame) {
  return decodeAny<float>(samples, samplesPerFrame, 0.5F);
}

void writeNoiseFile(const std::string& path, int rate, int64_t frames, int64_t claimed) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  const int64_t written = std::max(frames, claimed);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<short> samples(static_cast<size_t>(written));
  uint32_t state = 1;
  for (short& v : samples) {
    state = state * 1664525U + 1013904223U;
    v = static_cast<short>(static_cast<int>(state >> 16) % 21845 - 10922);
  }
  sf_write_short(file, samples.data(), written);
  sf_close(file);
  if (claimed >= 0) std::filesystem::resize_file(path, std::filesystem::file_size(path) - 2 * static_cast<uint64_t>(claimed - frames));
}

int64_t checkLtcFile(const std::string& path, const LtcRun& run, bool clean) {
  SCOPED_TRACE(path);
  const SoundFile wav = readSoundFile(path, true);
  const FrameSchedule schedule(run.fps, run.rate, packTimecodeText(run.start), run.drop);
  const uint64_t samples = wav.frames > 0 ? static_cast<uint64_t>(wav.frames) : 0;
  const uint64_t frames = schedule.completeFrames(samples);
  const int container = wav.format & SF_FORMAT_TYPEMASK;
  const bool readable = wav.opened && (container == SF_FORMAT_WAV || container == SF_FORMAT_RF64) &&
                        (wav.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
                        wav.channels == run.channels && wav.sampleRate == run.rate &&
                        (wav.channelsAgree || run.ltcOnFirstChannelOnly) &&
                        schedule.frameStart(frames) == samples &&
                        wav.log.find("***") == std::string::npos &&
                        wav.log.find("arning") == std::string::npos;
  if (!readable) {
    ADD_FAILURE() << "libsndfile: opened " << wav.opened << ", format " << std::hex << wav.format
                  << std::dec << ", " << wav.channels << " channels at " << wav.sampleRate
                  << " Hz, " << wav.frames << " frames\n"
                  << wav.log;
    return -1;
  }
  const auto meanFrame = static_cast<double>(run.rate) * run.fps.denominator / run.fps.numerator;
  const std::vector<DecodedFrame> decoded =
      decodeLtc(wav.firstChannel, static_cast<int>(std::lround(meanFrame)));
  if (decoded.size() != frames) {
    ADD_FAILURE() << "decoded " << decoded.size() << " of " << frames << " frames";
    return -1;
  }
  if (run.broadcastWave &&
      (!wav.broadcast || wav.timeReference != schedule.startSample() || wav.version != 1 ||
       wav.description.rfind("LTC ", 0) != 0 || wav.originator != "Stampline" ||
       wav.codingHistory.rfind("A=PCM,F=" + std::to_string(run.rate) + ",W=16,M=", 0) != 0)) {
    ADD_FAILURE() << "bext: " << wav.broadcast << ", time reference " << wav.timeReference
                  << " instead of " << schedule.startSample() << ", version " << wav.version
                  << ", '" << wav.description << "', '" << wav.codingHistory << "'";
    return -1;
  }
  // Bits 27, 43, 58, 59 as decoded: the group flags announce a date (BGF2:
  // bit 59, or 43 in the EBU layout 25 fps frames with user bits follow).
  const bool ebu = run.fps.nominal == 25 && run.userBits.kind != UserBits::Kind::kNone;
  const unsigned dateFlag = ebu ? 0x2U : 0x8U;
  const unsigned phaseBit = ebu ? 0x8U : 0x1U;
  const uint64_t day = labelsPerDay(run.fps.nominal, run.drop);
  const double tolerance = clean ? 3.0 : meanFrame / 40.0;
  const std::vector<int16_t>& v = wav.firstChannel;
  for (size_t i = 0; i < frames; ++i) {
    const uint64_t frameStart = schedule.frameStart(i);
    const TimecodeWord expected = schedule.label(i);
    const uint64_t daysAfterStart = (schedule.startNumber() + i) / day;
    const uint32_t userBits = userBitsWord(run.userBits, daysAfterStart);
    const unsigned flags = decoded[i].flagBits & ~phaseBit;
    std::string date = "000000+0000";
    if (run.userBits.kind == UserBits::Kind::kDate) {
      int64_t y = 0;
      unsigned m = 0;
      unsigned d = 0;
      dateFromDays(run.userBits.startDay + static_cast<int64_t>(daysAfterStart), y, m, d);
      char text[32];
      std::snprintf(text, sizeof text, "%02u%02u%02u+0000", static_cast<unsigned>(y % 100), m, d);
      date = text;
    }
    const bool edgeOnGrid =
        !clean || frameStart == 0 ||
        (v[static_cast<size_t>(frameStart - 1)] > 0) != (v[static_cast<size_t>(frameStart)] > 0);
    if (decoded[i].timecode != expected || decoded[i].dropFrame != run.drop || !edgeOnGrid ||
        decoded[i].userBits != userBits ||
        flags != (run.userBits.kind == UserBits::Kind::kDate ? dateFlag : 0U) ||
        (run.userBits.kind != UserBits::Kind::kWord && decoded[i].date != date) ||
        std::abs(static_cast<double>(decoded[i].start) - static_cast<double>(frameStart)) >
            tolerance) {
      ADD_FAILURE() << "frame " << i << " decoded as " << std::hex << decoded[i].timecode
                    << " instead of " << expected << ", user bits " << decoded[i].userBits
                    << " instead of " << userBits << ", flags " << decoded[i].flagBits << std::dec
                    << ", date " << decoded[i].date << " instead of " << date << " at "
                    << decoded[i].start << " instead of " << frameStart;
      return -1;
    }
  }
  return static_cast<int64_t>(frames);
}

}  // namespace stampline::testing
