// Reading a psd report back: the parameter line, the title line and the N/2 data lines of
// frequency, PSD_v, PSD_i and Zn. The reader is strict about the layout psd writes (so that a
// sample file or a half-copied report is never summarised as if it were a report) and lenient
// only where other systems differ: CR LF line ends and the spellings of inf and nan.
#pragma once

#include <string>
#include <vector>

struct Report {
    std::string data_file;  // as written on the parameter line
    int hanning = 0;
    int nb_section = 0;       // M
    int nbpoint_section = 0;  // N
    // Bins k = 1 .. N/2 at index k - 1: frequency in Hz (for time stamps in seconds), the
    // densities in V^2/Hz and A^2/Hz, Zn in ohms.
    std::vector<double> frequency, psd_v, psd_i, zn;
};

enum class ReportStatus { ok, unreadable, not_a_report, truncated };

// Reads the report at path into *report. On failure *why says what is wrong, in words that
// follow "is not a psd report: " or "is truncated: " (unreadable: the system's reason).
// REQUIRES: report and why not null.
ReportStatus read_report(const char* path, Report* report, std::string* why);

// The sampling interval the report was computed with, from its Nyquist frequency (the last bin):
// in the time stamps' unit, to the report's 7 significant digits.
// REQUIRES: report read with ReportStatus::ok.
double report_deltat(const Report& report);
