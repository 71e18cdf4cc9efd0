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
    // One test against the set of bits 9 to 13 (tab, line feed, vertical tab, form feed, CR) and
    // 32 (blank) instead of six comparisons: this test runs for nearly every byte loaded.
    const unsigned byte = static_cast<unsigned char>(c);
    return byte <= ' ' && ((std::uint64_t{0x100003e00} >> byte) & 1) != 0;
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

// Bytes readable after the terminating byte of a terminated text: whole eight-byte words may be
// read from any byte up to that one.
constexpr std::size_t text_padding = 16;

// Every power of ten up to 10^22 is a double exactly (5^22 < 2^53); written out so that no
// library pow is involved.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t integer_powers_of_ten[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};

// Appends the run of decimal digits at p to *mantissa (modulo 2^64) and returns its end. On
// little-endian machines eight bytes are looked at together: the digits among them are found and
// their value formed with a few multiplications instead of a loop and a branch per digit. With
// Terminated the byte at last is white space and text_padding readable bytes follow it, so no
// bound needs checking: every scan stops at that byte at the latest.
template <bool Terminated>
const char* read_digits(const char* p, const char* last, std::uint64_t* mantissa) {
    std::uint64_t m = *mantissa;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t zeros = 0x3030303030303030u;
    constexpr std::uint64_t lows = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    while (Terminated || last - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        // A digit byte turns into 0..9; adding 0x76 sets the top bit of every other byte below
        // 0x80 and the top bit is already set on the rest. A carry out of a byte can only spoil
        // the bytes after the first non-digit, which are not looked at.
        const std::uint64_t values = word ^ zeros;
        const std::uint64_t others = ((values + 0x76 * lows) | values) & highs;
        // The top bit of the first non-digit byte, moved down to bit 0 of its byte, less one:
        // a 0xff byte for each digit in front of it (all eight without any non-digit).
        const std::uint64_t ahead = ((others & (0 - others)) >> 7) - 1;
        const unsigned count = static_cast<unsigned>(((ahead & lows) * lows) >> 56);
        if (count == 0) break;
        // The first digit is the most significant: shifted to the top, the bytes it leaves
        // behind read as leading zeros, and the eight digits combine pairwise, then in fours.
        std::uint64_t chunk = (values & ahead) << (8 * (8 - count));
        chunk = chunk * 10 + (chunk >> 8);
        chunk = (((chunk & 0x000000ff000000ffu) * (100 + (std::uint64_t{1000000} << 32))) +
                 (((chunk >> 16) & 0x000000ff000000ffu) * (1 + (std::uint64_t{10000} << 32)))) >>
                32;
        m = m * integer_powers_of_ten[count] + chunk;
        p += count;
        if (count < 8) {
            *mantissa = m;
            return p;
        }
    }
#endif
    for (; (Terminated || p != last) && is_digit(*p); ++p)
        m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    *mantissa = m;
    return p;
}

// magnitude, negated when negative is set. The sign bit is set directly rather than by a branch
// that the signs of a noise record, as good as random, would keep sending the wrong way.
double with_sign(double magnitude, bool negative) {
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= static_cast<std::uint64_t>(negative) << 63;
    std::memcpy(&magnitude, &bits, sizeof bits);
    return magnitude;
}

// The plain decimal numbers recorders write convert with one IEEE multiplication or division of
// two exact doubles when the digits, read as one integer m, are at most 2^53 (so m is a double
// exactly) and the decimal exponent, point included, is at most 22 in magnitude (the power of ten
// is exact): that single rounding is the correctly rounded result strtod gives (Clinger's fast
// path). Reads sign, digits with an optional point and an optional exponent from p and returns
// where the number ends with its value; the end is nullptr for text that is not such a number or
// falls outside those limits, which strtod then has to settle. Terminated as for read_digits.
struct ShortDecimal {
    const char* end;
    double value;
};

