// The ordered pipeline and the loops nested in its jobs, driven directly: jobs that finish in
// any order are written in input order, no more jobs are in flight than its slots, pieces are
// consumed in order on their loop's thread with buffers no two pieces share, and an error in
// any step stops the run, the jobs in hand unwinding from their waits. ThreadSanitizer runs
// these with many jobs in flight.
#include "parallel/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace kestra;

// Work of a length that varies from job to job, so that jobs finish out of order.
void Spin(uint64_t job, int64_t piece = 0) {
  std::mt19937 rng(static_cast<unsigned>(job * 7919 + static_cast<uint64_t>(piece)));
  volatile uint64_t sink = 0;
  for (uint32_t i = rng() % 20000; i > 0; --i) sink = sink + i;
}

struct Record {
  std::vector<uint64_t> written;  // by the write step, which runs one at a time
  std::atomic<int> in_flight{0}, most_in_flight{0}, reading{0}, reads_at_once{0};
};

void Raise(std::atomic<int>* most, int value) {
  for (int seen = most->load(); value > seen && !most->compare_exchange_weak(seen, value);) {
  }
}

// Jobs 0 .. jobs - 1, each analysed by `analyse` after some spinning.
PipelineSteps CountingSteps(Record* r, uint64_t jobs, std::size_t slots,
                            std::function<void(uint64_t)> analyse = {}) {
  PipelineSteps steps;
  steps.slots = slots;
  steps.read = [r, jobs](uint64_t job, std::size_t) {
    Raise(&r->reads_at_once, ++r->reading);
    const bool more = job < jobs;
    if (more) Raise(&r->most_in_flight, ++r->in_flight);
    --r->reading;
    return more;
  };
  steps.analyse = [analyse](uint64_t job, std::size_t) {
    Spin(job);
    if (analyse) analyse(job);
  };
  steps.write = [r](uint64_t job, std::size_t) {
    r->written.push_back(job);
    --r->in_flight;
  };
  return steps;
}

std::vector<uint64_t> UpTo(uint64_t n) {
  std::vector<uint64_t> all(n);
  for (uint64_t i = 0; i < n; ++i) all[i] = i;
  return all;
}

// `check` on a pipeline of each number of threads; then the same threads serve another run.
void OnPipelines(std::initializer_list<int> threads,
                 const std::function<void(Pipeline*, int)>& check) {
  for (const int t : threads) {
    Pipeline* p = StartPipeline(t);
    check(p, t);
    Record again;
    RunPipeline(p, CountingSteps(&again, 20, 4));
    EXPECT_EQ(again.written, UpTo(20)) << t << " threads";
    StopPipeline(p);
  }
}

TEST(Pipeline, OrderAndBoundKept) {
  for (const std::size_t slots : {std::size_t{1}, std::size_t{3}, std::size_t{17}}) {
    OnPipelines({1, 2, 3, 8}, [&](Pipeline* p, int threads) {
      Record r;
      RunPipeline(p, CountingSteps(&r, 500, slots));
      EXPECT_EQ(r.written, UpTo(500)) << threads << " threads, " << slots << " slots";
      EXPECT_LE(r.most_in_flight, static_cast<int>(slots)) << threads << " threads";
      EXPECT_EQ(r.reads_at_once, 1);
    });
  }
}

// Loops nested in jobs: each piece consumed once, in order, on its loop's thread, after its
// piece ran; no buffer in use by two pieces at once; jobs that take their turn early write in
// input order as they go.
TEST(Pipeline, NestedLoopsAndEarlyTurns) {
  OnPipelines({1, 2, 8}, [](Pipeline* p, int threads) {
    std::vector<std::atomic<int>> in_use(static_cast<std::size_t>(PieceBuffers(p) + 1));
    std::vector<uint64_t> early;  // written inside analyse, after TakeTurn
    Record r;
    const auto analyse = [&](uint64_t job) {
      const int64_t n = static_cast<int64_t>(job % 7) * 5;
      std::vector<int> ran(static_cast<std::size_t>(n), 0);
      const std::thread::id owner = std::this_thread::get_id();
      int64_t next = 0;
      RunPieces(
          p, job, n,
          [&](int64_t i, int buffer) {
            if (buffer != kInOrder) {
              EXPECT_EQ(in_use[buffer].exchange(1), 0) << "shared buffer";
            }
            Spin(job, i);
            ran[static_cast<std::size_t>(i)] = 1;
          },
          [&](int64_t i, int buffer) {
            EXPECT_EQ(std::this_thread::get_id(), owner);
            EXPECT_EQ(i, next++);
            EXPECT_EQ(ran[static_cast<std::size_t>(i)], 1);
            if (buffer != kInOrder) in_use[buffer] = 0;
            // A consume may wait for its job's turn, as a full output does.
            if (job % 3 == 0 && i == n / 2) {
              TakeTurn(p, job);
              early.push_back(job);
            }
          });
      EXPECT_EQ(next, n);
    };
    RunPipeline(p, CountingSteps(&r, 300, 9, analyse));
    EXPECT_EQ(r.written, UpTo(300));
    std::vector<uint64_t> want;
    for (uint64_t job = 0; job < 300; ++job) {
      if (job % 3 == 0 && job % 7 != 0) want.push_back(job);
    }
    EXPECT_EQ(early, want) << threads << " threads";
  });
}

// An error, or memory that runs out, in a job's analysis, in a piece of a loop, or in a
// write: the run stops, nothing after the failing job is written, and the exception comes
// out of RunPipeline; jobs that waited for their turn unwind.
TEST(Pipeline, ErrorStopsTheRun) {
  enum Where { kAnalyse, kPiece, kWrite };
  for (const Where where : {kAnalyse, kPiece, kWrite}) {
    OnPipelines({1, 2, 8}, [&](Pipeline* p, int threads) {
      Record r;
      PipelineSteps steps = CountingSteps(&r, 400, 12, [&](uint64_t job) {
        RunPieces(
            p, job, 6,
            [&](int64_t i, int) {
              if (where == kPiece && job == 57 && i == 3) throw std::bad_alloc();
            },
            [&](int64_t i, int) {
              if (i == 2) TakeTurn(p, job);  // later jobs wait for their turn here
            });
        if (where == kAnalyse && job == 57) throw std::runtime_error("job 57");
      });
      const auto write = steps.write;
      steps.write = [&, write](uint64_t job, std::size_t slot) {
        if (where == kWrite && job == 57) throw std::runtime_error("job 57");
        write(job, slot);
      };
      if (where == kPiece) {
        EXPECT_THROW(RunPipeline(p, steps), std::bad_alloc) << threads;
      } else {
        EXPECT_THROW(RunPipeline(p, steps), std::runtime_error) << threads;
      }
      EXPECT_EQ(r.written, UpTo(r.written.size()));
      EXPECT_LE(r.written.size(), 57u) << where << " " << threads;
    });  // and serves another run after the failed one
  }
}

}  // namespace
