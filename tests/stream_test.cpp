// The one pass over a sample file: the sample-line rule, the line count and the sections it hands
// over, held against the whole-record probe, loader and estimator it replaces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "format/sample_line.h"
#include "format/sample_stream.h"
#include "format/text_scan.h"
#include "reference/plain_estimate.h"
#include "reference/two_pass_reader.h"
#include "spectrum/estimator.h"
#include "test_support.h"

using namespace psd;

namespace {

// Lines beside their verdict: S a sample line, N not three whole numbers, L 198 characters or
// more, F a voltage or current that is no finite float. The values of a sample line are strtod's.
constexpr LineVerdict S = LineVerdict::sample, N = LineVerdict::not_sample,
                      L = LineVerdict::too_long, F = LineVerdict::not_finite;
struct LineCase {
    std::string line;  // without its line feed
    LineVerdict verdict;
};
const std::string long_number = "1." + std::string(191, '0');  // "0 1 " + it: 197 characters
// clang-format off
const LineCase line_cases[] = {
    {"0 1 1", S},
    {"0.000000e+00  1.234e-03  -5.6e-09", S},
    {"  1e-3\t5 5\t ", S},                          // blanks and tabs anywhere between
    {"+7 .5 -1.5e-3", S},
    {"12 -0 5.", S},
    {"123456789012.5 1 1", S},                      // digit runs longer than a word
    {"0.00000000000000001E+0000000003 1 1", S},
    {"12345678e 1 1", N},
    {"0x1p-3 0X1P-3 -0x10", S},                     // every form strtod reads whole
    {"inf 1 1", S},                                 // a time stamp after line 2 is not used
    {"0x1p-3 inf nan", F},                          // dropouts, as instruments write them
    {"3600 INFINITY -NaN(1)", F},
    {"0 1e39 1", F},                                // beyond float range: inf once stored
    {"0 1 -1e39", F},
    {"0 3.4028235e38 -3.4028235e38", S},            // the largest float, either sign
    {"0 3.5e38 1", F},
    {"0 1e-50 -1e-50", S},                          // below float range: stored as zero
    {"0\v1\f1", S},                                 // white space as isspace sees it
    {"0 1 1\r", S},                                 // CR LF line end
    {"0 1 " + long_number, S},                      // 197 characters
    {"0 1 " + long_number + "0", L},               // 198
    {"0 1 1\r\r", S},                               // a CR is white space too
    {"0.0,1.2e-3,4e-9", N},                        // comma-separated
    {"0,1;1,2e-3;4e-9", N},                        // semicolons, comma decimals
    {"0,000000e+00\t1,200000e-03\t4,000000e-09", N},  // tabs, comma decimals
    {"0 1 1 1", N},                                // a fourth column
    {"0 1", N},
    {"0 nan", N},                                  // two tokens: not a sample, whatever they hold
    {"Time Vf Im", N},                             // a header
    {"12:00:01 1.2e-3 4e-9", N},                   // a clock time
    {"0 1.5V 1", N},
    {"0 2e 1", N},
    {"0 - 1", N},
    {"0 1,5 1", N},
    {"", N},                                       // blank
    {" \t ", N},
    {std::string("0 1\0 1", 6), N},                // a NUL byte
    {"\xEF\xBB\xBF" "0 1 1", N},                   // a byte order mark not at the file start
};
// clang-format on

}  // namespace

TEST(SampleLine, TakesExactlyThreeWholeNumbersInFewerThan198Characters) {
    for (const LineCase& c : line_cases) {
        SCOPED_TRACE('"' + c.line + '"');
        SampleValues slow{};
        const LineVerdict verdict =
            read_sample_line(c.line.data(), c.line.data() + c.line.size(), true, &slow);
        EXPECT_EQ(verdict, c.verdict);
        // The fast path in a padded block either settles the line the same way or leaves it.
        std::string padded = c.line + "\n" + std::string(text_padding, 'x');
        SampleValues fast{};
        const char* end = read_plain_sample_line(padded.data(), &fast);
        if (end != nullptr) {
            EXPECT_EQ(c.verdict, S);
            EXPECT_EQ(end, padded.data() + c.line.size());
            EXPECT_EQ(bits(fast.voltage), bits(slow.voltage));
            EXPECT_EQ(bits(fast.current), bits(slow.current));
        }
        if (verdict != S) continue;
        char time[256], volt[256], curr[256];
        ASSERT_EQ(std::sscanf(c.line.c_str(), "%255s %255s %255s", time, volt, curr), 3);
        EXPECT_EQ(bits(slow.voltage), bits(static_cast<float>(std::strtod(volt, nullptr))));
        EXPECT_EQ(bits(slow.current), bits(static_cast<float>(std::strtod(curr, nullptr))));
    }
    // 197 characters and a CR: without a line feed after it (a last line) the CR is the 198th
    // character; before a line feed it is part of the line end.
    const std::string line = "0 1 " + long_number + "\r";
    SampleValues values;
    EXPECT_EQ(read_sample_line(line.data(), line.data() + line.size(), false, &values), L);
    EXPECT_EQ(read_sample_line(line.data(), line.data() + line.size(), true, &values), S);
}

