// BGZF input: blocks inflated a batch at a time through a loop, in turn or on threads of the
// loop's own in a shuffled order, give the entries of the plain text from files and pipes,
// whatever the size of the blocks; damage is told as for any gzip; and the parts of a file of
// blocks, split by its blocks, give every entry once, each inflating little more than its
// share.
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <numeric>

#include "gzip_support.h"
#include "read_support.h"
#include "sequence/parallel_loop.h"

using namespace kestra;
using namespace std::string_literals;

namespace {

// A loop that runs each batch's iterations on threads of its own, in an order shuffled anew
// each time, and counts them: the blocks inflated. `used` is null for no loop.
struct TestLoop {
  ParallelLoop loop;
  const ParallelLoop* used = nullptr;
  std::atomic<int64_t> iterations{0};
  std::mt19937 rng;
};

// Runs each(i) for i in [0, n) on the loop's threads, and consume(i) (when given) on the
// calling thread in order, once each(i) is done, while the workers run the later ones.
void RunShuffled(TestLoop* t, int64_t n, const std::function<void(int64_t)>& each,
                 const std::function<void(int64_t)>* consume) {
  t->iterations += n;
  std::vector<int64_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), t->rng);
  std::vector<std::atomic<bool>> done(n);
  std::atomic<int64_t> next{0};
  std::vector<std::thread> workers;
  for (int k = 0; k < t->loop.threads; ++k) {
    workers.emplace_back([&] {
      for (int64_t i; (i = next++) < n;) each(order[i]), done[order[i]] = true;
    });
  }
  for (int64_t i = 0; consume != nullptr && i < n; ++i) {
    while (!done[i]) std::this_thread::yield();
    (*consume)(i);
  }
  for (std::thread& worker : workers) worker.join();
}

// A loop of `threads` threads (none for 0); of -threads, consumed in order, when negative.
std::unique_ptr<TestLoop> OnThreads(int threads, unsigned seed) {
  auto t = std::make_unique<TestLoop>();
  t->rng.seed(seed);
  t->loop.threads = std::abs(threads);
  t->used = threads != 0 ? &t->loop : nullptr;
  t->loop.run = [self = t.get()](int64_t n, const auto& each) {
    RunShuffled(self, n, each, nullptr);
  };
  if (threads < 0) {
    t->loop.run_ordered = [self = t.get()](int64_t n, const auto& each, const auto& consume) {
      RunShuffled(self, n, each, &consume);
    };
  }
  return t;
}

using Content = std::pair<std::string, std::string>;  // name, text

