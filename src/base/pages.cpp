#include "base/pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestra {

void AdviseHugePages(const void* p, std::size_t n) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kHuge - 1);
  // Only a hint: where the kernel has no huge pages, or refuses, nothing changes.
  if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace kestra
