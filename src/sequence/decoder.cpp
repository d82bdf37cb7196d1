// The four decompressors behind one set of calls. Each decodes one stream and stops at its
// end; the caller decides what may follow it (another stream, zero padding, nothing).
#include "sequence/decoder.h"

#include <bzlib.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>

#include "sequence/vector_state.h"

namespace kestra {

namespace {

// The parts of a gzip member's header, in order; those its flags name are there.
enum class HeaderStep { kFixed, kExtraLength, kExtra, kName, kComment, kHeaderCrc, kDone };

// A member's header read as it arrives, a byte at a time if need be.
struct GzipHeader {
  HeaderStep step = HeaderStep::kFixed;
  unsigned char flags = 0;
  uint32_t count = 0;  // bytes of the step read so far
  uint32_t value = 0;  // the step's little-endian field (XLEN, the header CRC) so far
  uint32_t extra = 0;  // XLEN
  uint32_t crc = 0;    // CRC32 of the header's bytes before its CRC, when it has one
  unsigned char fixed[10];
};

}  // namespace

struct Decoder {
  Compression compression;
  GzipHeader header;
  inflate_state gzip;
  bz_stream bz{};
  lzma_stream xz = LZMA_STREAM_INIT;
  ZSTD_DStream* zstd = nullptr;
};

namespace {

bool StartsWith(const unsigned char* p, std::size_t n, std::initializer_list<unsigned char> magic) {
  return n >= magic.size() && std::equal(magic.begin(), magic.end(), p);
}

// Whatever counts the libraries keep in unsigned ints, a block fits.
unsigned int ClampToUint(std::size_t n) {
  return static_cast<unsigned int>(std::min<std::size_t>(n, UINT_MAX));
}

bool StartBzip2(Decoder* d) {
  d->bz = bz_stream{};
  return BZ2_bzDecompressInit(&d->bz, 0, 0) == BZ_OK;
}

// A frame may ask for a window as large as the format allows (a file made for long-distance
// matching does); the memory is the frame's own request.
constexpr int kZstdWindowLogMax = 31;

bool StartZstd(Decoder* d) {
  d->zstd = ZSTD_createDStream();
  return d->zstd != nullptr &&
         !ZSTD_isError(ZSTD_DCtx_setParameter(d->zstd, ZSTD_d_windowLogMax, kZstdWindowLogMax));
}

// A gzip member: its header read here, its deflate data inflated and its CRC32 and ISIZE
// checked by isa-l.
bool StartGzip(Decoder* d) {
  d->header = GzipHeader();
  isal_inflate_init(&d->gzip);
  d->gzip.crc_flag = ISAL_GZIP_NO_HDR_VER;
  return true;
}

// A stream of each kind: gzip only (no zlib or raw deflate), xz without a memory limit and
// one stream at a time.
bool StartDecoder(Decoder* d) {
  switch (d->compression) {
    case Compression::kGzip:
      return StartGzip(d);
    case Compression::kBzip2:
      return StartBzip2(d);
    case Compression::kXz:
      return lzma_stream_decoder(&d->xz, UINT64_MAX, 0) == LZMA_OK;
    case Compression::kZstd:
      return StartZstd(d);
    case Compression::kNone:
      break;
  }
  return false;
}

// The header's flags, and those no member may set.
constexpr unsigned char kFlagHeaderCrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;
constexpr unsigned char kReservedFlags = 0xe0;
constexpr uint32_t kFixedHeader = 10;

// The step after `done`: the next field the flags name.
HeaderStep StepAfter(const GzipHeader& h, HeaderStep done) {
  const struct {
    HeaderStep step;
    unsigned char flag;
  } fields[] = {{HeaderStep::kExtraLength, kFlagExtra},
                {HeaderStep::kName, kFlagName},
                {HeaderStep::kComment, kFlagComment},
                {HeaderStep::kHeaderCrc, kFlagHeaderCrc}};
  for (const auto& field : fields) {
    if (field.step > done && (h.flags & field.flag)) return field.step;
  }
  return HeaderStep::kDone;
}

void Enter(GzipHeader* h, HeaderStep step) {
  h->step = step;
  h->count = 0;
  h->value = 0;
}

// Takes one byte of the header; false when no gzip member starts so: its magic number, its
// method (deflate), its reserved flags, or its CRC is wrong.
bool TakeHeaderByte(GzipHeader* h, unsigned char byte) {
  const bool checked = (h->flags & kFlagHeaderCrc) && h->step != HeaderStep::kHeaderCrc;
  if (checked) h->crc = crc32_gzip_refl(h->crc, &byte, 1);
  switch (h->step) {
    case HeaderStep::kFixed:
      h->fixed[h->count++] = byte;
      if (h->count < kFixedHeader) return true;
      h->flags = h->fixed[3];
      if (h->fixed[0] != 0x1f || h->fixed[1] != 0x8b || h->fixed[2] != 8 ||
          (h->flags & kReservedFlags)) {
        return false;
      }
      if (h->flags & kFlagHeaderCrc) h->crc = crc32_gzip_refl(0, h->fixed, kFixedHeader);
      Enter(h, StepAfter(*h, HeaderStep::kFixed));
      return true;
    case HeaderStep::kExtraLength:
      h->value |= uint32_t{byte} << (8 * h->count++);
      if (h->count < 2) return true;
      h->extra = h->value;
      Enter(h, h->extra > 0 ? HeaderStep::kExtra : StepAfter(*h, HeaderStep::kExtra));
      return true;
    case HeaderStep::kExtra:
      if (++h->count == h->extra) Enter(h, StepAfter(*h, HeaderStep::kExtra));
      return true;
    case HeaderStep::kName:
    case HeaderStep::kComment:
      if (byte == 0) Enter(h, StepAfter(*h, h->step));
      return true;
    case HeaderStep::kHeaderCrc:
      h->value |= uint32_t{byte} << (8 * h->count++);
      if (h->count < 2) return true;
      if (h->value != (h->crc & 0xffff)) return false;
      Enter(h, HeaderStep::kDone);
      return true;
    case HeaderStep::kDone:
      break;
  }
  return true;
}

// Reads the header from the input, as far as it goes; false for a header that is wrong.
bool ReadHeader(GzipHeader* h, const char** in, std::size_t* in_n) {
  while (h->step != HeaderStep::kDone && *in_n > 0) {
    const auto byte = static_cast<unsigned char>(**in);
    ++*in;
    --*in_n;
    if (!TakeHeaderByte(h, byte)) return false;
  }
  return true;
}

DecodeStatus Inflate(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                     std::size_t* produced) {
  *produced = 0;
  if (!ReadHeader(&d->header, in, in_n)) return DecodeStatus::kCorrupt;
  if (d->header.step != HeaderStep::kDone) return DecodeStatus::kGoing;
  inflate_state* gz = &d->gzip;
  gz->next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(*in));
  gz->avail_in = ClampToUint(*in_n);
  gz->next_out = reinterpret_cast<uint8_t*>(out);
  gz->avail_out = ClampToUint(out_n);
  const uint32_t given = gz->avail_in, room = gz->avail_out;
  const int status = isal_inflate(gz);
  ClearWideVectorState();
  // At the member's end the inflater hands back the input it read past it.
  *in += given - gz->avail_in;
  *in_n -= given - gz->avail_in;
  *produced = room - gz->avail_out;
  if (status < 0) return DecodeStatus::kCorrupt;  // bad data, CRC32 or ISIZE
  return gz->block_state == ISAL_BLOCK_FINISH ? DecodeStatus::kStreamEnd : DecodeStatus::kGoing;
}

// What bzip2's status means for the stream.
DecodeStatus Bzip2Status(int status) {
  if (status == BZ_STREAM_END) return DecodeStatus::kStreamEnd;
  if (status == BZ_OK) return DecodeStatus::kGoing;
  return status == BZ_MEM_ERROR ? DecodeStatus::kNoMemory : DecodeStatus::kCorrupt;
}

// What xz's status means for the stream; a buffer error is no progress without more input.
DecodeStatus XzStatus(lzma_ret status) {
  if (status == LZMA_STREAM_END) return DecodeStatus::kStreamEnd;
  if (status == LZMA_OK || status == LZMA_BUF_ERROR) return DecodeStatus::kGoing;
  return status == LZMA_MEM_ERROR ? DecodeStatus::kNoMemory : DecodeStatus::kCorrupt;
}

DecodeStatus Bunzip2(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                     std::size_t* produced) {
  bz_stream* bz = &d->bz;
  bz->next_in = const_cast<char*>(*in);
  bz->avail_in = ClampToUint(*in_n);
  bz->next_out = out;
  bz->avail_out = ClampToUint(out_n);
  const unsigned int given = bz->avail_in;
  const int status = BZ2_bzDecompress(bz);
  *in += given - bz->avail_in;
  *in_n -= given - bz->avail_in;
  *produced = out_n - bz->avail_out;
  return Bzip2Status(status);
}

DecodeStatus Unxz(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                  std::size_t* produced) {
  lzma_stream* xz = &d->xz;
  xz->next_in = reinterpret_cast<const uint8_t*>(*in);
  xz->avail_in = *in_n;
  xz->next_out = reinterpret_cast<uint8_t*>(out);
  xz->avail_out = out_n;
  const lzma_ret status = lzma_code(xz, LZMA_RUN);
  *in += *in_n - xz->avail_in;
  *in_n = xz->avail_in;
  *produced = out_n - xz->avail_out;
  return XzStatus(status);
}

DecodeStatus Unzstd(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                    std::size_t* produced) {
  ZSTD_inBuffer from{*in, *in_n, 0};
  ZSTD_outBuffer to{out, out_n, 0};
  const std::size_t left = ZSTD_decompressStream(d->zstd, &to, &from);
  *in += from.pos;
  *in_n -= from.pos;
  *produced = to.pos;
  if (ZSTD_isError(left)) {
    return ZSTD_getErrorCode(left) == ZSTD_error_memory_allocation ? DecodeStatus::kNoMemory
                                                                   : DecodeStatus::kCorrupt;
  }
  // 0: the frame is decoded and all of it handed out.
  return left == 0 ? DecodeStatus::kStreamEnd : DecodeStatus::kGoing;
}

}  // namespace

