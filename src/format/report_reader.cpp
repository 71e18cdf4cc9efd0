#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "format/decimal.h"
#include "format/report_file.h"
#include "format/text_scan.h"
#include "internal/line_reader.h"

namespace psd {

namespace {

// The parameter line holds two names of at most 127 characters; anything longer than this is
// not a report line, and refusing it early keeps a binary file from being buffered whole.
constexpr std::size_t max_report_line = 4096;

std::vector<std::string_view> split_tokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    const char* p = line.data();
    const char* end = p + line.size();
    for (;;) {
        p = skip_space(p, end);
        if (p == end) return tokens;
        const char* stop = p;
        while (stop != end && !is_space(*stop))
            ++stop;
        tokens.emplace_back(p, static_cast<std::size_t>(stop - p));
        p = stop;
    }
}

bool parse_int(std::string_view token, std::int32_t* value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
    if (i == token.size()) return false;
    std::int64_t magnitude = 0;
    for (; i < token.size(); ++i) {
        if (!is_digit(token[i])) return false;
        magnitude = magnitude * 10 + (token[i] - '0');
        if (magnitude > std::int64_t{INT32_MAX} + 1) return false;
    }
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX) return false;
    *value = static_cast<std::int32_t>(signed_value);
    return true;
}

const char* const parameter_layout =
    "line 1 is not the parameter line "
    "\"data file = ... hanning = ... nb_section = ... nbpoint_section = ...\"";

bool parse_parameters(std::string_view line, ReportHeader* header, std::string* why) {
    const auto t = split_tokens(line);
    if (t.size() != 13 || t[0] != "data" || t[1] != "file" || t[2] != "=" || t[4] != "hanning" ||
        t[5] != "=" || t[7] != "nb_section" || t[8] != "=" || t[10] != "nbpoint_section" ||
        t[11] != "=" || !parse_int(t[6], &header->hanning) ||
        !parse_int(t[9], &header->nb_section) || !parse_int(t[12], &header->nbpoint_section)) {
        *why = parameter_layout;
        return false;
    }
    header->data_file = std::string(t[3]);
    const std::int32_t n = header->nbpoint_section;
    // psd refuses these runs, so no report of theirs exists.
    if (n < 2 || (n & (n - 1)) != 0) {
        *why = "nbpoint_section = " + std::to_string(n) + " is not a power of two of at least 2";
        return false;
    }
    if (header->nb_section < 1) {
        *why = "nb_section = " + std::to_string(header->nb_section) + " is below 1";
        return false;
    }
    return true;
}

bool is_title_line(std::string_view line) {
    const auto t = split_tokens(line);
    return t.size() == 4 && t[0] == "frequency" && t[1] == "PSD_v" && t[2] == "PSD_i" &&
           t[3] == "Zn";
}

bool parse_data_line(std::string_view line, ReportData* report) {
    const auto t = split_tokens(line);
    if (t.size() != 4) return false;
    double v[4];
    for (int c = 0; c < 4; ++c)
        if (!convert_token(t[c].data(), t[c].data() + t[c].size(), &v[c])) return false;
    report->frequency.push_back(v[0]);
    report->psd_v.push_back(v[1]);
    report->psd_i.push_back(v[2]);
    report->zn.push_back(v[3]);
    return true;
}

std::string data_lines_called_for(const ReportData& report) {
    const std::int32_t n = report.header.nbpoint_section;
    return "nbpoint_section = " + std::to_string(n) + " calls for " + std::to_string(n / 2) +
           " data lines";
}

// The reading of one report, line by line.
struct Parse {
    ReportData* report;
    std::string* why;
    std::int64_t line_no = 0;
    std::size_t half = 0;  // the data lines the parameter line calls for
    bool blank_seen = false;
};

// One data line (line 3 on): blank lines only at the end, no more lines than N/2, each of four
// numbers, the frequencies positive and increasing.
bool take_data_line(Parse& p, std::string_view line) {
    ReportData& r = *p.report;
    const std::string where = "line " + std::to_string(p.line_no);
    // An editor may add a blank line at the end.
    if (is_blank_text(line.data(), line.data() + line.size())) {
        p.blank_seen = true;
        return true;
    }
    if (p.blank_seen || r.frequency.size() == p.half) {
        *p.why = data_lines_called_for(r) + ", but " + where + " is one more";
        return false;
    }
    if (!parse_data_line(line, &r)) {
        *p.why = where + " is not four numbers: \"" + std::string(line.substr(0, 80)) + "\"";
        return false;
    }
    const double f = r.frequency.back();
    const std::size_t count = r.frequency.size();
    if (!(f > 0 && std::isfinite(f)) || (count > 1 && !(f > r.frequency[count - 2]))) {
        *p.why = where + ": the frequencies are not positive and increasing";
        return false;
    }
    return true;
}

