// Fuzz target: the whole run, from config_psd.txt to the report, on files held in memory (the
// run's file-system seam), so that an execution costs no disk access.
//
// Input layout: byte 0 picks hanning, byte 1 nb_section, byte 2 nbpoint_section (small values,
// plus the invalid ones the driver must refuse), byte 3 bit 0 whether an earlier report of the
// same name exists; the remaining bytes are the sample file.
//
// Properties: the run fails exactly when the reference says it must (fewer than two 198-character
// pieces, line 1 or 2 not a sample line or one with a value beyond float range, too few samples,
// a section length that is no power of two, a used line that is not such a sample line), with
// that failure's text, and otherwise only for a negative nb_section, the Hann window of two points
// or an interval whose report does not fit floats; every failure message
// starts with a line feed; a failed run leaves an earlier report byte-identical and no stray file
// behind; a successful run writes N/2 + 2 lines, the exact parameter and title lines and
// frequencies, and densities that are finite, non-negative and close to a directly summed DFT in
// long double whenever the samples and deltat keep every value well inside float range.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "reference/direct_dft.h"
#include "reference/memory_files.h"
#include "reference/plain_text.h"
#include "run/driver.h"
#include "run/messages.h"

namespace {

namespace reference = psd::reference;

using psd::reference::require;

const char* const kConfig = "config_psd.txt";
const char* const kSamples = "samples.txt";
const char* const kReport = "report.txt";
const std::string kEarlierReport = "an earlier report that a failed run must keep\n";

const std::int32_t kHanning[4] = {0, 1, 2, -1};
const std::int32_t kSections[8] = {1, 1, 2, 3, 4, 0, -1, 8};
// Powers of two up to 128 keep an execution fast; the rest must be refused, 2^30 + 1 without
// looping forever in the power-of-two test.
const std::int32_t kPoints[16] = {2, 4, 8, 16, 32, 64, 4, 8, 1, 0, -4, 3, 1000, 1073741825, 6, 128};

// The run's folder, held in memory: the run never touches a disk.
const char* const kFolder = "cell";

std::string in_folder(const char* name) {
    return std::string(kFolder) + "/" + name;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// A report field: at least 14 characters, a number (inf and nan included) and nothing else.
double field_value(const std::string& field) {
    require(field.size() >= 14, "a report field is narrower than 14 characters");
    char* end = nullptr;
    double value = std::strtod(field.c_str(), &end);
    require(end == field.c_str() + field.size(), "a report field is not one number");
    return value;
}

bool moderate(long double value) {
    return value >= 1e-25L && value <= 1e30L;
}

// What double rounding may move |X_k| of each section by, summed over the sections in quadrature.
// A section whose large values cancel in its sum (or are windowed out) has a mean known only to
// 2^-53 times the sum of the magnitudes; that error leaks into bin k through the window's own
// transform W(k). Subtraction, window and transform add a few roundings of the same size per
// stage. For ordinary records this is far below the density's float rounding; it only matters
// when values many decades apart share a section.
std::vector<long double> rounding_allowance(const float* record, std::int32_t n, std::int32_t m,
                                            bool hann) {
    std::vector<reference::LComplex> window(static_cast<std::size_t>(n));
    for (std::int32_t j = 0; j < n; ++j)
        window[static_cast<std::size_t>(j)] = reference::window_weight(j, n, hann);
    const reference::DirectDft dft(static_cast<std::uint32_t>(n));
    const long double stages = 2.0L * std::log2(static_cast<long double>(n)) + 4.0L;
    const long double unit = std::ldexp(1.0L, -52);
    std::vector<long double> allowance(static_cast<std::size_t>(n / 2 + 1), 0.0L);
    for (std::int32_t s = 0; s < m; ++s) {
        long double magnitude = 0.0L;
        for (std::int32_t j = 0; j < n; ++j)
            magnitude += std::fabs(static_cast<long double>(record[std::ptrdiff_t{s} * n + j]));
        for (std::size_t k = 0; k < allowance.size(); ++k) {
            const long double leak = std::abs(dft.bin(window, static_cast<std::uint32_t>(k), -1));
            const long double bound = unit * magnitude * (leak + stages);
            allowance[k] += bound * bound;
        }
    }
    for (long double& a : allowance)
        a = std::sqrt(a);
    return allowance;
}

// How far a density of reference value ref may lie from it when each section's amplitude may move
// by the allowance (summed in quadrature): |X + d|^2 - |X|^2 <= 2 |X| |d| + |d|^2, and over the
// sections Cauchy-Schwarz bounds the cross terms by the root of the sums.
long double density_slack(long double ref, long double allowance, long double scale) {
    return 2.0L * std::sqrt(ref * scale) * allowance + scale * allowance * allowance;
}

void check_densities(const std::vector<std::string>& lines, const std::uint8_t* samples,
                     std::size_t size, std::int32_t count, std::int32_t hanning, std::int32_t m,
                     std::int32_t n, float dt) {
    std::vector<float> voltage;
    std::vector<float> current;
    reference::samples(reference::tokens(samples, size), count, voltage, current);
    const auto used = static_cast<std::ptrdiff_t>(m) * n;
    bool finite = std::isfinite(dt) && dt > 0.0f &&
                  std::all_of(voltage.begin(), voltage.begin() + used,
                              [](float v) { return std::isfinite(v); }) &&
                  std::all_of(current.begin(), current.begin() + used,
                              [](float v) { return std::isfinite(v); });
    if (!finite) return;
    long double raw_v = 0.0L;
    long double raw_i = 0.0L;
    std::vector<long double> ref_v =
        reference::direct_density(voltage.data(), n, m, hanning == 1, dt, &raw_v);
    std::vector<long double> ref_i =
        reference::direct_density(current.data(), n, m, hanning == 1, dt, &raw_i);
    long double max_v = *std::max_element(ref_v.begin(), ref_v.end());
    long double max_i = *std::max_element(ref_i.begin(), ref_i.end());
    // Far from float overflow every density must be finite and non-negative; well inside float
    // range, also close to the reference (7 printed digits, float spectra and accumulators).
    // The scale itself is a float: with deltat near FLT_MAX the window's 8/3 takes it to infinity,
    // and 0 times that is NaN, as the arithmetic of every earlier report would give too.
    const long double scale = 2.0L * dt / n * (hanning == 1 ? 8.0L / 3.0L : 1.0L);
    bool no_overflow =
        raw_v < 1e36L && raw_i < 1e36L && max_v < 1e36L && max_i < 1e36L && scale < 1e36L;
    bool comparable_v = moderate(raw_v) && moderate(max_v) && moderate(2.0L * dt / n);
    bool comparable_i = moderate(raw_i) && moderate(max_i) && moderate(2.0L * dt / n);
    const std::vector<long double> slack_v = rounding_allowance(voltage.data(), n, m, hanning == 1);
    const std::vector<long double> slack_i = rounding_allowance(current.data(), n, m, hanning == 1);
    const long double density_scale = scale / m;
    const auto half = static_cast<std::size_t>(n / 2);
    for (std::size_t bin = 1; bin <= half; ++bin) {
        std::vector<std::string> fields = split(lines[bin + 1], '\t');
        double psd_v = field_value(fields[1]);
        double psd_i = field_value(fields[2]);
        double zn = field_value(fields[3]);
        if (!no_overflow) continue;
        require(std::isfinite(psd_v) && psd_v >= 0.0, "PSD_v is negative or not finite");
        require(std::isfinite(psd_i) && psd_i >= 0.0, "PSD_i is negative or not finite");
        if (comparable_v) {
            require(std::fabs(psd_v - ref_v[bin]) <=
                        1e-5L * ref_v[bin] + 1e-9L * max_v +
                            density_slack(ref_v[bin], slack_v[bin], density_scale),
                    "PSD_v differs from the directly summed DFT");
        }
        if (comparable_i) {
            require(std::fabs(psd_i - ref_i[bin]) <=
                        1e-5L * ref_i[bin] + 1e-9L * max_i +
                            density_slack(ref_i[bin], slack_i[bin], density_scale),
                    "PSD_i differs from the directly summed DFT");
        }
        if (psd_i > 0.0) {
            double ratio = std::sqrt(psd_v / psd_i);
            require(std::fabs(zn - ratio) <= 1e-5 * ratio, "Zn differs from sqrt(PSD_v / PSD_i)");
        } else if (psd_v > 0.0) {
            require(std::isinf(zn) && zn > 0.0, "Zn of a zero PSD_i is not infinite");
        } else {
            require(std::isnan(zn), "Zn of two zero densities is not NaN");
        }
    }
}

void check_report(const std::string& report, const std::uint8_t* samples, std::size_t size,
                  std::int32_t count, std::int32_t hanning, std::int32_t m, std::int32_t n,
                  float dt) {
    require(!report.empty() && report.back() == '\n', "the report does not end with a line feed");
    std::vector<std::string> lines = split(report.substr(0, report.size() - 1), '\n');
    const auto half = static_cast<std::size_t>(n / 2);
    require(lines.size() == half + 2, "the report does not have N/2 + 2 lines");
    char parameters[256];
    std::snprintf(parameters, sizeof parameters,
                  "data file = %s    hanning = %d    nb_section = %d     nbpoint_section = %d",
                  kSamples, hanning, m, n);
    require(lines[0] == parameters, "the parameter line differs");
    require(lines[1] == "    frequency        PSD_v           PSD_i            Zn",
            "the title line differs");
    // f_nyquist may be formed in float or in double before its rounding; they differ only when
    // deltat + deltat overflows a float.
    float nyquist_by_float = static_cast<float>(1.0 / static_cast<float>(dt + dt));
    float nyquist_by_double = static_cast<float>(1.0 / (static_cast<double>(dt) + dt));
    for (std::size_t k = 1; k <= half; ++k) {
        std::vector<std::string> fields = split(lines[k + 1], '\t');
        require(fields.size() == 4, "a data line does not hold four tab-separated fields");
        double frequency = field_value(fields[0]);
        const auto bins = static_cast<double>(half);
        double expected_a = static_cast<double>(k) * (static_cast<double>(nyquist_by_float) / bins);
        double expected_b =
            static_cast<double>(k) * (static_cast<double>(nyquist_by_double) / bins);
        if (std::isnan(expected_a)) {
            require(std::isnan(frequency), "a frequency differs from k / (N deltat)");
        } else {
            require(fields[0] == format("%14.6e", expected_a) ||
                        fields[0] == format("%14.6e", expected_b),
                    "a frequency differs from k / (N deltat)");
        }
    }
    if (m >= 1) check_densities(lines, samples, size, count, hanning, m, n, dt);
}

bool power_of_two(std::int32_t n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

// What the run must do with these samples, by the reference's reading, in the order the run
// checks: structure, lines 1 and 2, the section checks, nb_section, the window, the sampling
// interval, the used lines.
struct Expected {
    std::string start;       // the failure message, known by its start; empty: no such failure
    bool other = false;      // a refusal the reference does not word: nb_section, window, interval
    std::int32_t count = 0;  // the line count
    std::int32_t m = 0;      // sections used
    float deltat = 0.0f;
};

// The message of a line that breaks the rule, up to the words that say what it holds.
std::string line_fault(std::size_t number, bool sample) {
    return "\nLine " + std::to_string(number) + " of samples.txt " +
           (sample ? "holds a value that is not a finite number within float range: "
                   : "is not a sample of three numbers: ");
}

// The line number of the first of lines that is not a sample line with finite values (its
// index + 1), or 0; *sample says whether it was a sample line of other values.
std::size_t first_bad(const std::vector<reference::Line>& lines, std::size_t limit, bool* sample) {
    double values[3];
    for (std::size_t j = 0; j < lines.size() && j < limit; ++j) {
        *sample = reference::sample_line(lines[j], values);
        if (!*sample || !reference::finite_as_floats(values)) return j + 1;
    }
    return 0;
}

// Whether the report of interval dt fits floats: finite frequencies, a positive finite scale.
bool usable(float dt, std::int32_t hanning, std::int32_t n) {
    float scale = static_cast<float>((static_cast<double>(dt) + dt) / n);
    if (hanning == 1) scale = static_cast<float>(scale * 2.6666666666666665);
    return std::isfinite(static_cast<float>(1.0 / (static_cast<double>(dt) + dt))) &&
           scale > 0.0f && std::isfinite(scale);
}

Expected expected_outcome(const std::string& text, std::int32_t hanning, std::int32_t m,
                          std::int32_t n) {
    Expected e;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    e.count = static_cast<std::int32_t>(reference::line_pieces(bytes, text.size()).size());
    const std::vector<reference::Line> lines = reference::lines(text);
    if (e.count < 2) {
        e.start =
            "\nThe structure of the data file is unknown.\nsamples.txt has fewer than two "
            "lines.\n";
        return e;
    }
    bool sample = false;
    const std::size_t bad = first_bad(lines, lines.size(), &sample);
    if (bad == 1 || bad == 2) {
        e.start = line_fault(bad, sample);
        return e;
    }
    double first[3], second[3];
    reference::sample_line(lines[0], first);
    reference::sample_line(lines[1], second);
    e.deltat = static_cast<float>(second[0] - first[0]);
    // nb_section 0: the whole sections before blank lines that end the file, which the run sees
    // when it reads the samples (a run bound to fail a later check only counts the lines).
    std::int64_t samples = e.count;
    const bool all = m == 0 && power_of_two(n);
    const bool reads = !(hanning == 1 && n == 2) && e.deltat > 0.0f && usable(e.deltat, hanning, n);
    if (all && reads && bad != 0 && !sample &&
        std::all_of(lines.begin() + static_cast<std::ptrdiff_t>(bad - 1), lines.end(),
                    [](const reference::Line& l) { return reference::blank_line(l); }))
        samples = static_cast<std::int64_t>(bad) - 1;
    const std::int64_t used_m = all ? samples / n : m;
    e.m = static_cast<std::int32_t>(used_m);
    if (used_m * n > e.count || (all && used_m == 0)) {
        e.start =
            "\nFatal error: the number of data points is too low. Decrease\nthe number of "
            "sections in the file config_psd.txt.\nsamples.txt has " +
            std::to_string(samples) + " samples";
    } else if (!power_of_two(n)) {
        e.start = "\nFatal error: the number of data points per section is not a power of 2.\n";
    } else if (m < 0 || (hanning == 1 && n == 2) || !(e.deltat > 0.0f) ||
               !usable(e.deltat, hanning, n)) {
        e.other = true;
    } else if (bad != 0 && bad <= static_cast<std::size_t>(used_m * n)) {
        e.start = line_fault(bad, sample);
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::int32_t hanning = kHanning[data[0] % 4];
    const std::int32_t m = kSections[data[1] % 8];
    const std::int32_t n = kPoints[data[2] % 16];
    const bool earlier = (data[3] & 1) != 0;
    const std::uint8_t* samples = data + 4;
    const std::size_t sample_size = size - 4;

    char config[256];
    std::snprintf(config, sizeof config, "%s %d %d %d %s\n", kSamples, hanning, m, n, kReport);
    reference::MemoryFiles files;
    files.folders.insert(kFolder);
    files.files[in_folder(kConfig)] = config;
    files.files[in_folder(kSamples)] =
        std::string(reinterpret_cast<const char*>(samples), sample_size);
    if (earlier) files.files[in_folder(kReport)] = kEarlierReport;

    std::optional<std::string> failure;
    if (auto run_failure = psd::run_psd(kFolder, files)) failure = psd::message_of(*run_failure);

    require(files.files.size() <= 3, "the run left a stray file in the report's folder");
    const auto written = files.files.find(in_folder(kReport));
    std::optional<std::string> report;
    if (written != files.files.end()) report = written->second;

    const std::string text = reference::without_byte_order_mark(samples, sample_size);
    const Expected expected = expected_outcome(text, hanning, m, n);
    if (failure) {
        require(!failure->empty() && failure->front() == '\n',
                "a failure message does not start with a line feed");
        if (!expected.start.empty()) {
            require(failure->compare(0, expected.start.size(), expected.start) == 0,
                    "the failure message differs");
        } else {
            // Beyond those checks, only a negative nb_section, the Hann window of two points or
            // a sampling interval that does not give a report within float range may be refused.
            require(expected.other, "a valid run fails");
        }
        if (earlier) {
            require(report && *report == kEarlierReport, "a failed run changed the earlier report");
        } else {
            require(!report, "a failed run left a report");
        }
        return 0;
    }
    require(expected.start.empty() && !expected.other, "a run that must fail succeeds");
    require(report.has_value(), "a successful run left no report");
    check_report(*report, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                 expected.count, hanning, expected.m, n, expected.deltat);
    return 0;
}