namespace {

// What a whole pass gave.
struct Pass {
    SampleStatus status = SampleStatus::ok;
    std::uint64_t count = 0;
    float deltat = 0.0f;
    BadLine bad_line;
    std::int64_t sections = 0;
    std::vector<float> psd_v, psd_i;
};

// Runs the pass over bytes with sections of n points, used lines as set_used_lines takes them,
// and sums the sections handed over as the driver does.
Pass run_pass(const std::string& bytes, std::uint32_t n, std::uint64_t used, std::size_t block,
              std::int32_t hanning = 1) {
    Pass pass;
    File file = stream_of(bytes);
    SampleStream s;
    pass.status = start_samples(s, file.get(), n, block);
    pass.deltat = s.deltat;
    pass.bad_line = s.bad_line;
    pass.count = s.count;
    if (pass.status != SampleStatus::ok) return pass;
    set_used_lines(s, used);
    Estimator estimator(hanning == 1 ? Window::hann : Window::none, n);
    while ((pass.status = next_section(s)) == SampleStatus::section_ready)
        estimator.add_section(s.section_v, s.section_i);
    pass.sections = estimator.sections();
    pass.count = s.count;
    pass.bad_line = s.bad_line;
    if (pass.sections > 0) {
        Densities d = estimator.densities(pass.deltat);
        pass.psd_v = d.psd_v;
        pass.psd_i = d.psd_i;
    }
    return pass;
}

}  // namespace

TEST(SampleStream, GivesTheWholeRecordReadersReportBitForBitWhereverBlocksEnd) {
    // The probe, loader and plain estimate over all samples in memory are the two-pass reading
    // this pass replaces; on well-formed files both must give the same count, interval and
    // densities.
    const struct {
        std::uint32_t seed;
        int lines;
        std::int32_t n, m;  // m 0: as many sections as fit
    } cases[] = {{1, 1030, 8, 128}, {2, 1000, 64, 0}, {3, 700, 2, 350}, {4, 4100, 1024, 0}};
    for (const auto& c : cases) {
        const std::string bytes = seeded_record(c.seed, c.lines);
        File old_file = stream_of(bytes);
        const reference::Probe probe = reference::probe_samples(old_file.get());
        const std::int32_t count = probe.count;
        const float old_deltat = probe.deltat;
        const std::int32_t m = c.m != 0 ? c.m : count / c.n;
        std::vector<float> voltage(m * c.n), current(m * c.n);
        ASSERT_TRUE(
            reference::load_samples(old_file.get(), m * c.n, voltage.data(), current.data()));
        for (std::int32_t hanning : {0, 1}) {
            const reference::PlainDensities old = reference::plain_estimate(
                hanning, m, c.n, voltage.data(), current.data(), old_deltat);
            const std::vector<float>&psd_v = old.psd_v, &psd_i = old.psd_i;
            for (std::size_t block : {1, 2, 7, 197, 198, 199, 4093, 1 << 20}) {
                SCOPED_TRACE("seed " + std::to_string(c.seed) + ", hanning " +
                             std::to_string(hanning) + ", block " + std::to_string(block));
                const Pass pass = run_pass(
                    bytes, c.n, c.m != 0 ? std::uint64_t(m) * c.n : UINT64_MAX, block, hanning);
                ASSERT_EQ(pass.status, SampleStatus::ok);
                EXPECT_EQ(pass.count, static_cast<std::uint64_t>(count));
                EXPECT_EQ(bits(pass.deltat), bits(old_deltat));
                ASSERT_EQ(pass.sections, m);
                // nb_section 0 converts on past the last whole section and finds the lines
                // after the record, but only beyond the sections it uses.
                EXPECT_TRUE(pass.bad_line.number == 0 ||
                            pass.bad_line.number > std::uint64_t(m) * c.n);
                for (int k = 0; k <= c.n / 2; ++k) {
                    ASSERT_EQ(bits(pass.psd_v[k]), bits(psd_v[k])) << "bin " << k;
                    ASSERT_EQ(bits(pass.psd_i[k]), bits(psd_i[k])) << "bin " << k;
                }
            }
        }
    }
}

