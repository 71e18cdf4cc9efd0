#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>

#include "test_support.h"

namespace {

const std::string click = "Click on any key to exit\n";
const std::string no_config =
    "\nThe file config_psd.txt does not exist in  the current directory.\n" + click;
const std::string unknown_structure = "\nThe structure of the data file is unknown.\n" + click;
const std::string too_few_points =
    "\nFatal error: the number of data points is too low. Decrease\n"
    "the number of sections in the file config_psd.txt.\n" +
    click;
const std::string not_power_of_two =
    "\nFatal error: the number of data points per section is not a power of 2.\n" + click;
const std::string no_sections =
    "\nThe number of sections nb_section in config_psd.txt is below 1. Set it to 1 or more.\n" +
    click;
const std::string bad_interval =
    "\nThe first two time stamps of d.txt do not give a positive sampling interval. Check that "
    "the time stamps increase, or change data_file in config_psd.txt.\n" +
    click;

std::string not_whole(const std::string& field) {
    return "\nThe field " + field +
           " in config_psd.txt is not a whole number between -2147483648 and 2147483647. Correct "
           "it in config_psd.txt.\n" +
           click;
}

std::string missing(const std::string& field) {
    return "\nThe file config_psd.txt ends before the field " + field +
           ". It must hold data_file, hanning, nb_section, nbpoint_section and output_file, "
           "separated by blanks.\n" +
           click;
}

std::string too_long(const std::string& field) {
    return "\nThe field " + field +
           " in config_psd.txt is longer than 127 characters. Give a shorter file name in "
           "config_psd.txt.\n" +
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

// Runs psd in a fresh folder holding config_psd.txt (unless config is empty) and d.txt.
RunResult run_with(const std::optional<std::string>& config, const std::string& data) {
    TempDir dir;
    if (config) write_file(dir.file("config_psd.txt"), *config);
    write_file(dir.file("d.txt"), data);
    return run_psd_in(dir.path());
}

struct Case {
    std::optional<std::string> config;
    std::string data;
    std::string console;
};

void expect_failures(const Case* begin, const Case* end) {
    for (const Case* c = begin; c != end; ++c) {
        const RunResult result = run_with(c->config, c->data);
        EXPECT_EQ(result.console, c->console) << c->config.value_or("(no config_psd.txt)");
        EXPECT_EQ(result.exit_status, 1) << c->config.value_or("(no config_psd.txt)");
    }
}

}  // namespace

TEST(Run, EndsEachSpecifiedFailureWithItsMessageAndStatusOne) {
    const Case cases[] = {
        {std::nullopt, samples(4), no_config},
        {"missing.dat 0 1 4 r.txt", samples(4),
         "\nThe file missing.dat does not exist in the current directory.\n" + click},
        {"d.txt 0 1 4 r.txt", "", unknown_structure},
        {"d.txt 0 1 4 r.txt", "0 1 1\n", unknown_structure},
        {"d.txt 0 1 4 r.txt", std::string(197, '1') + "\n", unknown_structure},
        {"d.txt 0 3 4 r.txt", samples(11), too_few_points},
        {"d.txt 0 1 1000 r.txt", samples(999), too_few_points},   // not a power of 2 either
        {"d.txt 0 2 4 r.txt", "1 1 1\n1 1 1\n", too_few_points},  // and a zero interval
        {"d.txt 0 1 1000 r.txt", samples(1000), not_power_of_two},
        {"d.txt 0 1 6 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 1 1 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 1 0 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 1 -8 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 0 1073741825 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 0 2147483647 r.txt", samples(6), not_power_of_two},
        {"d.txt 0 0 3 r.txt", samples(6), not_power_of_two},  // before the section count
    };
    expect_failures(std::begin(cases), std::end(cases));
}

TEST(Run, SucceedsSilentlyWithStatusZero) {
    const std::string long_name(127, 'r');
    const std::string huge_token = "1." + std::string(100000, '0') + "1";
    const struct {
        std::string config, data;
    } cases[] = {
        {"d.txt 1 2 4 r.txt\n", samples(8)},  // exactly enough samples
        {"d.txt 0 1 2 r.txt", samples(1000)},
        {"d.txt\n+1\n+2\n+4\nr.txt", samples(9)},  // one field per line, signs
        {"\t d.txt 0001 2 4 r.txt extra text 8.5\n", samples(9)},
        {"d.txt -2147483648 1 4 " + long_name, samples(4)},
        {"d.txt 2147483647 1 4 r.txt", "0 1 1\r\n0.5 2 1\r\n1 3 1\r\n1.5 4 3"},
        {"d.txt 0 1 4 r.txt", "0 1 1\n1 2 1\n2 " + huge_token + " x\n3 1e999 " + huge_token},
    };
    for (const auto& c : cases) {
        const RunResult result = run_with(c.config, c.data);
        EXPECT_EQ(result.console, "") << c.config;
        EXPECT_EQ(result.exit_status, 0) << c.config;
    }
}

TEST(Run, RejectsAMalformedConfigurationNamingTheField) {
    const std::string name128(128, 'n');
    const Case cases[] = {
        {"", samples(4), missing("data_file")},
        {"  \n\t", samples(4), missing("data_file")},
        {"d.txt 0 1 4", samples(4), missing("output_file")},
        {"d.txt 0 1", samples(4), missing("nbpoint_section")},
        {"d.txt x 1 4 r.txt", samples(4), not_whole("hanning")},
        {"d.txt 0 8.5 4 r.txt", samples(4), not_whole("nb_section")},
        {"d.txt 0 1 12abc r.txt", samples(4), not_whole("nbpoint_section")},
        {"d.txt 0 1 4r.txt", samples(4), not_whole("nbpoint_section")},
        {"d.txt 0 - 4 r.txt", samples(4), not_whole("nb_section")},
        {"d.txt 0 +-1 4 r.txt", samples(4), not_whole("nb_section")},
        {"d.txt 2147483648 1 4 r.txt", samples(4), not_whole("hanning")},
        {"d.txt 0 -2147483649 4 r.txt", samples(4), not_whole("nb_section")},
        {"d.txt 0 1 99999999999999999999 r.txt", samples(4), not_whole("nbpoint_section")},
        {name128 + " 0 1 4 r.txt", samples(4), too_long("data_file")},
        {"d.txt 0 1 4 " + name128, samples(4), too_long("output_file")},
    };
    expect_failures(std::begin(cases), std::end(cases));

    TempDir dir;  // a folder opens for reading on Linux, but cannot be read
    std::filesystem::create_directory(dir.file("config_psd.txt"));
    const RunResult result = run_psd_in(dir.path());
    EXPECT_EQ(result.console,
              "\nThe file config_psd.txt could not be read. Check that it is a readable text "
              "file.\n" +
                  click);
    EXPECT_EQ(result.exit_status, 1);
}

TEST(Run, RefusesSectionCountsBelowOneAndIntervalsThatAreNotPositive) {
    const Case cases[] = {
        {"d.txt 0 0 4 r.txt", samples(4), no_sections},
        {"d.txt 0 -3 4 r.txt", samples(4), no_sections},
        {"d.txt 0 1 4 r.txt", "1 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"d.txt 0 1 4 r.txt", "2 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"d.txt 0 1 4 r.txt", "0 0 0\n1e39 0 0\n2 0 0\n3 0 0\n", bad_interval},  // float overflow
        {"d.txt 0 1 4 r.txt", "nan 0 0\n1 0 0\n2 0 0\n3 0 0\n", bad_interval},
        {"d.txt 0 1 4 r.txt", "x 0 0\ny 0 0\n2 0 0\n3 0 0\n", bad_interval},
    };
    expect_failures(std::begin(cases), std::end(cases));
}

TEST(Run, ReportsASampleFileThatCannotBeRead) {
    TempDir dir;
    write_file(dir.file("config_psd.txt"), "folder 0 1 4 r.txt\n");
    std::filesystem::create_directory(dir.file("folder"));
    const RunResult result = run_psd_in(dir.path());
    EXPECT_EQ(result.console,
              "\nThe file folder could not be read. Check that it is a readable sample file, or "
              "change data_file in config_psd.txt.\n" +
                  click);
    EXPECT_EQ(result.exit_status, 1);
}

TEST(Run, ReportsAReportFileThatCannotBeWritten) {
    {
        TempDir dir;
        write_file(dir.file("config_psd.txt"), "d.txt 0 1 4 r.txt\n");
        write_file(dir.file("d.txt"), samples(4));
        run_psd_in(dir.path());
        if (!file_exists(dir.file("r.txt"))) GTEST_SKIP() << "no report writer in this build";
    }
    const Case cases[] = {
        {"d.txt 0 1 4 no_folder/r.txt", samples(4),
         "\nThe file no_folder/r.txt cannot be created. Check that its folder exists and can be "
         "written, or change output_file in config_psd.txt.\n" +
             click},
        {"d.txt 0 1 4 /dev/full", samples(4),
         "\nThe file /dev/full could not be written completely; the disk may be full.\n" + click},
    };
    expect_failures(std::begin(cases), std::end(cases));
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
    // psd gets here. The child inherits the limit; this process restores it at once.
    const std::string data = "0 1 1\n1 1 1\n" + std::string((1 << 22) - 2, '\n');
    TempDir dir;
    write_file(dir.file("config_psd.txt"), "d.txt 0 1 4194304 r.txt\n");
    write_file(dir.file("d.txt"), data);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 16u << 20;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const RunResult result = run_psd_in(dir.path());
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    EXPECT_EQ(result.console,
              "\nThere is not enough memory for this run. Decrease nb_section or nbpoint_section "
              "in config_psd.txt.\n" +
                  click);
    EXPECT_EQ(result.exit_status, 1);
#endif
}
