#include "reference/plain_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace psd::reference {

namespace {

// isspace in the C locale, spelled out so that no locale can change it.
bool is_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::vector<std::string> line_pieces(const std::uint8_t* data, std::size_t size) {
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        text.push_back(static_cast<char>(data[i]));
    }
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        piece.push_back(c);
        if (c == '\n' || piece.size() == 198) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

std::vector<std::string> tokens(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < size) {
        while (i < size && is_space(data[i]))
            ++i;
        std::size_t start = i;
        while (i < size && !is_space(data[i]))
            ++i;
        if (i > start) words.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
    }
    return words;
}

double c_strtod(const std::string& text) {
    // c_str() ends the text at its first NUL as far as strtod can see.
    return std::strtod(text.c_str(), nullptr);
}

float interval(const std::string& first, const std::string& second) {
    double t1 = c_strtod(first);
    double t2 = c_strtod(second);
    return static_cast<float>(t2 - t1);
}

void samples(const std::vector<std::string>& words, std::int32_t count, std::vector<float>& voltage,
             std::vector<float>& current) {
    voltage.assign(static_cast<std::size_t>(count), 0.0f);
    current.assign(static_cast<std::size_t>(count), 0.0f);
    std::string columns[3];
    std::size_t next = 0;
    for (std::int32_t j = 0; j < count; ++j) {
        for (std::string& column : columns) {
            if (next < words.size()) column = words[next++];
        }
        voltage[static_cast<std::size_t>(j)] = static_cast<float>(c_strtod(columns[1]));
        current[static_cast<std::size_t>(j)] = static_cast<float>(c_strtod(columns[2]));
    }
}

std::string without_byte_order_mark(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
}

std::vector<Line> lines(const std::string& text) {
    std::vector<Line> found;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t feed = text.find('\n', start);
        if (feed == std::string::npos) {
            found.push_back({text.substr(start), false});
            break;
        }
        found.push_back({text.substr(start, feed - start), true});
        start = feed + 1;
    }
    return found;
}

bool sample_line(const Line& line, double values[3]) {
    std::size_t length = line.text.size();
    if (line.line_feed && length > 0 && line.text.back() == '\r') --length;
    if (length >= 198) return false;
    const std::vector<std::string> words =
        tokens(reinterpret_cast<const std::uint8_t*>(line.text.data()), line.text.size());
    if (words.size() != 3) return false;
    for (std::size_t k = 0; k < 3; ++k) {
        if (words[k].find('\0') != std::string::npos) return false;
        char* end = nullptr;
        values[k] = std::strtod(words[k].c_str(), &end);
        if (end != words[k].c_str() + words[k].size()) return false;
    }
    return true;
}

bool finite_as_floats(const double values[3]) {
    return std::isfinite(static_cast<float>(values[1])) &&
           std::isfinite(static_cast<float>(values[2]));
}

bool blank_line(const Line& line) {
    std::size_t length = line.text.size();
    if (line.line_feed && length > 0 && line.text.back() == '\r') --length;
    return length < 198 &&
           tokens(reinterpret_cast<const std::uint8_t*>(line.text.data()), line.text.size())
               .empty();
}

bool same(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    std::uint64_t bits_a = 0;
    std::uint64_t bits_b = 0;
    std::memcpy(&bits_a, &a, sizeof a);
    std::memcpy(&bits_b, &b, sizeof b);
    return bits_a == bits_b;
}

bool same(float a, float b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    std::uint32_t bits_a = 0;
    std::uint32_t bits_b = 0;
    std::memcpy(&bits_a, &a, sizeof a);
    std::memcpy(&bits_b, &b, sizeof b);
    return bits_a == bits_b;
}

ScannedConfig scan_config(const std::uint8_t* data, std::size_t size) {
    ScannedConfig config;
    std::size_t i = 0;
    auto skip_space = [&] {
        while (i < size && is_space(data[i]))
            ++i;
    };
    auto scan_name = [&](std::string& name) {
        skip_space();
        std::size_t start = i;
        while (i < size && !is_space(data[i]))
            ++i;
        name.assign(reinterpret_cast<const char*>(data) + start, i - start);
        return i > start;
    };
    auto scan_number = [&](long long& number) {
        skip_space();
        bool negative = false;
        if (i < size && (data[i] == '+' || data[i] == '-')) negative = data[i++] == '-';
        if (i == size || !is_digit(data[i])) return false;
        // Far beyond 32 bits, yet small enough that one more digit cannot overflow.
        const long long cap = 100000000000000000LL;
        long long magnitude = 0;
        while (i < size && is_digit(data[i])) {
            magnitude = magnitude * 10 + (data[i++] - '0');
            if (magnitude > cap) magnitude = cap;
        }
        number = negative ? -magnitude : magnitude;
        if (number < INT32_MIN || number > INT32_MAX) config.in_range = false;
        if (i < size && !is_space(data[i])) config.whole = false;
        return true;
    };
    config.complete = scan_name(config.names[0]) && scan_number(config.numbers[0]) &&
                      scan_number(config.numbers[1]) && scan_number(config.numbers[2]) &&
                      scan_name(config.names[1]);
    return config;
}

}  // namespace psd::reference
