// The driver as a process: each failure's console text and exit status, and silent success.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "reference/memory_files.h"
#include "run/driver.h"
#include "run/messages.h"
#include "test_support.h"

using namespace psd;

namespace {

const std::string unknown_structure =
    "\nThe structure of the data file is unknown.\nsamples.txt has fewer than two lines.\n" + click;
// The design's line, then N beside the powers of two around it.
std::string not_power_of_two(const std::string& hint) {
    return "\nFatal error: the number of data points per section is not a power of 2.\n" + hint +
           "\n" + click;
}
const std::string too_small =
    ": a section needs at least 2 points to give a frequency bin (2, 4, "
    "8, ..., 1024, ...).";
const std::string negative_sections =
    "\nThe number of sections nb_section in config_psd.txt is negative. Set it to 0 (as many "
    "sections as the record holds) or more.\n" +
    click;
std::string unusable_interval(const std::string& shown) {
    return "\nThe sampling interval of samples.txt, " + shown +
           " from its first two time stamps, gives frequencies or densities beyond the range of "
           "32-bit floats. Check the unit of the time stamps, or change data_file in "
           "config_psd.txt.\n" +
           click;
}

const std::string bad_interval =
    "\nThe first two time stamps of samples.txt do not give a positive sampling interval. Check "
    "that the time stamps increase, or change data_file in config_psd.txt.\n" +
    click;

// The configuration messages name the field at fault, then show what was read as it.
std::string field_message(const std::string& field, const std::string& problem,
                          const std::string& shown = "") {
    const std::string read = shown.empty() ? "" : "The field " + field + " is \"" + shown + "\".\n";
    if (problem == "missing")
        return "\nThe file config_psd.txt ends before the field " + field +
               ". It must hold data_file, hanning, nb_section, nbpoint_section and output_file, "
               "separated by blanks.\n" +
               click;
    if (problem == "long")
        return "\nThe field " + field +
               " in config_psd.txt is longer than 127 characters. Give a shorter file name in "
               "config_psd.txt.\n" +
               read + click;
    return "\nThe field " + field +
           " in config_psd.txt is not a whole number between -2147483648 and 2147483647. Correct "
           "it in config_psd.txt.\n" +
           read + click;
}

// n sample lines with time stamps 0, 1, 2, ...
std::string samples(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text +=
            std::to_string(i) + " " + std::to_string(i % 7) + " " + std::to_string(i % 5) + "\n";
    return text;
}

struct Case {
    std::optional<std::string> config;  // none: no config_psd.txt
    std::string data;
    std::string console;
};

void expect_outcomes(const Case* begin, const Case* end, int status) {
    for (const Case* c = begin; c != end; ++c) {
        TempDir dir;
        write_run_files(dir, c->config.value_or(""), c->data);
        if (!c->config) std::filesystem::remove(dir.file("config_psd.txt"));
        const RunResult result = run_psd_in(dir.path());
        EXPECT_EQ(result.console, c->console) << c->config.value_or("(no config_psd.txt)");
        EXPECT_EQ(result.exit_status, status) << c->config.value_or("(no config_psd.txt)");
    }
}

}  // namespace

TEST(Run, EndsEachOfTheFiveFailuresWithItsMessageAndStatusOne) {
    const Case cases[] = {
        {std::nullopt, samples(4),
         "\nThe file config_psd.txt does not exist in  the current directory.\n" + click},
        {"missing.dat 0 1 4 r.txt", samples(4),
         "\nThe file missing.dat does not exist in the current directory.\n" + click},
        {"samples.txt 0 1 4 r.txt", "", unknown_structure},
        {"samples.txt 0 1 4 r.txt", "0 1 1\n", unknown_structure},
        {"samples.txt 0 1 4 r.txt", std::string(197, '1') + "\n", unknown_structure},
        {"samples.txt 0 3 4 r.txt", samples(11),
         too_few_points("samples.txt has 11 samples; 3 sections of 4 points need 12. At most 2 "
                        "sections of 4 points fit.")},
        // N alone beyond the record: the largest N that fits, not advice about nb_section.
        {"samples.txt 0 1 1000 r.txt", samples(999),  // failure 4 before 5
         too_few_points("samples.txt has 999 samples, fewer than one section of 1000 points: the "
                        "largest nbpoint_section that fits is 512.")},
        {"samples.txt 0 2 4 r.txt", "1 1 1\n1 1 1\n",  // and before deltat
         too_few_points("samples.txt has 2 samples, fewer than one section of 4 points: the "
                        "largest nbpoint_section that fits is 2.")},
        {"samples.txt 0 0 4096 r.txt", samples(4095),
         too_few_points("samples.txt has 4095 samples, fewer than one section of 4096 points: the "
                        "largest nbpoint_section that fits is 2048.")},
        {"samples.txt 0 1 1000 r.txt", samples(1000),
         not_power_of_two("nbpoint_section is 1000; the nearest powers of 2 are 512 and 1024.")},
        {"samples.txt 0 1 1 r.txt", samples(6),
         not_power_of_two("nbpoint_section is 1" + too_small)},
        {"samples.txt 0 1 0 r.txt", samples(6),
         not_power_of_two("nbpoint_section is 0" + too_small)},
        {"samples.txt 0 1 -8 r.txt", samples(6),
         not_power_of_two("nbpoint_section is -8" + too_small)},
        {"samples.txt 0 0 1073741825 r.txt", samples(6),  // no endless doubling
         not_power_of_two("nbpoint_section is 1073741825; the nearest power of 2 is 1073741824.")},
        {"samples.txt 0 0 2147483647 r.txt", samples(6),
         not_power_of_two("nbpoint_section is 2147483647; the nearest power of 2 is 1073741824.")},
        {"samples.txt 0 0 3 r.txt", samples(6),  // before the section count
         not_power_of_two("nbpoint_section is 3; the nearest powers of 2 are 2 and 4.")},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 1);
}

