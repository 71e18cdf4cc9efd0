// The whole-record reading that the one pass is checked against: the probe counts the pieces of a
// 199-byte line reader and takes the interval from the first two, the loader reads the columns as
// one stream of tokens; both held against the C library's own fgets and fscanf.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/text_to_double.h"
#include "reference/two_pass_reader.h"
#include "test_support.h"

using namespace psd;
using namespace psd::reference;

namespace {

std::string chars(std::size_t n, char c = 'x') {
    return std::string(n, c);
}

#ifndef _WIN32  // fopencookie is the GNU C library's
// A stream that delivers good_bytes of sample lines and then fails with an I/O error.
File failing_stream(std::size_t good_bytes) {
    static std::size_t remaining;
    remaining = good_bytes;
    cookie_io_functions_t io{};
    io.read = [](void*, char* buffer, std::size_t size) -> ssize_t {
        if (remaining == 0) return -1;
        const std::size_t n = size < remaining ? size : remaining;
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] = "0 1 1\n"[(remaining - i) % 6];
        remaining -= n;
        return static_cast<ssize_t>(n);
    };
    return File(fopencookie(nullptr, "r", io));
}
#endif

// The original reader, kept as plainly as possible: a 199-byte fgets over the file with CR LF
// folded, strtod (text_to_double: glibc's results on every platform) on the first two reads, then
// "%s" scans into three buffers that keep their last token. The fast probe and loader must agree
// with it bit for bit.
struct Reference {
    std::int32_t count = 0;
    float deltat = 0.0f;
    std::vector<float> voltage, current;
};

Reference reference_read(const std::string& bytes, std::int32_t load_count) {
    std::string folded;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) folded += bytes[i];
    Reference ref;
    File text = stream_of(folded);
    char line[199];
    if (!std::fgets(line, sizeof line, text.get())) return ref;
    const double t1 = text_to_double(line, nullptr);
    if (!std::fgets(line, sizeof line, text.get())) return ref;
    ref.deltat = static_cast<float>(text_to_double(line, nullptr) - t1);
    std::rewind(text.get());
    while (std::fgets(line, sizeof line, text.get()))
        ++ref.count;
    std::rewind(text.get());
    static char time[8192], volt[8192], curr[8192];
    time[0] = volt[0] = curr[0] = '\0';
    for (std::int32_t j = 0; j < load_count; ++j) {
        (void)!std::fscanf(text.get(), "%8191s %8191s %8191s", time, volt, curr);
        ref.voltage.push_back(static_cast<float>(text_to_double(volt, nullptr)));
        ref.current.push_back(static_cast<float>(text_to_double(curr, nullptr)));
    }
    return ref;
}

const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
const std::string tie = "9007199254740993";  // 2^53 + 1, halfway between two doubles
const std::string past_tie = tie + ".000000000000000000001", with_nul("12\00034", 5);
const std::string overflow = "1" + std::string(999, '0');
const std::string underflow = "0." + std::string(400, '0') + "1";

// Tokens beside the double strtod gives for them, mixed into the generated sample files below
// (decimal_test.cpp checks the conversion of each).
struct Conversion {
    std::string token;
    double value;
};
// clang-format off
const Conversion conversions[] = {
    {"1.5", 1.5}, {"-2.25", -2.25}, {"+3", 3.0}, {"1E-2", 1e-2}, {"2.5e+1", 25.0}, {".5", 0.5},
    {"5.", 5.0}, {"0.1", 0.1}, {"-0", -0.0}, {"+.25E+02", 25.0}, {" \t7", 7.0},
    {"1e", 1.0}, {"1e+", 1.0}, {"1.5abc", 1.5}, {"1_000", 1.0},           // trailing text
    {"abc", 0.0}, {"", 0.0}, {"-", 0.0}, {"+-1", 0.0}, {"--1", 0.0},      // nothing numeric
    {"-.e3", 0.0}, {"\x01\xff", 0.0},
    {"0x1.8p1", 3.0}, {"-0x10", -16.0}, {"0X10", 16.0}, {"0x", 0.0}, {"0xg", 0.0},
    {"-Infinity", -inf}, {"INFINITE", inf},                               // "INF", then text
    {"nan", nan}, {"-NAN", -nan}, {"NaN(42)", nan}, {"+nan", nan},
    {"1e400", inf}, {"-1e400", -inf}, {overflow, inf},                    // overflow
    {"1e-400", 0.0}, {"-1e-400", -0.0}, {underflow, 0.0},                 // underflow
    {"4e-320", 4e-320}, {"-2.5e-310", -2.5e-310},                         // subnormal
    {with_nul, 12.0},                                                     // stops at a NUL byte
    {tie, 0x1p53}, {past_tie, 0x1p53 + 2},          // ties to even; the last digit breaks a tie
};
// clang-format on

