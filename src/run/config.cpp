#include "run/config.h"

#include <algorithm>

#include "format/text_scan.h"

namespace psd {

namespace {

// The configuration's characters, with room to give back the few read while looking for a byte
// order mark that was not one.
struct Source {
    std::FILE* stream;
    int held[3];
    int held_count = 0;
    bool nul_seen = false;  // a NUL byte: no text editor writes one in a plain text file

    int get() {
        const int c = held_count > 0 ? held[--held_count] : std::getc(stream);
        nul_seen = nul_seen || c == 0;
        return c;
    }
};

// Skips a UTF-8 byte order mark at the start of the file: an editor's mark is no part of the
// first name. Returns whether the file starts with a UTF-16 mark instead.
bool skip_byte_order_mark(Source& in) {
    static const int mark[3] = {0xEF, 0xBB, 0xBF};
    int seen[3];
    int count = 0;
    while (count < 3) {
        seen[count] = std::getc(in.stream);
        if (seen[count] != mark[count]) break;
        ++count;
    }
    if (count == 3) return false;
    const int second = count == 0 ? std::getc(in.stream) : EOF;
    const bool utf16 = (seen[0] == 0xFF && second == 0xFE) || (seen[0] == 0xFE && second == 0xFF);
    // Give back what was read, the last character first out last.
    if (second != EOF) in.held[in.held_count++] = second;
    for (int i = count; i >= 0; --i)
        in.held[in.held_count++] = seen[i];
    return utf16;
}

// White space as a "%s" scan sees it, for a character read with getc (EOF is none).
bool is_white(int c) {
    return c != EOF && is_space(static_cast<char>(c));
}

// The characters of a field kept for its message: enough to show what was read.
constexpr std::size_t kept_characters = 200;

// A "%d" field read as it goes by, but whole: the sign and digits must make up the entire token
// ("12abc" and "8.5" are refused where a scan would take 12 and 8 and leave the rest for the next
// field). Any run of digits is read, however long: the magnitude saturates just past the 32-bit
// range.
struct IntegerScan {
    static constexpr std::int64_t past_range = std::int64_t{INT32_MAX} + 2;
    std::size_t length = 0;
    bool negative = false;
    bool whole = true;  // every character so far a digit, but a leading sign
    bool any_digit = false;
    std::int64_t magnitude = 0;

    void take(char c) {
        const bool sign = length == 0 && (c == '+' || c == '-');
        negative = negative || (sign && c == '-');
        if (c >= '0' && c <= '9') {
            any_digit = true;
            magnitude = std::min(magnitude * 10 + (c - '0'), past_range);
        } else if (!sign) {
            whole = false;
        }
        ++length;
    }
    ConfigStatus value(std::int32_t* number) const {
        const std::int64_t signed_value = negative ? -magnitude : magnitude;
        if (!whole || !any_digit || signed_value < INT32_MIN || signed_value > INT32_MAX)
            return ConfigStatus::not_whole_number;
        *number = static_cast<std::int32_t>(signed_value);
        return ConfigStatus::ok;
    }
};

// Reads the next white-space-delimited token whole, keeping its first kept_characters in
// *token and scanning it as an integer in *scan. Returns ok, or the fault of a field missing at
// the end of the file or of a read error.
ConfigStatus read_token(Source& in, std::string* token, IntegerScan* scan) {
    int c;
    do
        c = in.get();
    while (is_white(c));
    if (c == EOF)
        return std::ferror(in.stream) ? ConfigStatus::read_error : ConfigStatus::missing_field;
    token->clear();
    for (; c != EOF && !is_white(c); c = in.get()) {
        if (token->size() < kept_characters) token->push_back(static_cast<char>(c));
        scan->take(static_cast<char>(c));
    }
    return std::ferror(in.stream) ? ConfigStatus::read_error : ConfigStatus::ok;
}

// One field into its place in the configuration: a name (text) or a number.
ConfigStatus read_field(Source& in, std::string* text, std::int32_t* number,
                        ConfigProblem* problem) {
    IntegerScan scan;
    const ConfigStatus read = read_token(in, &problem->token, &scan);
    if (read != ConfigStatus::ok) return read;
    if (number) return scan.value(number);
    if (scan.length > max_name_length) return ConfigStatus::name_too_long;
    *text = problem->token;
    return ConfigStatus::ok;
}

}  // namespace

ConfigStatus read_run_config(std::FILE* stream, RunConfig* config, ConfigProblem* problem) {
    *config = RunConfig{};
    *problem = ConfigProblem{};
    Source in{stream, {}, 0};
    const bool utf16_mark = skip_byte_order_mark(in);
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
        const ConfigStatus status = read_field(in, f.text, f.number, problem);
        if (status != ConfigStatus::ok) {
            problem->field = f.name;
            problem->unicode = utf16_mark || in.nul_seen;
            if (status != ConfigStatus::not_whole_number && status != ConfigStatus::name_too_long)
                problem->token.clear();
            return status;
        }
    }
    config->window = config->hanning == 1 ? Window::hann : Window::none;
    return ConfigStatus::ok;
}

}  // namespace psd
