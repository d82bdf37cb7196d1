// kestra._kestra: the library's calls for Python. Letters are analysed with the interpreter's
// lock released; a file is read on a thread of its own, its entries handed to the iterator
// through a bounded queue and made Python objects on the interpreter's thread.
#include <kestra/kestra.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace py = pybind11;

namespace {

// A segment as a row of the structured array.
struct SegmentRow {
  int64_t start, end, length, special;
  double p_value;
  bool masked;
};

// The keyword options as an Options; a keyword of none is a TypeError, as Python has it.
kestra::Options OptionsFrom(const py::kwargs& kwargs) {
  kestra::Options o;
  for (const auto& item : kwargs) {
    const std::string key = py::cast<std::string>(item.first);
    const py::handle value = item.second;
    if (key == "window") o.window = py::cast<int>(value);
    else if (key == "linkage") o.linkage = py::cast<int>(value);
    else if (key == "estimate_linkage") o.estimate_linkage = py::cast<bool>(value);
    else if (key == "window_p") o.window_p = py::cast<double>(value);
    else if (key == "merge") o.merge = py::cast<bool>(value);
    else if (key == "residues") o.residues = py::cast<std::string>(value);
    else if (key == "mask_p") o.mask_p = py::cast<std::optional<double>>(value);
    else if (key == "shuffles") o.shuffles = py::cast<int>(value);
    else if (key == "generated") o.generated = py::cast<int>(value);
    else if (key == "seed") o.seed = py::cast<int64_t>(value);
    else if (key == "background") o.background = value.is_none() ? "" : py::cast<std::string>(value);
    else if (key == "mask_evalue") o.mask_evalue = py::cast<std::optional<double>>(value);
    else if (key == "evalues") o.evalues = py::cast<bool>(value);
    else if (key == "evalue_entries") o.evalue_entries = py::cast<int64_t>(value);
    else if (key == "keep_case") o.keep_case = py::cast<bool>(value);
    else if (key == "frequencies") {
      if (value.is_none()) continue;
      if (py::isinstance<py::dict>(value)) {
        for (const auto& f : py::reinterpret_borrow<py::dict>(value)) {
          const std::string letter = py::cast<std::string>(f.first);
          const std::size_t at = std::string("ATGC").find(letter);
          if (letter.size() != 1 || at == std::string::npos) {
            throw py::value_error("frequencies: a nucleotide is one of A, T, G, C, not '" + letter + "'");
          }
          o.frequencies[at] = py::cast<std::optional<double>>(f.second);
        }
      } else {
        const auto four = py::cast<std::vector<std::optional<double>>>(value);
        if (four.size() != 4) throw py::value_error("frequencies: four of them, of A, T, G and C");
        for (int i = 0; i < 4; ++i) o.frequencies[i] = four[static_cast<std::size_t>(i)];
      }
    } else {
      throw py::type_error("got an unexpected keyword argument '" + key + "'");
    }
  }
  return o;
}

// What Python sees of a Result: the figures, and the segments as a structured array.
struct PyResult {
  py::array segments;
  int64_t length, masked_positions, seed;
  py::tuple overall;
  int linkage;
  double special_probability;
  py::tuple frequencies;
};

PyResult ToPython(const kestra::Result& r) {
  py::array_t<SegmentRow> rows(static_cast<py::ssize_t>(r.segments.size()));
  SegmentRow* row = rows.mutable_data();
  for (const kestra::Segment& s : r.segments) {
    *row++ = SegmentRow{s.start, s.end, s.length, s.special, s.p_value, s.masked};
  }
  const kestra::Overall& o = r.overall;
  const double* f = r.frequencies;
  return PyResult{rows,
                  r.length,
                  r.masked_positions,
                  r.seed,
                  py::make_tuple(o.specials, o.p_value, o.below, o.valid),
                  r.linkage,
                  r.special_probability,
                  py::make_tuple(f[0], f[1], f[2], f[3])};
}

kestra::Result AnalyseUnlocked(const std::string& letters, const kestra::Options& options) {
  py::gil_scoped_release unlocked;
  return kestra::Analyse(letters, options);
}

PyResult Scan(const std::string& letters, const py::kwargs& kwargs) {
  return ToPython(AnalyseUnlocked(letters, OptionsFrom(kwargs)));
}

std::string MaskLetters(const std::string& letters, bool hard, const py::kwargs& kwargs) {
  const kestra::Options options = OptionsFrom(kwargs);
  py::gil_scoped_release unlocked;
  const kestra::Result r = kestra::Analyse(letters, options);
  return kestra::Mask(letters, r, hard ? kestra::Masking::kHard : kestra::Masking::kSoft, options);
}

struct PyEntry {
  std::string name, header;
  int64_t length;
  std::optional<std::string> skipped;
  py::object result;  // a Result, or None
};

// A file read on a thread of its own; the iterator takes its entries in input order.
class Reader {
 public:
  Reader(const std::string& path, int threads, const py::kwargs& kwargs) {
    const kestra::Options options = OptionsFrom(kwargs);
    kestra::CheckOptions(options);
    worker_ = std::thread([this, path, threads, options] { Work(path, threads, options); });
  }
  ~Reader() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      cancelled_ = true;
    }
    changed_.notify_all();
    py::gil_scoped_release unlocked;
    if (worker_.joinable()) worker_.join();
  }
  PyEntry Next() {
    if (taken_ == batch_.size()) TakeBatch();
    kestra::Entry& entry = batch_[taken_++];
    PyEntry e{std::move(entry.name), std::move(entry.header), entry.length,
              std::move(entry.skipped), py::none()};
    if (!e.skipped) e.result = py::cast(ToPython(entry.result));
    return e;
  }

 private:
  struct Cancelled {};
  // Entries are handed over in batches, so that the threads meet once a batch, and batches
  // read ahead of the iterator are bounded.
  static constexpr std::size_t kBatch = 256;
  static constexpr std::size_t kQueued = 8;

  // The next batch, waited for without the interpreter's lock; at the end, what ended it.
  void TakeBatch() {
    std::exception_ptr error;
    batch_.clear();
    taken_ = 0;
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return !queue_.empty() || done_; });
      if (!queue_.empty()) {
        batch_ = std::move(queue_.front());
        queue_.pop_front();
      } else {
        std::swap(error, error_);
      }
    }
    changed_.notify_all();
    if (error) std::rethrow_exception(error);
    if (batch_.empty()) throw py::stop_iteration();
  }

  // Hands the batch being filled over to the iterator; throws Cancelled once it is gone.
  void Hand(std::vector<kestra::Entry>* filled) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return queue_.size() < kQueued || cancelled_; });
    if (cancelled_) throw Cancelled();
    queue_.push_back(std::move(*filled));
    filled->clear();
    changed_.notify_all();
  }

  void Work(const std::string& path, int threads, const kestra::Options& options) {
    std::exception_ptr error;
    std::vector<kestra::Entry> filling;
    try {
      kestra::Read(
          path,
          [this, &filling](kestra::Entry&& e) {
            filling.push_back(std::move(e));
            if (filling.size() == kBatch) Hand(&filling);
          },
          options, threads);
      if (!filling.empty()) Hand(&filling);
    } catch (const Cancelled&) {
    } catch (...) {
      error = std::current_exception();
      try {
        if (!filling.empty()) Hand(&filling);
      } catch (const Cancelled&) {
      }
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      error_ = error;
      done_ = true;
    }
    changed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<kestra::Entry>> queue_;
  std::vector<kestra::Entry> batch_;  // the iterator's, taken_ of them handed out
  std::size_t taken_ = 0;
  bool done_ = false, cancelled_ = false;
  std::exception_ptr error_;
  std::thread worker_;
};

}  // namespace

