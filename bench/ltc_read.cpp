// Feeds every channel of a WAV file to libltc's decoder, one decoder a
// channel, and prints how many frames each found: the yardstick for
// --analyze in analyze.sh.
//
// usage: ltc_read FILE
#include <ltc.h>
#include <sndfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: ltc_read FILE\n", stderr);
    return 2;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
  if (file == nullptr) {
    std::fprintf(stderr, "libsndfile: %s\n", sf_strerror(nullptr));
    return 1;
  }
  const auto channels = static_cast<size_t>(info.channels);
  // Frames of 30 fps as a guess; the decoder follows the speed it finds.
  const int samplesPerFrame = info.samplerate / 30;
  std::vector<LTCDecoder*> decoders;
  std::vector<long> found(channels, 0);
  for (size_t c = 0; c < channels; ++c) decoders.push_back(ltc_decoder_create(samplesPerFrame, 32));
  constexpr sf_count_t kBlock = 8192;
  std::vector<float> block(static_cast<size_t>(kBlock) * channels);
  std::vector<float> one(static_cast<size_t>(kBlock));
  ltc_off_t position = 0;
  for (sf_count_t got; (got = sf_readf_float(file, block.data(), kBlock)) > 0; position += got) {
    for (size_t c = 0; c < channels; ++c) {
      for (sf_count_t i = 0; i < got; ++i) one[static_cast<size_t>(i)] = block[static_cast<size_t>(i) * channels + c];
      ltc_decoder_write_float(decoders[c], one.data(), static_cast<size_t>(got), position);
      LTCFrameExt frame;
      while (ltc_decoder_read(decoders[c], &frame) != 0) ++found[c];
    }
  }
  for (size_t c = 0; c < channels; ++c) {
    std::printf("channel %zu: %ld frames\n", c + 1, found[c]);
    ltc_decoder_free(decoders[c]);
  }
  sf_close(file);
  return 0;
}
