// The C++ side of the Python module psd: psd's run, its one-pass reader, its estimator, its report
// and psd-summary's figures, each exactly as the programs have them, their failures raised as
// psd.Error with psd's own message. The package (psd/__init__.py) holds the API users call.
//
// Nothing here prints or waits. The interpreter's lock is let go while files are read and
// sections transformed, so that threads of a program (or of a Dask worker) run at once; arrays are
// read where they lie and handed to numpy without a copy.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "format/report_file.h"
#include "run/arguments.h"
#include "run/driver.h"
#include "run/messages.h"
#include "run/record.h"
#include "summary/summary.h"
#include "summary/summary_options.h"
#include "summary/summary_text.h"

#ifndef PSD_VERSION
#define PSD_VERSION "unknown"
#endif

namespace py = pybind11;

namespace psd {

namespace {

// A failure raised in Python as psd.Error, a ValueError.
class PythonError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How messages name samples that come from arrays rather than a file.
const char* const arrays_name = "the record";

// message_of's text without the console's framing: the blank line before it and the line feed
// after it.
[[noreturn]] void raise_failure(const Failure& failure) {
    std::string text = message_of(failure);
    if (!text.empty() && text.front() == '\n') text.erase(0, 1);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    throw PythonError(text);
}

Analysis analysis_of(std::variant<Analysis, Failure>&& result) {
    if (const Failure* f = std::get_if<Failure>(&result)) raise_failure(*f);
    return std::move(std::get<Analysis>(result));
}

// A read-only array over values[first..], kept alive by owner.
template <typename T>
py::array view(const std::vector<T>& values, std::size_t first, py::handle owner) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size() - first), values.data() + first,
                         owner);
    array.attr("flags").attr("writeable") = false;
    return array;
}

// A spectrum as a run gives it: the analysis its report is written from, and the report's
// columns of bins 1 .. N/2.
class SpectrumCore {
  public:
    explicit SpectrumCore(Analysis analysis) : analysis_(std::move(analysis)) {
        const std::int32_t half = analysis_.header.nbpoint_section / 2;
        const double width = bin_width(analysis_.deltat, analysis_.header.nbpoint_section);
        const Densities& d = analysis_.densities;
        for (std::int32_t k = 1; k <= half; ++k) {
            frequency_.push_back(static_cast<double>(k) * width);
            zn_.push_back(noise_impedance(d.psd_v[k], d.psd_i[k]));
        }
    }
    const Analysis& analysis() const { return analysis_; }
    const std::vector<double>& frequency() const { return frequency_; }
    const std::vector<double>& zn() const { return zn_; }

  private:
    Analysis analysis_;
    std::vector<double> frequency_, zn_;
};

// A name, or None for none.
py::object name_or_none(const std::string& name) {
    if (name.empty()) return py::none();
    return py::str(name);
}

// The analysis behind a spectrum that was pickled: its parameters and densities.
py::tuple state_of(const SpectrumCore& core) {
    const Analysis& a = core.analysis();
    const auto bytes = [](const std::vector<float>& values) {
        return py::bytes(reinterpret_cast<const char*>(values.data()),
                         values.size() * sizeof(float));
    };
    return py::make_tuple(a.header.data_file, a.header.hanning, a.header.nb_section,
                          a.header.nbpoint_section, a.deltat, name_or_none(a.report_path),
                          bytes(a.densities.psd_v), bytes(a.densities.psd_i));
}

// The configuration stays empty: a spectrum is read through its header, interval, densities and
// report path alone, and its write is given the path it writes to.
SpectrumCore from_state(const py::tuple& state) {
    Analysis a;
    a.header = {state[0].cast<std::string>(), state[1].cast<std::int32_t>(),
                state[2].cast<std::int32_t>(), state[3].cast<std::int32_t>()};
    a.deltat = state[4].cast<float>();
    if (!state[5].is_none()) a.report_path = state[5].cast<std::string>();
    for (auto [column, item] :
         {std::pair{&a.densities.psd_v, 6}, std::pair{&a.densities.psd_i, 7}}) {
        const std::string bytes = state[item].cast<std::string>();
        column->resize(bytes.size() / sizeof(float));
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(column->data()));
    }
    return SpectrumCore(std::move(a));
}

// The analysis's report written to report_path as run_psd writes it, failures naming
// output_file, or the failure raised.
void write_or_raise(const Analysis& analysis, const std::string& report_path,
                    const std::string& output_file) {
    std::optional<Failure> failure;
    {
        py::gil_scoped_release unlocked;
        try {
            failure = write_analysis(analysis, report_path, output_file);
        } catch (const std::bad_alloc&) {
            failure = Failure{};  // out_of_memory
        }
    }
    if (failure) raise_failure(*failure);
}

