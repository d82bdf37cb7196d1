// The overall line's p-value by the normal approximation: its tails, and at the cost of a
// formula against the straightforward 20-stage integration it replaces, the same "%e" text
// for every case and the integration never further from the closed form than the bound the
// shortcut relies on.
//
// KESTRA_OVERALL_CASES sets how many cases (a few thousand by default; CI runs over a
// million, `make test-overall`), KESTRA_OVERALL_DATABASE a FASTA file whose every entry is a
// case as the report scores it (the benchmark database).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sequence/composition.h"
#include "sequence/fasta.h"
#include "stats/normal.h"

using namespace kestra;

namespace {

// The overall test of k special residues in n positions of probability p, by one of its
// tails: the upper, P(X >= k), or the lower, P(X <= k). Which tail the report takes is its
// own choice, which the end-to-end goldens hold; here each case names its tail.
struct Case {
  int k, n;
  double p;
  bool upper;
};

// The integration limits the tail takes.
std::pair<double, double> Limits(const Case& c) {
  const double mean = static_cast<double>(c.n) * c.p;
  const double sd = std::sqrt((1.0 - c.p) * mean);
  const double upper = ((c.k - 0.5) - mean) / sd, lower = ((c.k + 0.5) - mean) / sd;
  return c.upper ? std::make_pair(upper, upper + 10) : std::make_pair(lower - 10, lower);
}

std::string Printed(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%e", x);
  return text;
}

// Every entry of a FASTA file, scored as the report scores it with A special, by both tails.
void DatabaseCases(const char* path, std::vector<Case>* cases) {
  const int fd = open(path, O_RDONLY);
  ASSERT_GE(fd, 0) << path;
  FastaReader* reader = OpenFastaReader(fd);
  FastaEntry entry;
  std::vector<uint64_t> bits;
  for (FastaStatus status; NextFastaEntry(reader, &entry, &status);) {
    const int64_t n = static_cast<int64_t>(entry.letters.size());
    bits.assign(static_cast<std::size_t>(n) / 64 + 2, 0);
    int64_t counts[4] = {0, 0, 0, 0};
    EncodeLetters(&entry.letters[0], 0, n, "A", bits.data(), counts);
    double freq[4];
    if (status != FastaStatus::kOk || !FrequenciesOf(counts, freq)) continue;
    for (const bool upper : {false, true}) {
      cases->push_back({static_cast<int>(counts[0]), static_cast<int>(n), freq[0], upper});
    }
  }
  CloseFastaReader(reader);
  close(fd);
}

// Random cases: lengths from 1 to 10^8, probabilities near the ends and in between, counts
// from a few standard deviations either side of the mean (and the ends), each by the tail on
// the side it was drawn, so both tails and variances below 5 come often.
Case RandomCase(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int n = std::max(1, static_cast<int>(std::pow(10.0, 8.0 * unit(rng))));
  const double p = rng() % 4 == 0 ? std::pow(10.0, -6.0 * unit(rng)) : unit(rng) * 0.999 + 0.0005;
  const double mean = n * p, sd = std::sqrt(n * p * (1 - p));
  const double spread = rng() % 8 == 0 ? 40.0 : 6.0;
  const double side = 2 * unit(rng) - 1;
  const long long k = std::llround(mean + sd * spread * side);
  return {static_cast<int>(std::clamp<long long>(k, 0, n)), n, p, side >= 0};
}

// The closed form's printed text for the case at probability p.
std::string PrintedAt(Case c, double p) {
  c.p = p;
  const auto [a, b] = Limits(c);
  return Printed(NormalIntegral(a, b));
}

// A case whose closed form lies within a few units in the last place of a rounding boundary
// of its printed digits: the probability is moved, by bisection, to where the printed text
// changes.
Case NearABoundary(std::mt19937_64& rng) {
  for (;;) {
    Case c = RandomCase(rng);
    const std::string first = PrintedAt(c, c.p);
    double lo = c.p, hi = std::min(0.9999, c.p * (1 + 1e-5));
    if (c.n < 10 || PrintedAt(c, hi) == first) continue;
    for (int i = 0; i < 80 && lo < hi; ++i) {
      const double mid = 0.5 * (lo + hi);
      (PrintedAt(c, mid) == first ? lo : hi) = mid;
    }
    c.p = rng() % 2 ? lo : hi;
    for (int steps = rng() % 8; steps > 0; --steps)
      c.p = std::nextafter(c.p, rng() % 2 ? 1.0 : 0.0);
    return c;
  }
}

TEST(Normal, PrintedIntegralAgreesWithTheIntegration) {
  const char* wanted = std::getenv("KESTRA_OVERALL_CASES");
  const std::size_t total = wanted != nullptr ? std::strtoull(wanted, nullptr, 10) : 2000;
  std::vector<Case> cases;
  if (const char* database = std::getenv("KESTRA_OVERALL_DATABASE")) {
    DatabaseCases(database, &cases);
  }
  std::mt19937_64 rng(20261207);
  while (cases.size() < total) {
    cases.push_back(cases.size() % 20 == 0 ? NearABoundary(rng) : RandomCase(rng));
  }
  // Both ways for every case, on every core; then the tallies.
  std::vector<double> fast(cases.size()), reference(cases.size());
  std::vector<char> differ(cases.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> threads(std::max(1u, std::thread::hardware_concurrency()));
  for (std::thread& t : threads) {
    t = std::thread([&] {
      for (std::size_t i; (i = next++) < cases.size();) {
        const auto [a, b] = Limits(cases[i]);
        reference[i] = SimpsonIntegral(a, b);
        fast[i] = PrintedIntegral(a, b);
        differ[i] = Printed(fast[i]) != Printed(reference[i]);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::size_t integrated = 0, mismatches = 0, upper = 0, small_variance = 0;
  double worst = 0.0;  // the largest relative distance seen where the closed form stood
  std::string first_mismatch;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    upper += c.upper;
    small_variance += c.n * c.p * (1 - c.p) < 5.0;
    // Integrated (or, seldom, the same double by both ways).
    integrated += fast[i] == reference[i];
    if (fast[i] != reference[i])
      worst = std::max(worst, std::fabs(reference[i] - fast[i]) / fast[i]);
    if (differ[i] && mismatches++ == 0) {
      first_mismatch = std::to_string(c.k) + " of " + std::to_string(c.n) + ", p " + Printed(c.p) +
                       ": " + Printed(fast[i]) + " vs " + Printed(reference[i]);
    }
  }
  EXPECT_EQ(mismatches, 0u) << first_mismatch;
  EXPECT_LE(worst, kSimpsonError);
  // The shortcut must stand for almost every case, and both tails and small variances come.
  EXPECT_LT(integrated, cases.size() / 8 + 10);
  EXPECT_GT(upper, cases.size() / 10);
  EXPECT_LT(upper, cases.size() * 9 / 10);
  EXPECT_GT(small_variance, cases.size() / 50);
  std::printf(
      "%zu cases (%zu upper tails, %zu of variance below 5): %zu integrated, the "
      "largest distance where the closed form stood %.3g (bound %.3g)\n",
      cases.size(), upper, small_variance, integrated, worst, kSimpsonError);
}

// Both tails, the validity bound (a variance of 5, n 20 and p 0.5, is still valid), tails
// far out where the density underflows, and p at 0 and 1, where the tails are exact.
TEST(Normal, Tails) {
  const struct {
    bool upper;
    int k, n;
    double p;
    const char* want;  // printed with %e
    int valid;
  } cases[] = {
      {true, 300, 1000, 0.25, "1.501919e-04", 1},  {false, 230, 1000, 0.25, "7.721185e-02", 1},
      {true, 250, 1000, 0.25, "5.145641e-01", 1},  {false, 250, 1000, 0.25, "5.145641e-01", 1},
      {true, 5, 10, 0.25, "7.206352e-02", 0},      {true, 10, 20, 0.5, "5.884684e-01", 1},
      {true, 1000, 1000, 0.25, "0.000000e+00", 1}, {false, 1000, 1000, 0.25, "0.000000e+00", 1},
      {true, 0, 50, 0.0, "1.000000e+00", 0},       {true, 1, 50, 0.0, "0.000000e+00", 0},
      {false, 0, 50, 0.0, "1.000000e+00", 0},      {true, 50, 50, 1.0, "1.000000e+00", 0},
      {true, 51, 50, 1.0, "0.000000e+00", 0},      {false, 49, 50, 1.0, "0.000000e+00", 0},
      {false, 50, 50, 1.0, "1.000000e+00", 0},
  };
  for (const auto& c : cases) {
    bool valid = false;
    const double q =
        c.upper ? NormalUpperTail(c.k, c.n, c.p, &valid) : NormalLowerTail(c.k, c.n, c.p, &valid);
    EXPECT_EQ(Printed(q) + std::to_string(valid), c.want + std::to_string(c.valid))
        << c.k << " of " << c.n << ", p " << c.p << (c.upper ? ", upper" : ", lower");
  }
}

}  // namespace
