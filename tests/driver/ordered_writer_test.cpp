#include "driver/ordered_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// What ticket t writes to file k: its number and a length of filler that varies from ticket
// to ticket, so that some fill their sinks many times over and some write almost nothing.
std::string Bytes(uint64_t t, int k) {
  std::mt19937 rng(static_cast<unsigned>(t * 3 + k));
  const std::size_t n = rng() % 7 == 0 ? 200000 + rng() % 100000 : rng() % 300;
  return "<" + std::to_string(t) + ":" + std::to_string(k) + ">" + std::string(n, "ACGT"[t % 4]);
}

std::string Contents(const char* path) {
  std::string text;
  const int fd = open(path, O_RDONLY);
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

// Many writers take tickets in turn from a shared counter and write into two files at once,
// in pieces, at their own pace: each file holds every ticket's bytes in ticket order, whatever
// the bound on what a waiting ticket keeps (none, a little, plenty) and whether tickets
// finished early are left with the writer. Run under ThreadSanitizer too.
TEST(OrderedWriter, BytesReachTheFilesInTicketOrder) {
  const struct {
    std::size_t bound, left;
  } settings[] = {{0, 0}, {64, 0}, {std::size_t{1} << 22, 0}, {0, 4}, {64, 4}, {1 << 22, 4}};
  for (const auto& setting : settings) {
    const std::size_t bound = setting.bound;
    char paths[2][32] = {"/tmp/kestra_order_XXXXXX", "/tmp/kestra_order_XXXXXX"};
    FileDestination files[2] = {{mkstemp(paths[0])}, {mkstemp(paths[1])}};
    ASSERT_GE(files[0].fd, 0);
    ASSERT_GE(files[1].fd, 0);
    OrderedWriter writer({&files[0], &files[1]}, bound);
    writer.most_left = setting.left;
    constexpr uint64_t kTickets = 400;
    std::atomic<uint64_t> next_ticket{0};
    std::atomic<int> told{0}, told_out_of_turn{0};
    const auto work = [&](unsigned seed) {
      std::mt19937 rng(seed);
      std::vector<TextSink> sinks(2);
      for (uint64_t t; (t = next_ticket++) < kTickets;) {
        Ticket ticket{&writer, t, &sinks, [&, t] {
                        ++told;
                        if (writer.next != t) ++told_out_of_turn;
                      }};
        StartTicket(&ticket);
        const std::string bytes[2] = {Bytes(t, 0), Bytes(t, 1)};
        for (std::size_t at = 0; at < bytes[0].size() || at < bytes[1].size(); at += 9973) {
          for (int k = 0; k < 2; ++k) {
            if (at < bytes[k].size()) {
              SinkWrite(&sinks[k], bytes[k].data() + at,
                        std::min<std::size_t>(9973, bytes[k].size() - at));
            }
          }
          if (rng() % 3 == 0) StreamIfTurn(&ticket);
          if (rng() % 50 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
        }
        FinishTicket(&ticket);
      }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < 6; ++i) threads.emplace_back(work, i + 1);
    for (std::thread& t : threads) t.join();
    for (int k = 0; k < 2; ++k) {
      EXPECT_TRUE(CloseDestination(&files[k]));
      std::string want;
      for (uint64_t t = 0; t < kTickets; ++t) want += Bytes(t, k);
      const std::string got = Contents(paths[k]);
      unlink(paths[k]);
      EXPECT_EQ(got.size(), want.size()) << "bound " << bound << ", left " << setting.left;
      EXPECT_TRUE(got == want) << "file " << k << ", bound " << bound << ", left " << setting.left;
    }
    EXPECT_EQ(told, static_cast<int>(kTickets));
    EXPECT_EQ(told_out_of_turn, 0);
  }
}

}  // namespace
