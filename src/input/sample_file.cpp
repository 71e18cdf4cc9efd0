#include "input/sample_file.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input/decimal.h"
#include "input/line_count.h"
#include "input/text_scan.h"
#include "platform/text_to_double.h"

std::int32_t nbpoint_acqui = 0;
float deltat = 0.0f;

namespace {

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

// The line reader's count over the whole stream from its current position. Stops early,
// returning a value above max_count, once the count exceeds max_count.
std::uint64_t count_reads(std::FILE* stream, char* block, std::size_t block_size,
                          std::int32_t max_count, bool* error) {
    LineCount count;
    for (;;) {
        const std::size_t got = std::fread(block, 1, block_size, stream);
        count_lines(count, block, block + got);
        if (count.reads > static_cast<std::uint64_t>(max_count)) return count.reads;
        if (got < block_size) {
            *error = std::ferror(stream) != 0;
            break;
        }
    }
    return final_line_count(count);
}

}  // namespace

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
    const double t1 = text_to_double(first, nullptr);
    const double t2 = text_to_double(second, nullptr);
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
                    const ShortDecimal volt = convert_short_decimal(skip_space(after_stamp, end));
                    if (ends_token(volt.end, end)) {
                        const ShortDecimal curr = convert_short_decimal(skip_space(volt.end, end));
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
