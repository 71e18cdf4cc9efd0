#include "run/messages.h"

#include <cstdint>
#include <cstdio>

#include "format/sample_messages.h"
#include "platform/file.h"

namespace psd {

namespace {

std::string number(std::int64_t value) {
    return std::to_string(value);
}

// An interval as the time stamps give it, to the float's precision.
std::string interval_text(float deltat) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(deltat));
    return text;
}

// What was read as the faulty field, so that a shifted field (a name with a blank in it, a
// comment, "key = value") shows itself; a UTF-16 file is named as such, its bytes would only
// puzzle.
std::string config_token_line(const ConfigProblem& problem) {
    if (problem.unicode)
        return "config_psd.txt is saved as Unicode (UTF-16): save it as plain text (ANSI or "
               "UTF-8) in your editor.\n";
    if (problem.token.empty()) return std::string();
    bool cut = false;
    const std::string shown = visible_text(problem.token, &cut);
    return "The field " + std::string(problem.field) + " is \"" + shown + (cut ? "...\"" : "\"") +
           ".\n";
}

std::string config_text(const Failure& f) {
    const std::string field = f.config_problem.field;
    switch (f.config) {
        case ConfigStatus::read_error:
            break;
        case ConfigStatus::missing_field:
            return "The file config_psd.txt ends before the field " + field +
                   ". It must hold data_file, hanning, nb_section, nbpoint_section and "
                   "output_file, separated by blanks.\n" +
                   config_token_line(f.config_problem);
        case ConfigStatus::not_whole_number:
            return "The field " + field + " in config_psd.txt is not a whole number between " +
                   number(INT32_MIN) + " and " + number(INT32_MAX) +
                   ". Correct it in config_psd.txt.\n" + config_token_line(f.config_problem);
        case ConfigStatus::name_too_long:
            return "The field " + field + " in config_psd.txt is longer than " +
                   number(max_name_length) +
                   " characters. Give a shorter file name in config_psd.txt.\n" +
                   config_token_line(f.config_problem);
        case ConfigStatus::ok:
            return "The file config_psd.txt could not be read as a configuration.\n";
    }
    return "The file config_psd.txt could not be read. Check that it is a readable text file.\n";
}

// The largest power of two not above count. REQUIRES: count >= 1.
std::int64_t largest_power_of_two(std::int64_t count) {
    std::int64_t p = 1;
    while (p <= count / 2)
        p *= 2;
    return p;
}

// nbpoint_section beside the powers of two around it; 1 and less give no frequency bin at all.
std::string power_of_two_text(std::int32_t n) {
    const std::string head =
        "Fatal error: the number of data points per section is not a power of 2.\n";
    if (n < 2)
        return head + "nbpoint_section is " + number(n) +
               ": a section needs at least 2 points to give a frequency bin (2, 4, 8, ..., "
               "1024, ...).\n";
    const std::int64_t below = largest_power_of_two(n);
    if (below > INT32_MAX / 2)
        return head + "nbpoint_section is " + number(n) + "; the nearest power of 2 is " +
               number(below) + ".\n";
    return head + "nbpoint_section is " + number(n) + "; the nearest powers of 2 are " +
           number(below) + " and " + number(2 * below) + ".\n";
}

std::string sections_of(std::int64_t sections, std::int64_t n) {
    return number(sections) + (sections == 1 ? " section of " : " sections of ") + number(n) +
           " points";
}

// The design's two lines, then the numbers a user needs to choose nb_section.
std::string too_few_points_text(const Failure& f) {
    const std::int64_t n = f.n;
    std::string numbers = f.name + " has " + number(f.count) + " samples; ";
    if (f.nb_section > 0) {
        numbers += sections_of(f.nb_section, n) + (f.nb_section == 1 ? " needs " : " need ") +
                   number(f.nb_section * n) + ". ";
        const std::int64_t fit = f.count / n;
        if (fit > 0) {
            numbers += "At most " + sections_of(fit, n) + (fit == 1 ? " fits." : " fit.");
        } else {
            numbers += "Not even one section of " + number(n) + " points fits.";
        }
    } else {
        numbers += "not even one section of " + number(n) + " points fits.";
    }
    if (f.count < n)
        numbers = f.name + " has " + number(f.count) + " samples, fewer than one section of " +
                  number(n) + " points: the largest nbpoint_section that fits is " +
                  number(largest_power_of_two(f.count)) + ".";
    return "Fatal error: the number of data points is too low. Decrease\n"
           "the number of sections in the file config_psd.txt.\n" +
           numbers + "\n";
}

