#include "run/driver.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "input/sample_file.h"
#include "platform/console.h"
#include "platform/file_identity.h"
#include "run/config.h"
#include "spectrum/estimator.h"
#include "spectrum/report.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

template <typename T>
std::unique_ptr<T[]> allocate(std::int64_t entries) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(entries)]);
}

// The configured names as the C library sees them: a NUL byte read into a name ends it.
std::string name_of(const std::string& field) {
    return field.c_str();
}

const std::string out_of_memory =
    "\nThere is not enough memory for this run. Decrease nb_section or nbpoint_section in "
    "config_psd.txt.\n";

std::string config_message(const ConfigProblem& problem) {
    const std::string field = problem.field;
    switch (problem.fault) {
        case ConfigFault::read_error:
            return "\nThe file config_psd.txt could not be read. Check that it is a readable text "
                   "file.\n";
        case ConfigFault::missing_field:
            return "\nThe file config_psd.txt ends before the field " + field +
                   ". It must hold data_file, hanning, nb_section, nbpoint_section and "
                   "output_file, separated by blanks.\n";
        case ConfigFault::not_whole_number:
            return "\nThe field " + field +
                   " in config_psd.txt is not a whole number between -2147483648 and "
                   "2147483647. Correct it in config_psd.txt.\n";
        case ConfigFault::name_too_long:
        case ConfigFault::none:
            break;
    }
    return "\nThe field " + field +
           " in config_psd.txt is longer than 127 characters. Give a shorter file name in "
           "config_psd.txt.\n";
}

std::string probe_message(ProbeFault fault, const std::string& data_file) {
    switch (fault) {
        case ProbeFault::read_error:
            return "\nThe file " + data_file +
                   " could not be read. Check that it is a readable sample file, or change "
                   "data_file in config_psd.txt.\n";
        case ProbeFault::too_many_lines:
            return "\nThe file " + data_file +
                   " has more than 2147483647 lines. Split it into smaller files and change "
                   "data_file in config_psd.txt.\n";
        case ProbeFault::none:
            break;
    }
    return "\nThe structure of the data file is unknown.\n";
}

std::optional<std::string> run_steps() {
    // 1-2: the configuration.
    File config_file(std::fopen("config_psd.txt", "r"));
    if (!config_file)
        return std::string("\nThe file config_psd.txt does not exist in  the current directory.\n");
    ConfigProblem problem;
    const std::optional<RunConfig> read = read_run_config(config_file.get(), &problem);
    config_file.reset();
    if (!read) return config_message(problem);
    const RunConfig& config = *read;
    const std::string data_file = name_of(config.data_file);
    const std::string output_file = name_of(config.output_file);

    // 3-5: probe and load. Binary mode: the input module folds CR LF itself, so a file counts
    // the same on every platform.
    File samples(std::fopen(data_file.c_str(), "rb"));
    if (!samples) return "\nThe file " + data_file + " does not exist in the current directory.\n";
    // The probe rewinds the file twice, which a pipe or a device cannot do: such a file would
    // give a report of whatever was left after the first pass, or never end.
    if (!is_regular_file(samples.get())) return probe_message(ProbeFault::read_error, data_file);
    ProbeFault fault = ProbeFault::none;
    const std::int32_t count = DetecteESA400(samples.get(), &fault);
    if (count == 0) return probe_message(fault, data_file);

    // Only the samples the sections use are converted and kept; the checks below still see the
    // whole file's count. The product is formed in 64 bits: each factor is a 32-bit value.
    const std::int64_t needed = std::int64_t{config.nb_section} * config.nbpoint_section;
    const std::int64_t loaded = needed < 0 ? 0 : needed < count ? needed : count;
    std::unique_ptr<float[]> voltage = allocate<float>(loaded > 0 ? loaded : 1);
    std::unique_ptr<float[]> current = allocate<float>(loaded > 0 ? loaded : 1);
    if (!voltage || !current) return out_of_memory;
    if (!load_samples(samples.get(), static_cast<std::int32_t>(loaded), voltage.get(),
                      current.get()))
        return probe_message(ProbeFault::read_error, data_file);
    samples.reset();

    // 6-7: the section checks, sufficiency first.
    if (needed > nbpoint_acqui)
        return std::string(
            "\nFatal error: the number of data points is too low. Decrease\n"
            "the number of sections in the file config_psd.txt.\n");
    std::int64_t p = 2;
    while (p < config.nbpoint_section)
        p *= 2;
    if (p > config.nbpoint_section)
        return std::string(
            "\nFatal error: the number of data points per section is not a power of 2.\n");

    // Two values the estimator cannot work with, refused after both checks so that those keep
    // their precedence.
    if (config.nb_section < 1)
        return std::string(
            "\nThe number of sections nb_section in config_psd.txt is below 1. Set it to 1 or "
            "more.\n");
    if (!(deltat > 0.0f) || !std::isfinite(deltat))
        return "\nThe first two time stamps of " + data_file +
               " do not give a positive sampling interval. Check that the time stamps increase, "
               "or change data_file in config_psd.txt.\n";

    // 8-10: the analysis.
    const std::int64_t n = config.nbpoint_section;
    std::unique_ptr<double[]> section_v = allocate<double>(n);
    std::unique_ptr<double[]> section_i = allocate<double>(n);
    std::unique_ptr<float[]> spectrum = allocate<float>(n + 2);
    std::unique_ptr<float[]> psd_v = allocate<float>(n / 2 + 1);
    std::unique_ptr<float[]> psd_i = allocate<float>(n / 2 + 1);
    if (!section_v || !section_i || !spectrum || !psd_v || !psd_i) return out_of_memory;
    estimate_psd(config.hanning, config.nb_section, config.nbpoint_section, voltage.get(),
                 current.get(), deltat, section_v.get(), section_i.get(), spectrum.get(),
                 psd_v.get(), psd_i.get());
    const ReportStatus status =
        write_report(output_file.c_str(), data_file.c_str(), config.hanning, config.nb_section,
                     config.nbpoint_section, deltat, psd_v.get(), psd_i.get());
    if (status == ReportStatus::cannot_create)
        return "\nThe file " + output_file +
               " cannot be created. Check that its folder exists and can be written, or change "
               "output_file in config_psd.txt.\n";
    if (status == ReportStatus::held_open)
        return "\nThe file " + output_file +
               " cannot be created. Check that its folder exists and can be written, or change "
               "output_file in config_psd.txt.\nAnother program holds it open: close it there, "
               "then run psd again.\n";
    if (status == ReportStatus::write_failed)
        return "\nThe file " + output_file +
               " could not be written completely; the disk may be full.\n";

    // 11: release.
    section_v.reset();
    section_i.reset();
    spectrum.reset();
    voltage.reset();
    current.reset();
    psd_v.reset();
    psd_i.reset();
    return std::nullopt;
}

}  // namespace

void pause_and_exit(const std::string& message) {
    std::fputs(message.c_str(), stdout);
    std::fputs("Click on any key to exit\n", stdout);
    std::fflush(stdout);
    // Only a console window closes with the process; a script reading the output must not hang.
    if (console_is_interactive()) wait_for_one_key();
    std::exit(1);
}

std::optional<std::string> run_psd() {
    // The input module's block buffer and a token that runs across blocks grow on the heap.
    try {
        return run_steps();
    } catch (const std::bad_alloc&) {
        return out_of_memory;
    }
}