TEST(Run, SucceedsSilentlyWithStatusZero) {
    const std::string huge_token = "1." + std::string(100000, '0') + "1";
    const Case cases[] = {
        {"samples.txt 1 2 4 r.txt\n", samples(8), ""},  // exactly enough samples
        {"samples.txt 0 1 2 r.txt", samples(1000), ""},
        {"samples.txt\n+1\n+2\n+4\nr.txt", samples(9), ""},  // one field per line, signs
        {"\t samples.txt 0001 2 4 r.txt extra text 8.5\n", samples(9), ""},
        {"samples.txt -2147483648 1 4 " + std::string(127, 'r'), samples(4), ""},
        {"samples.txt 2147483647 1 4 r.txt", "0 1 1\r\n0.5 2 1\r\n1 3 1\r\n1.5 4 3", ""},
        // Lines after the last used one are only counted: their content is never read.
        {"samples.txt 0 1 4 r.txt", samples(4) + "2 " + huge_token + " x\n3 1e999 " + huge_token,
         ""},
        {"samples.txt 0 1 4 r.txt",
         "0 1 1\n1 2 1\n2 1e30 1\n3 " + huge_token.substr(0, 150) + " -0", ""},
        // A whole number of any length is whole: leading zeros beyond what a message shows.
        {"samples.txt 0 1 " + std::string(300, '0') + "4 r.txt", samples(4), ""},
        // A tiny interval whose frequencies and densities still fit floats.
        {"samples.txt 1 1 4 r.txt", "0 1 0\n1e-38 0 1\n2 0 0\n3 2 1\n", ""},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 0);
}

namespace {

// text as a Windows editor saves it as "Unicode": UTF-16, little-endian, with or without a mark.
std::string utf16(const std::string& text, bool mark) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char c : text) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

const std::string unicode =
    "\nThe field hanning in config_psd.txt is not a whole number between -2147483648 and "
    "2147483647. Correct it in config_psd.txt.\nconfig_psd.txt is saved as Unicode (UTF-16): save "
    "it as plain text (ANSI or UTF-8) in your editor.\n" +
    click;

}  // namespace

TEST(Run, RejectsAMalformedConfigurationNamingTheField) {
    const std::string name128(128, 'n');
    const Case cases[] = {
        {"", samples(4), field_message("data_file", "missing")},
        {"  \n\t", samples(4), field_message("data_file", "missing")},
        {"samples.txt 0 1", samples(4), field_message("nbpoint_section", "missing")},
        {"samples.txt 0 1 4", samples(4), field_message("output_file", "missing")},
        {"samples.txt x 1 4 r.txt", samples(4), field_message("hanning", "whole", "x")},
        {"samples.txt 0 8.5 4 r.txt", samples(4), field_message("nb_section", "whole", "8.5")},
        {"samples.txt 0 1 4r.txt", samples(4), field_message("nbpoint_section", "whole", "4r.txt")},
        {"samples.txt 0 - 4 r.txt", samples(4), field_message("nb_section", "whole", "-")},
        {"samples.txt 0 +-1 4 r.txt", samples(4), field_message("nb_section", "whole", "+-1")},
        {"samples.txt 2147483648 1 4 r.txt", samples(4),
         field_message("hanning", "whole", "2147483648")},
        {"samples.txt 0 -2147483649 4 r.txt", samples(4),
         field_message("nb_section", "whole", "-2147483649")},
        {"samples.txt 0 1 99999999999999999999 r.txt", samples(4),
         field_message("nbpoint_section", "whole", "99999999999999999999")},
        {name128 + " 0 1 4 r.txt", samples(4),
         field_message("data_file", "long", std::string(60, 'n') + "...")},
        {"samples.txt 0 1 4 " + name128, samples(4),
         field_message("output_file", "long", std::string(60, 'n') + "...")},
        // What users write by mistake shows itself: a name with a blank shifts every field after
        // it, a comment and "key = value" lines put words where numbers belong.
        {"cell 42.txt 1 8 1024 out.txt", samples(4), field_message("hanning", "whole", "42.txt")},
        {"# psd settings\nsamples.txt 0 1 4 r.txt", samples(4),
         field_message("hanning", "whole", "psd")},
        {"data_file = samples.txt\nhanning = 1", samples(4),
         field_message("hanning", "whole", "=")},
        {"samples.txt \x01\x7f 1 4 r.txt", samples(4),
         field_message("hanning", "whole", "\\x01\\x7f")},
        // Saved as "Unicode" by a Windows editor: said so, instead of showing its bytes.
        {utf16("samples.txt 0 1 4 r.txt", true), samples(4), unicode},
        {utf16("samples.txt 0 1 4 r.txt", false), samples(4), unicode},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 1);
}

