// The forms a summary is printed in: a readable block per report, one CSV row per report for a
// batch table, and the figures psd-plot draws its bands from. Text is returned, never printed.
#pragma once

#include <string>

#include "summary/summary.h"

namespace psd {

// The readable block, lines ending in a line feed. level is the confidence level of the factors.
// A figure that cannot be formed is said to be not available, with the reason; no figure is
// ever printed as nan or inf.
// REQUIRES: summary made with the slopes (SummaryOptions::slopes).
std::string summary_block(const Summary& summary, double level);

// The CSV header line and one row (RFC 4180 quoting of names; empty fields where a figure is not
// available: where the block says so, and the sample checks of a report whose sample file was
// not read).
// REQUIRES: as summary_block.
std::string csv_header();
std::string csv_row(const Summary& summary, double level);

// The per-section table of --sections: a header line (a report column first when with_report)
// and one row per section (numbered from 1; the time in seconds, the means, the standard
// deviations, Rn, skewness and kurtosis of the samples less the section's trend, the slopes of
// the straight lines fitted to V and I per second). report is empty when there is no such column.
std::string section_csv_header(bool with_report);
std::string section_csv_row(const std::string& report, const SectionFigures& figures);

// What psd-plot draws, so that it parses no report itself (plot_data.cpp): one line of gnuplot
// assignments (the bands' factors, the Rsn0 band, Rsn0 and its interval, the coherence and the
// model, Rn, the slopes' bands and lines, the bin counts, the frequency span, the top of the
// reliable band, the axes' ranges and labelled tics, the record's units and drift, and last the
// title, a caption as a single-quoted gnuplot string; NaN for a figure not available), then one
// line per bin: frequency, PSD_v, PSD_i and Zn as the report holds them (%.9g; inf and nan as
// printf spells them), the bin's own band factors of the densities and of Zn (low, high; NaN for
// a biased bin), its kind (0 regular, 1 biased, 2 fewer degrees of freedom) and the smoothed
// PSD_v, PSD_i and Zn (NaN where not smoothed); then, with the record's trace, two blank lines
// and one line per column of it: first and last time, V min and max, I min and max, V's trend at
// the first and last time, I's likewise.
// REQUIRES: summary made with the figures of every bin (SummaryOptions::per_bin), or its bins
// all take the regular factors.
std::string plot_data(const Summary& summary, double level);

// The model of an interval as one word, for tables.
std::string model_word(ZnModel model, double coherence);

// The figures of every bin as CSV, for --spectrum: a header line, then one row per bin (bin,
// frequency, kind, each density and Zn with the low and high ends of its interval, Zn's model,
// the bin's coherence with its interval, the phase of Zn with its interval). Empty cells where a
// figure is not available. REQUIRES: summary made with SummaryOptions::per_bin.
std::string spectrum_table(const Summary& summary);

}  // namespace psd
