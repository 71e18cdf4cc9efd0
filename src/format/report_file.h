// The report file: a parameter line, a title line and one line per frequency bin 1..N/2 with
// frequency, PSD_v, PSD_i and Zn = sqrt(PSD_v / PSD_i). Its writer and its one reader live here,
// so psd, psd-summary and psd-plot agree on every byte of it.
//
// The writer goes through platform/replace_file.h: a report is never left half-written, an
// earlier report is kept on failure, devices and hard-linked files are written in place. The
// reader is strict about the layout psd writes (so that a sample file or a half-copied report is
// never taken for a report) and lenient only where other systems differ: CR LF line ends and the
// spellings of inf and nan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace psd {

// The parameter line's fields, as the configuration gave them (nb_section: the sections used).
struct ReportHeader {
    std::string data_file;
    std::int32_t hanning = 0;
    std::int32_t nb_section = 0;
    std::int32_t nbpoint_section = 0;
};

// held_open: another program holds the report open without sharing it (Windows only).
// no_reader: the report is a named pipe that no program reads (POSIX).
enum class ReportWriteStatus { written, cannot_create, write_failed, held_open, no_reader };

// Writes the report of psd_v[0..N/2] and psd_i[0..N/2] (N = header.nbpoint_section) to path in
// files, the frequencies from deltat (in the time stamps' unit).
// REQUIRES: N a power of two, at least 2; both arrays hold N/2 + 1 floats.
ReportWriteStatus write_report(const char* path, const ReportHeader& header, float deltat,
                               const float* psd_v, const float* psd_i,
                               const FileSystem& files = system_files());

// The report's text as write_report would store it on Linux (line feeds alone), for a program
// that keeps the report in memory. REQUIRES: as write_report.
std::string report_text(const ReportHeader& header, float deltat, const float* psd_v,
                        const float* psd_i);

// The Nyquist frequency the report's frequencies come from: 1 / (2 deltat), kept as a float as
// every report has kept it; bin k lies at k times it divided by N/2.
float nyquist_frequency(float deltat);

// The spacing of the report's bins, the double the frequencies are formed from: bin k lies at
// k times it. REQUIRES: n a power of two, at least 2.
double bin_width(float deltat, std::int32_t n);

// A bin's Zn as the report prints it: sqrt(PSD_v / PSD_i) in double (inf where PSD_i is 0).
double noise_impedance(float psd_v, float psd_i);

// A report read back. Bins k = 1 .. N/2 at index k - 1: frequency in Hz (for time stamps in
// seconds), the densities in V^2/Hz and A^2/Hz, Zn in ohms.
struct ReportData {
    ReportHeader header;
    std::vector<double> frequency, psd_v, psd_i, zn;
};

enum class ReportReadStatus { ok, unreadable, not_a_report, truncated };

// Reads the report at path into *report. On failure *reason says what is wrong, in words that
// follow "is not a psd report: " or "is truncated: " (unreadable: the system's reason).
// REQUIRES: report and reason not null.
ReportReadStatus read_report(const char* path, ReportData* report, std::string* reason);

// Reads a report held in memory, text as a report file holds it, as read_report reads a file.
// REQUIRES: report and reason not null.
ReportReadStatus read_report_text(const std::string& text, ReportData* report, std::string* reason);

// The sampling interval the report was computed with, from its Nyquist frequency (the last bin):
// in the time stamps' unit, to the report's 7 significant digits.
// REQUIRES: report read with ReportReadStatus::ok.
double report_deltat(const ReportData& report);

}  // namespace psd
