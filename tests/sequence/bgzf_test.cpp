// BGZF input: blocks inflated a batch at a time through a loop, in turn or on threads of the
// loop's own in a shuffled order, give the entries of the plain text from files and pipes,
// whatever the size of the blocks; damage is told as for any gzip; and the parts of a file of
// blocks, split by its blocks, give every entry once, each inflating little more than its
// share.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gzip_support.h"
#include "read_support.h"
#include "sequence/fasta.h"
#include "sequence/parallel_loop.h"

using namespace kestra;
using namespace std::string_literals;

namespace {

// A loop that runs each batch's iterations on `threads` threads of its own, in an order
// shuffled anew each time, and counts them: the blocks inflated. With `in_order`, the calling
// thread also consumes each iteration in order once it is done, while the workers run the
// later ones.
struct TestLoop {
  ParallelLoop loop;
  std::atomic<int64_t> iterations{0};
  std::mt19937 rng;
};

std::unique_ptr<TestLoop> OnThreads(int threads, unsigned seed, bool in_order = false) {
  auto t = std::make_unique<TestLoop>();
  t->rng.seed(seed);
  t->loop.threads = threads;
  TestLoop* self = t.get();
  auto run = [self, threads](int64_t n, const std::function<void(int64_t)>& each,
                             const std::function<void(int64_t)>* consume) {
    self->iterations += n;
    std::vector<int64_t> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), self->rng);
    std::vector<std::atomic<bool>> done(static_cast<std::size_t>(n));
    std::atomic<int64_t> next{0};
    std::vector<std::thread> workers;
    for (int k = 0; k < threads; ++k) {
      workers.emplace_back([&] {
        for (int64_t i; (i = next++) < n;) {
          const int64_t j = order[static_cast<std::size_t>(i)];
          each(j);
          done[static_cast<std::size_t>(j)] = true;
        }
      });
    }
    for (int64_t i = 0; consume != nullptr && i < n; ++i) {
      while (!done[static_cast<std::size_t>(i)]) std::this_thread::yield();
      (*consume)(i);
    }
    for (std::thread& worker : workers) worker.join();
  };
  t->loop.run = [run](int64_t n, const std::function<void(int64_t)>& each) {
    run(n, each, nullptr);
  };
  if (in_order) {
    t->loop.run_ordered = [run](int64_t n, const std::function<void(int64_t)>& each,
                                const std::function<void(int64_t)>& consume) {
      run(n, each, &consume);
    };
  }
  return t;
}

// FASTA that tries a reader split by blocks: blank lines and text before the first entry, a
// '>' inside a sequence line (it starts an entry), '>>' and '>a>b' headers, NUL bytes, CR LF
// line ends, a line longer than most blocks, empty entries, and a last line without its
// newline.
std::string HostileFasta() {
  std::mt19937 rng(17);
  std::string in = "\n\ntext before the first entry\n" + Lines(Letters(rng, 700, "acgt .,"), 70);
  in += ">first\n" + Lines(Letters(rng, 500, "ACGT"), 60);
  in += "ACGTAC>inside a line\n" + Lines(Letters(rng, 400, "ACGTN"), 60);
  in += ">>double\n" + Lines(Letters(rng, 300, "ACGT"), 60);
  in += ">a>b>c\n" + Lines(Letters(rng, 200, "ACGT"), 60);
  in += ">nul\0 in the header\n"s + Lines(Letters(rng, 200, "ACGT") + "AC\0GT"s, 60);
  in += ">crlf\r\n" + Lines(Letters(rng, 600, "ACGT"), 60, "\r\n");
  in += ">empty\n>also empty\n";
  in += ">long line\n" + Letters(rng, 2500, "ACGT") + "\n";
  for (int i = 0; i < 12; ++i) {
    in += ">small " + std::to_string(i) + "\n" + Lines(Letters(rng, 20 + 13 * i, "ACGT"), 60);
  }
  return in + ">no newline at the end\n" + Letters(rng, 90, "ACGT");
}

