#include "ltc_signal.h"

#include <type_traits>

#include "run/signal.h"
#include "decode/channel_reader.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"

namespace stampline::testing {

std::vector<int16_t> renderLtc(const TestSignal& signal) {
  EncoderConfig config;
  config.volume = signal.volume;
  config.clean = signal.clean;
  config.noiseSeed = 1234;
  config.userBits = signal.userBits;
  config.channels = 1;
  config.coding = outputCoding(kPcm16);
  LtcEncoder encoder(signal.schedule(), config);
  BlockRenderer blocks(encoder, signal.frames, uint64_t{256} << 10);
  std::vector<int16_t> samples;
  while (!blocks.done()) {
    const std::span<const uint8_t> bytes = blocks.next();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
  }
  return samples;
}

template <typename T>
ReadBack readLtc(const std::vector<T>& samples, int32_t sampleRate, std::optional<FrameRate> stated,
                 std::optional<uint64_t> timeReference, size_t inParts) {
  ChannelReader reader(1, std::is_floating_point_v<T> ? 1.0 : 32767, {sampleRate, stated, timeReference});
  ReadBack back;
  for (size_t done = 0; done < samples.size();) {
    const size_t piece = std::min<size_t>(samples.size() - done, inParts > 0 ? inParts : ChannelReader::kScanFrames - 3 + done % 7);
    if (inParts > 0 && reader.splits(piece)) {
      reader.beginSplit(piece);
      // The second part first, in two pieces, as a thread may well do it.
      for (const int part : {1, 0}) {
        const ChannelReader::Range range = reader.partRange(part);
        const size_t first = range.count / 3;
        reader.readPiece(part, samples.data() + done + range.from, 1, first, back.rows);
        reader.readPiece(part, samples.data() + done + range.from + first, 1, range.count - first, back.rows);
      }
      reader.endSplit(back.rows);
    } else {
      reader.add(samples.data() + done, 1, piece, back.rows);
    }
    done += piece;
  }
  reader.finish(back.rows, false, samples.size());
  back.report = reader.report();
  return back;
}

template ReadBack readLtc(const std::vector<int16_t>&, int32_t, std::optional<FrameRate>, std::optional<uint64_t>,
                          size_t);
template ReadBack readLtc(const std::vector<float>&, int32_t, std::optional<FrameRate>, std::optional<uint64_t>,
                          size_t);

}  // namespace stampline::testing
