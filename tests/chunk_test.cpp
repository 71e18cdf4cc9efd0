// The sample pass shared out among threads: line counts of pieces counted apart, and whole passes
// held against the one-thread pass (the count, the first bad line, the blank tail, the status and
// the sums bit for bit) wherever chunks end, however the file is read and whatever the number of
// threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "format/line_count.h"
#include "format/sample_chunks.h"
#include "format/sample_stream.h"
#include "pass_check/pass_outcome.h"
#include "reference/two_pass_reader.h"
#include "run/parallel_pass.h"
#include "test_support.h"

using namespace psd;

namespace {

std::string chars(std::size_t n, char c = '1') {
    return std::string(n, c);
}

}  // namespace

TEST(LineCount, JoinsPiecesCountedApartIntoTheCountOfTheWhole) {
    const std::string row = "1 2 3\n";
    const std::string texts[] = {
        "0 1 1\n1 2 1\n",
        "0 1 1\n1 2 1",
        "\n\n\n",
        chars(197) + "\n",
        chars(198) + "\n",
        chars(198),
        chars(396) + "\n",
        chars(397),
        chars(1000) + "\n" + row,
        "0 1 1\r\n1 2 1\r\n",
        chars(197) + "\r\n" + row,
        chars(196) + "\rx\n" + row,
        chars(197) + "\r\r\n",
        row + chars(197) + "\r",
        chars(200, '\r') + "\n",
        seeded_record(5, 300),
    };
    for (const std::string& text : texts) {
        LineCount whole;
        count_lines(whole, text.data(), text.data() + text.size());
        // The line reader's own count where there are two reads, else the one-block count.
        File stream = stream_of(text);
        const reference::Probe probe = reference::probe_samples(stream.get());
        const std::uint64_t expected = probe.count != 0 ? probe.count : final_line_count(whole);
        for (std::size_t size : {1, 2, 3, 7, 64, 197, 198, 199, 1000}) {
            SCOPED_TRACE("text of " + std::to_string(text.size()) + " bytes, pieces of " +
                         std::to_string(size));
            std::vector<LineCountPiece> pieces;
            for (std::size_t at = 0; at < text.size(); at += size) {
                const std::size_t end = std::min(text.size(), at + size);
                pieces.push_back(count_piece(text.data() + at, text.data() + end));
            }
            LineCount joined;
            for (const LineCountPiece& piece : pieces)
                append_piece(joined, piece);
            EXPECT_EQ(final_line_count(joined), expected);
        }
    }
}

namespace {

// A pass of every file, with every layout and number of threads, against the one-thread pass.
struct PassCase {
    std::string file;
    std::uint32_t n;
    std::uint64_t used;
    std::uint64_t max_count = max_sample_lines;
};

void expect_one_thread_results(const PassCase& c, std::initializer_list<std::size_t> chunk_sizes,
                               std::initializer_list<unsigned> thread_counts) {
    const check::PassOutcome expected =
        check::one_thread_pass(stream_of(c.file).get(), c.n, c.used, c.max_count, 5);
    for (std::size_t chunk_size : chunk_sizes) {
        for (bool positional : {true, false}) {
            for (unsigned threads : thread_counts) {
                SCOPED_TRACE("chunks of " + std::to_string(chunk_size) +
                             (positional ? " read by offset, " : " read in order, ") +
                             std::to_string(threads) + " threads");
                const std::optional<check::PassOutcome> got =
                    check::shared_pass(stream_of(c.file).get(), c.n, c.used, c.max_count, 5,
                                       threads, PassLayout{chunk_size, positional});
                ASSERT_TRUE(got.has_value());
                EXPECT_EQ(check::first_difference(*got, expected), "");
            }
        }
    }
}

}  // namespace

TEST(ParallelPass, GivesTheOneThreadResultsBitForBitForAnyThreadsAndChunkEnds) {
    // Section counts that no thread count divides; nb_section 0, a few sections, only a count.
    const std::string long_record = seeded_record(11, 5000);
    const std::string short_record = seeded_record(12, 700);
    const PassCase cases[] = {
        {long_record, 64, 13 * 64}, {long_record, 64, UINT64_MAX},
        {long_record, 8, 0},        {long_record, 1024, UINT64_MAX},
        {short_record, 2, 349 * 2}, {short_record, 4, UINT64_MAX},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", used " + std::to_string(c.used));
        expect_one_thread_results(c, {7, 199, 4096, chunk_bytes}, {1, 2, 3, 4, 8});
    }
}

TEST(ParallelPass, MeetsTheFirstBadLineWhereverChunksEndAndWhicheverThreadReadsIt) {
    std::string good;
    for (int j = 0; j < 40; ++j)
        good +=
            std::to_string(j) + " " + std::to_string(j % 7) + ".5 -" + std::to_string(j) + "e-3\n";
    const std::string crlf = "0 1 1\r\n1 2 1\r\n2 3 1\r\n3 4 3\r\n4 1 1\r\n";
    const PassCase cases[] = {
        {insert_line(good, 9, "8 1,5 1"), 4, UINT64_MAX},  // a bad line after two sections
        {insert_line(good, 9, "8 1,5 1"), 4, 8},           // ... beyond the used lines
        {insert_line(good, 9, "8 1,5 1"), 4, 12},          // ... the last used line
        {insert_line(good, 17, chars(250)), 8, 24},  // too long, its line feed in a later chunk
        {insert_line(good, 17, chars(198)), 8, UINT64_MAX},
        {insert_line(good, 17, "16 nan 1"), 8, UINT64_MAX},  // a dropout
        {insert_line(good, 30, ""), 4, UINT64_MAX},          // a blank line, then samples
        {good + "\n \n\t\r\n\n", 4, UINT64_MAX},             // blank lines that end the export
        {good + "\n \nx\n", 4, UINT64_MAX},                  // ... but for a last word
        {good + "\n" + chars(500, ' ') + "\n", 8, UINT64_MAX},
        {good + "40 1 1", 4, UINT64_MAX},  // no final line feed
        {good + "40 1 1\r", 4, UINT64_MAX},
        {good + chars(300), 4, UINT64_MAX},  // a long last line without one
        {good + chars(300), 4, 0},           // only counted
        {"\xEF\xBB\xBF" + crlf + crlf, 2, UINT64_MAX},
        {good, 4, UINT64_MAX, 39},  // more lines than the pass may count
        {good, 4, 8, 39},
        {good, 4, 0, 39},
        {good + chars(800) + "\n", 4, 0, 41},
        {good + chars(800) + "\n", 4, 0, 44},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE('"' + c.file.substr(c.file.size() - std::min<std::size_t>(c.file.size(), 30)) +
                     "\", n " + std::to_string(c.n) + ", used " + std::to_string(c.used));
        expect_one_thread_results(c, {1, 2, 3, 5, 64, 200}, {2, 3, 8});
    }
}
