#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "output/outputs.h"
#include "output/shared_files.h"

using namespace kestra;

namespace {

// A fresh directory, removed with what is left in it.
struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/kestra_outputs_XXXXXX";
    path = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::set<std::string> Names() const {  // hidden temporary files too
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path))
      names.insert(e.path().filename());
    return names;
  }
};

std::string Read(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The paths a run writes, outputs then indexes, as the settings and the input choose them.
std::string Chosen(const Settings& s, bool reads) {
  RunOutputs o;
  ChooseOutputs(s, "b", &o);
  if (reads) WriteMaskedCopyAsFastq(s, "b", &o);
  std::string paths;
  for (int k = 0; k < kOutputKinds; ++k) {
    if (o.wanted[k]) paths += o.files[k].path + (o.files[k].compressed ? "(bgzf) " : " ");
  }
  for (int i = 0; i < kIndexKinds; ++i) {
    if (o.index_wanted[i]) paths += o.index_files[i].path + " ";
  }
  return paths;
}

TEST(OutputFiles, PathsFollowTheSettings) {
  const struct {
    bool mask, bed, index, compress, reads;
    const char* bed_path;
    const char* paths;
  } cases[] = {
      {false, false, false, false, false, "", "b.seg "},
      {true, true, true, false, false, "", "b.seg b.fas b.bed b.fas.fai "},
      {true, true, true, true, false, "",
       "b.seg.gz(bgzf) b.fas.gz(bgzf) b.bed.gz(bgzf) b.fas.gz.fai b.fas.gz.gzi b.bed.gz.tbi "},
      {false, true, true, false, false, "x.bed.gz", "b.seg x.bed.gz(bgzf) x.bed.gz.tbi "},
      {true, false, true, false, true, "", "b.seg b.fq b.fq.fai "},
      {true, false, false, true, true, "", "b.seg.gz(bgzf) b.fq.gz(bgzf) "},
  };
  for (const auto& c : cases) {
    Settings s;
    s.mask = c.mask ? MaskStyle::kLowerCase : MaskStyle::kNone;
    s.bed = c.bed;
    s.index = c.index;
    s.compress = c.compress;
    s.output_paths[kBedOutput] = c.bed_path;
    EXPECT_EQ(Chosen(s, c.reads), c.paths) << c.mask << c.bed << c.index << c.compress << c.reads;
  }
}

// A run's files appear only when committed, whole, an earlier file's bits kept; discarded,
// they leave nothing behind, and an earlier file stays as it was.
TEST(OutputFiles, CommittedWholeOrNotAtAll) {
  for (const bool commit : {true, false}) {
    TempDir dir;
    const std::string base = dir.path + "/run";
    std::ofstream(base + ".seg") << "earlier\n";
    std::filesystem::permissions(base + ".seg", std::filesystem::perms(0640));
    Settings s;
    s.summary = true;
    RunOutputs o;
    ChooseOutputs(s, base, &o);
    ASSERT_FALSE(OpenOutputs(&o, true, 1));
    TextSink sinks[kOutputKinds];
    const EntrySinks into = SinksFor(o, sinks);
    for (int k = 0; k < kOutputKinds; ++k) {
      if (into.of[k] == nullptr) continue;
      into.of[k]->to = &o.destinations[k];
      SinkWrite(into.of[k], "entry\n");
      SinkFlush(into.of[k]);
    }
    EXPECT_EQ(Read(base + ".seg"), "earlier\n");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"run.seg"}));
    if (commit) {
      ASSERT_TRUE(SealAllButReport(&o) && SealReport(&o));
      ASSERT_FALSE(CommitOutputs(&o));
    } else {
      DiscardOutputs(&o);
    }
    EXPECT_EQ(Read(base + ".seg"), commit ? "entry\n" : "earlier\n");
    EXPECT_EQ(std::filesystem::status(base + ".seg").permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(Read(base + ".summary.tsv"), commit ? kSummaryHeader + std::string("entry\n") : "");
    EXPECT_EQ(dir.Names().size(), commit ? 2u : 1u);
  }
}

// An output that cannot be made stops the run in its own kind's words; nothing is made.
TEST(OutputFiles, CannotMakeSaysWhichOutput) {
  TempDir dir;
  const std::string missing = dir.path + "/none/x";
  const struct {
    OutputKind kind;
    StandardStream where;
    std::string text;
  } cases[] = {
      {kReportOutput, StandardStream::kStdoutLine, kCantOpenReport},
      {kBedOutput, StandardStream::kStderr, Formatted(kCantOpenOutput, missing)},
      {kTableOutput, StandardStream::kStderr, Formatted(kCantOpenOutput, missing)},
  };
  for (const auto& c : cases) {
    Settings s;
    s.bed = s.table = true;
    s.output_paths[c.kind] = missing;
    RunOutputs o;
    ChooseOutputs(s, dir.path + "/run", &o);
    const std::optional<Failure> failure = OpenOutputs(&o, true, 1);
    ASSERT_TRUE(failure) << c.kind;
    EXPECT_EQ(std::make_pair(failure->where, failure->text), std::make_pair(c.where, c.text));
    DiscardOutputs(&o);
    EXPECT_TRUE(dir.Names().empty()) << c.kind;
  }
}

// Two names for one file, or an output that is the input, are refused.
TEST(OutputFiles, NoTwoNamesForOneFile) {
  TempDir dir;
  const std::string input = dir.path + "/in.fa";
  std::ofstream(input) << ">a\nACGT\n";
  symlink("in.fa", (dir.path + "/link").c_str());
  const std::tuple<const char*, const char*, bool> cases[] = {// report, BED, refused
                                                              {"r", "b", false},
                                                              {"r", "./r", true},
                                                              {"link", "b", true},
                                                              {"in.fa", "b", true}};
  for (const auto& [report, bed, refused] : cases) {
    Settings s;
    s.bed = true;
    s.output_paths[kReportOutput] = dir.path + "/" + report;
    s.output_paths[kBedOutput] = dir.path + "/" + bed;
    RunOutputs o;
    ChooseOutputs(s, dir.path + "/run", &o);
    const int fd = open(input.c_str(), O_RDONLY);
    EXPECT_EQ(RefuseSharedFiles(ListWrittenFiles(o), fd, input).has_value(), refused)
        << report << " " << bed;
    close(fd);
  }
}

}  // namespace