// FASTQ records, some of whose quality lines start with '@'.
std::string SomeFastq() {
  std::mt19937 rng(19);
  std::string in = "\n";
  for (int i = 0; i < 40; ++i) {
    const std::string letters = Letters(rng, 30 + 7 * i, "ACGT");
    in += "@read " + std::to_string(i) + "\n" + letters + "\n+\n" +
          Letters(rng, letters.size(), "@+!#ABC") + "\n";
  }
  return in;
}

struct Content {
  const char* name;
  std::string text;
};

std::vector<Content> Contents() {
  std::mt19937 rng(23);
  return {
      {"hostile FASTA", HostileFasta()},
      {"one line, no newline", "some text >first " + Letters(rng, 3000, "ACGT>")},
      {"entries from the first byte", ">a\nACGT\n>b\n\n>c\nGGCC\nTT\n"},
      {"FASTQ", SomeFastq()},
  };
}

// The text in blocks of several sizes (of text): a byte's worth up to bgzip's own, and as
// bgzip writes it.
std::vector<std::pair<std::string, std::string>> BlockShapes(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> shapes;
  for (const std::size_t size : {7, 64, 1000, 65280}) {
    shapes.emplace_back("blocks of " + std::to_string(size), InBlocks(text, size).bytes);
  }
  shapes.emplace_back("bgzip", Compressed(text, "bgzip -c"));
  return shapes;
}

// Whole reads, of every entry and of the first, without a loop and with one of one and of
// three threads, from a file and from a pipe, give the plain text's; the progress counts
// every byte of the file.
TEST(BgzfInput, GivesThePlainTextsEntries) {
  for (const Content& content : Contents()) {
    const Entries want = PlainEntries(content.text);
    const FirstEntry want_first = PlainFirstEntry(content.text);
    for (const auto& [shape, bytes] : BlockShapes(content.text)) {
      // A negative count: that many threads, consumed in order as they go.
      for (const int threads : {0, 1, 3, -3}) {
        const auto test_loop = OnThreads(std::abs(threads), 5, threads < 0);
        const ParallelLoop* loop = threads != 0 ? &test_loop->loop : nullptr;
        const std::string shown =
            std::string(content.name) + ", " + shape + ", threads " + std::to_string(threads);
        FILE* file = FileWith(bytes);
        uint64_t size = 0;
        EXPECT_FALSE(IsPlainFile(fileno(file), &size)) << shown;
        std::size_t done = 0, total = 0;
        EXPECT_EQ(AllEntries(OpenFastaReader(fileno(file), loop), &done, &total), want) << shown;
        std::fclose(file);
        // Each block inflated once, through the loop.
        if (threads != 0) {
          EXPECT_EQ(test_loop->iterations, BlockStarts(bytes).size()) << shown;
        }
        EXPECT_EQ(done, bytes.size()) << shown;
        EXPECT_EQ(total, bytes.size()) << shown;
        ExpectEveryRead(bytes, want, &want_first, loop, shown, {777, 4093});
      }
    }
  }
}

