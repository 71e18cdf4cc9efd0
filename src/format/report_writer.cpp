#include "format/report_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/replace_file.h"

namespace psd {

namespace {

// What one report shows: write_report's arguments, gathered for the content writer.
struct ReportContent {
    const ReportHeader& header;
    float deltat;
    const float* psd_v;
    const float* psd_i;
};

std::string parameter_line(const ReportContent& report) {
    static const char format[] =
        "data file = %s    hanning = %d    nb_section = %d     nbpoint_section = %d\n";
    const ReportHeader& h = report.header;
    const int length = std::snprintf(nullptr, 0, format, h.data_file.c_str(), h.hanning,
                                     h.nb_section, h.nbpoint_section);
    if (length < 0) return std::string();
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, h.data_file.c_str(), h.hanning, h.nb_section,
                  h.nbpoint_section);
    line.pop_back();
    return line;
}

// Writes value as "%14.6e" does with the GNU C library and gives the number of characters. Finite
// values use the runtime's own "%14.6e" (every runtime the tool is built with gives two exponent
// digits, as C99 asks); infinities and not-a-numbers are spelled here, because runtimes differ on
// them ("-nan", "nan", "-nan(ind)") and reports must be the same everywhere.
// REQUIRES: field holds at least 16 bytes.
int format_field(char* field, double value) {
    if (std::isfinite(value)) return std::snprintf(field, 16, "%14.6e", value);
    const char* text = std::isinf(value) ? (std::signbit(value) ? "-inf" : "inf")
                                         : (std::signbit(value) ? "-nan" : "nan");
    return std::snprintf(field, 16, "%14s", text);
}

// The whole report, line by line, through append_text.
bool write_content(FileSink& sink, const void* content) {
    const ReportContent& report = *static_cast<const ReportContent*>(content);
    const std::string parameters = parameter_line(report);
    if (parameters.empty() || !append_text(sink, parameters.data(), parameters.size()))
        return false;
    static const char titles[] = "    frequency        PSD_v           PSD_i            Zn\n";
    if (!append_text(sink, titles, sizeof titles - 1)) return false;

    const std::int32_t half = report.header.nbpoint_section / 2;
    const double width = bin_width(report.deltat, report.header.nbpoint_section);
    for (std::int32_t k = 1; k <= half; ++k) {
        const float psd_v_k = report.psd_v[k], psd_i_k = report.psd_i[k];
        const double fields[4] = {static_cast<double>(k) * width, static_cast<double>(psd_v_k),
                                  static_cast<double>(psd_i_k), noise_impedance(psd_v_k, psd_i_k)};
        // Four fields of at most 14 characters (a double's widest "%e" text, such as
        // -1.797693e+308, is 14 characters), three tabs and a line feed.
        char line[80];
        std::size_t used = 0;
        for (int f = 0; f < 4; ++f) {
            const int length = format_field(line + used, fields[f]);
            if (length != 14) return false;
            used += 14;
            line[used++] = f < 3 ? '\t' : '\n';
        }
        if (!append_text(sink, line, used)) return false;
    }
    return true;
}

}  // namespace

float nyquist_frequency(float deltat) {
    return static_cast<float>(1.0 / (static_cast<double>(deltat) + deltat));
}

// The Nyquist frequency is kept as a float, as earlier reports were made; the bin spacing is then
// formed from it before multiplying by the bin number.
double bin_width(float deltat, std::int32_t n) {
    // N is even: half of it is exact in double, as the whole number it was in the older code.
    return static_cast<double>(nyquist_frequency(deltat)) / (static_cast<double>(n) / 2);
}

double noise_impedance(float psd_v, float psd_i) {
    return std::sqrt(static_cast<double>(psd_v) / static_cast<double>(psd_i));
}

std::string report_text(const ReportHeader& header, float deltat, const float* psd_v,
                        const float* psd_i) {
    const ReportContent report{header, deltat, psd_v, psd_i};
    std::string text;
    write_content_to_text(write_content, &report, &text);
    return text;
}

ReportWriteStatus write_report(const char* path, const ReportHeader& header, float deltat,
                               const float* psd_v, const float* psd_i, const FileSystem& files) {
    const ReportContent report{header, deltat, psd_v, psd_i};
    switch (files.replace_file(path, write_content, &report)) {
        case ReplaceStatus::written:
            return ReportWriteStatus::written;
        case ReplaceStatus::write_failed:
            return ReportWriteStatus::write_failed;
        case ReplaceStatus::held_open:
            return ReportWriteStatus::held_open;
        case ReplaceStatus::no_reader:
            return ReportWriteStatus::no_reader;
        case ReplaceStatus::cannot_create:
            break;
    }
    return ReportWriteStatus::cannot_create;
}

}  // namespace psd
