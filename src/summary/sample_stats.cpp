#include "summary/sample_stats.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "format/sample_messages.h"
#include "format/sample_stream.h"
#include "platform/file.h"

namespace psd {

namespace {

// Adds the squares of section[0..n) about its own mean to *sum_squares; the sum that gives the
// mean runs in index order, as the estimator's does.
void add_squares(const double* section, std::uint32_t n, double* sum_squares) {
    double sum = 0;
    for (std::uint32_t j = 0; j < n; ++j)
        sum += section[j];
    const double mean = sum / static_cast<double>(n);
    for (std::uint32_t j = 0; j < n; ++j)
        *sum_squares += (section[j] - mean) * (section[j] - mean);
}

// The pass over the used samples; false with *why set when the file cannot give them.
// *last_time: the time stamp of the last used line.
bool read_sections(SampleStream& s, std::FILE* file, const std::string& name, std::int64_t needed,
                   std::uint32_t n, Window window, SampleStats* stats, double* last_time,
                   std::string* why) {
    SampleStatus status = start_samples(s, file, n);
    if (status != SampleStatus::ok) {
        *why = sample_problem_text(status, s.bad_line, name);
        return false;
    }
    set_used_lines(s, static_cast<std::uint64_t>(needed));
    double squares_v = 0, squares_i = 0;
    stats->cross.emplace(window, n);
    while ((status = next_section(s)) == SampleStatus::section_ready) {
        add_squares(s.section_v, n, &squares_v);
        add_squares(s.section_i, n, &squares_i);
        stats->cross->add_section(s.section_v, s.section_i);
        *last_time = s.last_time;
    }
    if (status != SampleStatus::ok) {
        *why = sample_problem_text(status, s.bad_line, name);
        return false;
    }
    if (static_cast<std::int64_t>(s.count) < needed) {
        *why = name + " holds " + std::to_string(s.count) +
               " samples, fewer than the nb_section x nbpoint_section = " + std::to_string(needed) +
               " the report used.\n";
        return false;
    }
    if (s.bad_line.number != 0 && s.bad_line.number <= static_cast<std::uint64_t>(needed)) {
        *why = bad_line_text(s.bad_line, name);
        return false;
    }
    if (s.out_of_memory) throw std::bad_alloc();
    stats->variance_v = squares_v / static_cast<double>(needed);
    stats->variance_i = squares_i / static_cast<double>(needed);
    return true;
}

}  // namespace

SampleStatsStatus read_sample_stats(const char* path, const std::string& name,
                                    std::int32_t nb_section, std::int32_t nbpoint_section,
                                    Window window, SampleStats* stats, std::string* why) {
    *stats = SampleStats{};
    File file;
    switch (open_for_reading(path, &file)) {
        case OpenStatus::ok:
            break;
        case OpenStatus::missing:
            *why = "does not exist";
            return SampleStatsStatus::missing;
        case OpenStatus::unreadable:
            *why = std::string("cannot be read: ") + std::strerror(errno);
            return SampleStatsStatus::unusable;
        case OpenStatus::not_regular:
            *why = unreadable_text(name);
            return SampleStatsStatus::unusable;
    }
    const std::int64_t needed = std::int64_t{nb_section} * nbpoint_section;
    SampleStream stream;
    double last_time = 0;
    if (!read_sections(stream, file.get(), name, needed,
                       static_cast<std::uint32_t>(nbpoint_section), window, stats, &last_time, why))
        return SampleStatsStatus::unusable;
    stats->samples = needed;
    stats->first_interval = stream.deltat;
    // psd refuses such a file; one given with --samples can still be anything.
    if (!(stats->first_interval > 0) || !std::isfinite(stats->first_interval)) {
        *why =
            "The first two time stamps of " + name + " do not give a positive sampling interval.\n";
        return SampleStatsStatus::unusable;
    }
    stats->mean_interval = (last_time - stream.first_time) / static_cast<double>(needed - 1);
    return SampleStatsStatus::ok;
}

double integrated_density(double zero_bin, const double* psd, std::size_t count, double bin_width) {
    double sum = zero_bin / 2;
    for (std::size_t k = 0; k + 1 < count; ++k)
        sum += psd[k];
    return (sum + psd[count - 1] / 2) * bin_width;
}

}  // namespace psd
