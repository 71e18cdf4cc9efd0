#include "summary/record_trace.h"

#include <algorithm>

namespace psd {

RecordTrace::RecordTrace(std::int64_t sections, std::uint32_t n, std::size_t columns) : n_(n) {
    const std::int64_t wanted = static_cast<std::int64_t>(columns);
    per_column_ = sections <= wanted ? 1 : (sections + wanted - 1) / wanted;
    per_section_ = static_cast<std::uint32_t>(
        sections <= wanted ? std::min<std::int64_t>(n, std::max<std::int64_t>(1, wanted / sections))
                           : 1);
    columns_.reserve(static_cast<std::size_t>(sections / per_column_ + 1) * per_section_);
}

void RecordTrace::add_section(const double* v, const double* i, const SectionFigures& f,
                              const SectionTrend& trend_v, const SectionTrend& trend_i) {
    for (std::uint32_t c = 0; c < per_section_; ++c) {
        // Samples [first, last] of the section go to this column: per_section_ equal parts.
        const std::uint32_t first =
            static_cast<std::uint32_t>(std::uint64_t{c} * n_ / per_section_);
        const std::uint32_t last =
            static_cast<std::uint32_t>(std::uint64_t{c + 1} * n_ / per_section_) - 1;
        const bool joins = f.index % per_column_ != 0;  // a column of whole sections goes on
        if (!joins || columns_.empty()) {
            TraceColumn fresh;
            fresh.t_first = f.t_start + first * f.interval;
            fresh.v_min = fresh.v_max = v[first];
            fresh.i_min = fresh.i_max = i[first];
            fresh.v_trend_first = trend_value(trend_v, first, n_);
            fresh.i_trend_first = trend_value(trend_i, first, n_);
            columns_.push_back(fresh);
        }
        TraceColumn& col = columns_.back();
        for (std::uint32_t j = first; j <= last; ++j) {
            col.v_min = std::min(col.v_min, v[j]);
            col.v_max = std::max(col.v_max, v[j]);
            col.i_min = std::min(col.i_min, i[j]);
            col.i_max = std::max(col.i_max, i[j]);
        }
        col.t_last = f.t_start + last * f.interval;
        col.v_trend_last = trend_value(trend_v, last, n_);
        col.i_trend_last = trend_value(trend_i, last, n_);
    }
}

}  // namespace psd
