// The paths of a run's outputs and indexes. (Their life, committed whole or not at all, and
// the refusals, are held end to end: the rows of tests/cli/data/cases.txt.)
#include <gtest/gtest.h>

#include <string>

#include "output/outputs.h"

using namespace kestra;

namespace {

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

}  // namespace
