#include "reference/two_pass_reader.h"

#include <cstddef>
#include <string>
#include <vector>

#include "platform/text_to_double.h"

namespace psd::reference {

namespace {

// The rest of the stream as a string; false on a read error.
bool read_rest(std::FILE* stream, std::string* text) {
    text->clear();
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, stream)) > 0)
        text->append(block, got);
    return !std::ferror(stream);
}

std::string fold_crlf(const std::string& text) {
    std::string folded;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) folded += text[i];
    return folded;
}

// The pieces a 199-byte line reader returns: at most 198 characters, ending after a line feed.
std::vector<std::string> pieces(const std::string& text) {
    std::vector<std::string> found;
    std::string piece;
    for (char c : text) {
        piece += c;
        if (c == '\n' || piece.size() == 198) {
            found.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty()) found.push_back(piece);
    return found;
}

bool is_white(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// strtod of a NUL-terminated copy, so that the conversion stops at a NUL byte as on a C string.
double strtod_of(const std::string& text) {
    return text_to_double(text.c_str(), nullptr);
}

}  // namespace

Probe probe_samples(std::FILE* stream, std::int32_t max_count) {
    Probe probe;
    std::string text;
    if (!read_rest(stream, &text)) {
        probe.fault = ProbeFault::read_error;
        return probe;
    }
    const std::vector<std::string> found = pieces(fold_crlf(text));
    if (found.size() < 2) return probe;
    if (found.size() > static_cast<std::size_t>(max_count)) {
        probe.fault = ProbeFault::too_many_lines;
        return probe;
    }
    probe.count = static_cast<std::int32_t>(found.size());
    probe.deltat = static_cast<float>(strtod_of(found[1]) - strtod_of(found[0]));
    std::rewind(stream);
    return probe;
}

bool load_samples(std::FILE* stream, std::int32_t count, float* voltage, float* current) {
    std::string text;
    if (!read_rest(stream, &text)) return false;
    std::vector<std::string> tokens;
    std::string token;
    for (char c : text + " ") {
        if (!is_white(c)) {
            token += c;
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    // Each column keeps its last token once the tokens run out, as "%s" scans into buffers that
    // keep their text do.
    std::string last_v, last_i;
    for (std::int32_t j = 0; j < count; ++j) {
        const std::size_t t = 3 * static_cast<std::size_t>(j);
        if (t + 1 < tokens.size()) last_v = tokens[t + 1];
        if (t + 2 < tokens.size()) last_i = tokens[t + 2];
        voltage[j] = static_cast<float>(strtod_of(last_v));
        current[j] = static_cast<float>(strtod_of(last_i));
    }
    return true;
}

}  // namespace psd::reference
