// Writes what a stampline run writes, and nothing more: a 44-byte header,
// then one write of a fixed frame-sized block per frame through the same
// stdio buffer, then the size patch. The time it takes is what the disk and
// the C library cost; stampline's time beyond it is the cost of the encoder.
//
// usage: plain_writer PATH FRAMES BYTES_PER_FRAME
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: plain_writer PATH FRAMES BYTES_PER_FRAME\n", stderr);
    return 2;
  }
  const long frames = std::atol(argv[2]);
  const auto frameBytes = static_cast<size_t>(std::atol(argv[3]));
  std::vector<char> stdioBuffer(size_t{1} << 20);
  std::vector<char> frame(frameBytes, 0x55);
  const char header[44] = "RIFF";

  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) return 1;
  std::setvbuf(file, stdioBuffer.data(), _IOFBF, stdioBuffer.size());
  bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  for (long i = 0; i < frames && ok; ++i) ok = std::fwrite(frame.data(), 1, frameBytes, file) == frameBytes;
  ok = ok && std::fseek(file, 40, SEEK_SET) == 0 && std::fwrite(header, 1, 4, file) == 4 &&
       std::fseek(file, 4, SEEK_SET) == 0 && std::fwrite(header, 1, 4, file) == 4;
  ok = std::fclose(file) == 0 && ok;
  return ok ? 0 : 1;
}