TEST(Run, RefusesNegativeSectionCountsAndIntervalsThatAreNotPositive) {
    const Case cases[] = {
        {"samples.txt 0 -1 4 r.txt", samples(4), negative_sections},
        {"samples.txt 0 -3 4 r.txt", samples(4), negative_sections},
        {"samples.txt 0 1 4 r.txt", "1 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"samples.txt 0 1 4 r.txt", "2 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"samples.txt 0 1 4 r.txt", "0 0 0\n1e39 0 0\n2 0 0\n3 0 0\n", bad_interval},  // inf
        {"samples.txt 0 1 4 r.txt", "nan 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        // Positive, but the report would not fit floats: frequencies at inf, or every density 0.
        {"samples.txt 0 1 4 r.txt", "0 0 0\n1e-45 0 0\n2 0 0\n3 0 0\n",
         unusable_interval("1.401298e-45")},
        {"samples.txt 0 1 4 r.txt", "0 0 0\n1e-39 0 0\n2 0 0\n3 0 0\n", unusable_interval("1e-39")},
        {"samples.txt 1 1 4 r.txt", "0 0 0\n3e38 0 0\n2 0 0\n3 0 0\n",
         unusable_interval("3e+38")},  // the window's 8/3 takes the scale past float range
        // The Hann window of two points is zero at both: no density could be other than 0.
        {"samples.txt 1 1 2 r.txt", samples(2),
         "\nThe Hann window of 2 points is zero at both of them: every density would be 0. Set "
         "hanning to 0, or nbpoint_section to 4 or more, in config_psd.txt.\n" +
             click},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 1);
}

#ifndef _WIN32  // a folder cannot be opened as a file there, /dev/full and rlimits are POSIX

TEST(Run, ReportsFilesThatCannotBeReadOrWritten) {
    // A folder opens for reading on Linux, but cannot be read; /dev/full takes no byte. (The
    // message for a report that cannot be created is checked end to end in psd_test.cpp.)
    const struct {
        std::string config, folder, console;
    } cases[] = {
        {"", "config_psd.txt",
         "\nThe file config_psd.txt could not be read. Check that it is a readable text file.\n"},
        {"samples.txt 0 1 4 r.txt", "samples.txt",
         "\nThe file samples.txt could not be read. Check that it is a readable sample file, or "
         "change data_file in config_psd.txt.\n"},
        {"samples.txt 0 1 4 /dev/full", "",
         "\nThe file /dev/full could not be written completely; the disk may be full.\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_run_files(dir, c.config, samples(4));
        if (!c.folder.empty()) {
            std::filesystem::remove(dir.file(c.folder));
            std::filesystem::create_directory(dir.file(c.folder));
        }
        const RunResult result = run_psd_in(dir.path());
        EXPECT_EQ(result.console, c.console + click);
        EXPECT_EQ(result.exit_status, 1);
    }
}

TEST(Run, ReportsLackOfMemoryInsteadOfCrashing) {
#ifdef PSD_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
    // A section of 2^22 points needs two buffers of 32 MiB, more than the whole address space
    // psd gets here. Two such sections do not fit in the 2^22 lines at all: that is said
    // first, whatever the memory (the sections are only counted, never stored).
    TempDir dir;
    std::string lines = "0 1 1\n";
    lines.reserve(6 << 22);
    for (int j = 1; j < (1 << 22); ++j)
        lines += "1 1 1\n";
    write_run_files(dir, "samples.txt 0 1 4194304 r.txt\n", lines);
    RunResult result;
    with_limit(RLIMIT_AS, 16u << 20, [&] { result = run_psd_in(dir.path()); });
    EXPECT_EQ(result.console,
              "\nThere is not enough memory for this run. Decrease nb_section or nbpoint_section "
              "in config_psd.txt.\n" +
                  click);
    EXPECT_EQ(result.exit_status, 1);
    write_file(dir.file("config_psd.txt"), "samples.txt 0 2 4194304 r.txt\n");
    with_limit(RLIMIT_AS, 16u << 20, [&] { result = run_psd_in(dir.path()); });
    EXPECT_EQ(result.console,
              too_few_points("samples.txt has 4194304 samples; 2 sections of 4194304 points need "
                             "8388608. At most 1 section of 4194304 points fits."));
    EXPECT_EQ(result.exit_status, 1);
#endif
}

#endif  // POSIX

namespace {

// Eight samples as the forms lab software exports them take them; the run uses all eight
// (nb_section 2, nbpoint_section 4). The clean form: blanks and decimal points.
std::string exported(const std::string& separator, bool comma_decimals) {
    std::string text;
    for (int j = 0; j < 8; ++j) {
        char line[128];
        std::snprintf(line, sizeof line, "%.6e%s%.6e%s%.6e", j * 1e-3, separator.c_str(),
                      1e-3 * (j % 3), separator.c_str(), -4e-9 * (j % 5));
        std::string row = line;
        if (comma_decimals)
            for (char& c : row)
                if (c == '.') c = ',';
        text += row + "\n";
    }
    return text;
}

std::string not_a_sample(int line, const std::string& shown) {
    return "\nLine " + std::to_string(line) +
           " of samples.txt is not a sample of three numbers: \"" + shown +
           "\". Remove header lines; values must be separated by blanks or tabs and use a decimal "
           "point.\n" +
           click;
}

std::string not_finite(int line, const std::string& shown) {
    return "\nLine " + std::to_string(line) +
           " of samples.txt holds a value that is not a finite number within float range: \"" +
           shown +
           "\". Replace the dropouts (nan, inf) and keep voltages and currents within "
           "+-3.4e38.\n" +
           click;
}

}  // namespace

#ifndef _WIN32  // address space limits are POSIX
// Without the memory for a section of 2^22 points the conversion stops where its buffers stop
// growing, on one thread or several: a bad line before that point is still named, one after it
// never read, and the run says memory ran out.
TEST(Run, RunsOutOfMemoryAtTheSameLineWhateverTheThreads) {
#ifdef PSD_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
    std::string lines = "0 1 1\n";
    lines.reserve(6 << 22);
    for (int j = 1; j < (1 << 22); ++j)
        lines += "1 1 1\n";
    const std::string no_memory =
        "\nThere is not enough memory for this run. Decrease nb_section or nbpoint_section in "
        "config_psd.txt.\n" +
        click;
    const struct {
        std::size_t bad_at;  // the byte where "1 1 1" becomes "1 x 1"; 0: none
        std::string console;
    } cases[] = {
        {0, no_memory},
        {6 * 99 + 2, not_a_sample(100, "1 x 1")},
        {6 * 2999999 + 2, no_memory},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::string samples = lines;
        if (c.bad_at != 0) samples[c.bad_at] = 'x';
        write_run_files(dir, "samples.txt 0 1 4194304 r.txt\n", samples);
        for (const char* threads : {"1", "2", "3"}) {
            for (unsigned long limit : {32ul << 20, 64ul << 20}) {
                SCOPED_TRACE(std::string(threads) + " threads, " + std::to_string(limit >> 20) +
                             " MiB, bad byte " + std::to_string(c.bad_at));
                RunResult result;
                with_limit(RLIMIT_AS, limit, [&] {
                    result = run_psd_with(dir.path(), {"--threads", threads});
                });
                EXPECT_EQ(result.console, c.console);
                EXPECT_EQ(result.exit_status, 1);
            }
        }
    }
#endif
}
#endif

namespace {

// Exports that break the rule, as lab software writes them, with the message each gets; clean is
// the eight good lines they are made from.
struct BadExport {
    const char* form;
    std::string file, console;
};

std::vector<BadExport> bad_exports(const std::string& clean) {
    const std::string line_of_200 = "4e-3 " + std::string(195, '1');
    std::string carriage_returns = clean;
    for (char& c : carriage_returns)
        if (c == '\n') c = '\r';
    return {
        {"comma-separated", exported(",", false),
         not_a_sample(1, "0.000000e+00,0.000000e+00,-0.000000e+00")},
        {"semicolons, comma decimals", exported(";", true),
         not_a_sample(1, "0,000000e+00;0,000000e+00;-0,000000e+00")},
        {"tabs, comma decimals", exported("\t", true),
         not_a_sample(1, "0,000000e+00\\t0,000000e+00\\t-0,000000e+00")},
        {"a fourth column", "0 1 1 7\n" + clean, not_a_sample(1, "0 1 1 7")},
        {"a header", "Time Vf Im\n" + clean, not_a_sample(1, "Time Vf Im")},
        {"clock times", "12:00:00 1 1\n12:00:01 2 2\n" + clean, not_a_sample(1, "12:00:00 1 1")},
        {"a unit on line 6", insert_line(clean, 6, "1.5V 2 2"), not_a_sample(6, "1.5V 2 2")},
        {"a dropout on line 3", insert_line(clean, 3, "2e-3 nan 1e-9"),
         not_finite(3, "2e-3 nan 1e-9")},
        {"a value beyond float range", insert_line(clean, 8, "7e-3 1 1e999"),
         not_finite(8, "7e-3 1 1e999")},
        {"an infinite current on line 2", insert_line(clean, 2, "1e-3 0 -inf"),
         not_finite(2, "1e-3 0 -inf")},
        {"a blank line inside", insert_line(clean, 5, ""),
         "\nLine 5 of samples.txt is not a sample of three numbers: the line is blank. Remove "
         "blank lines from the samples.\n" +
             click},
        {"a line of 200 characters", insert_line(clean, 2, line_of_200),
         "\nLine 2 of samples.txt is not a sample of three numbers: it has 198 characters or more "
         "(\"4e-3 " +
             std::string(55, '1') +
             "...\"). Put each sample on a line of its own, ended by a line feed, in fewer than "
             "198 characters.\n" +
             click},
        {"CR-only line ends", carriage_returns,
         "\nLine 1 of samples.txt is not a sample of three numbers: it has 198 characters or more "
         "(\"0.000000e+00 0.000000e+00 -0.000000e+00\\r1.000000e-03 1.00000...\"). Put each "
         "sample on a line of its own, ended by a line feed, in fewer than 198 characters.\n" +
             click},
    };
}

}  // namespace

TEST(Run, TellsWhichUsedLineIsNotASampleAndIgnoresLinesBeyondTheUsedOnes) {
    const std::string clean = exported(" ", false);
    TempDir dir;
    write_run_files(dir, "samples.txt 1 2 4 r.txt\n", clean);
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    const std::string report = read_file(dir.file("r.txt"));
    for (const BadExport& c : bad_exports(clean)) {
        SCOPED_TRACE(c.form);
        write_file(dir.file("r.txt"), "an earlier report\n");
        write_file(dir.file("samples.txt"), c.file);
        const RunResult failed = run_psd_in(dir.path());
        EXPECT_EQ(failed.console, c.console);
        EXPECT_EQ(failed.exit_status, 1);
        EXPECT_EQ(read_file(dir.file("r.txt")), "an earlier report\n");
        EXPECT_EQ(folder_entries(dir.path()),
                  (std::set<std::string>{"config_psd.txt", "r.txt", "samples.txt"}));
        // The same lines after the eight used ones are only counted.
        write_file(dir.file("samples.txt"), clean + c.file);
        const RunResult passed = run_psd_in(dir.path());
        EXPECT_EQ(passed.console, "");
        EXPECT_EQ(passed.exit_status, 0);
        EXPECT_EQ(read_file(dir.file("r.txt")), report);
    }
}

// A byte order mark before time stamps that start at 3600 s is no text of line 1: the report is
// that of the same file without the mark.
TEST(Run, SkipsAByteOrderMarkBeforeTheSamplesAndTheConfiguration) {
    TempDir dir;
    write_run_files(dir, "samples.txt 1 2 4 r.txt\n", "");
    std::string late;
    for (int j = 0; j < 8; ++j)
        late += std::to_string(3600 + j) + ".001 " + std::to_string(j % 3) + " 1e-9\n";
    write_file(dir.file("samples.txt"), late);
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    const std::string without_mark = read_file(dir.file("r.txt"));
    write_file(dir.file("samples.txt"), "\xEF\xBB\xBF" + late);
    write_file(dir.file("config_psd.txt"), "\xEF\xBB\xBFsamples.txt 1 2 4 r.txt\n");
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    EXPECT_EQ(read_file(dir.file("r.txt")), without_mark);
}

TEST(Run, TakesAsManySectionsAsFitForNbSectionZero) {
    TempDir dir;
    write_run_files(dir, "samples.txt 1 15 64 r.txt\n", samples(1000));
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    const std::string fifteen = as_text(read_file(dir.file("r.txt")));
    write_file(dir.file("config_psd.txt"), "samples.txt 1 0 64 r.txt\n");
    const RunResult all = run_psd_in(dir.path());
    EXPECT_EQ(all.console, "");
    EXPECT_EQ(all.exit_status, 0);
    EXPECT_EQ(as_text(read_file(dir.file("r.txt"))), fifteen);
    EXPECT_EQ(fifteen.substr(0, fifteen.find('\n')),
              "data file = samples.txt    hanning = 1    nb_section = 15     nbpoint_section = 64");

    write_run_files(dir, "samples.txt 1 0 64 r.txt\n", samples(63));
    EXPECT_EQ(run_psd_in(dir.path()).console,
              too_few_points("samples.txt has 63 samples, fewer than one section of 64 points: the "
                             "largest nbpoint_section that fits is 32."));
}

// Blank lines that end an export are no samples: nb_section 0 counts the whole sections before
// them (here 7 of 8, the last line being blank), and the report is that of those sections. An
// explicit nb_section still finds the blank line among the lines it uses, and a blank line with
// samples after it is still refused.
TEST(Run, TakesNbSectionZeroAsTheSectionsBeforeBlankLinesThatEndTheFile) {
    TempDir dir;
    const std::string seven = samples(7 * 64);
    write_run_files(dir, "samples.txt 1 7 64 r.txt\n", seven);
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    const std::string report = as_text(read_file(dir.file("r.txt")));
    const std::string ends[] = {samples(63) + "\n", samples(63) + "\n\n  \t\r\n\n", "\r\n",
                                samples(10) + "\n \n"};
    for (const std::string& end : ends) {
        write_run_files(dir, "samples.txt 1 0 64 r.txt\n", seven + end);
        const RunResult result = run_psd_in(dir.path());
        EXPECT_EQ(result.console, "");
        EXPECT_EQ(as_text(read_file(dir.file("r.txt"))), report);
    }
    const std::string blank_line_448 =
        "\nLine 448 of samples.txt is not a sample of three numbers: the line is blank. Remove "
        "blank lines from the samples.\n" +
        click;
    write_run_files(dir, "samples.txt 1 7 64 r.txt\n", samples(7 * 64 - 1) + "\n\n");
    EXPECT_EQ(run_psd_in(dir.path()).console, blank_line_448);
    write_run_files(dir, "samples.txt 1 0 64 r.txt\n", samples(7 * 64 - 1) + "\n" + samples(70));
    EXPECT_EQ(run_psd_in(dir.path()).console, blank_line_448);
}

// The last line a run uses is checked like every other; the first one after it is only counted.
TEST(Run, RefusesABadLastUsedLineAndIgnoresTheFirstUnusedOne) {
    const std::string bad = "7 1,5 2";
    for (const char* config : {"samples.txt 0 2 4 r.txt\n", "samples.txt 0 0 4 r.txt\n"}) {
        SCOPED_TRACE(config);
        TempDir dir;
        write_run_files(dir, config, samples(7) + bad + "\n" + samples(2));
        const RunResult last_used = run_psd_in(dir.path());
        EXPECT_EQ(last_used.exit_status, 1);
        EXPECT_EQ(last_used.console,
                  "\nLine 8 of samples.txt is not a sample of three numbers: \"" + bad +
                      "\". Remove header lines; values must be separated by blanks or tabs and use "
                      "a decimal point.\n" +
                      click);
        write_run_files(dir, config, samples(8) + bad + "\n" + samples(2));
        const RunResult first_unused = run_psd_in(dir.path());
        EXPECT_EQ(first_unused.console, "");
        EXPECT_EQ(first_unused.exit_status, 0);
    }
}

#ifndef _WIN32  // symbolic and hard links, and fork and exec with arguments, are POSIX here

TEST(Run, RefusesAReportThatIsTheRecordOrTheConfiguration) {
    for (const std::string target : {"samples.txt", "config_psd.txt"}) {
        for (const std::string how : {"name", "path", "symbolic link", "hard link"}) {
            SCOPED_TRACE(target + " by " + how);
            TempDir dir;
            std::string output = how == "name" ? target : how == "path" ? "./" + target : "alias";
            write_run_files(dir, "samples.txt 0 1 4 " + output + "\n", worked_samples);
            if (how == "symbolic link") {
                ASSERT_EQ(symlink(target.c_str(), dir.file(output).c_str()), 0);
            }
            if (how == "hard link") {
                ASSERT_EQ(link(dir.file(target).c_str(), dir.file(output).c_str()), 0);
            }
            const std::string config = read_file(dir.file("config_psd.txt"));
            const RunResult result = run_psd_in(dir.path());
            EXPECT_EQ(result.console, "\nThe output_file " + output + " is the same file as " +
                                          target +
                                          ": the report would replace it. Give another "
                                          "output_file in config_psd.txt.\n" +
                                          click);
            EXPECT_EQ(result.exit_status, 1);
            EXPECT_EQ(read_file(dir.file("samples.txt")), worked_samples);
            EXPECT_EQ(read_file(dir.file("config_psd.txt")), config);
            EXPECT_EQ(folder_entries(dir.path()).size(),
                      how.find("link") != std::string::npos ? 3u : 2u);
        }
    }
}

TEST(Run, AnswersHelpAndVersionWithoutTouchingAFileAndRunsInAGivenFolder) {
    TempDir dir;
    write_run_files(dir, "samples.txt 0 1 4 r.txt\n", worked_samples);
    const std::string usage = run_psd_with(dir.path(), {"--help"}).console;
    EXPECT_NE(usage.find("Usage: psd [FOLDER]"), std::string::npos);
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string console;
    } cases[] = {
        {{"--help"}, 0, usage},
        {{"-h"}, 0, usage},
        {{"--version"}, 0, "psd " PSD_VERSION "\n"},
        // A mistake on the command line is named before the usage.
        {{"--verbose"}, 2, "psd: unknown argument '--verbose'\n" + usage},
        {{"-v", dir.path()}, 2, "psd: unknown argument '-v'\n" + usage},
        {{dir.path(), "two"},
         2,
         "psd: unexpected argument 'two': psd takes one folder at most\n" + usage},
        {{""}, 2, "psd: unknown argument ''\n" + usage},
        {{"--threads"}, 2, "psd: --threads needs a number of threads\n" + usage},
        {{"--threads", "0", dir.path()},
         2,
         "psd: --threads takes a whole number from 1 to 256, not '0'\n" + usage},
        {{"--threads", "two"},
         2,
         "psd: --threads takes a whole number from 1 to 256, not 'two'\n" + usage},
        {{"--threads", "257"},
         2,
         "psd: --threads takes a whole number from 1 to 256, not '257'\n" + usage},
        {{"--threads", "-1"},
         2,
         "psd: --threads takes a whole number from 1 to 256, not '-1'\n" + usage},
        {{dir.path(), "--threads", "2"},
         2,
         "psd: unexpected argument '--threads': psd takes one folder at most\n" + usage},
        {{"missing"},
         1,
         "\nThe folder missing cannot be entered. Check that it exists and that it may be "
         "opened.\n" +
             click},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "" : c.arguments[0]);
        const RunResult result = run_psd_with(dir.path(), c.arguments);
        EXPECT_EQ(result.exit_status, c.status);
        EXPECT_EQ(result.console, c.console);
        EXPECT_EQ(folder_entries(dir.path()),
                  (std::set<std::string>{"config_psd.txt", "samples.txt"}));
    }
    TempDir elsewhere;
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{dir.path()}, {"--threads", "3", dir.path()}}) {
        const RunResult there = run_psd_with(elsewhere.path(), arguments);
        EXPECT_EQ(there.exit_status, 0);
        EXPECT_EQ(read_file(dir.file("r.txt")), worked_report);
        EXPECT_TRUE(folder_entries(elsewhere.path()).empty());
        std::remove(dir.file("r.txt").c_str());
    }
}

