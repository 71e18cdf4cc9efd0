// A run that ends without its report: which check failed, and what its message needs to say.
//
// Every step of a run hands its failure back as one of these values; run/messages.h turns it into
// the text on the console, and only main ends the process with it.
#pragma once

#include <cstdint>
#include <string>

#include "format/sample_stream.h"
#include "run/config.h"

namespace psd {

enum class RunFault {
    folder_not_entered,    // psd FOLDER: no folder that may be entered
    config_missing,        // config_psd.txt cannot be opened (folder: where it was looked for)
    config_malformed,      // config, config_problem
    samples_missing,       // the sample file cannot be opened (folder: where it was looked for)
    same_as_samples,       // output_file names the sample file
    same_as_config,        // output_file names config_psd.txt
    samples_unreadable,    // a folder, a pipe, a device, a read error, a file that changed
    sample_problem,        // the pass ended in samples (bad_line for a bad line 1 or 2)
    too_few_points,        // nb_section x nbpoint_section beyond the count (count, nb_section, n)
    not_power_of_two,      // nbpoint_section (n) is no power of two of at least 2
    negative_sections,     // nb_section below 0
    hann_of_two,           // the Hann window of 2 points: both weights 0
    bad_interval,          // the first two time stamps give no positive, finite interval
    unusable_interval,     // frequencies or densities of that interval beyond float (deltat)
    bad_used_line,         // a used line is not a sample line (bad_line)
    out_of_memory,         // a buffer of the run cannot be allocated
    report_cannot_create,  // the report's folder is missing or read-only, or the name a folder
    report_held_open,      // Windows: another program holds the report open
    report_write_failed,   // the disk filled up part way
    report_no_reader,      // the report is a named pipe that no program reads
};

struct Failure {
    RunFault fault = RunFault::out_of_memory;
    std::string name;    // the folder, data_file or output_file the message is about
    std::string other;   // same_as_*: the file the report would replace
    std::string folder;  // the folder the run was given (psd FOLDER), empty for the current one
    ConfigStatus config = ConfigStatus::ok;
    ConfigProblem config_problem;
    SampleStatus samples = SampleStatus::ok;
    BadLine bad_line;
    std::int64_t count = 0;  // too_few_points: the sample count, nb_section and N asked for
    std::int32_t nb_section = 0;
    std::int32_t n = 0;
    float deltat = 0.0f;  // unusable_interval: the interval from the first two time stamps
};

// A failure of the given kind about the file or folder name (other: the file the report would
// replace), its other details left to the caller.
inline Failure failure(RunFault fault, const std::string& name, const std::string& other = "") {
    Failure f;
    f.fault = fault;
    f.name = name;
    f.other = other;
    return f;
}

}  // namespace psd
