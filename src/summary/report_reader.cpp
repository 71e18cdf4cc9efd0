#include "summary/report_reader.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "input/decimal.h"
#include "input/text_scan.h"
#include "summary/line_reader.h"

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

bool parse_int(std::string_view token, int* value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '-' || token[i] == '+')) negative = token[i++] == '-';
    if (i == token.size()) return false;
    long long magnitude = 0;
    for (; i < token.size(); ++i) {
        if (!is_digit(token[i])) return false;
        magnitude = magnitude * 10 + (token[i] - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > 2147483647LL) return false;
    *value = static_cast<int>(signed_value);
    return true;
}

const char* const parameter_layout =
    "line 1 is not the parameter line "
    "\"data file = ... hanning = ... nb_section = ... nbpoint_section = ...\"";

bool parse_parameters(std::string_view line, Report* report, std::string* why) {
    const auto t = split_tokens(line);
    if (t.size() != 13 || t[0] != "data" || t[1] != "file" || t[2] != "=" || t[4] != "hanning" ||
        t[5] != "=" || t[7] != "nb_section" || t[8] != "=" || t[10] != "nbpoint_section" ||
        t[11] != "=" || !parse_int(t[6], &report->hanning) ||
        !parse_int(t[9], &report->nb_section) || !parse_int(t[12], &report->nbpoint_section)) {
        *why = parameter_layout;
        return false;
    }
    report->data_file = std::string(t[3]);
    const int n = report->nbpoint_section;
    // psd refuses these runs, so no report of theirs exists.
    if (n < 2 || (n & (n - 1)) != 0) {
        *why = "nbpoint_section = " + std::to_string(n) + " is not a power of two of at least 2";
        return false;
    }
    if (report->nb_section < 1) {
        *why = "nb_section = " + std::to_string(report->nb_section) + " is below 1";
        return false;
    }
    return true;
}

bool parse_data_line(std::string_view line, Report* report) {
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

bool is_blank(std::string_view line) {
    return skip_space(line.data(), line.data() + line.size()) == line.data() + line.size();
}

ReportStatus parse_lines(LineReader* reader, Report* report, std::string* why) {
    long long line_no = 0;
    std::size_t half = 0;
    bool blank_seen = false;
    for (;;) {
        std::string_view line;
        bool had_line_end = false;
        const LineStatus status = next_line(reader, &line, &had_line_end);
        if (status == LineStatus::read_error) {
            *why = "the file could not be read to its end";
            return ReportStatus::unreadable;
        }
        ++line_no;
        if (status == LineStatus::too_long) {
            *why = "line " + std::to_string(line_no) + " is longer than any report line";
            return ReportStatus::not_a_report;
        }
        if (status == LineStatus::end_of_file) break;
        if (std::memchr(line.data(), '\0', line.size()) != nullptr) {
            *why = "line " + std::to_string(line_no) + " holds a NUL byte: it is not text";
            return ReportStatus::not_a_report;
        }
        // psd ends every line with a line end, so a last line without one was cut short even when
        // it still reads as four numbers (an exponent cut from e-12 to e-1 does).
        if (!had_line_end) {
            *why = "its last line (line " + std::to_string(line_no) +
                   ") is cut off: it has no line end";
            return line_no <= 2 || report->frequency.size() < half ? ReportStatus::truncated
                                                                   : ReportStatus::not_a_report;
        }
        if (line_no == 1) {
            if (!parse_parameters(line, report, why)) return ReportStatus::not_a_report;
            half = static_cast<std::size_t>(report->nbpoint_section / 2);
            continue;
        }
        if (line_no == 2) {
            const auto t = split_tokens(line);
            if (t.size() != 4 || t[0] != "frequency" || t[1] != "PSD_v" || t[2] != "PSD_i" ||
                t[3] != "Zn") {
                *why = "line 2 is not the title line \"frequency  PSD_v  PSD_i  Zn\"";
                return ReportStatus::not_a_report;
            }
            continue;
        }
        // Blank lines are tolerated only at the end (an editor may add one).
        if (is_blank(line)) {
            blank_seen = true;
            continue;
        }
        if (blank_seen || report->frequency.size() == half) {
            *why = "nbpoint_section = " + std::to_string(report->nbpoint_section) + " calls for " +
                   std::to_string(half) + " data lines, but line " + std::to_string(line_no) +
                   " is one more";
            return ReportStatus::not_a_report;
        }
        if (!parse_data_line(line, report)) {
            *why = "line " + std::to_string(line_no) + " is not four numbers: \"" +
                   std::string(line.substr(0, 80)) + "\"";
            return ReportStatus::not_a_report;
        }
        const double f = report->frequency.back();
        const std::size_t count = report->frequency.size();
        if (!(f > 0 && std::isfinite(f)) || (count > 1 && !(f > report->frequency[count - 2]))) {
            *why = "line " + std::to_string(line_no) +
                   ": the frequencies are not positive and increasing";
            return ReportStatus::not_a_report;
        }
    }
    if (line_no == 1) {
        *why = "the file is empty";
        return ReportStatus::not_a_report;
    }
    if (line_no <= 2) {
        *why = "it ends after the parameter line";
        return ReportStatus::truncated;
    }
    if (report->frequency.size() < half) {
        *why = "nbpoint_section = " + std::to_string(report->nbpoint_section) + " calls for " +
               std::to_string(half) + " data lines, found " +
               std::to_string(report->frequency.size());
        return ReportStatus::truncated;
    }
    return ReportStatus::ok;
}

}  // namespace

ReportStatus read_report(const char* path, Report* report, std::string* why) {
    *report = Report{};
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        *why = "it is a folder";
        return ReportStatus::unreadable;
    }
    LineReader reader;
    if (!open_lines(&reader, path, max_report_line)) {
        *why = std::strerror(errno);
        return ReportStatus::unreadable;
    }
    const ReportStatus status = parse_lines(&reader, report, why);
    close_lines(&reader);
    return status;
}

double report_deltat(const Report& report) {
    return 1.0 / (2.0 * report.frequency.back());
}
