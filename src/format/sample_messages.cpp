#include "format/sample_messages.h"

#include <cstddef>

#include "format/line_count.h"
#include "format/text_scan.h"

namespace psd {

namespace {

// How much of a bad line a message shows: about a console line's width.
constexpr std::size_t shown_characters = 60;

}  // namespace

// A UTF-8 character is never cut in two.
std::string visible_text(const std::string& text, bool* cut) {
    std::size_t length = text.size();
    *cut = length > shown_characters;
    if (*cut) {
        length = shown_characters;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::string shown;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            const char* const hex = "0123456789abcdef";
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string bad_line_text(const BadLine& bad, const std::string& data_file) {
    bool cut = false;
    const std::string shown = visible_text(bad.start, &cut);
    const std::string line_of = "Line " + std::to_string(bad.number) + " of " + data_file;
    if (bad.kind == LineVerdict::not_finite)
        return line_of + " holds a value that is not a finite number within float range: \"" +
               shown + (cut ? "...\"" : "\"") +
               ". Replace the dropouts (nan, inf) and keep voltages and currents within "
               "+-3.4e38.\n";
    const std::string line = line_of + " is not a sample of three numbers: ";
    if (bad.kind == LineVerdict::too_long)
        return line + "it has " + std::to_string(read_limit) + " characters or more (\"" + shown +
               "...\"). Put each sample on a line of its own, ended by a line feed, in fewer "
               "than " +
               std::to_string(read_limit) + " characters.\n";
    if (is_blank_text(bad.start.data(), bad.start.data() + bad.start.size()))
        return line + "the line is blank. Remove blank lines from the samples.\n";
    return line + "\"" + shown + (cut ? "...\"" : "\"") +
           ". Remove header lines; values must be separated by blanks or tabs and use a decimal "
           "point.\n";
}

std::string unreadable_text(const std::string& data_file) {
    return "The file " + data_file +
           " could not be read. Check that it is a readable sample file, or change data_file in "
           "config_psd.txt.\n";
}

std::string sample_problem_text(SampleStatus status, const BadLine& bad_line,
                                const std::string& data_file) {
    switch (status) {
        case SampleStatus::fewer_than_two:
            return "The structure of the data file is unknown.\n" + data_file +
                   " has fewer than two lines.\n";
        case SampleStatus::first_lines_bad:
            return bad_line_text(bad_line, data_file);
        case SampleStatus::too_many_lines:
            return "The file " + data_file + " has more than " + std::to_string(max_sample_lines) +
                   " lines. Split it into smaller files and change data_file in config_psd.txt.\n";
        case SampleStatus::ok:
        case SampleStatus::section_ready:
        case SampleStatus::read_error:
            break;
    }
    return unreadable_text(data_file);
}

}  // namespace psd
