// Prints every frame libltc's decoder reads from one channel of a WAV file,
// as a CSV like --analyze's: its first sample in the file's order, label,
// drop-frame flag, user bits (group 8 first) and direction. For scoring the
// degraded corpus against the same reader.
//
// usage: ltc_frames FILE [CHANNEL]
#include <ltc.h>
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: ltc_frames FILE [CHANNEL]\n", stderr);
    return 2;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "libsndfile: %s\n", sf_strerror(nullptr));
    return 1;
  }
  const auto channels = static_cast<size_t>(info.channels);
  const size_t channel = argc == 3 ? static_cast<size_t>(std::atoi(argv[2]) - 1) : 0;
  // Frames of 30 fps as a guess; the decoder follows the speed it finds.
  LTCDecoder* decoder = ltc_decoder_create(info.samplerate / 30, 32);
  constexpr sf_count_t kBlock = 8192;
  std::vector<float> block(static_cast<size_t>(kBlock) * channels);
  std::vector<float> one(static_cast<size_t>(kBlock));
  std::puts("sample,label,drop_frame,user_bits,direction");
  ltc_off_t position = 0;
  for (sf_count_t got; (got = sf_readf_float(file, block.data(), kBlock)) > 0; position += got) {
    for (sf_count_t i = 0; i < got; ++i) one[static_cast<size_t>(i)] = block[static_cast<size_t>(i) * channels + channel];
    ltc_decoder_write_float(decoder, one.data(), static_cast<size_t>(got), position);
    LTCFrameExt f;
    while (ltc_decoder_read(decoder, &f) != 0) {
      const LTCFrame& l = f.ltc;
      const unsigned bits = l.user8 << 28 | l.user7 << 24 | l.user6 << 20 | l.user5 << 16 | l.user4 << 12 |
                            l.user3 << 8 | l.user2 << 4 | l.user1;
      std::printf("%lld,%u%u:%u%u:%u%u%c%u%u,%u,%08X,%s\n", static_cast<long long>(f.off_start), l.hours_tens,
                  l.hours_units, l.mins_tens, l.mins_units, l.secs_tens, l.secs_units, l.dfbit ? ';' : ':',
                  l.frame_tens, l.frame_units, static_cast<unsigned>(l.dfbit), bits,
                  f.reverse ? "backward" : "forward");
    }
  }
  ltc_decoder_free(decoder);
  sf_close(file);
  return 0;
}
