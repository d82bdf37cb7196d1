// What the FASTA and FASTQ scanners share: bytes fed through a table of stages.
#pragma once

#include <cstddef>

namespace kestra {

// Feeds n bytes of data through the scanner's stages, the stage in hand first: each takes the
// bytes from p on and returns where the next stage starts. Sets s->used to the bytes taken
// (all of them unless the scanner reached its kDone stage within them); true while it wants
// more bytes.
template <typename Scanner, std::size_t N>
bool FeedStages(Scanner* s, const char* (*const (&stages)[N])(Scanner*, const char*, const char*),
                const char* data, std::size_t n) {
  using Stage = decltype(s->stage);
  const char* p = data;
  const char* const end = data + n;
  s->used = n;
  while (p < end && s->stage != Stage::kDone) p = stages[static_cast<int>(s->stage)](s, p, end);
  if (s->stage == Stage::kDone) s->used = static_cast<std::size_t>(p - data);
  return s->stage != Stage::kDone;
}

}  // namespace kestra
