#include "output/compressed.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts_log.h>
#include <htslib/thread_pool.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "output/text_sink.h"

namespace kestra {

namespace {

BGZF* Compressor(FileDestination* to) { return static_cast<BGZF*>(to->compressor); }

bool Fails(FileDestination* to) {
  to->failed = true;
  to->error = errno != 0 ? errno : EIO;
  return false;
}

}  // namespace

hts_tpool* StartCompressionThreads(int threads) {
  // The run says what went wrong in its own words.
  hts_set_log_level(HTS_LOG_OFF);
  return hts_tpool_init(threads);
}

void StopCompressionThreads(hts_tpool* pool) {
  if (pool != nullptr) hts_tpool_destroy(pool);
}

bool StartCompressing(FileDestination* to, int level, hts_tpool* pool, bool index_blocks) {
  // The compressor closes what it is given: a descriptor of its own, so that the file stays
  // open for putting in place.
  const int fd = dup(to->fd);
  if (fd < 0) return Fails(to);
  const std::string mode = level < 0 ? "w" : "w" + std::to_string(level);
  BGZF* bgzf = bgzf_dopen(fd, mode.c_str());
  if (bgzf == nullptr) {
    close(fd);
    return Fails(to);
  }
  to->compressor = bgzf;
  to->compressor_fd = fd;
  // The index is begun before any thread takes a block.
  if (index_blocks && bgzf_index_build_init(bgzf) != 0) return Fails(to);
  if (pool != nullptr && bgzf_thread_pool(bgzf, pool, 256) != 0) return Fails(to);
  return true;
}

bool WriteCompressed(FileDestination* to, const char* data, std::size_t n) {
  errno = 0;
  return bgzf_write(Compressor(to), data, n) == static_cast<ssize_t>(n) || Fails(to);
}

// The system's reason for a write that failed: blocks are written on the pool's threads, so
// it is the file's own record of it, read once the blocks in flight are written.
void TakeSystemReason(FileDestination* to) {
  BGZF* bgzf = Compressor(to);
  errno = 0;
  if (bgzf_flush(bgzf) != 0 && !to->failed) Fails(to);
  if (to->failed && herrno(bgzf->fp) != 0) to->error = herrno(bgzf->fp);
}

bool FinishCompressing(FileDestination* to, int index_fd) {
  BGZF* bgzf = Compressor(to);
  if (bgzf == nullptr) return !to->failed;
  TakeSystemReason(to);
  bool ok = !to->failed;
  errno = 0;
  if (index_fd >= 0) {
    hFILE* index = hdopen(index_fd, "w");
    ok = ok && index != nullptr && bgzf_index_dump_hfile(bgzf, index, nullptr) == 0;
    if (index != nullptr && hclose(index) != 0) ok = false;
    if (!ok && !to->failed) Fails(to);
  }
  errno = 0;
  if (bgzf_close(bgzf) != 0 && !to->failed) Fails(to);
  to->compressor = nullptr;
  to->compressor_fd = -1;
  return ok && !to->failed;
}

void AbandonCompressing(FileDestination* to) {
  BGZF* bgzf = Compressor(to);
  if (bgzf == nullptr) return;
  // Closing writes what is left and the end-of-file block: to nowhere, so that a file (or
  // standard output) of a failed run does not end as a whole BGZF file would.
  const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nowhere >= 0) {
    dup2(nowhere, to->compressor_fd);
    close(nowhere);
  }
  bgzf_close(bgzf);
  to->compressor = nullptr;
  to->compressor_fd = -1;
}

}  // namespace kestra
