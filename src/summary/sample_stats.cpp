#include "summary/sample_stats.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

#include "input/decimal.h"
#include "input/text_scan.h"
#include "summary/line_reader.h"

namespace {

// Three numbers of a few dozen characters each; far longer lines are not samples.
constexpr std::size_t max_sample_line = 4096;

// Reads the three numbers of a sample line; false unless it holds exactly three numeric tokens.
bool parse_sample(std::string_view line, double* time, double* voltage, double* current) {
    double* out[3] = {time, voltage, current};
    const char* p = line.data();
    const char* end = p + line.size();
    for (int column = 0; column < 3; ++column) {
        p = skip_space(p, end);
        if (p == end) return false;
        const char* stop = p;
        while (stop != end && !is_space(*stop))
            ++stop;
        if (!convert_token(p, stop, out[column])) return false;
        p = stop;
    }
    return skip_space(p, end) == end;
}

// Adds the squares of section[0..n) about its own mean to *sum_squares; the sum that gives the
// mean runs in index order, as the estimator's does.
void add_section(const std::vector<double>& section, double* sum_squares) {
    double sum = 0;
    for (double x : section)
        sum += x;
    const double mean = sum / static_cast<double>(section.size());
    for (double x : section)
        *sum_squares += (x - mean) * (x - mean);
}

SampleStatus read_lines(LineReader* reader, int nb_section, int nbpoint_section, SampleStats* stats,
                        std::string* why) {
    const std::size_t n = static_cast<std::size_t>(nbpoint_section);
    const long long needed = static_cast<long long>(nb_section) * nbpoint_section;
    std::vector<double> section_v, section_i;
    try {
        section_v.resize(n);
        section_i.resize(n);
    } catch (const std::bad_alloc&) {
        *why = "there is not enough memory for a section of " + std::to_string(n) + " samples";
        return SampleStatus::no_memory;
    }
    double first_time = 0, second_time = 0, last_time = 0;
    double squares_v = 0, squares_i = 0;
    long long line_no = 0;
    while (line_no < needed) {
        std::string_view line;
        bool had_line_end = false;
        const LineStatus status = next_line(reader, &line, &had_line_end);
        if (status == LineStatus::read_error) {
            *why = "could not be read to its end";
            return SampleStatus::unreadable;
        }
        if (status == LineStatus::end_of_file) {
            *why = "holds " + std::to_string(line_no) + " samples, fewer than the nb_section x " +
                   "nbpoint_section = " + std::to_string(needed) + " the report used";
            return SampleStatus::too_short;
        }
        ++line_no;
        double time = 0, voltage = 0, current = 0;
        if (status == LineStatus::too_long || !parse_sample(line, &time, &voltage, &current)) {
            *why = "is malformed: line " + std::to_string(line_no) +
                   " is not three numbers (time stamp, voltage, current)";
            return SampleStatus::malformed;
        }
        if (line_no == 1) first_time = time;
        if (line_no == 2) second_time = time;
        last_time = time;
        const std::size_t j = static_cast<std::size_t>((line_no - 1) % nbpoint_section);
        section_v[j] = static_cast<float>(voltage);
        section_i[j] = static_cast<float>(current);
        if (j == n - 1) {
            add_section(section_v, &squares_v);
            add_section(section_i, &squares_i);
        }
    }
    stats->samples = needed;
    stats->first_interval = static_cast<float>(second_time - first_time);
    // psd refuses such a file; one given with --samples can still be anything.
    if (!(stats->first_interval > 0) || !std::isfinite(stats->first_interval)) {
        *why = "does not give a positive sampling interval from its first two time stamps";
        return SampleStatus::malformed;
    }
    stats->mean_interval = (last_time - first_time) / static_cast<double>(needed - 1);
    stats->variance_v = squares_v / static_cast<double>(needed);
    stats->variance_i = squares_i / static_cast<double>(needed);
    return SampleStatus::ok;
}

}  // namespace

SampleStatus read_sample_stats(const char* path, int nb_section, int nbpoint_section,
                               SampleStats* stats, std::string* why) {
    *stats = SampleStats{};
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        *why = "is a folder, not a sample file";
        return SampleStatus::unreadable;
    }
    LineReader reader;
    if (!open_lines(&reader, path, max_sample_line)) {
        const bool missing = errno == ENOENT;
        *why = missing ? "does not exist" : std::string("cannot be read: ") + std::strerror(errno);
        return missing ? SampleStatus::missing : SampleStatus::unreadable;
    }
    const SampleStatus status = read_lines(&reader, nb_section, nbpoint_section, stats, why);
    close_lines(&reader);
    return status;
}

double integrated_density(const double* psd, std::size_t count, double bin_width) {
    double sum = 0;
    for (std::size_t k = 0; k < count; ++k)
        sum += psd[k];
    return sum * bin_width;
}
