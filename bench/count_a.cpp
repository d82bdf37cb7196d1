// The floor of a pass over a file: reads it (argument 1) in 1 MiB blocks with read(2) and
// prints how many bytes are 'A', so the work cannot be skipped.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: count_a FILE\n");
    return 1;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<char> block(1 << 20);
  unsigned long long count = 0;
  for (;;) {
    const ssize_t got = read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror(argv[1]);
      return 1;
    }
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) count += block[i] == 'A';
  }
  close(fd);
  std::printf("%llu\n", count);
  return 0;
}
