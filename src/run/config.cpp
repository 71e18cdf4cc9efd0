#include "run/config.h"

#include "format/text_scan.h"

namespace psd {

namespace {

// The configuration's characters, with room to give back the few read while looking for a byte
// order mark that was not one.
struct Source {
    std::FILE* stream;
    int held[3];
    int held_count = 0;

    int get() { return held_count > 0 ? held[--held_count] : std::getc(stream); }
};

// Skips a UTF-8 byte order mark at the start of the file: an editor's mark is no part of the
// first name.
void skip_byte_order_mark(Source& in) {
    static const int mark[3] = {0xEF, 0xBB, 0xBF};
    int seen[3];
    int count = 0;
    while (count < 3) {
        seen[count] = std::getc(in.stream);
        if (seen[count] != mark[count]) break;
        ++count;
    }
    if (count == 3) return;
    // Give back what was read, the last character first out last.
    for (int i = count; i >= 0; --i)
        in.held[in.held_count++] = seen[i];
}

// White space as a "%s" scan sees it, for a character read with getc (EOF is none).
bool is_white(int c) {
    return c != EOF && is_space(static_cast<char>(c));
}

// Skips white space; returns the first other character, or EOF.
int skip_space(Source& in) {
    int c;
    do
        c = in.get();
    while (is_white(c));
    return c;
}

ConfigStatus end_fault(const Source& in) {
    return std::ferror(in.stream) ? ConfigStatus::read_error : ConfigStatus::missing_field;
}

// A "%s" field that must fit a file name.
ConfigStatus read_name(Source& in, std::string& name) {
    int c = skip_space(in);
    if (c == EOF) return end_fault(in);
    name.clear();
    for (; c != EOF && !is_white(c); c = in.get()) {
        if (name.size() == max_name_length) return ConfigStatus::name_too_long;
        name.push_back(static_cast<char>(c));
    }
    return std::ferror(in.stream) ? ConfigStatus::read_error : ConfigStatus::ok;
}

// A "%d" field, but whole: the sign and digits must make up the entire token ("12abc" and "8.5"
// are refused where a scan would take 12 and 8 and leave the rest for the next field).
ConfigStatus read_integer(Source& in, std::int32_t& value) {
    int c = skip_space(in);
    if (c == EOF) return end_fault(in);
    const bool negative = c == '-';
    if (c == '+' || c == '-') c = in.get();
    // The magnitude saturates just past the 32-bit range, so any run of digits is safe.
    constexpr std::int64_t past_range = std::int64_t{INT32_MAX} + 2;
    std::int64_t magnitude = 0;
    bool any_digit = false;
    for (; c >= '0' && c <= '9'; c = in.get()) {
        any_digit = true;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > past_range) magnitude = past_range;
    }
    if (std::ferror(in.stream)) return ConfigStatus::read_error;
    if (!any_digit || (c != EOF && !is_white(c))) return ConfigStatus::not_whole_number;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value < INT32_MIN || signed_value > INT32_MAX) return ConfigStatus::not_whole_number;
    value = static_cast<std::int32_t>(signed_value);
    return ConfigStatus::ok;
}

}  // namespace

ConfigStatus read_run_config(std::FILE* stream, RunConfig* config, const char** field) {
    *config = RunConfig{};
    Source in{stream, {}, 0};
    skip_byte_order_mark(in);
    const struct {
        const char* name;
        std::string* text;
        std::int32_t* number;
    } fields[] = {{"data_file", &config->data_file, nullptr},
                  {"hanning", nullptr, &config->hanning},
                  {"nb_section", nullptr, &config->nb_section},
                  {"nbpoint_section", nullptr, &config->nbpoint_section},
                  {"output_file", &config->output_file, nullptr}};
    for (const auto& f : fields) {
        const ConfigStatus status = f.text ? read_name(in, *f.text) : read_integer(in, *f.number);
        if (status != ConfigStatus::ok) {
            *field = f.name;
            return status;
        }
    }
    config->window = config->hanning == 1 ? Window::hann : Window::none;
    return ConfigStatus::ok;
}

}  // namespace psd
