// Helpers of the psd-summary tests: reports written by hand, psd run and its report summarised,
// the built psd-summary run as a process, and CSV rows split into fields.
#pragma once

#include <string>
#include <vector>

#include "summary/summary.h"
#include "test_support.h"

// One line of a report: frequency in Hz, PSD_v, PSD_i and Zn.
struct Bin {
    double f, v, i, zn;
};

// A report of M = nb_section sections holding these bins (N = 2 x bins), every digit kept and
// inf and nan as printf spells them.
std::string report_of(long long nb_section, const std::vector<Bin>& bins);

// Runs psd on samples in dir with the window (hanning) and "M N" given, then summarises its
// report (report.txt) with the options; false, with a failure said, when either cannot.
bool run_and_summarise(const TempDir& dir, int hanning, const std::string& sections,
                       const std::string& samples, psd::Summary* s,
                       const psd::SummaryOptions& options = psd::SummaryOptions{});

// The fields of the first line of text, split at every comma (no field here is quoted).
std::vector<std::string> csv_fields(const std::string& text);

#ifndef _WIN32
// Runs the built psd-summary with args in a POSIX shell, after the shell command first if any;
// returns its exit status, output in *out (standard error only when standard output goes to the
// file stdout_to).
int run_summary(const TempDir& dir, const std::string& args, std::string* out,
                const std::string& stdout_to = "", const std::string& first = "");
#endif
