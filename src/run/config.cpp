#include "run/config.h"

namespace {

bool is_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips white space; returns the first other character, or EOF.
int skip_space(std::FILE* stream) {
    int c;
    do
        c = std::getc(stream);
    while (is_space(c));
    return c;
}

ConfigFault end_fault(std::FILE* stream) {
    return std::ferror(stream) ? ConfigFault::read_error : ConfigFault::missing_field;
}

// A "%s" field that must fit a file name.
ConfigFault read_name(std::FILE* stream, std::string& name) {
    int c = skip_space(stream);
    if (c == EOF) return end_fault(stream);
    name.clear();
    for (; c != EOF && !is_space(c); c = std::getc(stream)) {
        if (name.size() == max_name_length) return ConfigFault::name_too_long;
        name.push_back(static_cast<char>(c));
    }
    return std::ferror(stream) ? ConfigFault::read_error : ConfigFault::none;
}

// A "%d" field, but whole: the sign and digits must make up the entire token ("12abc" and "8.5"
// are refused where a scan would take 12 and 8 and leave the rest for the next field).
ConfigFault read_integer(std::FILE* stream, std::int32_t& value) {
    int c = skip_space(stream);
    if (c == EOF) return end_fault(stream);
    const bool negative = c == '-';
    if (c == '+' || c == '-') c = std::getc(stream);
    // The magnitude saturates just past the 32-bit range, so any run of digits is safe.
    constexpr std::int64_t past_range = std::int64_t{INT32_MAX} + 2;
    std::int64_t magnitude = 0;
    bool any_digit = false;
    for (; c >= '0' && c <= '9'; c = std::getc(stream)) {
        any_digit = true;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > past_range) magnitude = past_range;
    }
    if (std::ferror(stream)) return ConfigFault::read_error;
    if (!any_digit || (c != EOF && !is_space(c))) return ConfigFault::not_whole_number;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value < INT32_MIN || signed_value > INT32_MAX) return ConfigFault::not_whole_number;
    value = static_cast<std::int32_t>(signed_value);
    return ConfigFault::none;
}

}  // namespace

std::optional<RunConfig> read_run_config(std::FILE* stream, ConfigProblem* problem) {
    ConfigProblem ignored;
    if (!problem) problem = &ignored;
    RunConfig config;
    *problem = {};
    auto check = [problem](ConfigFault fault, const char* field) {
        if (fault == ConfigFault::none) return true;
        *problem = {fault, field};
        return false;
    };
    if (check(read_name(stream, config.data_file), "data_file") &&
        check(read_integer(stream, config.hanning), "hanning") &&
        check(read_integer(stream, config.nb_section), "nb_section") &&
        check(read_integer(stream, config.nbpoint_section), "nbpoint_section") &&
        check(read_name(stream, config.output_file), "output_file"))
        return config;
    return std::nullopt;
}