// Sample files exercising every counting and conversion rule at random places (fixed seed).
std::string generate_sample_file(std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto number = [&]() -> std::string {
        const int kind = pick(10);
        if (kind < 2) return conversions[pick(std::size(conversions))].token;
        if (kind == 2) return "0." + std::string(pick(400), '0') + std::to_string(rng());
        char text[64];
        std::snprintf(text, sizeof text, kind < 6 ? "%.9g" : "%.6e",
                      std::ldexp(static_cast<double>(rng()) - 2147483648.0, pick(40) - 40));
        return text;
    };
    std::string file;
    const int lines = 1500 + pick(500);
    for (int i = 0; i < lines; ++i) {
        std::string line;
        const int shape = pick(20);  // 0: blank, 1: two tokens, 2: four, 3 and 4: long lines
        for (int t = 0; shape != 0 && t < (shape == 1 ? 2 : shape == 2 ? 4 : 3); ++t) {
            if (t) line += pick(8) == 0 ? "\t \r " : " ";
            line += t == 0 && i < 2 && pick(2) ? std::to_string(i) + ".5" : number();
        }
        if (shape == 3 || shape == 4) {  // around one and two reads of the line reader
            const std::size_t target = (shape == 3 ? 195 : 393) + pick(6);
            if (line.size() < target) line += chars(target - line.size(), pick(2) ? ' ' : '7');
        }
        file += line + (pick(4) == 0 ? "\r\n" : "\n");
    }
    if (pick(2)) file.pop_back();  // no final line feed
    return file;
}

}  // namespace

TEST(SampleProbe, CountsOneLinePerReadOfTheLineReader) {
    // A line of L characters takes ceil((L + 1) / 198) reads with its line feed, ceil(L / 198)
    // without; CR LF is one line feed, a lone CR an ordinary character, a NUL byte a character.
    const std::string row = "1 2 3\n";
    const struct {
        std::string file;
        std::int32_t count;
    } cases[] = {
        {"0 1 1\n1 2 1\n", 2},
        {"0 1 1\n1 2 1", 2},                 // last line without a line feed
        {"0 1 1\n\n\n1 2 1\n\n", 5},         // blank lines count, a blank last line too
        {"\n\n", 2},                         // two blank reads are two pieces
        {"", 0},                             // no read
        {"0 1 1\n", 0},                      // one read
        {chars(197) + "\n", 0},              // 198 with the line feed: one read
        {chars(198) + "\n", 2},              // 199: two
        {chars(198), 0},                     // 198 without a line feed: one
        {chars(199), 2},                     // 199 without: two
        {chars(395) + "\n", 2},              // 396: two
        {chars(396) + "\n", 3},              // 397: three
        {chars(396), 2},                     // 396 without: two
        {chars(397), 3},                     // 397 without: three
        {chars(400) + "\n", 3},              // 401: three
        {chars(400), 3},                     // 400 without: three
        {"0 1 1\r\n1 2 1\r\n", 2},           // CR LF is one line feed
        {chars(197) + "\r\n" + row, 2},      // the CR is not a character
        {chars(196) + "\rx\n" + row, 3},     // a lone CR is a character: 199
        {chars(197) + "\r\r\n" + row, 3},    // CR, then CR LF: 199
        {chars(198, '\0') + "\n" + row, 3},  // NUL bytes are characters
        {row + chars(197) + "\r", 2},        // a CR at the end is a character
        {row + chars(198) + "\r", 3},        // 199 without a line feed
    };
    for (const auto& c : cases) {
        File stream = stream_of(c.file);
        const Probe probe = probe_samples(stream.get());
        SCOPED_TRACE("file of " + std::to_string(c.file.size()) + " bytes");
        EXPECT_EQ(probe.count, c.count);
        EXPECT_EQ(probe.fault, ProbeFault::none);
        EXPECT_TRUE(probe.count == 0 || std::ftell(stream.get()) == 0L) << "rewound";
    }
}

TEST(SampleProbe, TakesTheIntervalFromTheStartOfTheFirstTwoReads) {
    const struct {
        std::string file;
        float deltat;
    } cases[] = {
        {"0 1 1\n1 2 1\n", 1.0f},
        {"0 1 1\n0.1 2 1\n", 0.1f},  // 0.1 as a float, not exactly 0.1
        {"2.5 1 1\n1 2 1\n", -1.5f},
        {"  1e-3\t5 5\r\n\t3E-3 5 5\r\n9 9 9\n", static_cast<float>(3e-3 - 1e-3)},
        {"0x10 0 0\n0x18 0 0\n", 8.0f},
        {"abc\n2.5\n", 2.5f},
        {"\n\n", 0.0f},
        {"1 2 3\n1 2 3", 0.0f},
        // The first line is longer than one read: the second piece is its continuation, read
        // from its 199th character, ".5 x".
        {"1" + chars(196, ' ') + "3.5 x\n7 7 7\n", 0.5f - 1.0f},
        // 197 characters and CR LF fill exactly one read; the second piece is the next line.
        {"1" + chars(196, ' ') + "\r\n3 0 0\r\n", 2.0f},
    };
    for (const auto& c : cases) {
        File stream = stream_of(c.file);
        const Probe probe = probe_samples(stream.get());
        ASSERT_NE(probe.count, 0);
        EXPECT_EQ(bits(probe.deltat), bits(c.deltat)) << c.file;
    }
}

