// The format of an input told from its first bytes: compressed or not, by its magic bytes;
// FASTQ or FASTA, by the first byte of text that is not blank ('@' for FASTQ).
#include "sequence/sniff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "sequence/bgzf.h"
#include "sequence/byte_source.h"
#include "sequence/decoder.h"
#include "sequence/fasta.h"
#include "sequence/fastq.h"
#include "sequence/reads.h"

namespace kestra {

namespace {

// The first byte of text that is not blank, read through the decompressor from where the
// offset stands; 0 for none.
char FirstTextByte(int fd) {
  ByteSource* source = OpenByteSource(fd);
  char first = 0;
  PumpBytes(source, [&first](const char* data, std::size_t n) {
    const char* text = std::find_if_not(data, data + n, IsBlank);
    if (text == data + n) return true;
    first = *text;
    return false;
  });
  CloseByteSource(source);
  return first;
}

}  // namespace

bool IsFastqFile(int fd) {
  struct stat st;
  const off_t offset = lseek(fd, 0, SEEK_CUR);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || offset < 0) return false;
  // Plain text is looked at by position, a few bytes at a time.
  char block[4096];
  uint64_t at = static_cast<uint64_t>(offset);
  long got = ReadSomeAt(fd, block, sizeof block, at);
  if (got > 0 && CompressionOf(reinterpret_cast<const unsigned char*>(block),
                               static_cast<std::size_t>(got)) == Compression::kNone) {
    for (; got > 0; got = ReadSomeAt(fd, block, sizeof block, at)) {
      const char* text = std::find_if_not(block, block + got, IsBlank);
      if (text < block + got) return *text == '@';
      at += static_cast<uint64_t>(got);
    }
    return false;
  }
  const char first = got > 0 ? FirstTextByte(fd) : 0;
  lseek(fd, offset, SEEK_SET);
  return first == '@';
}

bool HoldsPlainFasta(int fd) {
  char head[4096];
  for (uint64_t at = 0;;) {
    const long got = ReadSomeAt(fd, head, sizeof head, at);
    if (got <= 0) return true;
    const std::size_t n = static_cast<std::size_t>(got);
    if (at == 0 &&
        CompressionOf(reinterpret_cast<const unsigned char*>(head), n) != Compression::kNone) {
      return false;
    }
    const char* text = std::find_if_not(head, head + n, IsBlank);
    if (text < head + n) return *text != '@';
    at += n;
  }
}

bool IsPlainFile(int fd, uint64_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return HoldsPlainFasta(fd);
}

bool BeginsWithBlock(int fd) {
  unsigned char head[kBlockHeaderBytes];
  const long got = ReadSomeAt(fd, reinterpret_cast<char*>(head), sizeof head, 0);
  BlockShape shape;
  std::size_t need = 0;
  return got > 0 && ReadBlockHeader(head, static_cast<std::size_t>(got), &shape, &need) !=
                        BlockHeader::kNotBlock;
}

bool BlocksHoldFasta(int fd, const ParallelLoop* loop) {
  ByteSource* source = OpenBlocksAt(fd, 0, loop, 1);
  const char* data = nullptr;
  long n;
  int first = -1;  // the first byte that is not blank
  while (first < 0 && (n = NextBytes(source, &data)) > 0) {
    const char* text = std::find_if_not(data, data + n, IsBlank);
    if (text < data + n) first = static_cast<unsigned char>(*text);
  }
  const bool failed = first < 0 && n < 0;
  CloseByteSource(source);
  return !failed && first != '@';
}

}  // namespace kestra
