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

// The trend drawn through a section: the one removed, or the straight line found when only the
// mean is.
SectionTrend shown_trend(const ChannelSection& c, Detrend detrend) {
    return detrend == Detrend::mean ? SectionTrend{c.mean, c.slope, 0} : c.trend;
}

void add_to_trace(const SampleStream& s, const SectionFigures& f, Detrend detrend,
                  RecordTrace* trace) {
    trace->add_section(s.section_v, s.section_i, f, shown_trend(f.v, detrend),
                       shown_trend(f.i, detrend));
}

// The pass over the used samples; false with *why set when the file cannot give them.
// *last_time: the time stamp of the last used line.
bool read_sections(SampleStream& s, std::FILE* file, const std::string& name, std::int64_t needed,
                   std::uint32_t n, Window window, const SamplePass& pass, SampleStats* stats,
                   double* last_time, std::string* why) {
    SampleStatus status = start_samples(s, file, n);
    if (status != SampleStatus::ok) {
        *why = sample_problem_text(status, s.bad_line, name);
        return false;
    }
    set_used_lines(s, static_cast<std::uint64_t>(needed));
    stats->cross.emplace(window, n, pass.detrend);
    stats->record.emplace(pass.detrend, n);
    if (pass.trace_columns > 0) stats->trace.emplace(needed / n, n, pass.trace_columns);
    while ((status = next_section(s)) == SampleStatus::section_ready) {
        const SectionFigures& f =
            stats->record->add_section(s.section_v, s.section_i, s.first_time, s.last_time);
        // The record's figures fit each section with the spectrum's own detrend and keep the trend
        // they remove (with the mean alone, the mean and +0 terms): the very trend the spectrum
        // would fit, which it then need not fit again.
        stats->cross->add_section(s.section_v, s.section_i, f.v.trend, f.i.trend);
        if (stats->trace) add_to_trace(s, f, pass.detrend, &*stats->trace);
        if (pass.on_section) pass.on_section(f);
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
    stats->variance_v = stats->record->moments_v().variance();
    stats->variance_i = stats->record->moments_i().variance();
    return true;
}

}  // namespace

SampleStatsStatus read_sample_stats(const char* path, const std::string& name,
                                    std::int32_t nb_section, std::int32_t nbpoint_section,
                                    Window window, const SamplePass& pass, SampleStats* stats,
                                    std::string* why) {
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
                       static_cast<std::uint32_t>(nbpoint_section), window, pass, stats, &last_time,
                       why))
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
