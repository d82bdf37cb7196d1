#include "driver/run.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <string>

#include "driver/messages.h"
#include "driver/options.h"
#include "driver/output_file.h"
#include "fatal/fatal.h"
#include "random/estimate.h"
#include "random/generator.h"
#include "report/report.h"
#include "sequence/composition.h"

const char kDefaultFrequencies[] = "Default frequencies";
const char kUserFrequencies[] = "User-supplied frequencies";

static void ReadInput(const char* path, RunState* run) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) Fatal(FatalStream::kStdoutLine, kCantOpenInput);
  const FastaStatus status = ReadFastaFile(fd, &run->entry);
  close(fd);
  if (status == FastaStatus::kTooLong) Fatal(FatalStream::kStderr, kSequenceTooLong);
  if (status != FastaStatus::kOk) Fatal(FatalStream::kStdoutLine, kErrorReadingFasta);
  run->length = static_cast<int>(run->entry.seq.size());
}

// Upper-cases the letters and takes the nucleotide composition from them.
static void PrepareSequence(RunState* run) {
  Conv2Upper(&run->entry.seq[0], run->length);
  run->special_aa = "A";
  if (!ComputeNTfreq(run->entry.seq.data(), run->length, run->aa_freq)) {
    Fatal(FatalStream::kStderr, kNoValidNucleotides);
  }
  run->freq_label = kDefaultFrequencies;
}

// The binary sequence, the special-residue probability and the linkage distance.
static void EncodeSequence(RunState* run) {
  run->binary_seq.resize(static_cast<size_t>(run->length) + 1);
  Seq2binary(run->entry.seq.data(), run->length, run->special_aa, run->binary_seq.data());
  run->P_special = ComputeResiduePNT(run->special_aa, run->aa_freq);
  if (run->estimate_linkage == 1) {
    if (!EstimateLinkageDistance(run->P_special, &run->max_separation)) {
      Fatal(FatalStream::kStderr, kLinkageNotEstimable);
    }
    std::printf("Estimated linkage distance = %d\n", run->max_separation);
  } else {
    std::printf("Linkage distance = %d\n", run->max_separation);
  }
}

// The report's first lines, from the settings of the run.
static void WriteHeader(RunState* run) {
  const ReportHeader header{run->length,       run->window,     run->max_separation,
                            run->min_p_val,    run->special_aa, run->freq_label,
                            run->estimate_ran, run->random_seqs};
  WriteReportHeader(&run->out, header);
}

// A report that cannot be created or put in place ends the run; the exit removes whatever
// temporary output is left.
[[noreturn]] static void CannotOpenReport() { Fatal(FatalStream::kStdoutLine, kCantOpenReport); }

// Likewise for the masked FASTA file.
[[noreturn]] static void CannotOpenFasta(const std::string& path) {
  std::string text = kCantOpenFasta;
  Fatal(FatalStream::kStderr, text.replace(text.find("%s"), 2, path));
}

// Both outputs are checked before either is opened, so a run never puts one in place and
// fails on the other; regular files are written under temporary names and renamed into
// place at the end.
static void OpenOutputs(const std::string& base, RunState* run) {
  const bool fasta = run->fasta_output == 1 || run->fasta_output == 2;
  const std::string report_path = base + ".seg", fasta_path = base + ".fas";
  if (!PrepareOutputFile(report_path, &run->report_file)) CannotOpenReport();
  if (fasta && !PrepareOutputFile(fasta_path, &run->fasta_file)) CannotOpenFasta(fasta_path);
  if (!OpenOutputFile(&run->report_file, &run->out)) CannotOpenReport();
  if (fasta && !OpenOutputFile(&run->fasta_file, &run->fasta_out)) CannotOpenFasta(fasta_path);
}

void PrepareRun(int argc, char** argv, RunState* run) {
  PrepareSequence(run);
  ParseOptions(argc, argv, run);
  ValidateOptions(*run, run->length);
  EncodeSequence(run);
  init_ran1(&run->generator, 0);
  WriteHeader(run);
}

void InitAll(int argc, char** argv, RunState* run) {
  if (argc < 3) Fatal(FatalStream::kStdoutLine, kHelp);
  ReadInput(argv[1], run);
  PrepareRun(argc, argv, run);
  OpenOutputs(argv[2], run);
}

void DetectSegments(RunState* run) {
  const char* binary = run->binary_seq.data();
  if (run->window < 2) {
    // Runs are merged as the report walks them; here they are only counted.
    run->segments = SourceOfRuns(binary, run->length, run->max_separation);
    return;
  }
  // Windows are scored, merged and written as they slide: two walks, one to count them.
  run->window_scores = MakeWindowScores(run->window, run->length, run->P_special, run->min_p_val);
  run->segments = SourceOfWindows(
      StartWindowWalk(binary, &run->window_scores, run->use_merge == 1, run->max_separation));
}

void EstimateRandomSignificance(RunState* run) {
  if (run->window >= 2 || run->random_seqs <= 0) return;
  // The working copy exists only while random sequences are drawn.
  std::vector<char> working(run->binary_seq);
  const RandomSettings settings{
      run->estimate_ran,
      run->random_seqs,
      run->max_separation,
      run->special_aa,
      {run->aa_freq[0], run->aa_freq[1], run->aa_freq[2], run->aa_freq[3]}};
  run->random_max = EstimateRandomPM(&run->generator, working.data(), run->length, settings,
                                     [](int k) { std::printf("N=%d\n", k); });
}

// Removes both temporary outputs of a failed run; returns the failure status.
static int Discard(RunState* run) {
  DiscardOutputFile(&run->fasta_file);
  DiscardOutputFile(&run->report_file);
  return 1;
}

int FinishReport(RunState* run) {
  const ReportInput input{&run->entry.name, run->entry.seq.data(), run->length,
                          run->special_aa,  run->P_special,        run->random_seqs,
                          &run->random_max, run->fasta_output,     run->masking_p_val};
  const bool fasta_ok = WriteSegmentsNT(input, run->segments, &run->out, &run->fasta_out);
  if (!SinkClose(&run->out)) {
    PrintMessage(FatalStream::kStdoutLine, kErrorClosingReport);
    return Discard(run);
  }
  if (!fasta_ok) return Discard(run);
  // The report goes into place last: once it is there, the run is complete.
  if (!CommitOutputFile(&run->fasta_file)) CannotOpenFasta(run->fasta_file.path);
  if (!CommitOutputFile(&run->report_file)) CannotOpenReport();
  std::printf("\nElapsed time: %d seconds\n",
              static_cast<int>(std::time(nullptr) - run->start_time));
  return 0;
}

int CheckStandardOutput() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fputs(kStandardOutputError, stderr);
  return 1;
}
