#include "random/generator.h"

#include <cstdlib>
#include <ctime>

#include "driver/fatal.h"

static const char kNotInitialized[] = "\nERROR: RAN1() was not initialized";

static constexpr int64_t kA = 16807;
static constexpr int64_t kM = 2147483647;
static constexpr int64_t kQ = 127773;  // kM / kA
static constexpr int64_t kR = 2836;    // kM % kA
static constexpr int kTable = 32;
static constexpr int64_t kDiv = 1 + (kM - 1) / kTable;
static constexpr double kScale = 1.0 / 2147483647;
static constexpr double kBelowOne = 0.9999999999999998;

// The generator's state: the congruential stream, the last output and the shuffle table.
struct GeneratorState {
  int64_t idum = 0;
  bool not_initialized = true;
  int64_t iy = 0;
  int64_t iv[kTable] = {};
};
static GeneratorState g_ran;

// 16807 * s mod (2^31 - 1) without overflow (Schrage's factorisation).
static int64_t Step(int64_t s) {
  const int64_t k = s / kQ;
  int64_t next = kA * (s - k * kQ) - kR * k;
  if (next < 0) next += kM;
  return next;
}

static void FillTable() {
  g_ran.idum = -g_ran.idum > 0 ? -g_ran.idum : 1;
  for (int j = kTable + 7; j >= 0; --j) {
    g_ran.idum = Step(g_ran.idum);
    if (j < kTable) g_ran.iv[j] = g_ran.idum;
  }
  g_ran.iy = g_ran.iv[0];
}

double ran1(double x) {
  if (g_ran.not_initialized) Fatal(FatalStream::kStdout, kNotInitialized);
  if (g_ran.idum <= 0 || g_ran.iy == 0) FillTable();
  g_ran.idum = Step(g_ran.idum);
  const int j = static_cast<int>(g_ran.iy / kDiv);
  const int64_t out = g_ran.iv[j];
  g_ran.iv[j] = g_ran.idum;
  g_ran.iy = out;
  double u = static_cast<double>(out) * kScale;
  if (u > kBelowOne) u = kBelowOne;
  return u * x;
}

void init_ran1(int64_t seed) {
  if (seed != 0) {
    g_ran.idum = seed;
  } else {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (int i = 0; i < 100; ++i) g_ran.idum = std::rand();
  }
  if (g_ran.idum > 0) g_ran.idum = -g_ran.idum;
  g_ran.not_initialized = false;
  if (g_ran.idum == 0) g_ran.idum = -123456789;
  for (int i = 0; i < 100; ++i) ran1(1000.0);
}