std::string cannot_create_text(const std::string& output_file) {
    return "The file " + output_file +
           " cannot be created. Check that its folder exists and can be written, or change "
           "output_file in config_psd.txt.\n";
}

std::string same_file_text(const Failure& f) {
    return "The output_file " + f.name + " is the same file as " + f.other +
           ": the report would replace it. Give another output_file in config_psd.txt.\n";
}

// Where a file that is not there was looked for, when it was not the current directory.
std::string looked_in(const Failure& f) {
    return f.folder.empty() ? std::string() : "It was looked for in the folder " + f.folder + ".\n";
}

// The text of the failures found before the samples are read.
std::string setup_text(const Failure& f) {
    switch (f.fault) {
        case RunFault::folder_not_entered:
            return "The folder " + f.name +
                   " cannot be entered. Check that it exists and that it may be opened.\n";
        case RunFault::config_missing:
            return "The file config_psd.txt does not exist in  the current directory.\n" +
                   looked_in(f);
        case RunFault::config_malformed:
            return config_text(f);
        case RunFault::samples_missing:
            return "The file " + f.name + " does not exist in the current directory.\n" +
                   (is_absolute_name(f.name)
                        ? f.name +
                              " is a full path: it was looked for there, not in the current "
                              "directory.\n"
                        : looked_in(f));
        case RunFault::same_as_samples:
        case RunFault::same_as_config:
            return same_file_text(f);
        default:
            return std::string();
    }
}

// The text of the failures found in and after the pass over the samples.
std::string analysis_text(const Failure& f) {
    switch (f.fault) {
        case RunFault::samples_unreadable:
            return unreadable_text(f.name);
        case RunFault::sample_problem:
            return sample_problem_text(f.samples, f.bad_line, f.name);
        case RunFault::too_few_points:
            return too_few_points_text(f);
        case RunFault::not_power_of_two:
            return power_of_two_text(f.n);
        case RunFault::hann_of_two:
            return "The Hann window of 2 points is zero at both of them: every density would be "
                   "0. Set hanning to 0, or nbpoint_section to 4 or more, in config_psd.txt.\n";
        case RunFault::negative_sections:
            return "The number of sections nb_section in config_psd.txt is negative. Set it to 0 "
                   "(as many sections as the record holds) or more.\n";
        case RunFault::bad_interval:
            return "The first two time stamps of " + f.name +
                   " do not give a positive sampling interval. Check that the time stamps "
                   "increase, or change data_file in config_psd.txt.\n";
        case RunFault::unusable_interval:
            return "The sampling interval of " + f.name + ", " + interval_text(f.deltat) +
                   " from its first two time stamps, gives frequencies or densities beyond the "
                   "range of 32-bit floats. Check the unit of the time stamps, or change "
                   "data_file in config_psd.txt.\n";
        case RunFault::bad_used_line:
            return bad_line_text(f.bad_line, f.name);
        default:
            return std::string();
    }
}

// The text of the failures of the last steps: memory and the report.
std::string ending_text(const Failure& f) {
    switch (f.fault) {
        case RunFault::out_of_memory:
            return "There is not enough memory for this run. Decrease nb_section or "
                   "nbpoint_section in config_psd.txt.\n";
        case RunFault::report_cannot_create:
            return cannot_create_text(f.name);
        case RunFault::report_held_open:
            return cannot_create_text(f.name) +
                   "Another program holds it open: close it there, then run psd again.\n";
        case RunFault::report_no_reader:
            return cannot_create_text(f.name) +
                   "It is a named pipe that no program reads: start the program that reads it "
                   "first, or change output_file in config_psd.txt.\n";
        case RunFault::report_write_failed:
            return "The file " + f.name +
                   " could not be written completely; the disk may be full.\n";
        default:
            return std::string();
    }
}

}  // namespace

std::string message_of(const Failure& failure) {
    std::string text = setup_text(failure);
    if (text.empty()) text = analysis_text(failure);
    if (text.empty()) text = ending_text(failure);
    return "\n" + text;
}

}  // namespace psd
