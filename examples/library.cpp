// Reads a FASTA file with the library and prints each entry's masked segments, one a line:
// the entry's name, start (0-based), end, length, special residues and p-value.
//
//   c++ -std=c++17 library.cpp $(pkg-config --cflags --libs kestra) -o library
//   ./library genome.fa [threads]
#include <kestra/kestra.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <FASTA> [threads]\n", argv[0]);
    return 2;
  }
  const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
  kestra::Options options;
  options.residues = "A";  // the default: -R:A
  try {
    kestra::Read(
        argv[1],
        [](kestra::Entry&& entry) {
          if (entry.skipped) {
            std::printf("%s\tskipped: %s\n", entry.name.c_str(), entry.skipped->c_str());
            return;
          }
          for (const kestra::Segment& s : entry.result.segments) {
            if (!s.masked) continue;
            std::printf("%s\t%lld\t%lld\t%lld\t%lld\t%.6e\n", entry.name.c_str(),
                        static_cast<long long>(s.start), static_cast<long long>(s.end),
                        static_cast<long long>(s.length), static_cast<long long>(s.special),
                        s.p_value);
          }
        },
        options, threads);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
