// The forms a summary is printed in: a readable block per report, one CSV row per report for a
// batch table, and the figures psd-plot draws its bands from. Text is returned, never printed.
#pragma once

#include <string>

#include "summary/summary.h"

// The readable block, lines ending in a line feed. level is the confidence level of the factors.
std::string summary_block(const Summary& summary, double level);

// The CSV header line and one row (RFC 4180 quoting of names; empty fields where a figure is not
// available, e.g. the sample checks of a report whose sample file was not read).
std::string csv_header();
std::string csv_row(const Summary& summary, double level);

// One line of gnuplot assignments (numbers only, nothing taken from file names):
// level, density_low/high, zn_low/high, rsn0_low/high (Hz), rsn0 (ohm, NaN when unavailable).
std::string plot_data(const Summary& summary, double level);
