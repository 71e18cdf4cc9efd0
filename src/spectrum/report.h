// The report file: a parameter line, a title line and one line per frequency bin 1..N/2 with
// frequency, PSD_v, PSD_i and Zn = sqrt(PSD_v / PSD_i).
//
// The file itself is written through output/replace_file.h: never left half-written, an earlier
// report kept on failure, devices and hard-linked files written in place.
#pragma once

#include <cstdint>

// held_open: another program holds the report open without sharing it (Windows only).
enum class ReportStatus { written, cannot_create, write_failed, held_open };

// Writes the report of psd_v[0..N/2] and psd_i[0..N/2] (N = nbpoint_section) to output_file; the
// parameter line shows data_file, hanning, nb_section and nbpoint_section as configured.
// REQUIRES: N a power of two, at least 2; both arrays hold N/2 + 1 floats.
ReportStatus write_report(const char* output_file, const char* data_file, std::int32_t hanning,
                          std::int32_t nb_section, std::int32_t nbpoint_section, float deltat,
                          const float* psd_v, const float* psd_i);
