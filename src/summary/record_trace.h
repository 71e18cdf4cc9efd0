// The record drawn over time, cut down to what a picture can show: the used samples grouped into
// at most a few hundred columns, each holding the least and the greatest voltage and current of
// its samples and the trend drawn through them, so that a record of 10^9 samples costs the plot
// no more than one of 10^4. Columns never straddle two sections while there are fewer sections
// than columns, so each section's own trend is drawn apart, its jumps at the section ends kept;
// with more sections, each column holds whole sections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "spectrum/cross_spectrum.h"
#include "summary/record_stats.h"

namespace psd {

struct TraceColumn {
    double t_first = 0, t_last = 0;  // s: the column's first and last samples' times
    double v_min = 0, v_max = 0, i_min = 0, i_max = 0;
    // The shown trend at the column's first and last samples.
    double v_trend_first = 0, v_trend_last = 0, i_trend_first = 0, i_trend_last = 0;
};

class RecordTrace {
  public:
    // A trace of sections sections of n samples in at most columns columns.
    // REQUIRES: sections >= 1, n >= 2, columns >= 1.
    RecordTrace(std::int64_t sections, std::uint32_t n, std::size_t columns);

    // Adds the next section: its samples, its figures, and the trend to draw through each
    // channel (the one removed, or the straight line found when only the mean is removed).
    void add_section(const double* v, const double* i, const SectionFigures& figures,
                     const SectionTrend& trend_v, const SectionTrend& trend_i);

    const std::vector<TraceColumn>& columns() const { return columns_; }

  private:
    std::uint32_t n_;
    std::int64_t per_column_;    // sections per column (1 when a section has columns of its own)
    std::uint32_t per_section_;  // columns per section (1 when a column holds sections)
    std::vector<TraceColumn> columns_;
};

}  // namespace psd
