// The sample count: lines as a line reader with a 199-byte buffer counts them.
//
// One read of such a reader returns at most 198 characters and stops after a line feed, so a line
// of L characters (a CR just before its line feed not counted) takes floor(L / 198) + 1 reads, and
// a last line without a line feed ceil(L / 198). Every stored result was made with that count, so
// a long line still counts more than once. The count is kept as the text goes by, block after
// block, so a file is never read twice; pieces of a file counted apart (by several threads) join
// into the count of the whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace psd {

// The reader's limit: characters of one read, the line feed included.
constexpr std::size_t read_limit = 198;

// The count so far and the line in progress when a block ends inside it.
struct LineCount {
    std::uint64_t reads = 0;    // reads of the lines ended so far
    std::uint64_t pending = 0;  // characters of the line in progress, before its line feed
    char last = '\0';           // the character before the current block, when pending > 0
};

// Adds the reads of [p, end), the text that follows what state has counted so far.
// REQUIRES: p <= end, a readable range.
void count_lines(LineCount& state, const char* p, const char* end);

// The count of a piece of text on its own: what it adds to the count of the text before it,
// whatever that text was. The line the piece starts in may have begun earlier, so its first line
// feed is only known to end a line of head bytes or more.
struct LineCountPiece {
    bool line_feed = false;   // it holds a line feed
    std::uint64_t head = 0;   // bytes before its first line feed (all its bytes without one)
    char before_feed = '\0';  // the byte just before that line feed, when head > 0
    char last = '\0';         // its last byte, when it is not empty
    LineCount rest;           // the count after its first line feed, a line start
};

// Counts the piece [p, end) on its own. REQUIRES: p <= end, a readable range.
LineCountPiece count_piece(const char* p, const char* end);

// Adds a piece to the count of the text just before it: the same as count_lines over the piece's
// text.
void append_piece(LineCount& state, const LineCountPiece& piece);

// The whole count once the end of the text has been reached: a last line without a line feed
// counts too, and a CR at the very end is an ordinary character.
std::uint64_t final_line_count(const LineCount& state);

}  // namespace psd
