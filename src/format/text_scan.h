// Text scanning shared by the readers of sample files and reports and the number conversion:
// white space as a "%s" scan sees it, token ends found eight bytes at a time, and the padding that
// lets terminated text be read in whole words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace psd {

// White space as the C locale's isspace sees it, which is where a "%s" scan ends a token. A CR is
// white space here too, so CR LF line ends need no folding in the loader.
inline constexpr bool is_space(char c) {
    // One test against the set of bits 9 to 13 (tab, line feed, vertical tab, form feed, CR) and
    // 32 (blank) instead of six comparisons: this test runs for nearly every byte loaded.
    const unsigned byte = static_cast<unsigned char>(c);
    return byte <= ' ' && ((std::uint64_t{0x100003e00} >> byte) & 1) != 0;
}

// White space inside a line: every white space character but the line feed that ends it.
inline constexpr bool is_blank(char c) {
    // is_space's set without the line feed (bit 10).
    const unsigned byte = static_cast<unsigned char>(c);
    return byte <= ' ' && ((std::uint64_t{0x100003a00} >> byte) & 1) != 0;
}

inline constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The first white space in [p, end), or end. Tokens are scanned eight bytes at a time: every
// white space byte is at most 0x20, so a word without such a byte is passed over whole.
inline const char* find_space(const char* p, const char* end) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        // Flags every byte below 0x21 (and possibly bytes after one): such a word is finished
        // byte by byte.
        if (((word - 0x21 * ones) & ~word & highs) != 0) break;
        p += 8;
    }
    while (p != end && !is_space(*p))
        ++p;
    return p;
}

// Bytes readable after the terminating byte of a terminated text: whole eight-byte words may be
// read from any byte up to that one.
inline constexpr std::size_t text_padding = 16;

inline const char* skip_space(const char* p, const char* end) {
    while (p != end && is_space(*p))
        ++p;
    return p;
}

// Whether a number read up to stop is a whole token of the block [.., end): white space follows
// it. At the end of the block the token may still go on in the next one.
inline bool ends_token(const char* stop, const char* end) {
    return stop != nullptr && stop != end && is_space(*stop);
}

// Whether [first, last) holds nothing but white space.
inline bool is_blank_text(const char* first, const char* last) {
    return skip_space(first, last) == last;
}

}  // namespace psd