// Run from elsewhere, a missing configuration or sample file says where it was looked for: the
// folder psd was given, or the full path data_file names.
TEST(Run, NamesTheFolderOrPathAMissingFileWasLookedFor) {
    TempDir dir, elsewhere;
    const std::string in_folder = "It was looked for in the folder " + dir.path() + ".\n";
    EXPECT_EQ(run_psd_with(elsewhere.path(), {dir.path()}).console,
              "\nThe file config_psd.txt does not exist in  the current directory.\n" + in_folder +
                  click);
    write_file(dir.file("config_psd.txt"), "cell.txt 0 1 4 r.txt\n");
    EXPECT_EQ(run_psd_with(elsewhere.path(), {dir.path()}).console,
              "\nThe file cell.txt does not exist in the current directory.\n" + in_folder + click);
    const std::string full = dir.file("cell.txt");
    write_file(dir.file("config_psd.txt"), full + " 0 1 4 r.txt\n");
    const std::string full_path = full +
                                  " is a full path: it was looked for there, not in the "
                                  "current directory.\n";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{dir.path()}, std::vector<std::string>{}}) {
        const RunResult result =
            run_psd_with(arguments.empty() ? dir.path() : elsewhere.path(), arguments);
        EXPECT_EQ(result.console, "\nThe file " + full +
                                      " does not exist in the current directory.\n" + full_path +
                                      click);
    }
    // In the current folder the design's line says it all.
    write_file(dir.file("config_psd.txt"), "cell.txt 0 1 4 r.txt\n");
    EXPECT_EQ(run_psd_with(dir.path(), {}).console,
              "\nThe file cell.txt does not exist in the current directory.\n" + click);
}

