#include "input/sample_file.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

std::int32_t nbpoint_acqui = 0;
float deltat = 0.0f;

namespace {

// A 199-byte line buffer: one read returns at most 198 characters, the line feed included. The
// sample count of every stored result was made this way, so a line of 198 characters or more
// still counts more than once.
constexpr std::size_t read_limit = 198;

// White space as the C locale's isspace sees it, which is where a "%s" scan ends a token. A CR is
// white space here too, so CR LF line ends need no folding in the loader.
constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The first white space in [p, end), or end. Tokens are scanned eight bytes at a time: every
// white space byte is at most 0x20, so a word without such a byte is passed over whole.
const char* find_space(const char* p, const char* end) {
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

// strtod on a NUL-terminated copy of the whole token: its result may depend on every digit.
double convert_by_strtod(const char* first, const char* last) {
    const std::size_t size = static_cast<std::size_t>(last - first);
    char local[64];
    if (size < sizeof local) {
        std::memcpy(local, first, size);
        local[size] = '\0';
        return std::strtod(local, nullptr);
    }
    const std::string copy(first, last);
    return std::strtod(copy.c_str(), nullptr);
}

// Byte source for the two pieces the probe converts: reads the stream block by block and folds a
// CR LF pair into one line feed, also when the pair straddles two blocks.
struct PieceReader {
    std::FILE* stream;
    char* block;
    std::size_t block_size;
    std::size_t pos = 0;
    std::size_t len = 0;
    bool at_end = false;
    bool error = false;

    int peek() {
        if (pos == len) {
            if (at_end) return EOF;
            len = std::fread(block, 1, block_size, stream);
            pos = 0;
            if (len < block_size) {
                at_end = true;
                error = std::ferror(stream) != 0;
            }
            if (len == 0) return EOF;
        }
        return static_cast<unsigned char>(block[pos]);
    }

    int get() {
        const int c = peek();
        if (c != EOF) ++pos;
        return c;
    }
};

// One read of the 199-byte line reader: up to 198 characters, stopping after a line feed; the
// text is NUL-terminated in piece. Returns the number of characters, 0 at the end of the file.
std::size_t read_piece(PieceReader& in, char (&piece)[read_limit + 1]) {
    std::size_t n = 0;
    while (n < read_limit) {
        int c = in.get();
        if (c == EOF) break;
        if (c == '\r' && in.peek() == '\n') c = in.get();
        piece[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    piece[n] = '\0';
    return n;
}

// The line reader's count over the whole stream from its current position. A line of L characters
// (CR LF folded) takes floor(L / 198) + 1 reads with its line feed and ceil(L / 198) without.
// Stops early, returning a value above max_count, once the count exceeds max_count.
std::uint64_t count_reads(std::FILE* stream, char* block, std::size_t block_size,
                          std::int32_t max_count, bool* error) {
    std::uint64_t count = 0;
    std::uint64_t pending = 0;  // bytes of the current line seen so far, before its line feed
    char last = '\0';           // the byte before the current block, when pending > 0
    for (;;) {
        const std::size_t got = std::fread(block, 1, block_size, stream);
        const char* p = block;
        const char* const end = block + got;
        while (p != end) {
            const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (!found) {
                pending += static_cast<std::uint64_t>(end - p);
                last = end[-1];
                break;
            }
            const char* lf = static_cast<const char*>(found);
            std::uint64_t length = pending + static_cast<std::uint64_t>(lf - p);
            const char before = lf != p ? lf[-1] : last;
            if (length > 0 && before == '\r') --length;
            count += 1 + length / read_limit;
            pending = 0;
            p = lf + 1;
        }
        if (count > static_cast<std::uint64_t>(max_count)) return count;
        if (got < block_size) {
            *error = std::ferror(stream) != 0;
            break;
        }
    }
    // A last line without a line feed; a CR at the very end is an ordinary character.
    return count + (pending + read_limit - 1) / read_limit;
}

}  // namespace

double convert_number(const char* first, const char* last) {
    // std::from_chars and strtod both round correctly to nearest, so they agree on a plain
    // decimal number that from_chars reads to the token's end. Everything else (hexadecimal, inf,
    // nan, out of range, trailing text, a NUL byte) is left to strtod, the reference.
    const char* start = first;
    const char* digits = first;
    if (first != last && *first == '+') {
        start = digits = first + 1;  // strtod takes one '+', from_chars none
    } else if (first != last && *first == '-') {
        digits = first + 1;
    }
    if (digits != last && (is_digit(*digits) || *digits == '.')) {
        double value = 0.0;
        const auto [end, ec] = std::from_chars(start, last, value, std::chars_format::general);
        if (ec == std::errc() && end == last) return value;
    }
    return convert_by_strtod(first, last);
}

std::int32_t probe_sample_file(std::FILE* stream, std::size_t block_size, std::int32_t max_count,
                               ProbeFault* fault) {
    ProbeFault ignored;
    if (!fault) fault = &ignored;
    *fault = ProbeFault::none;
    std::vector<char> block(block_size);

    PieceReader pieces{stream, block.data(), block_size};
    char first[read_limit + 1];
    char second[read_limit + 1];
    const bool two_pieces = read_piece(pieces, first) != 0 && read_piece(pieces, second) != 0;
    if (pieces.error) *fault = ProbeFault::read_error;
    if (!two_pieces || pieces.error) return 0;
    // Normally the first two time stamps; strtod skips leading blanks, and a blank piece gives 0.
    const double t1 = std::strtod(first, nullptr);
    const double t2 = std::strtod(second, nullptr);
    deltat = static_cast<float>(t2 - t1);

    std::rewind(stream);
    bool error = false;
    const std::uint64_t count = count_reads(stream, block.data(), block_size, max_count, &error);
    if (error) {
        *fault = ProbeFault::read_error;
        return 0;
    }
    if (count > static_cast<std::uint64_t>(max_count)) {
        *fault = ProbeFault::too_many_lines;
        return 0;
    }
    nbpoint_acqui = static_cast<std::int32_t>(count);
    std::rewind(stream);
    return nbpoint_acqui;
}

std::int32_t DetecteESA400(std::FILE* stream, ProbeFault* fault) {
    return probe_sample_file(stream, sample_block_size, INT32_MAX, fault);
}

bool load_sample_blocks(std::FILE* stream, std::size_t block_size, std::int32_t count,
                        float* voltage, float* current) {
    if (count <= 0) return true;
    std::vector<char> block(block_size);
    std::string carry;  // a token that runs past the end of a block
    bool carrying = false;
    // The tokens cycle through three roles: time stamp (skipped, never converted), voltage,
    // current. Like the three scan buffers they stand for, v and c keep the last token read, so
    // when the tokens run out the remaining samples repeat the last values.
    int role = 0;
    float v = 0.0f;
    float c = 0.0f;
    std::int32_t j = 0;
    auto take = [&](const char* first, const char* last) {
        if (role == 1) {
            v = static_cast<float>(convert_number(first, last));
        } else if (role == 2) {
            c = static_cast<float>(convert_number(first, last));
            voltage[j] = v;
            current[j] = c;
            ++j;
        }
        role = role == 2 ? 0 : role + 1;
    };

    while (j < count) {
        const std::size_t got = std::fread(block.data(), 1, block_size, stream);
        const char* p = block.data();
        const char* const end = p + got;
        if (carrying) {
            const char* stop = find_space(p, end);
            carry.append(p, stop);
            p = stop;
            if (p != end) {
                take(carry.data(), carry.data() + carry.size());
                carrying = false;
            }
        }
        while (p != end && j < count) {
            while (p != end && is_space(*p))
                ++p;
            if (p == end) break;
            const char* stop = find_space(p, end);
            if (stop == end) {
                carry.assign(p, stop);
                carrying = true;
                break;
            }
            take(p, stop);
            p = stop;
        }
        if (got < block_size) {
            if (std::ferror(stream)) return false;
            break;
        }
    }
    if (carrying && j < count) take(carry.data(), carry.data() + carry.size());
    for (; j < count; ++j) {
        voltage[j] = v;
        current[j] = c;
    }
    return true;
}

bool load_samples(std::FILE* stream, std::int32_t count, float* voltage, float* current) {
    return load_sample_blocks(stream, sample_block_size, count, voltage, current);
}
