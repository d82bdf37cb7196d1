// The FASTA reader on arbitrary bytes: from a file descriptor (plain or gzip), and through
// the scanner in blocks, which must agree with the whole-input result.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "sequence/fasta.h"

static FastaStatus ScanInBlocks(const uint8_t* data, size_t size, size_t block, FastaEntry* e) {
  FastaScanner* scanner = NewFastaScanner(e, 64);  // a small limit reaches the too-long path
  for (size_t at = 0; at < size; at += block) {
    const size_t n = size - at < block ? size - at : block;
    if (!FastaScannerFeed(scanner, reinterpret_cast<const char*>(data) + at, n)) break;
  }
  return FastaScannerFinish(scanner);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fasta", 0);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    std::abort();
  }
  FastaEntry from_fd;
  ReadFastaFile(fd, &from_fd);
  close(fd);
  FastaEntry whole, pieces;
  const FastaStatus a = ScanInBlocks(data, size, size + 1, &whole);
  const FastaStatus b = ScanInBlocks(data, size, 1 + (size > 0 ? data[0] % 13 : 0), &pieces);
  if (a != b || whole.name != pieces.name || whole.seq != pieces.seq) std::abort();
  return 0;
}