#endif  // POSIX

// The file-system seam: a whole run on files held in memory reads and writes what it does on a
// disk, and fails as it does there, so that fuzzing can run it without one.
TEST(Run, RunsOnFilesHeldInMemoryAsOnADisk) {
    reference::MemoryFiles files;
    files.folders.insert("cell");
    files.files["cell/config_psd.txt"] = "samples.txt 0 1 4 r.txt\n";
    files.files["cell/samples.txt"] = worked_samples;
    EXPECT_FALSE(run_psd("cell", files));
    EXPECT_EQ(files.files["cell/r.txt"], worked_report);

    files.files["cell/config_psd.txt"] = "missing.txt 0 1 4 r.txt\n";
    const std::optional<Failure> missing = run_psd("cell", files);
    ASSERT_TRUE(missing);
    EXPECT_EQ(message_of(*missing),
              "\nThe file missing.txt does not exist in the current directory.\nIt was looked for "
              "in the folder cell.\n");
    files.files["cell/config_psd.txt"] = "samples.txt 0 1 4 out/r.txt\n";
    const std::optional<Failure> no_folder = run_psd("cell", files);
    ASSERT_TRUE(no_folder);
    EXPECT_EQ(no_folder->fault, RunFault::report_cannot_create);
    EXPECT_EQ(files.files["cell/r.txt"], worked_report);
    EXPECT_EQ(files.files.size(), 3u);
}