Compression CompressionOf(const unsigned char* p, std::size_t n) {
  if (StartsWith(p, n, {0x1f, 0x8b})) return Compression::kGzip;
  if (StartsWith(p, n, {'B', 'Z', 'h'}) && n >= 4 && p[3] >= '1' && p[3] <= '9') {
    return Compression::kBzip2;
  }
  if (StartsWith(p, n, {0xfd, '7', 'z', 'X', 'Z', 0x00})) return Compression::kXz;
  if (StartsWith(p, n, {0x28, 0xb5, 0x2f, 0xfd})) return Compression::kZstd;
  // A skippable frame (magic 0x184D2A50 to 0x184D2A5F) may come first, as the one that a
  // parallel compressor writes before each frame to tell its size.
  if (n >= 4 && (p[0] & 0xf0) == 0x50 && StartsWith(p + 1, n - 1, {0x2a, 0x4d, 0x18})) {
    return Compression::kZstd;
  }
  return Compression::kNone;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return "gzip";
    case Compression::kBzip2:
      return "bzip2";
    case Compression::kXz:
      return "xz";
    case Compression::kZstd:
      return "zstd";
    case Compression::kNone:
      break;
  }
  return "plain";
}

bool CanStartStream(Compression compression, unsigned char byte) {
  switch (compression) {
    case Compression::kGzip:
      return byte == 0x1f;
    case Compression::kBzip2:
      return byte == 'B';
    case Compression::kXz:
      return byte == 0xfd;
    case Compression::kZstd:  // a frame, or a skippable frame (magic 0x184D2A5?)
      return byte == 0x28 || (byte & 0xf0) == 0x50;
    case Compression::kNone:
      break;
  }
  return false;
}

