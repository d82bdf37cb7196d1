// The four decompressors behind one set of calls. Each decodes one stream and stops at its
// end; the caller decides what may follow it (another stream, zero padding, nothing).
#include "sequence/decoder.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>

namespace kestra {

struct Decoder {
  Compression compression;
  z_stream zs{};
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

// A stream of each kind: gzip only (no zlib or raw deflate), xz without a memory limit and
// one stream at a time.
bool StartDecoder(Decoder* d) {
  switch (d->compression) {
    case Compression::kGzip:
      return inflateInit2(&d->zs, 16 + MAX_WBITS) == Z_OK;
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

DecodeStatus Inflate(Decoder* d, const char** in, std::size_t* in_n, char* out, std::size_t out_n,
                     std::size_t* produced) {
  z_stream* zs = &d->zs;
  zs->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(*in));
  zs->avail_in = ClampToUint(*in_n);
  zs->next_out = reinterpret_cast<Bytef*>(out);
  zs->avail_out = ClampToUint(out_n);
  const unsigned int given = zs->avail_in;
  const int status = inflate(zs, Z_NO_FLUSH);
  *in += given - zs->avail_in;
  *in_n -= given - zs->avail_in;
  *produced = out_n - zs->avail_out;
  switch (status) {
    case Z_STREAM_END:
      return DecodeStatus::kStreamEnd;
    case Z_OK:
    case Z_BUF_ERROR:  // no progress without more input
      return DecodeStatus::kGoing;
    case Z_MEM_ERROR:
      return DecodeStatus::kNoMemory;
    default:
      return DecodeStatus::kCorrupt;
  }
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
  switch (status) {
    case BZ_STREAM_END:
      return DecodeStatus::kStreamEnd;
    case BZ_OK:
      return DecodeStatus::kGoing;
    case BZ_MEM_ERROR:
      return DecodeStatus::kNoMemory;
    default:
      return DecodeStatus::kCorrupt;
  }
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
  switch (status) {
    case LZMA_STREAM_END:
      return DecodeStatus::kStreamEnd;
    case LZMA_OK:
    case LZMA_BUF_ERROR:  // no progress without more input
      return DecodeStatus::kGoing;
    case LZMA_MEM_ERROR:
      return DecodeStatus::kNoMemory;
    default:
      return DecodeStatus::kCorrupt;
  }
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
  switch (d->compression) {
    case Compression::kGzip:
      return inflateReset(&d->zs) == Z_OK;
    case Compression::kBzip2:
      BZ2_bzDecompressEnd(&d->bz);
      return StartBzip2(d);
    case Compression::kXz:  // the decoder set up again over its own memory
      return lzma_stream_decoder(&d->xz, UINT64_MAX, 0) == LZMA_OK;
    case Compression::kZstd:
      return !ZSTD_isError(ZSTD_DCtx_reset(d->zstd, ZSTD_reset_session_only));
    case Compression::kNone:
      break;
  }
  return false;
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
    case Compression::kGzip:
      inflateEnd(&d->zs);
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
