#include "run/limits.h"

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>

#include "entry/entry.h"

namespace kestra {

RunLimits RunLimitsFromEnvironment() {
  RunLimits limits;
  limits.times = std::getenv("KESTRA_TIMES") != nullptr;
  const char* text = std::getenv("KESTRA_TEST_LIMITS");
  if (text == nullptr) return limits;
  const std::string all = text;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t comma = std::min(all.find(',', at), all.size());
    const std::string item = all.substr(at, comma - at);
    at = comma + 1;
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = item.substr(0, eq);
    const unsigned long long value = std::strtoull(item.c_str() + eq + 1, nullptr, 10);
    if (value == 0 && key != "waiting") continue;
    if (key == "entries") limits.job_entries = value;
    if (key == "letters") limits.job_letters = value;
    if (key == "waiting") limits.waiting = value;
    if (key == "range") limits.range = value;
    if (key == "piece") {
      const unsigned long long quantum = static_cast<unsigned long long>(kPieceQuantum);
      limits.piece = static_cast<int64_t>((value + quantum - 1) / quantum * quantum);
    }
    if (key == "cores") limits.cores = static_cast<int>(std::min<unsigned long long>(value, 1024));
    if (key == "length") limits.max_letters = std::min<std::size_t>(value, kFastaMaxLetters);
  }
  return limits;
}

int UsableThreads(int requested, const RunLimits& limits) {
  int cores = limits.cores;
  if (cores == 0) {
    cpu_set_t set;
    cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  }
  return std::max(1, std::min(requested, cores > 0 ? cores : requested));
}

}  // namespace kestra