PYBIND11_MODULE(_kestra, m) {
  m.doc() = "The compiled core of the kestra package; use kestra.scan, kestra.mask, kestra.read.";
  PYBIND11_NUMPY_DTYPE(SegmentRow, start, end, length, special, p_value, masked);
  py::class_<PyResult>(m, "Result", "What one sequence gives.")
      .def_readonly("segments", &PyResult::segments,
                    "The segments: a NumPy structured array with the fields start (0-based), "
                    "end, length, special, p_value, masked.")
      .def_readonly("length", &PyResult::length, "Letters analysed.")
      .def_readonly("masked_positions", &PyResult::masked_positions,
                    "Positions inside masked segments.")
      .def_readonly("overall", &PyResult::overall,
                    "The overall line: (special residues, p-value, lower tail, normal "
                    "approximation valid).")
      .def_readonly("linkage", &PyResult::linkage, "The linkage distance used.")
      .def_readonly("special_probability", &PyResult::special_probability,
                    "The probability of a special residue at a position.")
      .def_readonly("frequencies", &PyResult::frequencies, "The A, T, G, C frequencies used.")
      .def_readonly("seed", &PyResult::seed, "The seed of the random sequences.");
  py::class_<PyEntry>(m, "Entry", "An entry of a file: its result, or why it was skipped.")
      .def_readonly("name", &PyEntry::name, "The header up to its first space or tab.")
      .def_readonly("header", &PyEntry::header, "The header line after '>' or '@'.")
      .def_readonly("length", &PyEntry::length, "Its letters.")
      .def_readonly("skipped", &PyEntry::skipped, "Why it was skipped (the command's words), or None.")
      .def_readonly("result", &PyEntry::result, "Its Result, or None when skipped.");
  py::class_<Reader>(m, "Reader", "The entries of a file, in input order.")
      .def(py::init<const std::string&, int, const py::kwargs&>(), py::arg("path"),
           py::arg("threads") = 1)
      .def("__iter__", [](Reader& r) -> Reader& { return r; })
      .def("__next__", &Reader::Next);
  m.def("scan", &Scan, py::arg("sequence"), "Analyses letters; see kestra.scan.");
  m.def("mask", &MaskLetters, py::arg("sequence"), py::arg("hard") = false,
        "Masks letters; see kestra.mask.");
  m.def("version", &kestra::Version, "The library's version.");
}