std::vector<Content> Contents() {
  std::mt19937 rng(23);
  return {{"hostile FASTA", DataFile("hostile.fa")},
          {"one line, no newline", "some text >first " + Letters(rng, 3000, "ACGT>")},
          {"entries from the first byte", ">a\nACGT\n>b\n\n>c\nGGCC\nTT\n"},
          {"FASTQ", SomeFastq(2000)}};
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
// three threads (consumed in order or not), from a file and from a pipe, give the plain
// text's; each block is inflated once, through the loop; the progress counts every byte.
TEST(BgzfInput, GivesThePlainTextsEntries) {
  for (const auto& [name, text] : Contents()) {
    const Entries want = PlainEntries(text);
    const FirstEntry want_first = PlainFirstEntry(text);
    for (const auto& [shape, bytes] : BlockShapes(text)) {
      for (const int threads : {0, 1, 3, -3}) {
        const auto test_loop = OnThreads(threads, 5);
        SCOPED_TRACE(name + ", " + shape + ", threads " + std::to_string(threads));
        std::size_t done = 0, total = 0;
        auto with_progress = [&](int fd) {
          uint64_t size = 0;
          EXPECT_FALSE(IsPlainFile(fd, &size));
          return AllEntries(OpenFastaReader(fd, test_loop->used), &done, &total);
        };
        EXPECT_EQ(FromFile(bytes, with_progress), want);
        EXPECT_EQ(test_loop->iterations, threads != 0 ? BlockStarts(bytes).size() : 0);
        EXPECT_EQ(std::pair(done, total), std::pair(bytes.size(), bytes.size()));
        ExpectEveryRead(bytes, {777, 4093}, want, &want_first, test_loop->used);
      }
    }
  }
}

// From a pipe whose writer has written the blocks of the first entry and the next header
// line, and waits, the first entry is read without waiting for more (as from any gzip): a
// batch holds the blocks that have come, inflated through the loop.
TEST(BgzfInput, FirstEntryFromAPipeWaitsForNoMoreBlocks) {
  std::mt19937 rng(37);
  const std::string text = ">one\n" + Lines(Letters(rng, 20000, "ACGT"), 60) + ">two\nAC";
  const std::string bytes = InBlocks(text, 1000, false).bytes;
  for (const int threads : {0, 2}) {
    const auto test_loop = OnThreads(threads, 13);
    auto first = [&](int fd) { return ReadFirstEntry(fd, test_loop->used); };
    bool waited_out = false;
    EXPECT_EQ(ThroughPipe(bytes, bytes.size(), first, &waited_out), PlainFirstEntry(text))
        << threads;
    EXPECT_FALSE(waited_out) << threads;
    EXPECT_EQ(test_loop->iterations > 0, threads > 0) << threads;  // its blocks through the loop
  }
}

// The parts of a file of blocks give every entry once, in order, however many they are (more
// than the blocks too), FASTQ (read from the start) as FASTA (split by the blocks).
TEST(BgzfShards, TogetherGiveEveryEntryOnce) {
  for (const auto& [name, text] : Contents()) {
    const Entries want = PlainEntries(text);
    for (const auto& [shape, bytes] : BlockShapes(text)) {
      FILE* file = FileWith(bytes);
      const std::size_t blocks = BlockStarts(bytes).size();
      std::vector<int> counts = {1, 2, 3, 7, 25};
      if (blocks < 400) counts.push_back(static_cast<int>(blocks) + 3);
      for (const int count : counts) {
        for (const int threads : {0, 2}) {
          SCOPED_TRACE(name + ", " + shape + ", in " + std::to_string(count) + ", threads " +
                       std::to_string(threads));
          int holding = 0;
          EXPECT_EQ(EveryPartJoined(fileno(file), count, OnThreads(threads, 7)->used, &holding),
                    want);
          if (count == 7 && name == "hostile FASTA" && blocks > 20) {
            EXPECT_GE(holding, 3);
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
  const Bgzf blocks = InBlocks(text, 1000);
  FILE* file = FileWith(blocks.bytes);
  const int fd = fileno(file);
  constexpr int64_t kBatch = 8, kBesides = 4;
  for (const int count : {2, 7, 25}) {
    for (int i = 1; i <= count; ++i) {
      const auto counting = OnThreads(1, 3);
      ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
      AllEntries(OpenFastaPart(fd, i, count, counting->used));
      const uint64_t from = PartOffset(blocks.bytes.size(), i - 1, count),
                     to = PartOffset(blocks.bytes.size(), i, count);
      const auto in_share = std::count_if(blocks.starts.begin(), blocks.starts.end(),
                                          [&](std::size_t at) { return at >= from && at < to; });
      EXPECT_LE(counting->iterations, in_share + kBatch + kBesides) << i << " of " << count;
      EXPECT_GT(counting->iterations, 0) << i << " of " << count;
    }
  }
  std::fclose(file);
}

// The file with the BSIZE of its block `k` set to `bsize`.
std::string WithBsize(const Bgzf& file, std::size_t k, uint32_t bsize) {
  return std::string(file.bytes).replace(file.starts[k] + kBsizeAt, 2, LittleEndian(bsize, 2));
}

// What a file of blocks read whole (and in parts) gives when it is damaged, or holds what a
// gzip file may hold besides blocks: the reason any gzip input gives, or the text's entries
// (from a file and a pipe, with and without a loop). A BSIZE that is wrong is no damage to a
// gzip reader, which reads the members as they are: the blocks from it on are read so.
TEST(BgzfInput, DamageIsToldAsForAnyGzip) {
  std::mt19937 rng(31);
  const std::string one = ">one\n" + Lines(Letters(rng, 60000, "ACGT"), 60);
  const std::string half = one.substr(0, one.size() / 2), rest = one.substr(one.size() / 2);
  const Bgzf blocks = InBlocks(one, 4000), unended = InBlocks(one, 4000, false);
  const std::size_t middle = blocks.starts.size() / 2, last = unended.starts.size() - 1;
  const uint32_t size = blocks.starts[middle + 1] - blocks.starts[middle];  // BSIZE is one less
  const std::string cut = "truncated gzip data", corrupt = "corrupt gzip data",
                    after = "data after the end of the gzip data";
  const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
      // name, bytes, the reason they give (empty: they read whole), the text they hold
      {"zero padding", blocks.bytes + std::string(3000, '\0'), "", one},
      {"no end block", unended.bytes, "", one},
      {"two files one after another", InBlocks(half, 3000).bytes + InBlocks(rest, 5000).bytes, "",
       one},
      {"a gzip member after the blocks", InBlocks(half, 3000).bytes + Compressed(rest, "gzip -c"),
       "", one},
      {"the end block alone", BgzfBlock(""), "", ""},
      {"BSIZE one too large", WithBsize(blocks, middle, size), "", one},
      {"BSIZE one too small", WithBsize(blocks, middle, size - 2), "", one},
      {"BSIZE smaller than the header", WithBsize(blocks, middle, 20), "", one},
      {"BSIZE past the end", WithBsize(unended, last, 65535), "", one},
      {"last block cut", unended.bytes.substr(0, unended.starts[last] + 100), cut, ""},
      {"end block cut", blocks.bytes.substr(0, blocks.bytes.size() - 5), cut, ""},
      {"CRC wrong in a middle block",
       Flipped(blocks.bytes, blocks.starts[middle + 1] - kCrcFromEnd), corrupt, ""},
      {"ISIZE wrong in a middle block",
       Flipped(blocks.bytes, blocks.starts[middle + 1] - kIsizeFromEnd), corrupt, ""},
      {"text after the end", blocks.bytes + ">x\nACGT\n", after, ""},
      {"zeros, then not", blocks.bytes + std::string(5000, '\0') + "x", after, ""},
  };
  for (const auto& [name, bytes, reason, text] : cases) {
    const Entries want = PlainEntries(text);
    for (const int threads : {0, 3, -3}) {  // -3: three threads, consumed in order
      const auto test_loop = OnThreads(threads, 11);
      SCOPED_TRACE(name + ", threads "s + std::to_string(threads));
      ExpectTextOrFailure(bytes, {4096}, text, reason, test_loop->used);
      FILE* file = FileWith(bytes);
      for (const int count : {1, 3, 7}) {
        const Entries joined = EveryPartJoined(fileno(file), count, test_loop->used);
        if (reason.empty()) {
          EXPECT_EQ(joined, want) << " in " << count;
        } else {  // the parts that reach the damage tell it
          EXPECT_NE(joined.reason.find(reason), std::string::npos) << " in " << count;
        }
      }
      std::fclose(file);
    }
  }
}

}  // namespace
