#include "format/line_count.h"

#include <cstring>

namespace psd {

namespace {

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

// The reads a line of length characters takes, before the line feed that ends it; before is the
// character just before that line feed, a CR that does not count toward the length.
inline std::uint64_t reads_of_line(std::uint64_t length, char before) {
    if (length > 0 && before == '\r') --length;
    return 1 + length / read_limit;
}

}  // namespace

void count_lines(LineCount& state, const char* p, const char* end) {
    std::uint64_t count = state.reads;
    std::uint64_t pending = state.pending;
    char last = state.last;
    while (p != end) {
        const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!found) {
            pending += static_cast<std::uint64_t>(end - p);
            last = end[-1];
            break;
        }
        const char* lf = static_cast<const char*>(found);
        const char before = lf != p ? lf[-1] : last;
        count += reads_of_line(pending + static_cast<std::uint64_t>(lf - p), before);
        pending = 0;
        p = lf + 1;
        // At the start of a line: while every stretch of line_feed_stretch bytes holds a line
        // feed, every line ending there is shorter than two stretches, far below one read, so
        // each line feed counts one read and the stretch is counted in one go.
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
    state.reads = count;
    state.pending = pending;
    state.last = last;
}

LineCountPiece count_piece(const char* p, const char* end) {
    LineCountPiece piece;
    if (p == end) return piece;
    piece.last = end[-1];
    const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (found == nullptr) {
        piece.head = static_cast<std::uint64_t>(end - p);
        return piece;
    }
    const char* const lf = static_cast<const char*>(found);
    piece.line_feed = true;
    piece.head = static_cast<std::uint64_t>(lf - p);
    if (lf != p) piece.before_feed = lf[-1];
    count_lines(piece.rest, lf + 1, end);
    return piece;
}

void append_piece(LineCount& state, const LineCountPiece& piece) {
    if (!piece.line_feed) {
        // Without a line feed its head is the whole piece: the line in progress goes on.
        if (piece.head == 0) return;
        state.pending += piece.head;
        state.last = piece.last;
        return;
    }
    // The line in progress ends at the piece's first line feed, as count_lines would end it.
    const char before = piece.head != 0 ? piece.before_feed : state.last;
    state.reads += reads_of_line(state.pending + piece.head, before) + piece.rest.reads;
    state.pending = piece.rest.pending;
    if (piece.rest.pending != 0) state.last = piece.rest.last;
}

std::uint64_t final_line_count(const LineCount& state) {
    return state.reads + (state.pending + read_limit - 1) / read_limit;
}

}  // namespace psd