// One line with its line end, as the line's number calls for.
ReportReadStatus take_line(Parse& p, std::string_view line) {
    if (p.line_no == 1) {
        if (!parse_parameters(line, &p.report->header, p.why))
            return ReportReadStatus::not_a_report;
        p.half = static_cast<std::size_t>(p.report->header.nbpoint_section / 2);
    } else if (p.line_no == 2) {
        if (!is_title_line(line)) {
            *p.why = "line 2 is not the title line \"frequency  PSD_v  PSD_i  Zn\"";
            return ReportReadStatus::not_a_report;
        }
    } else if (!take_data_line(p, line)) {
        return ReportReadStatus::not_a_report;
    }
    return ReportReadStatus::ok;
}

// Whether the whole file has been a report once its end is reached.
ReportReadStatus check_end(const Parse& p) {
    if (p.line_no == 1) {
        *p.why = "the file is empty";
        return ReportReadStatus::not_a_report;
    }
    if (p.line_no <= 2) {
        *p.why = "it ends after the parameter line";
        return ReportReadStatus::truncated;
    }
    if (p.report->frequency.size() < p.half) {
        *p.why = data_lines_called_for(*p.report) + ", found " +
                 std::to_string(p.report->frequency.size());
        return ReportReadStatus::truncated;
    }
    return ReportReadStatus::ok;
}

ReportReadStatus parse_lines(LineReader& reader, Parse& p) {
    for (;;) {
        std::string_view line;
        bool had_line_end = false;
        const LineStatus status = reader.next(&line, &had_line_end);
        if (status == LineStatus::read_error) {
            *p.why = "the file could not be read to its end";
            return ReportReadStatus::unreadable;
        }
        ++p.line_no;
        if (status == LineStatus::too_long) {
            *p.why = "line " + std::to_string(p.line_no) + " is longer than any report line";
            return ReportReadStatus::not_a_report;
        }
        if (status == LineStatus::end_of_file) return check_end(p);
        if (std::memchr(line.data(), '\0', line.size()) != nullptr) {
            *p.why = "line " + std::to_string(p.line_no) + " holds a NUL byte: it is not text";
            return ReportReadStatus::not_a_report;
        }
        // psd ends every line with a line end, so a last line without one was cut short even when
        // it still reads as four numbers (an exponent cut from e-12 to e-1 does).
        if (!had_line_end) {
            *p.why = "its last line (line " + std::to_string(p.line_no) +
                     ") is cut off: it has no line end";
            return p.line_no <= 2 || p.report->frequency.size() < p.half
                       ? ReportReadStatus::truncated
                       : ReportReadStatus::not_a_report;
        }
        const ReportReadStatus taken = take_line(p, line);
        if (taken != ReportReadStatus::ok) return taken;
    }
}

}  // namespace

ReportReadStatus read_report(const char* path, ReportData* report, std::string* reason) {
    *report = ReportData{};
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        *reason = "it is a folder";
        return ReportReadStatus::unreadable;
    }
    LineReader reader;
    const OpenStatus opened = reader.open(path, max_report_line);
    if (opened == OpenStatus::not_regular) {
        *reason = "it is a named pipe or a device, not a file";
        return ReportReadStatus::unreadable;
    }
    if (opened != OpenStatus::ok) {
        *reason = std::strerror(errno);
        return ReportReadStatus::unreadable;
    }
    Parse parse{report, reason};
    return parse_lines(reader, parse);
}

ReportReadStatus read_report_text(const std::string& text, ReportData* report,
                                  std::string* reason) {
    *report = ReportData{};
    LineReader reader;
    reader.open_text(text, max_report_line);
    Parse parse{report, reason};
    return parse_lines(reader, parse);
}

double report_deltat(const ReportData& report) {
    return 1.0 / (2.0 * report.frequency.back());
}

}  // namespace psd
