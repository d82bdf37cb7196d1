// Memory for large buffers: touched a page at a time, a buffer of hundreds of MiB costs as
// much again in page faults as the work on it, so the kernel is asked for huge pages.
#pragma once

#include <cstddef>

namespace kestra {

// Asks for huge pages for the whole 2 MiB spans of [p, p + n); changes no byte. Call it
// before the memory is first written.
void AdviseHugePages(const void* p, std::size_t n);

}  // namespace kestra