TEST(SampleStream, FindsTheFirstLineThatIsNotASampleAndCountsOn) {
    const std::string good = "0 1 1\n1 2 1\n2 3 1\n3 4 3\n";
    const std::string long_line = std::string(150, '1') + " " + std::string(150, '2');
    const struct {
        std::string file;
        std::uint64_t used;
        SampleStatus status;
        std::uint64_t count, line;  // line 0: none
        LineVerdict kind;
        std::string start;
    } cases[] = {
        {good, 4, SampleStatus::ok, 4, 0, N, ""},
        {"\xEF\xBB\xBF" + good, 4, SampleStatus::ok, 4, 0, N, ""},  // no text of line 1
        {"Time Vf Im\n" + good, 4, SampleStatus::first_lines_bad, 2, 1, N, "Time Vf Im"},
        {"0 1 1\n\n" + good, 4, SampleStatus::first_lines_bad, 2, 2, N, ""},
        {long_line + "\n" + good, 4, SampleStatus::first_lines_bad, 2, 1, L,
         long_line.substr(0, bad_line_shown)},
        {"0 1 1\r1 2 1\r", 4, SampleStatus::fewer_than_two, 1, 1, N, "0 1 1\r1 2 1\r"},
        {std::string(198, '1'), 4, SampleStatus::fewer_than_two, 1, 1, L,
         std::string(bad_line_shown, '1')},
        {std::string(199, '1'), 4, SampleStatus::first_lines_bad, 2, 1, L,
         std::string(bad_line_shown, '1')},
        {"0 1 1\n", 4, SampleStatus::fewer_than_two, 1, 0, N, ""},
        {"", 4, SampleStatus::fewer_than_two, 0, 0, N, ""},
        {good + "4 1,5 1\n" + long_line + "\n", 4, SampleStatus::ok, 7, 0, N, ""},
        {good + "4 1,5 1\n" + long_line + "\n", 6, SampleStatus::ok, 7, 5, N, "4 1,5 1"},
        {good + "4 1 1\r\n" + long_line + "\r\n5 1 1", 6, SampleStatus::ok, 8, 6, L,
         long_line.substr(0, bad_line_shown)},
        {good + "4 1 1\n" + long_line, 8, SampleStatus::ok, 7, 6, L,
         long_line.substr(0, bad_line_shown)},  // at the end, without a line feed
        {good + "4 1 1\n\n", 8, SampleStatus::ok, 6, 6, N, ""},
        {good + "4 1 1\n5 1 1", 6, SampleStatus::ok, 6, 0, N, ""},
        {good + "4 1 1\n5 1 1 x", 6, SampleStatus::ok, 6, 6, N, "5 1 1 x"},
        {good + "4 nan 1\n", 6, SampleStatus::ok, 5, 5, F, "4 nan 1"},  // a dropout
        {"0 1 1\n1 1e39 1\n" + good, 4, SampleStatus::first_lines_bad, 2, 2, F, "1 1e39 1"},
        {good, 0, SampleStatus::ok, 4, 0, N, ""},  // only counted
        {good + long_line, 0, SampleStatus::ok, 6, 0, N, ""},
    };
    for (const auto& c : cases) {
        for (std::size_t block : {1, 3, 64, 1 << 20}) {
            SCOPED_TRACE('"' + c.file.substr(0, 40) + "\", used " + std::to_string(c.used) +
                         ", block " + std::to_string(block));
            const Pass pass = run_pass(c.file, 2, c.used, block);
            EXPECT_EQ(pass.status, c.status);
            // Past a bad line 1 or 2 the pass counts no further than it must to tell the two
            // failures apart.
            if (c.status == SampleStatus::first_lines_bad) {
                EXPECT_GE(pass.count, 2u);
            } else {
                EXPECT_EQ(pass.count, c.count);
            }
            EXPECT_EQ(pass.bad_line.number, c.line);
            if (c.line == 0) continue;
            EXPECT_EQ(pass.bad_line.kind, c.kind);
            EXPECT_EQ(pass.bad_line.start, c.start);
        }
    }
}

TEST(SampleStream, TakesTheIntervalFromLinesOneAndTwoAndStopsAtTheCountLimit) {
    File file = stream_of("\xEF\xBB\xBF  3600 0 0\r\n3600.5 0 0\r\n3601 0 0\n");
    SampleStream s;
    ASSERT_EQ(start_samples(s, file.get(), 2, 5), SampleStatus::ok);
    EXPECT_EQ(s.deltat, 0.5f);
    set_used_lines(s, 0);
    EXPECT_EQ(next_section(s), SampleStatus::ok);
    EXPECT_EQ(s.count, 3u);

    for (std::uint64_t used : {std::uint64_t{0}, UINT64_MAX}) {
        File longer = stream_of("0 0 0\n1 0 0\n2 0 0\n3 0 0\n4 0 0\n");
        ASSERT_EQ(start_samples(s, longer.get(), 2, 4, 4), SampleStatus::ok);
        set_used_lines(s, used);
        SampleStatus status;
        while ((status = next_section(s)) == SampleStatus::section_ready) {
        }
        EXPECT_EQ(status, SampleStatus::too_many_lines) << used;
    }
}
