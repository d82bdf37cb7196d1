// The size of the blocks files are read and written in: large enough that a system call's
// cost vanishes beside the work on its bytes, small enough that they stay in the caches.
#pragma once

#include <cstddef>

namespace kestra {

constexpr std::size_t kIoBlock = std::size_t{1} << 20;

}  // namespace kestra
