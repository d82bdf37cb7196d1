// The time from a scope's start to its end, added to a total of nanoseconds: where a run
// spends its time writing, reading in turn or waiting, for the benchmarks (KESTRA_TIMES).
#pragma once

#include <chrono>
#include <cstdint>

namespace kestra {

// Counter: uint64_t, or std::atomic<uint64_t> where several threads add to it.
template <typename Counter>
struct TimeSpent {
  explicit TimeSpent(Counter* to) : total(to) {}
  ~TimeSpent() {
    const auto spent = std::chrono::steady_clock::now() - start;
    *total +=
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
  }
  TimeSpent(const TimeSpent&) = delete;
  TimeSpent& operator=(const TimeSpent&) = delete;
  Counter* total;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

}  // namespace kestra
