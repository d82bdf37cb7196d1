// kestra._kestra: the library's calls for Python. Letters are analysed where the str or bytes
// holds them, with the interpreter's lock released; a file is read on a thread of its own, its
// entries handed to the iterator through a bounded queue and made Python objects on the
// interpreter's thread. A result's segments become a NumPy array over the library's own
// rows, made (and NumPy imported) when first asked for.
#include <kestra/kestra.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace py = pybind11;

namespace {

// A keyword's value into one field of Options, cast to the field's type.
template <auto field>
void SetField(kestra::Options* o, py::handle value) {
  using Type = std::remove_reference_t<decltype(o->*field)>;
  o->*field = py::cast<Type>(value);
}

// The background file's path, or None for none.
void SetBackground(kestra::Options* o, py::handle value) {
  o->background = value.is_none() ? "" : py::cast<std::string>(value);
}

// The frequencies given: a dict by nucleotide, or four values of A, T, G and C; None leaves
// them unset.
void SetFrequencies(kestra::Options* o, py::handle value) {
  if (value.is_none()) return;
  if (!py::isinstance<py::dict>(value)) {
    const auto four = py::cast<std::vector<std::optional<double>>>(value);
    if (four.size() != 4) throw py::value_error("frequencies: four of them, of A, T, G and C");
    for (int i = 0; i < 4; ++i) o->frequencies[i] = four[static_cast<std::size_t>(i)];
    return;
  }
  for (const auto& f : py::reinterpret_borrow<py::dict>(value)) {
    const std::string letter = py::cast<std::string>(f.first);
    const std::size_t at = std::string("ATGC").find(letter);
    if (letter.size() != 1 || at == std::string::npos) {
      throw py::value_error("frequencies: a nucleotide is one of A, T, G, C, not '" + letter + "'");
    }
    o->frequencies[at] = py::cast<std::optional<double>>(f.second);
  }
}

// Each keyword and what sets it.
const struct {
  const char* key;
  void (*set)(kestra::Options*, py::handle);
} kKeywords[] = {
    {"window", SetField<&kestra::Options::window>},
    {"linkage", SetField<&kestra::Options::linkage>},
    {"estimate_linkage", SetField<&kestra::Options::estimate_linkage>},
    {"window_p", SetField<&kestra::Options::window_p>},
    {"merge", SetField<&kestra::Options::merge>},
    {"residues", SetField<&kestra::Options::residues>},
    {"mask_p", SetField<&kestra::Options::mask_p>},
    {"shuffles", SetField<&kestra::Options::shuffles>},
    {"generated", SetField<&kestra::Options::generated>},
    {"seed", SetField<&kestra::Options::seed>},
    {"background", SetBackground},
    {"mask_evalue", SetField<&kestra::Options::mask_evalue>},
    {"evalues", SetField<&kestra::Options::evalues>},
    {"evalue_entries", SetField<&kestra::Options::evalue_entries>},
    {"keep_case", SetField<&kestra::Options::keep_case>},
    {"frequencies", SetFrequencies},
};

// The keyword options as an Options; a keyword of none is a TypeError, as Python has it.
kestra::Options OptionsFrom(const py::kwargs& kwargs) {
  kestra::Options o;
  for (const auto& item : kwargs) {
    const std::string key = py::cast<std::string>(item.first);
    const auto* row = std::find_if(std::begin(kKeywords), std::end(kKeywords),
                                   [&](const auto& k) { return key == k.key; });
    if (row == std::end(kKeywords)) {
      throw py::type_error("got an unexpected keyword argument '" + key + "'");
    }
    row->set(&o, item.second);
  }
  return o;
}

// The dtype of the segments: the fields of kestra::Segment that the array shows, at their
// places in it (its E-value lies in the rows unshown). Made once, with the lock held.
py::dtype SegmentType() {
  static PyObject* made = nullptr;
  if (made == nullptr) {
    using S = kestra::Segment;
    const py::list names = py::cast(
        std::vector<std::string>{"start", "end", "length", "special", "p_value", "masked"});
    const py::list formats =
        py::cast(std::vector<std::string>{"<i8", "<i8", "<i8", "<i8", "<f8", "?"});
    const py::list offsets = py::cast(
        std::vector<std::size_t>{offsetof(S, start), offsetof(S, end), offsetof(S, length),
                                 offsetof(S, special), offsetof(S, p_value), offsetof(S, masked)});
    py::dtype type(names, formats, offsets, sizeof(S));
    if (made == nullptr) made = type.release().ptr();
  }
  return py::reinterpret_borrow<py::dtype>(made);
}

// The segments as a structured array that owns them, not a copy of them.
py::array SegmentArray(std::vector<kestra::Segment>* segments) {
  auto held = std::make_unique<std::vector<kestra::Segment>>(std::move(*segments));
  const auto* data = held->data();
  const py::ssize_t rows = static_cast<py::ssize_t>(held->size());
  py::capsule owner(held.get(),
                    [](void* p) { delete static_cast<std::vector<kestra::Segment>*>(p); });
  held.release();
  return py::array(SegmentType(), {rows}, {static_cast<py::ssize_t>(sizeof(kestra::Segment))}, data,
                   owner);
}

// What Python sees of a Result: its figures, and its segments, as an array once asked for.
struct PyResult {
  kestra::Result result;
  py::object segments;  // empty until asked for

