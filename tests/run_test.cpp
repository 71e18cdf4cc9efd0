// The driver as a process: each failure's console text and exit status, and silent success.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <optional>
#include <string>

#include "test_support.h"

namespace {

const std::string unknown_structure = "\nThe structure of the data file is unknown.\n" + click;
const std::string not_power_of_two =
    "\nFatal error: the number of data points per section is not a power of 2.\n" + click;
const std::string no_sections =
    "\nThe number of sections nb_section in config_psd.txt is below 1. Set it to 1 or more.\n" +
    click;
const std::string bad_interval =
    "\nThe first two time stamps of samples.txt do not give a positive sampling interval. Check "
    "that the time stamps increase, or change data_file in config_psd.txt.\n" +
    click;

// The configuration messages name the field at fault.
std::string field_message(const std::string& field, const std::string& problem) {
    if (problem == "missing")
        return "\nThe file config_psd.txt ends before the field " + field +
               ". It must hold data_file, hanning, nb_section, nbpoint_section and output_file, "
               "separated by blanks.\n" +
               click;
    if (problem == "long")
        return "\nThe field " + field +
               " in config_psd.txt is longer than 127 characters. Give a shorter file name in "
               "config_psd.txt.\n" +
               click;
    return "\nThe field " + field +
           " in config_psd.txt is not a whole number between -2147483648 and 2147483647. Correct "
           "it in config_psd.txt.\n" +
           click;
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
        {"samples.txt 0 3 4 r.txt", samples(11), too_few_points},
        {"samples.txt 0 1 1000 r.txt", samples(999), too_few_points},   // failure 4 before 5
        {"samples.txt 0 2 4 r.txt", "1 1 1\n1 1 1\n", too_few_points},  // and before deltat
        {"samples.txt 0 1 1000 r.txt", samples(1000), not_power_of_two},
        {"samples.txt 0 1 1 r.txt", samples(6), not_power_of_two},
        {"samples.txt 0 1 0 r.txt", samples(6), not_power_of_two},
        {"samples.txt 0 1 -8 r.txt", samples(6), not_power_of_two},
        {"samples.txt 0 0 1073741825 r.txt", samples(6), not_power_of_two},  // no endless doubling
        {"samples.txt 0 0 2147483647 r.txt", samples(6), not_power_of_two},
        {"samples.txt 0 0 3 r.txt", samples(6), not_power_of_two},  // before the section count
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
        {"samples.txt 0 1 4 r.txt", "0 1 1\n1 2 1\n2 " + huge_token + " x\n3 1e999 " + huge_token,
         ""},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 0);
}

TEST(Run, RejectsAMalformedConfigurationNamingTheField) {
    const std::string name128(128, 'n');
    const Case cases[] = {
        {"", samples(4), field_message("data_file", "missing")},
        {"  \n\t", samples(4), field_message("data_file", "missing")},
        {"samples.txt 0 1", samples(4), field_message("nbpoint_section", "missing")},
        {"samples.txt 0 1 4", samples(4), field_message("output_file", "missing")},
        {"samples.txt x 1 4 r.txt", samples(4), field_message("hanning", "whole")},
        {"samples.txt 0 8.5 4 r.txt", samples(4), field_message("nb_section", "whole")},
        {"samples.txt 0 1 4r.txt", samples(4), field_message("nbpoint_section", "whole")},
        {"samples.txt 0 - 4 r.txt", samples(4), field_message("nb_section", "whole")},
        {"samples.txt 0 +-1 4 r.txt", samples(4), field_message("nb_section", "whole")},
        {"samples.txt 2147483648 1 4 r.txt", samples(4), field_message("hanning", "whole")},
        {"samples.txt 0 -2147483649 4 r.txt", samples(4), field_message("nb_section", "whole")},
        {"samples.txt 0 1 99999999999999999999 r.txt", samples(4),
         field_message("nbpoint_section", "whole")},
        {name128 + " 0 1 4 r.txt", samples(4), field_message("data_file", "long")},
        {"samples.txt 0 1 4 " + name128, samples(4), field_message("output_file", "long")},
    };
    expect_outcomes(std::begin(cases), std::end(cases), 1);
}

TEST(Run, RefusesSectionCountsBelowOneAndIntervalsThatAreNotPositive) {
    const Case cases[] = {
        {"samples.txt 0 0 4 r.txt", samples(4), no_sections},
        {"samples.txt 0 -3 4 r.txt", samples(4), no_sections},
        {"samples.txt 0 1 4 r.txt", "1 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"samples.txt 0 1 4 r.txt", "2 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"samples.txt 0 1 4 r.txt", "0 0 0\n1e39 0 0\n2 0 0\n3 0 0\n", bad_interval},  // inf
        {"samples.txt 0 1 4 r.txt", "nan 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"samples.txt 0 1 4 r.txt", "x 0 0\ny 0 0\n2 0 0\n3 0 0\n", bad_interval},
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

#if defined(__SANITIZE_ADDRESS__)
#define PSD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PSD_ASAN 1
#endif
#endif

TEST(Run, ReportsLackOfMemoryInsteadOfCrashing) {
#ifdef PSD_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
    // 2^22 lines need two arrays of 16 MiB for the samples, more than the whole address space
    // psd gets here.
    TempDir dir;
    write_run_files(dir, "samples.txt 0 1 4194304 r.txt\n",
                    "0 1 1\n1 1 1\n" + std::string((1 << 22) - 2, '\n'));
    RunResult result;
    with_limit(RLIMIT_AS, 16u << 20, [&] { result = run_psd_in(dir.path()); });
    EXPECT_EQ(result.console,
              "\nThere is not enough memory for this run. Decrease nb_section or nbpoint_section "
              "in config_psd.txt.\n" +
                  click);
    EXPECT_EQ(result.exit_status, 1);
#endif
}

#endif  // POSIX
