// Reads the end of a WAV or RF64 file with libsndfile and decodes it with
// libltc's decoder: prints the file's sample frames and the labels of the
// frames in its last SECONDS, so that a very long file can be checked
// without reading all of it into memory.
//
// usage: ltc_tail FILE SAMPLES_PER_FRAME [SECONDS]
#include <ltc.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: ltc_tail FILE SAMPLES_PER_FRAME [SECONDS]\n", stderr);
    return 2;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "libsndfile: %s\n", sf_strerror(nullptr));
    return 1;
  }
  const int samplesPerFrame = std::atoi(argv[2]);
  const sf_count_t seconds = argc > 3 ? std::atoll(argv[3]) : 2;
  const sf_count_t tail = std::min<sf_count_t>(info.frames, seconds * info.samplerate);
  std::printf("frames %lld, %d Hz, %d channel(s), format 0x%x\n",
              static_cast<long long>(info.frames), info.samplerate, info.channels, info.format);
  if (sf_seek(file, info.frames - tail, SEEK_SET) < 0) return 1;
  std::vector<short> samples(static_cast<size_t>(tail * info.channels));
  if (sf_readf_short(file, samples.data(), tail) != tail) return 1;
  sf_close(file);

  // One channel, then a cell of the opposite level so the decoder sees the
  // transition that ends the last frame.
  std::vector<short> signal;
  for (sf_count_t i = 0; i < tail; ++i) signal.push_back(samples[static_cast<size_t>(i * info.channels)]);
  signal.insert(signal.end(), static_cast<size_t>(samplesPerFrame / 80),
                static_cast<short>(signal.back() > 0 ? -16383 : 16383));
  LTCDecoder* decoder = ltc_decoder_create(samplesPerFrame, 32);
  ltc_decoder_write_s16(decoder, signal.data(), signal.size(), 0);
  LTCFrameExt frame;
  int decoded = 0;
  const auto print = [](const char* which, const LTCFrameExt& f) {
    SMPTETimecode t;
    LTCFrame bits = f.ltc;
    ltc_frame_to_time(&t, &bits, 0);
    std::printf("%s label %02d:%02d:%02d%c%02d\n", which, t.hours, t.mins, t.secs,
                bits.dfbit != 0 ? ';' : ':', t.frame);
  };
  LTCFrameExt last{};
  while (ltc_decoder_read(decoder, &frame) != 0) {
    if (decoded++ == 0) print("first", frame);
    last = frame;
  }
  if (decoded > 0) print("last", last);
  std::printf("%d frames decoded in the last %lld samples\n", decoded, static_cast<long long>(tail));
  ltc_decoder_free(decoder);
  return decoded > 0 ? 0 : 1;
}
