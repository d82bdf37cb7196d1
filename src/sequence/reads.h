// Reads of a descriptor that a signal does not cut short.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace kestra {

// Up to n bytes from where the descriptor stands; -1 on a read error.
inline long ReadSome(int fd, char* buf, std::size_t n) {
  for (;;) {
    const ssize_t got = read(fd, buf, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Up to n bytes at `offset`; -1 on a read error.
inline long ReadSomeAt(int fd, char* buf, std::size_t n, uint64_t offset) {
  for (;;) {
    const ssize_t got = pread(fd, buf, n, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace kestra
