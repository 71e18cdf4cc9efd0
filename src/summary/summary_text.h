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

// What psd-plot draws, so that it parses no report itself: one line of gnuplot assignments
// (level, density_low/high and zn_low/high of a regular bin, rsn0_low/high in Hz, rsn0,
// rsn0_lower/upper in ohm, coherence, NaN when unavailable; zn_model, the interval's case as a
// word; bins, the usable_v/usable_i/usable_zn counts of finite positive values, f_low/f_high over
// the usable frequencies, and title, the parameter line as a single-quoted gnuplot string), then
// one line per bin: frequency, PSD_v, PSD_i and Zn as the report holds them (%.9g; inf and nan
// as printf spells them), then the bin's own band factors of the densities and of Zn (low, high;
// NaN for a biased bin) and its kind (0 regular, 1 biased, 2 fewer degrees of freedom).
// REQUIRES: summary made with the figures of every bin (SummaryOptions::per_bin), or its bins
// all take the regular factors.
std::string plot_data(const Summary& summary, double level);

// The figures of every bin as CSV, for --spectrum: a header line, then one row per bin (bin,
// frequency, kind, each density and Zn with the low and high ends of its interval, Zn's model,
// the bin's coherence with its interval, the phase of Zn with its interval). Empty cells where a
// figure is not available. REQUIRES: summary made with SummaryOptions::per_bin.
std::string spectrum_table(const Summary& summary);

}  // namespace psd
