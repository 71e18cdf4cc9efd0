#include "run/driver.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "input/sample_stream.h"
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

std::string number(std::int64_t value) {
    return std::to_string(value);
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
            return "\nThe field " + field +
                   " in config_psd.txt is longer than 127 characters. Give a shorter file name "
                   "in config_psd.txt.\n";
        case ConfigFault::none:
            // The reader names a fault whenever it returns no configuration.
            return "\nThe file config_psd.txt could not be read as a configuration.\n";
    }
    return "\nThe file config_psd.txt could not be read as a configuration.\n";
}

std::string unreadable(const std::string& data_file) {
    return "\nThe file " + data_file +
           " could not be read. Check that it is a readable sample file, or change data_file in "
           "config_psd.txt.\n";
}

std::string too_many_lines(const std::string& data_file) {
    return "\nThe file " + data_file +
           " has more than 2147483647 lines. Split it into smaller files and change data_file in "
           "config_psd.txt.\n";
}

std::string unknown_structure(const std::string& data_file) {
    return "\nThe structure of the data file is unknown.\n" + data_file +
           " has fewer than two lines.\n";
}

std::string cannot_create(const std::string& output_file) {
    return "\nThe file " + output_file +
           " cannot be created. Check that its folder exists and can be written, or change "
           "output_file in config_psd.txt.\n";
}

std::string same_file_message(const std::string& output_file, const std::string& other) {
    return "\nThe output_file " + output_file + " is the same file as " + other +
           ": the report would replace it. Give another output_file in config_psd.txt.\n";
}

std::string sections_of(std::int64_t sections, std::int64_t n) {
    return number(sections) + (sections == 1 ? " section of " : " sections of ") + number(n) +
           " points";
}

// The design's two lines, then the numbers a user needs to choose nb_section.
std::string too_few_points(const std::string& data_file, std::int64_t count,
                           std::int32_t nb_section, std::int64_t n) {
    std::string numbers = data_file + " has " + number(count) + " samples; ";
    if (nb_section > 0) {
        numbers += sections_of(nb_section, n) + (nb_section == 1 ? " needs " : " need ") +
                   number(nb_section * n) + ". ";
        const std::int64_t fit = count / n;
        if (fit > 0) {
            numbers += "At most " + sections_of(fit, n) + (fit == 1 ? " fits." : " fit.");
        } else {
            numbers += "Not even one section of " + number(n) + " points fits.";
        }
    } else {
        numbers += "not even one section of " + number(n) + " points fits.";
    }
    return "\nFatal error: the number of data points is too low. Decrease\n"
           "the number of sections in the file config_psd.txt.\n" +
           numbers + "\n";
}