std::size_t StreamPaddingUnit(Compression compression) {
  return compression == Compression::kXz ? 4 : 0;
}

Decoder* NewDecoder(Compression compression) {
  auto* d = new Decoder();
  d->compression = compression;
  if (!StartDecoder(d)) {
    FreeDecoder(d);
    return nullptr;
  }
  return d;
}

bool RestartDecoder(Decoder* d) {
  // zstd's session is reset over its context; bzip2's state is ended first; gzip and xz are
  // set up again over their own memory.
  if (d->compression == Compression::kZstd) {
    return !ZSTD_isError(ZSTD_DCtx_reset(d->zstd, ZSTD_reset_session_only));
  }
  if (d->compression == Compression::kBzip2) BZ2_bzDecompressEnd(&d->bz);
  return StartDecoder(d);
}

DecodeStatus Decode(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                    std::size_t* produced) {
  switch (d->compression) {
    case Compression::kGzip:
      return Inflate(d, in, in_n, out, out_n, produced);
    case Compression::kBzip2:
      return Bunzip2(d, in, in_n, out, out_n, produced);
    case Compression::kXz:
      return Unxz(d, in, in_n, out, out_n, produced);
    case Compression::kZstd:
      return Unzstd(d, in, in_n, out, out_n, produced);
    case Compression::kNone:
      break;
  }
  *produced = 0;
  return DecodeStatus::kCorrupt;
}

void FreeDecoder(Decoder* d) {
  if (d == nullptr) return;
  switch (d->compression) {
    case Compression::kGzip:  // the inflater holds no memory of its own
      break;
    case Compression::kBzip2:
      BZ2_bzDecompressEnd(&d->bz);
      break;
    case Compression::kXz:
      lzma_end(&d->xz);
      break;
    case Compression::kZstd:
      ZSTD_freeDStream(d->zstd);
      break;
    case Compression::kNone:
      break;
  }
  delete d;
}

}  // namespace kestra
