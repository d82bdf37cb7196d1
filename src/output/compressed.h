// Outputs written as BGZF, the blocked gzip that the field's indexed readers read: compressed
// on a pool of threads as they are written, with the index of their blocks (.gzi) when asked.
#pragma once

#include <cstddef>

struct hts_tpool;

namespace kestra {

struct FileDestination;

// Compression threads, shared by every compressed output of a run.
hts_tpool* StartCompressionThreads(int threads);
void StopCompressionThreads(hts_tpool* pool);

// Makes what is written to `to` (open on its file) reach it as BGZF at `level` (0 to 9, -1
// for the default), the index of its blocks kept with `index_blocks`. False when that fails.
bool StartCompressing(FileDestination* to, int level, hts_tpool* pool, bool index_blocks);
// Writes the last blocks and the end-of-file block, and, given index_fd >= 0, the index of the
// blocks into that file (which it closes). False when any of it fails, errno in to->error.
bool FinishCompressing(FileDestination* to, int index_fd);
// Ends the compressor of an output that is not to be kept, nothing more reaching the file.
void AbandonCompressing(FileDestination* to);
// Writes n bytes through the compressor; false when that fails.
bool WriteCompressed(FileDestination* to, const char* data, std::size_t n);

}  // namespace kestra
