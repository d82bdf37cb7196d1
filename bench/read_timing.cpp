// Times the reader on one input: its first entry (ReadFastaFile), every entry, or a part of
// the entries, BGZF blocks inflated through a loop of T threads (the calling one and T - 1
// kept waiting between batches), best of R runs; says how many blocks the loop inflated.
//   read_timing first FILE T R
//   read_timing all FILE T R
//   read_timing part FILE I N T R
// T = 0: no loop, the reader inflates the blocks itself.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sequence/fasta.h"
#include "sequence/parallel_loop.h"

using namespace kestra;

namespace {

// T - 1 threads that wait for a batch, and share its iterations with the caller.
struct ThreadLoop {
  std::mutex mutex;
  std::condition_variable wake, done;
  const std::function<void(int64_t)>* each = nullptr;
  int64_t n = 0;
  std::atomic<int64_t> next{0};
  int64_t batch = 0;  // counts the batches, so that a waiting thread knows a new one
  int busy = 0;       // helpers still in the batch
  bool stop = false;
  std::vector<std::thread> helpers;
  std::atomic<int64_t> iterations{0};
  ParallelLoop loop;
};

void Share(ThreadLoop* t) {
  for (int64_t i; (i = t->next++) < t->n;) (*t->each)(i);
}

void Help(ThreadLoop* t) {
  int64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(t->mutex);
      t->wake.wait(lock, [&] { return t->stop || t->batch != seen; });
      if (t->stop) return;
      seen = t->batch;
    }
    Share(t);
    std::lock_guard<std::mutex> lock(t->mutex);
    if (--t->busy == 0) t->done.notify_one();
  }
}

void Run(ThreadLoop* t, int64_t n, const std::function<void(int64_t)>& each) {
  t->iterations += n;
  {
    std::lock_guard<std::mutex> lock(t->mutex);
    t->each = &each;
    t->n = n;
    t->next = 0;
    t->busy = static_cast<int>(t->helpers.size());
    ++t->batch;
  }
  t->wake.notify_all();
  Share(t);
  std::unique_lock<std::mutex> lock(t->mutex);
  t->done.wait(lock, [&] { return t->busy == 0; });
}

void Start(ThreadLoop* t, int threads) {
  t->loop.threads = threads;
  t->loop.run = [t](int64_t n, const std::function<void(int64_t)>& each) { Run(t, n, each); };
  for (int k = 1; k < threads; ++k) t->helpers.emplace_back(Help, t);
}

void Stop(ThreadLoop* t) {
  {
    std::lock_guard<std::mutex> lock(t->mutex);
    t->stop = true;
  }
  t->wake.notify_all();
  for (std::thread& h : t->helpers) h.join();
}

struct Outcome {
  std::size_t entries = 0, letters = 0;
  bool error = false;
};

Outcome ReadAll(FastaReader* reader) {
  Outcome o;
  FastaEntry entry;
  for (FastaStatus status; NextFastaEntry(reader, &entry, &status);) {
    ++o.entries;
    o.letters += entry.letters.size();
    o.error = o.error || status == FastaStatus::kReadError;
  }
  CloseFastaReader(reader);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const bool part = what == "part";
  if ((what != "first" && what != "all" && !part) || argc != (part ? 7 : 5)) {
    std::fprintf(stderr, "usage: read_timing first|all FILE T R, or part FILE I N T R\n");
    return 2;
  }
  const char* path = argv[2];
  const int index = part ? std::atoi(argv[3]) : 0, count = part ? std::atoi(argv[4]) : 0;
  const int threads = std::atoi(argv[part ? 5 : 3]), runs = std::atoi(argv[part ? 6 : 4]);
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    ThreadLoop t;
    if (threads > 0) Start(&t, threads);
    const ParallelLoop* loop = threads > 0 ? &t.loop : nullptr;
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
      std::perror(path);
      return 1;
    }
    const auto begin = std::chrono::steady_clock::now();
    Outcome o;
    if (what == "first") {
      FastaEntry entry;
      o.error = ReadFastaFile(fd, &entry, nullptr, nullptr, loop) == FastaStatus::kReadError;
      o.entries = 1;
      o.letters = entry.letters.size();
    } else {
      o = ReadAll(part ? OpenFastaPart(fd, index, count, loop) : OpenFastaReader(fd, loop));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    close(fd);
    if (threads > 0) Stop(&t);
    best = std::min(best, seconds);
    std::printf("run %d: %.3f s, %zu entries, %zu letters, %lld blocks inflated%s\n", run, seconds,
                o.entries, o.letters, static_cast<long long>(t.iterations.load()),
                o.error ? ", read error" : "");
  }
  std::printf("best of %d: %.3f s\n", runs, best);
  return 0;
}
