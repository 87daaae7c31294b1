// Writes what a stampline run writes, and nothing more: the same number of
// bytes, in blocks of the same size (256 KiB), each with one write(2) from a
// buffer filled once. Its time is what the system costs; stampline's time
// beyond it is the cost of rendering the signal.
//
// usage: plain_writer PATH BYTES
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: plain_writer PATH BYTES\n", stderr);
    return 2;
  }
  unsigned long long left = std::strtoull(argv[2], nullptr, 10);
  const std::vector<char> block(size_t{256} << 10, 0x55);
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return 1;
  while (left > 0) {
    const size_t n = static_cast<size_t>(std::min<unsigned long long>(left, block.size()));
    if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) return 1;
    left -= n;
  }
  return close(fd) == 0 ? 0 : 1;
}