// The report written to path, which messages name as it is given.
void write_spectrum(const SpectrumCore& core, const std::string& path) {
    write_or_raise(core.analysis(), path, path);
}

SpectrumCore run(const std::string& folder, bool write, unsigned threads) {
    std::variant<Analysis, Failure> result;
    {
        py::gil_scoped_release unlocked;
        result = analyse_folder(folder, system_files(), threads != 0 ? threads : default_threads());
    }
    SpectrumCore core(analysis_of(std::move(result)));
    if (write) {
        const Analysis& a = core.analysis();
        write_or_raise(a, a.report_path, a.config.output_file);
    }
    return core;
}

// A column of a record that grows in place: realloc lets the C library move a large block by
// remapping its pages, so that the record is never held twice while it grows.
template <typename T>
class Column {
  public:
    Column() = default;
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;
    ~Column() { std::free(data_); }

    // Appends count values, converted to T; false when there is no memory for them.
    bool append(const double* values, std::size_t count) {
        if (size_ + count > capacity_ && !reserve(std::max(size_ + count, capacity_ * 2)))
            return false;
        for (std::size_t k = 0; k < count; ++k)
            data_[size_ + k] = static_cast<T>(values[k]);
        size_ += count;
        return true;
    }

    // The values as a numpy array that owns their memory, cut to their size.
    py::array_t<T> to_numpy() {
        reserve(std::max<std::size_t>(size_, 1));
        py::capsule owner(data_, [](void* p) { std::free(p); });
        T* const data = data_;
        data_ = nullptr;
        return py::array_t<T>(static_cast<py::ssize_t>(size_), data, owner);
    }