template <bool Terminated>
ShortDecimal convert_short_decimal(const char* p, const char* last) {
    if (!Terminated && p == last) return {nullptr, 0.0};
    const bool negative = *p == '-';
    p += negative || *p == '+';
    // Up to 19 digits fit in 64 bits; more wrap around harmlessly and are turned away below.
    std::uint64_t mantissa = 0;
    const char* const int_digits = p;
    for (; (Terminated || p != last) && is_digit(*p); ++p)
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    std::ptrdiff_t digits = p - int_digits;
    std::ptrdiff_t exponent = 0;
    if ((Terminated || p != last) && *p == '.') {
        const char* const fraction = ++p;
        p = read_digits<Terminated>(p, last, &mantissa);
        exponent = fraction - p;
        digits -= exponent;
    }
    if (digits == 0 || digits > 19)
        return {nullptr, 0.0};  // ".", ".e5", "e5" are no numbers at all
    if ((Terminated || p != last) && (*p == 'e' || *p == 'E')) {
        // Without a digit after it the 'e' and its sign are not part of the number: "1e" is 1.
        const char* q = p + 1;
        const bool negative_exponent = (Terminated || q != last) && *q == '-';
        if ((Terminated || q != last) && (*q == '-' || *q == '+')) ++q;
        if ((Terminated || q != last) && is_digit(*q)) {
            // Any number of exponent digits may follow: the value saturates far outside the fast
            // range, so "1e0000000000000000005" still reads as 1e5 and nothing overflows.
            std::ptrdiff_t written = 0;
            for (; (Terminated || q != last) && is_digit(*q); ++q) {
                if (written < 100000) written = written * 10 + (*q - '0');
            }
            exponent += negative_exponent ? -written : written;
            p = q;
        }
    }
    if (mantissa == 0) return {p, with_sign(0.0, negative)};  // whatever the exponent: "-0" is -0
    if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) {
        return {nullptr, 0.0};
    }
    double result = static_cast<double>(mantissa);
    if (exponent < 0) {
        result /= exact_powers_of_ten[-exponent];
    } else {
        result *= exact_powers_of_ten[exponent];
    }
    // Rounding to nearest is symmetric, so the sign can come after the rounding.
    return {p, with_sign(result, negative)};
}

const char* skip_space(const char* p, const char* end) {
    while (p != end && is_space(*p))
        ++p;
    return p;
}

// Whether a number read up to stop is a whole token of the block [.., end): white space follows
// it. At the end of the block the token may still go on in the next one.
bool ends_token(const char* stop, const char* end) {
    return stop != nullptr && stop != end && is_space(*stop);
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

constexpr std::ptrdiff_t line_feed_stretch = 64;
static_assert(2 * line_feed_stretch <= read_limit, "a line between two feeds must take one read");

// The line feeds among line_feed_stretch bytes; a fixed-length loop the compiler turns into a few
// vector compares.
unsigned line_feeds_in_stretch(const char* p) {
    unsigned char feeds = 0;
    for (std::ptrdiff_t i = 0; i < line_feed_stretch; ++i)
        feeds += p[i] == '\n';
    return feeds;
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
            // At the start of a line: while every stretch of line_feed_stretch bytes holds a line
            // feed, every line ending there is shorter than two stretches, far below one read,
            // so each line feed counts one read and the stretch is counted in one go.
            const char* q = p;
            while (end - q >= line_feed_stretch) {
                const unsigned feeds = line_feeds_in_stretch(q);
                if (feeds == 0) break;
                count += feeds;
                q += line_feed_stretch;
            }
            if (q != p) {
                // Back to the start of the line in progress, after the last stretch's last feed.
                while (q[-1] != '\n')
                    --q;
                p = q;
            }
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
    const ShortDecimal fast = convert_short_decimal<false>(first, last);
    if (fast.end == last) return fast.value;
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

    // A stream that cannot go back to its start (a pipe) would be counted from where the first
    // two reads left it.
    if (std::fseek(stream, 0, SEEK_SET) != 0) {
        *fault = ProbeFault::read_error;
        return 0;
    }
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
    if (std::fseek(stream, 0, SEEK_SET) != 0) {
        *fault = ProbeFault::read_error;
        return 0;
    }
    nbpoint_acqui = static_cast<std::int32_t>(count);
    return nbpoint_acqui;
}

std::int32_t DetecteESA400(std::FILE* stream, ProbeFault* fault) {
    return probe_sample_file(stream, sample_block_size, INT32_MAX, fault);
}

bool load_sample_blocks(std::FILE* stream, std::size_t block_size, std::int32_t count,
                        float* voltage, float* current) {
    if (count <= 0) return true;
    // The block read is followed by a blank and padding, so numbers in it convert without checks
    // on the bounds; the blank still makes the last token of a block look unfinished.
    std::vector<char> block(block_size + text_padding);
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
        block[got] = ' ';
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
            if (role == 0) {
                // A whole sample at once, the way nearly all of them come: each number is
                // converted on the way through, one pass finding both its end and its value.
                // Anything else (a number that meets other text than white space, a token that
                // may go on in the next block) is left to the token by token steps below.
                const char* const stamp = skip_space(p, end);
                const char* const after_stamp = find_space(stamp, end);
                if (stamp != end && after_stamp != end) {
                    const ShortDecimal volt =
                        convert_short_decimal<true>(skip_space(after_stamp, end), end);
                    if (ends_token(volt.end, end)) {
                        const ShortDecimal curr =
                            convert_short_decimal<true>(skip_space(volt.end, end), end);
                        if (ends_token(curr.end, end)) {
                            v = static_cast<float>(volt.value);
                            c = static_cast<float>(curr.value);
                            voltage[j] = v;
                            current[j] = c;
                            ++j;
                            p = curr.end;
                            continue;
                        }
                    }
                }
            }
            p = skip_space(p, end);
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