  py::object Segments() {
    if (!segments) segments = SegmentArray(&result.segments);
    return segments;
  }
};

// The letters of a str, bytes or bytearray, as the library's calls take them: where the str
// or bytes holds them, which cannot change; a bytearray's copied, since another thread may
// change it while the lock is released.
struct Letters {
  const char* data = nullptr;
  std::size_t size = 0;
  std::string copy;
};

Letters LettersOf(const py::handle& sequence) {
  Letters letters;
  PyObject* o = sequence.ptr();
  Py_ssize_t size = 0;
  if (PyBytes_Check(o)) {
    letters.data = PyBytes_AS_STRING(o);
    size = PyBytes_GET_SIZE(o);
  } else if (PyUnicode_Check(o)) {
    letters.data = PyUnicode_AsUTF8AndSize(o, &size);
    if (letters.data == nullptr) throw py::error_already_set();
  } else if (PyByteArray_Check(o)) {
    letters.copy.assign(PyByteArray_AS_STRING(o),
                        static_cast<std::size_t>(PyByteArray_GET_SIZE(o)));
    letters.data = letters.copy.data();
    size = static_cast<Py_ssize_t>(letters.copy.size());
  } else {
    throw py::type_error("the sequence is a str, bytes or bytearray, not " +
                         py::cast<std::string>(py::str(sequence.get_type().attr("__name__"))));
  }
  letters.size = static_cast<std::size_t>(size);
  return letters;
}

PyResult Scan(const py::object& sequence, const py::kwargs& kwargs) {
  const Letters letters = LettersOf(sequence);
  const kestra::Options options = OptionsFrom(kwargs);
  PyResult r;
  {
    py::gil_scoped_release unlocked;
    r.result = kestra::AnalyseLetters(letters.data, letters.size, options);
  }
  return r;
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
    if (!e.skipped) e.result = py::cast(PyResult{std::move(entry.result), py::object()});
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

// A read-only property that is one field of the result as it is.
template <auto field>
auto ResultField() {
  return [](const PyResult& r) { return r.result.*field; };
}

}  // namespace

PYBIND11_MODULE(_kestra, m) {
  m.doc() = "The compiled core of the kestra package; use kestra.scan, kestra.mask, kestra.read.";
  py::class_<PyResult>(m, "Result", "What one sequence gives.")
      .def_property_readonly("segments", &PyResult::Segments,
                             "The segments: a NumPy structured array with the fields start "
                             "(0-based), end, length, special, p_value, masked.")
      .def_property_readonly("length", ResultField<&kestra::Result::length>(), "Letters analysed.")
      .def_property_readonly("masked_positions", ResultField<&kestra::Result::masked_positions>(),
                             "Positions inside masked segments.")
      .def_property_readonly(
          "overall",
          [](const PyResult& r) {
            const kestra::Overall& o = r.result.overall;
            return py::make_tuple(o.specials, o.p_value, o.below, o.valid);
          },
          "The overall line: (special residues, p-value, lower tail, normal approximation "
          "valid).")
      .def_property_readonly("linkage", ResultField<&kestra::Result::linkage>(),
                             "The linkage distance used.")
      .def_property_readonly("special_probability",
                             ResultField<&kestra::Result::special_probability>(),
                             "The probability of a special residue at a position.")
      .def_property_readonly(
          "frequencies",
          [](const PyResult& r) {
            const double* f = r.result.frequencies;
            return py::make_tuple(f[0], f[1], f[2], f[3]);
          },
          "The A, T, G, C frequencies used.")
      .def_property_readonly("seed", ResultField<&kestra::Result::seed>(),
                             "The seed of the random sequences.");
  py::class_<PyEntry>(m, "Entry", "An entry of a file: its result, or why it was skipped.")
      .def_readonly("name", &PyEntry::name, "The header up to its first space or tab.")
      .def_readonly("header", &PyEntry::header, "The header line after '>' or '@'.")
      .def_readonly("length", &PyEntry::length, "Its letters.")
      .def_readonly("skipped", &PyEntry::skipped,
                    "Why it was skipped (the command's words), or None.")
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