// From a pipe whose writer has written the blocks of the first entry and the next header
// line, and waits, the first entry is read without waiting for more (as from any gzip): a
// batch holds the blocks that have come.
TEST(BgzfInput, FirstEntryFromAPipeWaitsForNoMoreBlocks) {
  std::mt19937 rng(37);
  const std::string text = ">one\n" + Lines(Letters(rng, 20000, "ACGT"), 60) + ">two\nAC";
  const std::string bytes = InBlocks(text, 1000, false).bytes;
  for (const int threads : {0, 2}) {
    const auto test_loop = OnThreads(threads, 13);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::mutex mutex;
    std::condition_variable read;
    bool done = false, waited_out = false;
    std::thread writer([&] {
      EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
      std::unique_lock<std::mutex> lock(mutex);
      waited_out = !read.wait_for(lock, std::chrono::seconds(20), [&] { return done; });
      close(fds[1]);
    });
    const FirstEntry first =
        ReadFirstEntryThrough(fds[0], threads > 0 ? &test_loop->loop : nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    read.notify_one();
    writer.join();
    close(fds[0]);
    EXPECT_EQ(first, PlainFirstEntry(text)) << threads;
    EXPECT_FALSE(waited_out) << threads;
  }
}

// The parts of a file of blocks give every entry once, in order, however many they are (more
// than the blocks too), FASTQ (read from the start) as FASTA (split by the blocks).
TEST(BgzfShards, TogetherGiveEveryEntryOnce) {
  for (const Content& content : Contents()) {
    const Entries want = PlainEntries(content.text);
    for (const auto& [shape, bytes] : BlockShapes(content.text)) {
      FILE* file = FileWith(bytes);
      const int fd = fileno(file);
      const std::size_t blocks = BlockStarts(bytes).size();
      std::vector<int> counts = {1, 2, 3, 7, 25};
      if (blocks < 400) counts.push_back(static_cast<int>(blocks) + 3);
      for (const int count : counts) {
        for (const int threads : {0, 2}) {
          const auto test_loop = OnThreads(threads, 7);
          const std::string shown = std::string(content.name) + ", " + shape + ", in " +
                                    std::to_string(count) + ", threads " + std::to_string(threads);
          int holding = 0;
          EXPECT_EQ(EveryPartJoined(fd, count, threads > 0 ? &test_loop->loop : nullptr, &holding),
                    want)
              << shown;
          if (count == 7 && std::string(content.name) == "hostile FASTA" && blocks > 20) {
            EXPECT_GE(holding, 3) << shown;
          }
        }
      }
      std::fclose(file);
    }
  }
}

// A part of a large file of blocks inflates the blocks that start in its share, and past them
// only those up to the end of its last entry, and those the last batch read ahead: no more
// than a batch (8 blocks a thread) and a few besides, whatever the part.
TEST(BgzfShards, EachInflatesLittleMoreThanItsShare) {
  std::mt19937 rng(29);
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text +=
        ">entry " + std::to_string(i) + "\n" + Lines(Letters(rng, 100 + rng() % 200, "ACGT"), 60);
  }
  const Bgzf file_blocks = InBlocks(text, 1000);
  const std::string& bytes = file_blocks.bytes;
  const Entries want = PlainEntries(text);
  FILE* file = FileWith(bytes);
  const int fd = fileno(file);
  constexpr int64_t kBatch = 8, kBesides = 4;
  for (const int count : {2, 7, 25}) {
    Entries joined;
    for (int i = 1; i <= count; ++i) {
      const auto counting = OnThreads(1, 3);
      ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
      const Entries part = AllEntries(OpenFastaPart(fd, i, count, &counting->loop));
      joined.entries.insert(joined.entries.end(), part.entries.begin(), part.entries.end());
      const uint64_t from = PartOffset(bytes.size(), i - 1, count),
                     to = PartOffset(bytes.size(), i, count);
      const auto in_share = std::count_if(file_blocks.starts.begin(), file_blocks.starts.end(),
                                          [&](std::size_t at) { return at >= from && at < to; });
      EXPECT_LE(counting->iterations, in_share + kBatch + kBesides)
          << "part " << i << " of " << count;
      EXPECT_GT(counting->iterations, 0) << "part " << i << " of " << count;
    }
    EXPECT_EQ(joined, want) << count;
  }
  std::fclose(file);
}

// The block at `k` with its BSIZE set to `bsize`.
std::string WithBsize(const Bgzf& file, std::size_t k, uint32_t bsize) {
  std::string bytes = file.bytes;
  bytes.replace(file.starts[k] + kBsizeAt, 2, LittleEndian(bsize, 2));
  return bytes;
}

uint32_t BlockSize(const Bgzf& file, std::size_t k) {
  return static_cast<uint32_t>(file.starts[k + 1] - file.starts[k]);
}

