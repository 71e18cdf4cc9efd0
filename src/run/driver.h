// The driver: one fixed run from config_psd.txt to the report.
//
// A run takes the folder it runs in and hands any failure back as a value, so that it can be
// tested and fuzzed in-process and called from other programs; only main turns a failure into
// text on the console and ends the process.
#pragma once

#include <cstdint>
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

// Voltage and current of count samples held in memory: floats, or doubles that are rounded to
// float as a sample line's values are.
struct SampleArrays {
    const void* voltage = nullptr;
    const void* current = nullptr;
    bool doubles = false;
    std::int64_t count = 0;
};

// The analysis of samples in memory, as analyse_folder makes it of a file that holds them at the
// interval deltat under config's window and sections: the checks of a run that apply, in its
// order (a sample whose voltage or current is no finite float is a bad used line, numbered from
// 1), and the same estimator, on one thread. name stands for the file in messages; the parameter
// line names config.data_file; report_path is left empty.
// REQUIRES: samples' arrays hold count values each.
std::variant<Analysis, Failure> analyse_arrays(const RunConfig& config, const SampleArrays& samples,
                                               float deltat, const std::string& name);

// Writes the analysis's report to analysis.report_path as run_psd does once the analysis has
// succeeded: the same bytes, the same replacement rules. Returns nothing when it is written.
std::optional<Failure> write_analysis(const Analysis& analysis,
                                      const FileSystem& files = system_files());

// The same report written to report_path instead, its failures naming output_name as run_psd
// names the configured output file; the analysis's own names are not read, so that a report can
// go elsewhere without a copy of its densities.
std::optional<Failure> write_analysis(const Analysis& analysis, const std::string& report_path,
                                      const std::string& output_name,
                                      const FileSystem& files = system_files());

// The whole run in folder (empty: the current folder): the analysis, then the report. Returns
// nothing when the report is written.
// REQUIRES: threads >= 1.
std::optional<Failure> run_psd(const std::string& folder, const FileSystem& files = system_files(),
                               unsigned threads = 1);

}  // namespace psd
