// Micro-benchmarks: the scan-statistic p-value and the run/window detection on a random
// binary sequence the size of a bacterial genome.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "segments/segments.h"
#include "stats/scan.h"

using namespace kestra;

namespace {

constexpr int kGenomeLength = 4600000;
constexpr double kP = 0.25;  // probability of a special residue, as for A in an even genome
constexpr int kLinkage = 3;  // 2/(3p) rounded, the estimated linkage distance for kP
constexpr double kMinPVal = 0.05;

// The special bits of L cells (each special with probability kP), the word of 0 after them;
// fixed seed, built once.
const std::vector<uint64_t>& RandomBits() {
  static const std::vector<uint64_t> bits = [] {
    std::vector<uint64_t> v(kGenomeLength / 64 + 2, 0);
    std::mt19937 gen(20240601u);
    std::bernoulli_distribution special(kP);
    for (int i = 0; i < kGenomeLength; ++i) v[i / 64] |= uint64_t{special(gen)} << (i % 64);
    return v;
  }();
  return bits;
}

void BM_ScanP(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const int w = static_cast<int>(state.range(1));
  ScanWorkspace ws;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ScanPValue(k, w, kGenomeLength, kP, &ws));
  }
}

// k from 5 to 50, w from 10 to 1000, only pairs with k <= w.
void ScanArgs(benchmark::internal::Benchmark* b) {
  for (int w : {10, 100, 1000}) {
    for (int k : {5, 10, 20, 50}) {
      if (k <= w) b->Args({k, w});
    }
  }
  b->ArgNames({"k", "w"});
}
BENCHMARK(BM_ScanP)->Apply(ScanArgs);

void BM_MergedRuns(benchmark::State& state) {
  const std::vector<uint64_t>& bits = RandomBits();
  int merged = 0;
  for (auto _ : state) {
    MergedRunWalk walk = StartMergedRunWalk(bits.data(), kGenomeLength, kLinkage, 0, kGenomeLength);
    merged = 0;
    for (Span s; NextMergedSegment(bits.data(), &walk, &s);) ++merged;
    benchmark::DoNotOptimize(merged);
  }
  state.counters["merged"] = merged;
}
BENCHMARK(BM_MergedRuns)->Unit(benchmark::kMillisecond);

void BM_WindowWalk(benchmark::State& state) {
  const std::vector<uint64_t>& bits = RandomBits();
  const int w = static_cast<int>(state.range(0));
  WindowScores scores;
  PrepareWindowScores(&scores, w, kGenomeLength, kP, kMinPVal);
  int windows = 0;
  for (auto _ : state) {
    WindowWalk walk = StartWindowWalk(bits.data(), &scores, false, kLinkage, 0, kGenomeLength);
    windows = 0;
    for (Span s; NextWindowSegment(bits.data(), &scores, &walk, &s);) ++windows;
    benchmark::DoNotOptimize(windows);
  }
  state.counters["windows"] = windows;
}
BENCHMARK(BM_WindowWalk)->Arg(100)->Arg(1000)->ArgName("W")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