namespace {

// A record of `lines` samples from a fixed seed, in the exponent form recorders write.
std::string random_samples(std::uint32_t seed, int lines) {
    std::mt19937 rng(seed);
    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 34);
    char line[64];
    for (int j = 0; j < lines; ++j) {
        const double v = static_cast<double>(rng()) / 4294967296.0 - 0.5;
        const double i = (static_cast<double>(rng()) / 4294967296.0 - 0.5) * 1e-6;
        std::snprintf(line, sizeof line, "%d %.6e %.6e\n", j, v, i);
        text += line;
    }
    return text;
}

}  // namespace

// The threads share the pass out and the float sums still take the sections in record order: the
// densities are those of one thread bit for bit, for section lengths from 4 to 2^20 and section
// counts that no thread count divides, whether the file is read by offset (a file on disk) or in
// order (a file held in memory).
TEST(Run, AnalysesBitForBitAsOneThreadWithAnyNumberOfThreads) {
    TempDir dir;
    reference::MemoryFiles memory;
    const std::string samples = random_samples(7, (1 << 20) + 777);
    write_file(dir.file("samples.txt"), samples);
    memory.files["samples.txt"] = samples;
    for (std::int32_t n = 4; n <= (1 << 20); n *= 4) {
        for (std::int32_t m : {n <= 4096 ? 7 : 1, n == 1024 ? 0 : -1}) {
            if (m < 0) continue;
            const std::string config =
                "samples.txt 1 " + std::to_string(m) + " " + std::to_string(n) + " r.txt\n";
            write_file(dir.file("config_psd.txt"), config);
            memory.files["config_psd.txt"] = config;
            const auto one = analyse_folder(dir.path(), system_files(), 1);
            ASSERT_TRUE(std::holds_alternative<Analysis>(one)) << config;
            const Densities& expected = std::get<Analysis>(one).densities;
            for (unsigned threads : {2u, 3u, 4u, 8u}) {
                SCOPED_TRACE(config + std::to_string(threads) + " threads");
                const auto many = analyse_folder(dir.path(), system_files(), threads);
                ASSERT_TRUE(std::holds_alternative<Analysis>(many));
                EXPECT_EQ(std::get<Analysis>(many).header.nb_section,
                          std::get<Analysis>(one).header.nb_section);
                EXPECT_EQ(std::get<Analysis>(many).densities.psd_v, expected.psd_v);
                EXPECT_EQ(std::get<Analysis>(many).densities.psd_i, expected.psd_i);
            }
            const auto in_order = analyse_folder("", memory, 3);
            ASSERT_TRUE(std::holds_alternative<Analysis>(in_order));
            EXPECT_EQ(std::get<Analysis>(in_order).densities.psd_v, expected.psd_v) << config;
        }
    }
}

