// Writes the genome-scale benchmark input: one FASTA entry of exactly SIZE letters, 80 a
// line, alternating a real piece of 50-500 kbp (taken in turn from the letters of the given
// FASTA files, headers skipped, wrapping round) and a random piece of 10-100 kbp (uniform
// ACGT with a few A/T-rich stretches of 300-3000 letters, so that some segments stand out).
//
// Usage: make_genome [--entries N] SIZE OUTPUT [SOURCE.fa...]
//        make_genome --database COUNT OUTPUT [SHORTEST LONGEST]
//        make_genome --uniform LETTER SIZE OUTPUT [LAST]
//        make_genome --random COUNT LENGTH A_SHARE NAME OUTPUT
// Without a source every piece is random. --entries N cuts the same letters into N entries
// of equal length (the last takes the rest). --database writes COUNT entries of 500 to 2000
// random letters each (or SHORTEST to LONGEST), as a sequence database holds them.
// --uniform writes one entry of SIZE letters, all LETTER but the last, which is LAST (a
// chromosome's gap of N or C with one A after it, or a run of special residues).
// --random writes COUNT entries NAME_1 .. NAME_COUNT of LENGTH letters each, every letter A
// with probability A_SHARE and C, G or T alike otherwise, drawn from a generator seeded by
// NAME (so that files of other names hold other letters): random entries for the calibration
// of p-values and E-values, and entries rich in A planted among them.
//
// The random source is std::mt19937_64 with a fixed seed and every draw is mapped to a range
// by hand (the standard distributions differ between libraries), so the file is the same
// byte for byte on every machine given the same sources.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kLineWidth = 80;
constexpr std::uint64_t kSeed = 20240601;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "make_genome: %s\n", what.c_str());
  std::exit(1);
}

// Appends the letters of every non-header line of PATH to POOL.
void AppendLetters(const char* path, std::string& pool) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(std::string("cannot read ") + path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '>') continue;
    for (char c : line) {
      if (std::isalpha(static_cast<unsigned char>(c))) pool.push_back(c);
    }
  }
  if (in.bad()) Fail(std::string("error reading ") + path);
}

// A draw in [lo, hi], both ends included.
std::uint64_t Between(std::mt19937_64& rng, std::uint64_t lo, std::uint64_t hi) {
  return lo + rng() % (hi - lo + 1);
}

// Appends LENGTH letters from POOL starting at CURSOR, wrapping round; advances CURSOR.
void AppendReal(const std::string& pool, std::size_t& cursor, std::size_t length,
                std::string& out) {
  while (length > 0) {
    const std::size_t take = std::min(length, pool.size() - cursor);
    out.append(pool, cursor, take);
    cursor = (cursor + take) % pool.size();
    length -= take;
  }
}

// Appends LENGTH random letters: uniform ACGT, with 1-4 stretches where A and T each have
// probability 0.4 and C and G 0.1.
void AppendRandom(std::mt19937_64& rng, std::size_t length, std::string& out) {
  static const char kUniform[] = "ACGT";
  static const char kAtRich[] = "AAAATTTTCG";  // one draw in ten
  std::vector<bool> rich(length, false);
  const std::uint64_t stretches = Between(rng, 1, 4);
  for (std::uint64_t s = 0; s < stretches; ++s) {
    const std::size_t span = Between(rng, 300, 3000);
    if (span >= length) continue;
    const std::size_t start = Between(rng, 0, length - span);
    for (std::size_t i = start; i < start + span; ++i) rich[i] = true;
  }
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(rich[i] ? kAtRich[rng() % 10] : kUniform[rng() & 3]);
  }
}

// Writes SEQ[from, to) as one entry named NAME to f, kLineWidth letters a line.
bool WriteEntry(std::FILE* f, const std::string& name, const std::string& seq, std::size_t from,
                std::size_t to) {
  bool ok = std::fprintf(f, ">%s\n", name.c_str()) > 0;
  for (std::size_t i = from; ok && i < to; i += kLineWidth) {
    const std::size_t n = std::min<std::size_t>(kLineWidth, to - i);
    ok = std::fwrite(seq.data() + i, 1, n, f) == n && std::fputc('\n', f) != EOF;
  }
  return ok;
}