  private:
    bool reserve(std::size_t capacity) {
        void* const moved = std::realloc(data_, capacity * sizeof(T));
        if (moved == nullptr) return false;
        data_ = static_cast<T*>(moved);
        capacity_ = capacity;
        return true;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

py::tuple read_record_arrays(const std::string& path) {
    Column<double> t;
    Column<float> v, i;
    std::optional<Failure> failure;
    {
        py::gil_scoped_release unlocked;
        failure = read_record(
            path, path,
            [&](const double* tt, const double* vv, const double* ii, std::size_t count) {
                return t.append(tt, count) && v.append(vv, count) && i.append(ii, count);
            });
    }
    if (failure) raise_failure(*failure);
    return py::make_tuple(t.to_numpy(), v.to_numpy(), i.to_numpy());
}

bool is_float32(py::handle values) {
    return py::isinstance<py::array_t<float, py::array::c_style>>(values);
}

// One channel of samples as the estimator reads it: the array itself when it is a C-contiguous
// vector of float32 or float64 (double when wanted), else one conversion to float64.
py::array channel(py::handle values, const char* which, bool double_wanted) {
    const bool floats = is_float32(values);
    const bool doubles = py::isinstance<py::array_t<double, py::array::c_style>>(values);
    py::array array =
        doubles || (floats && !double_wanted)
            ? py::reinterpret_borrow<py::array>(values)
            : py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(values);
    if (!array) throw py::error_already_set();
    if (array.ndim() != 1)
        throw PythonError(std::string(which) + " is not a one-dimensional array");
    return array;
}

SpectrumCore spectrum(py::handle v, py::handle i, double deltat, std::int32_t nbpoint_section,
                      std::int32_t nb_section, std::int32_t hanning, const std::string& data_file) {
    // Float32 samples are read as they are; a float32 channel beside any other is widened, which
    // rounding to float undoes exactly.
    const bool doubles = !is_float32(v) || !is_float32(i);
    const py::array voltage = channel(v, "v", doubles), current = channel(i, "i", doubles);
    if (voltage.size() != current.size())
        throw PythonError("v holds " + std::to_string(voltage.size()) + " samples and i " +
                          std::to_string(current.size()) + ": a record has as many of each");
    RunConfig config;
    config.data_file = data_file;
    config.hanning = hanning;
    config.window = hanning == 1 ? Window::hann : Window::none;
    config.nb_section = nb_section;
    config.nbpoint_section = nbpoint_section;
    const SampleArrays samples{voltage.data(), current.data(), doubles,
                               static_cast<std::int64_t>(voltage.size())};
    std::variant<Analysis, Failure> result;
    {
        py::gil_scoped_release unlocked;
        result = analyse_arrays(config, samples, static_cast<float>(deltat), arrays_name);
    }
    return SpectrumCore(analysis_of(std::move(result)));
}

// psd-summary's options from its words: each option, then its value for those that take one.
SummaryOptions summary_options(const std::vector<std::string>& words) {
    SummaryOptions options;
    std::string why;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string& option = words[k];
        const bool valued = summary_option_takes_value(option);
        if (valued && k + 1 == words.size()) throw PythonError(option + " needs a value");
        const std::string value = valued ? words[++k] : std::string();
        switch (take_summary_option(option, value, &options, &why)) {
            case OptionStatus::taken:
                break;
            case OptionStatus::bad_value:
                throw PythonError(why);
            case OptionStatus::not_mine:
                throw PythonError("unknown option '" + option + "'");
        }
    }
    why = summary_options_conflict(options);
    if (!why.empty()) throw PythonError(why);
    return options;
}

// psd-summary --csv's header and row for the report at report_path (text: the report itself, or
// empty to read the file), or its message raised.
std::string summary_csv(const std::string& report_path, const std::string* text,
                        const std::vector<std::string>& words) {
    const SummaryOptions options = summary_options(words);
    Summary summary;
    std::string why;
    SummaryStatus status = SummaryStatus::bad_report;
    {
        py::gil_scoped_release unlocked;
        try {
            status = text ? summarise_text(report_path, *text, options, &summary, &why)
                          : summarise(report_path, options, &summary, &why);
        } catch (const std::bad_alloc&) {
            why = "there is not enough memory to summarise '" + report_path + "'";
        }
    }
    if (status != SummaryStatus::ok) throw PythonError(why);
    return csv_header() + csv_row(summary, options.level);
}

std::string spectrum_summary_csv(const SpectrumCore& core, const std::vector<std::string>& words) {
    const Analysis& a = core.analysis();
    const std::string text =
        report_text(a.header, a.deltat, a.densities.psd_v.data(), a.densities.psd_i.data());
    return summary_csv(a.report_path, &text, words);
}

void bind_spectrum(py::module_& m) {
    py::class_<SpectrumCore>(m, "SpectrumCore")
        .def_property_readonly("frequency",
                               [](py::object self) {
                                   return view(self.cast<const SpectrumCore&>().frequency(), 0,
                                               self);
                               })
        .def_property_readonly(
            "psd_v",
            [](py::object self) {
                return view(self.cast<const SpectrumCore&>().analysis().densities.psd_v, 1, self);
            })
        .def_property_readonly(
            "psd_i",
            [](py::object self) {
                return view(self.cast<const SpectrumCore&>().analysis().densities.psd_i, 1, self);
            })
        .def_property_readonly(
            "zn",
            [](py::object self) { return view(self.cast<const SpectrumCore&>().zn(), 0, self); })
        .def_property_readonly("deltat", [](const SpectrumCore& c) { return c.analysis().deltat; })
        .def_property_readonly("header",
                               [](const SpectrumCore& c) {
                                   const ReportHeader& h = c.analysis().header;
                                   return py::make_tuple(h.data_file, h.hanning, h.nb_section,
                                                         h.nbpoint_section);
                               })
        .def_property_readonly(
            "report_path",
            [](const SpectrumCore& c) { return name_or_none(c.analysis().report_path); })
        .def("write", &write_spectrum, py::arg("path"))
        .def("summary_csv", &spectrum_summary_csv, py::arg("words"))
        .def(py::pickle(&state_of, &from_state));
}

}  // namespace

}  // namespace psd

PYBIND11_MODULE(_psd, m) {
    using namespace psd;
    m.doc() = "The C++ side of the psd package: use the package psd itself.";
    py::register_exception<PythonError>(m, "Error", PyExc_ValueError);
    bind_spectrum(m);
    m.def("run", &run, py::arg("folder"), py::arg("write"), py::arg("threads"));
    m.def("read_record", &read_record_arrays, py::arg("path"));
    m.def("spectrum", &spectrum, py::arg("v"), py::arg("i"), py::arg("deltat"),
          py::arg("nbpoint_section"), py::arg("nb_section"), py::arg("hanning"),
          py::arg("data_file"));
    m.def(
        "summary_csv",
        [](const std::string& path, const std::vector<std::string>& words) {
            return summary_csv(path, nullptr, words);
        },
        py::arg("path"), py::arg("words"));
    m.def("csv_header", &csv_header);
    m.attr("max_threads") = max_threads;
    m.attr("__version__") = PSD_VERSION;
}