#ifndef _WIN32
TEST(SampleInput, ReportsReadErrorsAndTooManyLinesInsteadOfAPartialResult) {
    for (std::size_t good : {std::size_t{0}, std::size_t{5}, std::size_t{5000}}) {
        File stream = failing_stream(good);
        const Probe probe = probe_samples(stream.get());
        EXPECT_EQ(probe.count, 0) << good;
        EXPECT_EQ(probe.fault, ProbeFault::read_error) << good;
    }
    float voltage[1000], current[1000];
    EXPECT_FALSE(load_samples(failing_stream(600).get(), 1000, voltage, current));

    TempDir dir;  // a folder opens for reading on Linux, but every read fails
    File folder(std::fopen(dir.path().c_str(), "rb"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(probe_samples(folder.get()).fault, ProbeFault::read_error);

    File stream = stream_of("0 1 1\n1 2 1\n2 3 1\n" + chars(198) + "\n");  // 5 reads
    EXPECT_EQ(probe_samples(stream.get(), 4).fault, ProbeFault::too_many_lines);
    std::rewind(stream.get());
    const Probe probe = probe_samples(stream.get(), 5);
    EXPECT_EQ(probe.count, 5);
    EXPECT_EQ(probe.fault, ProbeFault::none);
}
#endif

TEST(SampleLoader, ReadsTheTokensAsOneStreamAndRepeatsTheLastValues) {
    const struct {
        std::string file;
        std::int32_t count;
        std::vector<float> voltage, current;
    } cases[] = {
        {"0 1 2\n1 3 4\n", 2, {1, 3}, {2, 4}},
        {"0 1 2\r\n1 3 4\r\n", 2, {1, 3}, {2, 4}},
        {"0 1 2\n1 3 4\n", 4, {1, 3, 3, 3}, {2, 4, 4, 4}},              // the last values repeat
        {"0 1 2\n1 3\n2 4 5\n3 6 7\n", 4, {1, 3, 5, 7}, {2, 2, 3, 3}},  // triples shift
        {"0 1 2 9\n1 3 4\n", 3, {1, 1, 1}, {2, 3, 3}},                  // (0 1 2) (9 1 3) (4 - -)
        {"\n\n", 2, {0, 0}, {0, 0}},                                    // no token at all
        {"0 1 2\n1 3 4\n2 5 6\n", 1, {1}, {2}},                         // only count samples
        {"0 0.1 1e-50\n", 1, {0.1f}, {0.0f}},  // rounded to float via double
        {"t\tabc\v-\f 1.5abc 1 0x1p-2", 2, {0, 1}, {0, 0.25f}},
    };
    for (const auto& c : cases) {
        std::vector<float> voltage(c.count, -9.0f), current(c.count, -9.0f);
        ASSERT_TRUE(load_samples(stream_of(c.file).get(), c.count, voltage.data(), current.data()));
        EXPECT_EQ(voltage, c.voltage) << c.file;
        EXPECT_EQ(current, c.current) << c.file;
    }
}

TEST(SampleInput, ReadingMatchesThePlainLineReaderAndScanBitForBit) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        const std::string bytes = generate_sample_file(seed);
        const std::int32_t count = reference_read(bytes, 0).count;
        ASSERT_GT(count, 1000);
        for (std::int32_t load : {count, count / 3}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", load " + std::to_string(load));
            const Reference ref = reference_read(bytes, load);
            File stream = stream_of(bytes);
            const Probe probe = probe_samples(stream.get());
            ASSERT_EQ(probe.count, ref.count);
            EXPECT_EQ(bits(probe.deltat), bits(ref.deltat));
            std::vector<float> voltage(load), current(load);
            ASSERT_TRUE(load_samples(stream.get(), load, voltage.data(), current.data()));
            for (std::int32_t j = 0; j < load; ++j) {
                ASSERT_EQ(bits(voltage[j]), bits(ref.voltage[j])) << "sample " << j;
                ASSERT_EQ(bits(current[j]), bits(ref.current[j])) << "sample " << j;
            }
        }
    }
}
