#include "output/text_sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

using namespace kestra;

namespace {

std::string Wrapped(const std::string& letters, int width) {
  std::string out;
  for (std::size_t i = 0; i < letters.size(); i += width) out += letters.substr(i, width) + "\n";
  return out;
}

// What reaches a file is every byte written, in order, whether the buffer is flushed as it
// fills or kept in memory until a destination is given. (A file that refuses bytes is noticed
// end to end: report_link_to_dev_full, fasta_link_to_dev_full.)
TEST(TextSink, BytesReachTheFile) {
  std::string letters;
  for (int i = 0; i < 3000000; ++i) letters += "ACGT"[(i * 7 + i / 5) % 4];
  for (const bool at_once : {true, false}) {
    char path[] = "/tmp/kestra_sink_XXXXXX";
    FileDestination file{mkstemp(path)};
    ASSERT_GE(file.fd, 0);
    TextSink sink;
    if (at_once) sink.to = &file;
    // Kept in memory, the first half is all there is until the sink is given its file.
    const long half = static_cast<long>(letters.size() / 2);
    WriteWrapped(&sink, letters.data(), half, 80);
    if (!at_once) {
      EXPECT_EQ(SinkText(sink), Wrapped(letters.substr(0, half), 80));
    }
    sink.to = &file;
    WriteWrapped(&sink, letters.data() + half, static_cast<long>(letters.size()) - half, 80);
    SinkPrintf(&sink, "%d %s\n", 42, "end");
    WriteWrapped(&sink, "", 0, 80);
    SinkFlush(&sink);
    EXPECT_TRUE(CloseDestination(&file));
    const int fd = open(path, O_RDONLY);
    std::string got(letters.size() * 2, '\0');
    got.resize(static_cast<std::size_t>(read(fd, &got[0], got.size())));
    close(fd);
    unlink(path);
    EXPECT_EQ(got, Wrapped(letters, 80) + "42 end\n") << at_once;
  }
}

}  // namespace