// At most about 60 characters of a line, control characters written as \t, \r or \xNN so that
// the console shows what is really there; a UTF-8 character is never cut in two.
std::string visible(const std::string& start, bool* cut) {
    constexpr std::size_t shown = 60;
    std::size_t length = start.size();
    *cut = length > shown;
    if (*cut) {
        length = shown;
        while (length > 0 && (static_cast<unsigned char>(start[length]) & 0xC0) == 0x80)
            --length;
    }
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(start[i]);
        if (c == '\t') {
            text += "\\t";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            const char* const hex = "0123456789abcdef";
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string bad_line_message(const BadLine& bad, const std::string& data_file) {
    bool cut = false;
    const std::string shown = visible(bad.start, &cut);
    const std::string line = "\nLine " + number(static_cast<std::int64_t>(bad.number)) + " of " +
                             data_file + " is not a sample of three numbers: ";
    if (bad.too_long)
        return line + "it has 198 characters or more (\"" + shown +
               "...\"). Put each sample on a line of its own, ended by a line feed, in fewer "
               "than 198 characters.\n";
    if (bad.start.find_first_not_of(" \t\v\f\r") == std::string::npos)
        return line + "the line is blank. Remove blank lines from the samples.\n";
    return line + "\"" + shown + (cut ? "...\"" : "\"") +
           ". Remove header lines; values must be separated by blanks or tabs and use a decimal "
           "point.\n";
}

// The message of a pass over the sample file that ended in a fault; nothing when it did not.
std::optional<std::string> sample_failure(SampleStatus status, const SampleStream& stream,
                                          const std::string& data_file) {
    switch (status) {
        case SampleStatus::ok:
        case SampleStatus::section_ready:
            return std::nullopt;
        case SampleStatus::fewer_than_two:
            return unknown_structure(data_file);
        case SampleStatus::first_lines_bad:
            return bad_line_message(stream.bad_line, data_file);
        case SampleStatus::read_error:
            return unreadable(data_file);
        case SampleStatus::too_many_lines:
            return too_many_lines(data_file);
    }
    return std::nullopt;
}

// N passes when it is 2, 4, 8, ...: doubled in 64 bits, so no 32-bit value loops forever.
bool is_power_of_two(std::int32_t n) {
    std::int64_t p = 2;
    while (p < n)
        p *= 2;
    return p == n;
}

std::optional<std::string> run_steps() {
    // The configuration, read whole before anything else is opened.
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

    // Binary mode: the input module folds CR LF itself, so a file counts the same on every
    // platform.
    File samples(std::fopen(data_file.c_str(), "rb"));
    if (!samples) return "\nThe file " + data_file + " does not exist in the current directory.\n";
    // A report written over the record or the configuration would destroy what it is made of.
    if (same_file(output_file.c_str(), data_file.c_str()))
        return same_file_message(output_file, data_file);
    if (same_file(output_file.c_str(), "config_psd.txt"))
        return same_file_message(output_file, "config_psd.txt");
    // A pipe or a device cannot be measured: an endless one would never end the count.
    if (!is_regular_file(samples.get())) return unreadable(data_file);

    const std::int32_t n = config.nbpoint_section;
    const bool power_of_two = is_power_of_two(n);
    SampleStream stream;
    const std::uint32_t grouping = power_of_two ? static_cast<std::uint32_t>(n) : 2;
    if (auto failure =
            sample_failure(start_samples(stream, samples.get(), grouping), stream, data_file))
        return failure;

    // The checks that do not need the count are known now: a run that will fail them only
    // counts the lines, so that the checks can still report in their order.
    const float deltat = stream.deltat;
    const bool interval_ok = deltat > 0.0f && std::isfinite(deltat);
    const bool analyse = power_of_two && config.nb_section >= 0 && interval_ok;
    const std::int64_t asked = std::int64_t{config.nb_section} * n;
    set_used_lines(stream, !analyse                 ? 0
                           : config.nb_section == 0 ? UINT64_MAX
                                                    : static_cast<std::uint64_t>(asked));

    // Each section is analysed as soon as it is read. The estimator's buffers come with the
    // first section, so a file too short for one never asks for them.
    std::unique_ptr<double[]> window;
    std::unique_ptr<float[]> spectrum;
    std::unique_ptr<float[]> psd_v;
    std::unique_ptr<float[]> psd_i;
    bool memory_short = false;
    std::int64_t sections = 0;
    SampleStatus status;
    while ((status = next_section(stream)) == SampleStatus::section_ready) {
        if (!psd_v) {
            window = allocate<double>(config.hanning == 1 ? n : 1);
            spectrum = allocate<float>(std::int64_t{n} + 2);
            psd_v = allocate<float>(n / 2 + 1);
            psd_i = allocate<float>(n / 2 + 1);
            if (!window || !spectrum || !psd_v || !psd_i) {
                psd_v.reset();
                memory_short = true;
                stop_converting(stream);
                continue;
            }
            start_psd(config.hanning, n, window.get(), psd_v.get(), psd_i.get());
        }
        add_section(config.hanning, n, window.get(), stream.section_v, stream.section_i,
                    spectrum.get(), psd_v.get(), psd_i.get());
        ++sections;
    }
    if (auto failure = sample_failure(status, stream, data_file)) return failure;
    samples.reset();

    // The section checks, sufficiency first. nb_section 0 asks for every whole section there is.
    const std::int64_t count = static_cast<std::int64_t>(stream.count);
    const std::int64_t m =
        config.nb_section == 0 && power_of_two ? count / n : std::int64_t{config.nb_section};
    if (m * n > count || (config.nb_section == 0 && power_of_two && m == 0))
        return too_few_points(data_file, count, config.nb_section, n);
    if (!power_of_two)
        return std::string(
            "\nFatal error: the number of data points per section is not a power of 2.\n");

    // Two values the estimator cannot work with, refused after both checks so that those keep
    // their precedence.
    if (config.nb_section < 0)
        return std::string(
            "\nThe number of sections nb_section in config_psd.txt is negative. Set it to 0 (as "
            "many sections as the record holds) or more.\n");
    if (!interval_ok)
        return "\nThe first two time stamps of " + data_file +
               " do not give a positive sampling interval. Check that the time stamps increase, "
               "or change data_file in config_psd.txt.\n";

    // Every line the sections use must have been a sample.
    const BadLine& bad = stream.bad_line;
    if (bad.number != 0 && bad.number <= static_cast<std::uint64_t>(m * n))
        return bad_line_message(bad, data_file);
    if (memory_short || stream.out_of_memory) return out_of_memory;
    // Every used line was read as a sample, so every section was analysed; the guard keeps a
    // file that changed under the pass from giving a report of part of it.
    if (sections != m) return unreadable(data_file);

    finish_psd(config.hanning, static_cast<std::int32_t>(m), n, deltat, psd_v.get(), psd_i.get());
    switch (write_report(output_file.c_str(), data_file.c_str(), config.hanning,
                         static_cast<std::int32_t>(m), n, deltat, psd_v.get(), psd_i.get())) {
        case ReportStatus::written:
            return std::nullopt;
        case ReportStatus::cannot_create:
            return cannot_create(output_file);
        case ReportStatus::held_open:
            return cannot_create(output_file) +
                   "Another program holds it open: close it there, then run psd again.\n";
        case ReportStatus::write_failed:
            return "\nThe file " + output_file +
                   " could not be written completely; the disk may be full.\n";
    }
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

std::optional<std::string> enter_folder(const std::string& folder) {
    std::error_code error;
    std::filesystem::current_path(folder, error);
    if (!error) return std::nullopt;
    return "\nThe folder " + folder +
           " cannot be entered. Check that it exists and that it may be opened.\n";
}

std::optional<std::string> run_psd() {
    // The read buffer and the section buffers grow on the heap.
    try {
        return run_steps();
    } catch (const std::bad_alloc&) {
        return out_of_memory;
    }
}
