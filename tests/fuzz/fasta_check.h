// What the FASTA fuzz target checks on each input, kept out of the target so that a unit test
// can replay the corpus and show that a disagreement between the paths is noticed.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "sequence/decoder.h"
#include "sequence/fasta.h"
#include "sequence/fastq.h"

namespace kestra {

struct FastaResult {
  FastaStatus status;
  FastaEntry entry;
};

inline bool operator==(const FastaResult& a, const FastaResult& b) {
  return a.status == b.status && a.entry.header == b.entry.header &&
         a.entry.letters == b.entry.letters;
}

// The scanner fed `block` bytes at a time (1 to `block` bytes drawn from rng when given),
// stopping as soon as it says it is done.
inline FastaResult ScanBytes(const uint8_t* data, size_t size, size_t block, size_t max_letters,
                             std::mt19937* rng = nullptr) {
  FastaResult result{};
  FastaScanner* scanner = NewFastaScanner(&result.entry, max_letters);
  for (size_t at = 0, n = 0; at < size; at += n) {
    n = std::min(rng != nullptr ? 1 + (*rng)() % block : block, size - at);
    if (!FastaScannerFeed(scanner, reinterpret_cast<const char*>(data) + at, n)) break;
  }
  result.status = FastaScannerFinish(scanner);
  return result;
}

// ReadFastaFile on a file in memory holding the bytes; aborts when that file cannot be made.
inline FastaResult ReadFromMemoryFile(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fasta", 0);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    std::abort();
  }
  FastaResult result{};
  result.status = ReadFastaFile(fd, &result.entry);
  close(fd);
  return result;
}

// Whether the scanner gives one result however the input is cut into blocks, and, for plain
// FASTA (not compressed, not FASTQ), the same one as `from_fd`, ReadFastaFile's result on the
// same bytes. A small letter limit on the block comparison reaches the too-long path.
inline bool FastaPathsAgree(const uint8_t* data, size_t size, const FastaResult& from_fd) {
  const size_t block = 1 + (size > 0 ? data[0] % 13 : 0);
  if (!(ScanBytes(data, size, size + 1, 64) == ScanBytes(data, size, block, 64))) {
    return false;
  }
  const uint8_t* text = std::find_if_not(data, data + size, [](uint8_t c) { return IsBlank(c); });
  const bool plain_fasta =
      CompressionOf(data, size) == Compression::kNone && (text == data + size || *text != '@');
  return !plain_fasta || ScanBytes(data, size, size + 1, kFastaMaxLetters) == from_fd;
}

}  // namespace kestra