// The built psd with --threads 1 to 8 writes the report and prints the message of one thread,
// byte for byte, with its exit status, on records that end in a bad line at any chunk end.
TEST(Run, WritesTheSameReportAndMessageWhateverTheThreads) {
    std::string record = random_samples(3, 70001);
    const struct {
        std::string config;
        std::string samples;
    } cases[] = {
        {"samples.txt 1 0 1024 r.txt\n", record},                     // 68 sections and a part
        {"samples.txt 0 17 4096 r.txt\n", record},                    // 17: no count divides it
        {"samples.txt 0 0 4 r.txt\n", record + "\n\n \n"},            // a blank tail
        {"samples.txt 1 0 64 r.txt\n", record + "70001 1,5 1\n"},     // beyond the sections
        {"samples.txt 1 1094 64 r.txt\n", record + "70001 1,5 1\n"},  // its last used line
        {"samples.txt 1 0 256 r.txt\n", record.substr(0, 1 << 18) + "x\n" + record},
        {"samples.txt 1 0 256 r.txt\n", record.substr(0, 1 << 19) + "1 nan 1\n" + record},
        {"samples.txt 1 3 8 r.txt\n", "0 1 1\n1 2 1\n" + std::string(300, '2') + "\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_run_files(dir, c.config, c.samples);
        const RunResult expected = run_psd_with(dir.path(), {"--threads", "1"});
        const std::string report =
            file_exists(dir.file("r.txt")) ? read_file(dir.file("r.txt")) : "";
        for (const char* threads : {"2", "3", "4", "8"}) {
            SCOPED_TRACE(c.config + threads + " threads");
            std::remove(dir.file("r.txt").c_str());
            const RunResult result = run_psd_with(dir.path(), {"--threads", threads});
            EXPECT_EQ(result.exit_status, expected.exit_status);
            EXPECT_EQ(result.console, expected.console);
            EXPECT_EQ(file_exists(dir.file("r.txt")) ? read_file(dir.file("r.txt")) : "", report);
        }
    }
}