// What a file of blocks read whole (and in parts) gives when it is damaged, or holds what a
// gzip file may hold besides blocks: the reason any gzip input gives, or the text's entries
// (from a file and a pipe, with and without a loop). A BSIZE that is wrong is no damage to a
// gzip reader, which reads the members as they are: the blocks from it on are read so.
TEST(BgzfInput, DamageIsToldAsForAnyGzip) {
  std::mt19937 rng(31);
  const std::string one = ">one\n" + Lines(Letters(rng, 60000, "ACGT"), 60);
  const std::string half = one.substr(0, one.size() / 2), rest = one.substr(one.size() / 2);
  const Bgzf blocks = InBlocks(one, 4000), without_end = InBlocks(one, 4000, false);
  const std::size_t middle = blocks.starts.size() / 2, last = without_end.starts.size() - 1;
  const std::string truncated = "truncated gzip data", corrupt = "corrupt gzip data",
                    after = "data after the end of the gzip data";
  const struct {
    const char* name;
    std::string bytes;
    std::string reason;  // empty: the text reads whole
    std::string text;
  } cases[] = {
      {"whole", blocks.bytes, "", one},
      {"zero padding", blocks.bytes + std::string(3000, '\0'), "", one},
      {"no end block", without_end.bytes, "", one},
      {"two files one after another", InBlocks(half, 3000).bytes + InBlocks(rest, 5000).bytes, "",
       one},
      {"a gzip member after the blocks", InBlocks(half, 3000).bytes + Compressed(rest, "gzip -c"),
       "", one},
      {"the end block alone", BgzfBlock(""), "", ""},
      {"BSIZE one too large", WithBsize(blocks, middle, BlockSize(blocks, middle)), "", one},
      {"BSIZE one too small", WithBsize(blocks, middle, BlockSize(blocks, middle) - 2), "", one},
      {"BSIZE smaller than the header", WithBsize(blocks, middle, 20), "", one},
      {"BSIZE past the end", WithBsize(without_end, last, 65535), "", one},
      {"last block cut", without_end.bytes.substr(0, without_end.starts[last] + 100), truncated,
       ""},
      {"end block cut", blocks.bytes.substr(0, blocks.bytes.size() - 5), truncated, ""},
      {"CRC wrong in a middle block",
       Flipped(blocks.bytes, blocks.starts[middle + 1] - kCrcFromEnd), corrupt, ""},
      {"ISIZE wrong in a middle block",
       Flipped(blocks.bytes, blocks.starts[middle + 1] - kIsizeFromEnd), corrupt, ""},
      {"text after the end", blocks.bytes + ">x\nACGT\n", after, ""},
      {"zeros, then not", blocks.bytes + std::string(5000, '\0') + "x", after, ""},
  };
  for (const auto& c : cases) {
    const bool whole = c.reason.empty();
    const Entries want = whole ? PlainEntries(c.text) : Entries{{}, c.reason};
    const FirstEntry want_first =
        whole ? PlainFirstEntry(c.text)
              : FirstEntry{Entry(FastaStatus::kReadError, "", ""), false, c.reason};
    for (const int threads : {0, 3, -3}) {  // -3: three threads, consumed in order
      const auto test_loop = OnThreads(std::abs(threads), 11, threads < 0);
      const ParallelLoop* loop = threads != 0 ? &test_loop->loop : nullptr;
      const std::string shown = std::string(c.name) + ", threads " + std::to_string(threads);
      ExpectEveryRead(c.bytes, want, &want_first, loop, shown, {4096});
      FILE* file = FileWith(c.bytes);
      const int fd = fileno(file);
      for (const int count : {1, 3, 7}) {
        const Entries joined = EveryPartJoined(fd, count, loop);
        if (whole) {
          EXPECT_EQ(joined, want) << shown << " in " << count;
        } else {  // the parts that reach the damage tell it
          EXPECT_NE(joined.reason.find(c.reason), std::string::npos) << shown << " in " << count;
        }
      }
      std::fclose(file);
    }
  }
}

}  // namespace