// Writes SEQ as `entries` entries named NAME (with their number when more than one).
void WriteFasta(const char* path, const std::string& name, const std::string& seq,
                std::size_t entries) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) Fail(std::string("cannot create ") + path);
  bool ok = true;
  const std::size_t part = seq.size() / entries;
  for (std::size_t e = 0; ok && e < entries; ++e) {
    const std::string entry = entries == 1 ? name : name + " part=" + std::to_string(e + 1);
    ok = WriteEntry(f, entry, seq, e * part, e + 1 == entries ? seq.size() : (e + 1) * part);
  }
  if (std::fclose(f) != 0 || !ok) Fail(std::string("error writing ") + path);
}

// COUNT entries named NAME_1, NAME_2, ..., each's letters made by `make` into an empty string.
template <class Make>
void WriteEntries(const char* path, std::uint64_t count, const std::string& name, Make make) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) Fail(std::string("cannot create ") + path);
  bool ok = true;
  std::string seq;
  for (std::uint64_t e = 0; ok && e < count; ++e) {
    seq.clear();
    make(&seq);
    ok = WriteEntry(f, name + "_" + std::to_string(e + 1), seq, 0, seq.size());
  }
  if (std::fclose(f) != 0 || !ok) Fail(std::string("error writing ") + path);
}

// COUNT entries of `shortest` to `longest` letters, random with now and then a stretch rich
// in A/T.
void WriteDatabase(std::uint64_t count, const char* path, std::uint64_t shortest,
                   std::uint64_t longest) {
  std::mt19937_64 rng(kSeed);
  WriteEntries(path, count, "db",
               [&](std::string* seq) { AppendRandom(rng, Between(rng, shortest, longest), *seq); });
}

// One entry of `size` letters: all `letter`, the last one `last`.
void WriteUniform(char letter, std::uint64_t size, const char* path, char last) {
  std::string seq(size, letter);
  if (size > 0) seq.back() = last;
  WriteFasta(path, "uniform length=" + std::to_string(size), seq, 1);
}

// COUNT entries of LENGTH letters, A with probability a_share, C, G and T alike otherwise.
void WriteRandomEntries(std::uint64_t count, std::uint64_t length, double a_share,
                        const std::string& name, const char* path) {
  std::uint64_t seed = 1469598103934665603ull;  // FNV-1a of the name
  for (const char c : name) seed = (seed ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::mt19937_64 rng(seed);
  WriteEntries(path, count, name, [&](std::string* seq) {
    for (std::uint64_t i = 0; i < length; ++i) {
      const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;  // in [0, 1)
      seq->push_back(u < a_share ? 'A' : "CGT"[rng() % 3]);
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::string(argv[1]) == "--random") {
    WriteRandomEntries(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10),
                       std::strtod(argv[4], nullptr), argv[5], argv[6]);
    return 0;
  }
  if ((argc == 4 || argc == 6) && std::string(argv[1]) == "--database") {
    const bool sized = argc == 6;
    WriteDatabase(std::strtoull(argv[2], nullptr, 10), argv[3],
                  sized ? std::strtoull(argv[4], nullptr, 10) : 500,
                  sized ? std::strtoull(argv[5], nullptr, 10) : 2000);
    return 0;
  }
  if ((argc == 5 || argc == 6) && std::string(argv[1]) == "--uniform") {
    WriteUniform(argv[2][0], std::strtoull(argv[3], nullptr, 10), argv[4],
                 argc == 6 ? argv[5][0] : argv[2][0]);
    return 0;
  }
  std::size_t entries = 1;
  if (argc > 2 && std::string(argv[1]) == "--entries") {
    entries = std::strtoull(argv[2], nullptr, 10);
    if (entries == 0) Fail("bad number of entries");
    argc -= 2;
    argv += 2;
  }
  if (argc < 3) Fail("usage: make_genome [--entries N] SIZE OUTPUT [SOURCE.fa...]");
  char* end = nullptr;
  const unsigned long long size = std::strtoull(argv[1], &end, 10);
  if (*end != '\0' || size == 0) Fail(std::string("bad size ") + argv[1]);

  std::string pool;
  for (int i = 3; i < argc; ++i) AppendLetters(argv[i], pool);
  if (argc > 3 && pool.empty()) Fail("the sources hold no letters");

  std::mt19937_64 rng(kSeed);
  std::string seq;
  seq.reserve(size + 500000);
  std::size_t cursor = 0;
  while (seq.size() < size) {
    if (!pool.empty()) AppendReal(pool, cursor, Between(rng, 50000, 500000), seq);
    if (seq.size() < size) AppendRandom(rng, Between(rng, 10000, 100000), seq);
  }
  seq.resize(size);
  WriteFasta(argv[2], "bench_genome length=" + std::to_string(size), seq, entries);
  return 0;
}
