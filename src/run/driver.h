// The driver: one fixed run from config_psd.txt to the report.
//
// A run takes the folder it runs in and hands any failure back as a value, so that it can be
// tested and fuzzed in-process and called from other programs; only main turns a failure into
// text on the console and ends the process.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "format/report_file.h"
#include "platform/file_system.h"
#include "run/config.h"
#include "run/failure.h"
#include "spectrum/estimator.h"

namespace psd {

// A run's result before its report is written: the configuration, the report's parameter line,
// the sampling interval, the densities of bins 0 .. N/2 and where the report goes.
struct Analysis {
    RunConfig config;
    ReportHeader header;
    float deltat = 0.0f;
    Densities densities;
    std::string report_path;  // output_file as seen from the folder
};

// Reads config_psd.txt and the samples in folder (empty: the current folder) of files and
// estimates the densities on `threads` threads, with every check of a run but the report's;
// writes nothing. Any number of threads gives the same analysis.
// REQUIRES: threads >= 1.
std::variant<Analysis, Failure> analyse_folder(const std::string& folder,
                                               const FileSystem& files = system_files(),
                                               unsigned threads = 1);

// The whole run in folder (empty: the current folder): the analysis, then the report. Returns
// nothing when the report is written.
// REQUIRES: threads >= 1.
std::optional<Failure> run_psd(const std::string& folder, const FileSystem& files = system_files(),
                               unsigned threads = 1);

}  // namespace psd
