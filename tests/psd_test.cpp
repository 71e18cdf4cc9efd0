// End to end: the built psd run in a temporary folder, as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The four-sample run worked by hand (deltat = 1, N = 4, M = 1, no window): voltage section
// -1.5 -0.5 0.5 1.5 and current section -0.5 -0.5 -0.5 1.5 after mean removal give PSD_v = 4, 2,
// PSD_i = 2, 2 and Zn = sqrt(2), 1 at 0.25 and 0.5.
const std::string worked_samples = "0 1 1\n1 2 1\n2 3 1\n3 4 3\n";
const std::string worked_report =
    "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 4\n"
    "    frequency        PSD_v           PSD_i            Zn\n"
    "  2.500000e-01\t  4.000000e+00\t  2.000000e+00\t  1.414214e+00\n"
    "  5.000000e-01\t  2.000000e+00\t  2.000000e+00\t  1.000000e+00\n";

void prepare_worked_run(const TempDir& dir, const std::string& output_file) {
    write_file(dir.file("config_psd.txt"), "samples.txt 0 1 4 " + output_file + "\n");
    write_file(dir.file("samples.txt"), worked_samples);
}

std::string cannot_create_message(const std::string& output_file) {
    return "\nThe file " + output_file +
           " cannot be created. Check that its folder exists and can be written, or change "
           "output_file in config_psd.txt.\nClick on any key to exit\n";
}

}  // namespace

TEST(Psd, WritesTheHandWorkedReport) {
    TempDir dir;
    prepare_worked_run(dir, "report.txt");
    const RunResult run = run_psd_in(dir.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(read_file(dir.file("report.txt")), worked_report);
}

TEST(Psd, WritesOneLineForTwoPointSections) {
    // deltat 0.5: voltage 1 4 -> Nyquist term -3, 9 * (2 * 0.5 / 2) = 4.5; current 1 2 -> -1,
    // 0.5; Zn = 3, at 1 / (2 * 0.5) = 1.
    TempDir dir;
    write_file(dir.file("config_psd.txt"), "samples.txt 0 1 2 report.txt\n");
    write_file(dir.file("samples.txt"), "0 1 1\n0.5 4 2\n");
    const RunResult run = run_psd_in(dir.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(dir.file("report.txt")),
              "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 2\n"
              "    frequency        PSD_v           PSD_i            Zn\n"
              "  1.000000e+00\t  4.500000e+00\t  5.000000e-01\t  3.000000e+00\n");
}

TEST(Psd, OverwritesAnEarlierReport) {
    TempDir dir;
    prepare_worked_run(dir, "report.txt");
    write_file(dir.file("report.txt"), std::string(10000, 'x'));
    EXPECT_EQ(run_psd_in(dir.path()).exit_status, 0);
    EXPECT_EQ(read_file(dir.file("report.txt")), worked_report);
}

TEST(Psd, FailsWithAMessageWhenTheReportCannotBeCreated) {
    for (const std::string output_file : {"missing/report.txt", "folder"}) {
        TempDir dir;
        prepare_worked_run(dir, output_file);
        std::filesystem::create_directory(dir.file("folder"));
        write_file(dir.file("folder/earlier.txt"), "earlier");
        const RunResult run = run_psd_in(dir.path());
        EXPECT_EQ(run.exit_status, 1) << output_file;
        EXPECT_EQ(run.console, cannot_create_message(output_file));
        EXPECT_EQ(read_file(dir.file("folder/earlier.txt")), "earlier");
        EXPECT_FALSE(file_exists(dir.file("missing")));
    }
}

TEST(Psd, LeavesAnEarlierReportIntactWhenTheReportCannotBeWritten) {
    // psd inherits a 100-byte file size limit, so its report writes fail as on a full disk.
    TempDir dir;
    prepare_worked_run(dir, "report.txt");
    const std::string earlier(5000, 'e');
    write_file(dir.file("report.txt"), earlier);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = 100;
    void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const RunResult run = run_psd_in(dir.path());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, saved_handler);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.console.substr(0, 1), "\n");
    EXPECT_NE(run.console.find("Click on any key to exit\n"), std::string::npos);
    EXPECT_EQ(read_file(dir.file("report.txt")), earlier);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"config_psd.txt", "report.txt", "samples.txt"}));
}

TEST(Psd, BundledExampleNoiseImpedanceFollowsItsCircuit) {
    // The example (tools/make_example.cpp) is current noise through R = 10 kOhm in parallel with
    // C = 0.5 uF, sampled every 1 ms, analysed with the Hann window over 16 sections of 512.
    const double resistance = 1.0e4, capacitance = 0.5e-6, deltat = 1.0e-3;
    const int n = 512;
    TempDir dir;
    for (const char* name : {"config_psd.txt", "example_samples.txt"})
        write_file(dir.file(name), read_file(std::string(PSD_SOURCE_DIR) + "/examples/" + name));
    const RunResult run = run_psd_in(dir.path());
    ASSERT_EQ(run.exit_status, 0) << run.console;

    std::istringstream report(read_file(dir.file("report_psd.txt")));
    std::string line;
    std::getline(report, line);
    EXPECT_EQ(line,
              "data file = example_samples.txt    hanning = 1    nb_section = 16     "
              "nbpoint_section = 512");
    std::getline(report, line);
    // Zn / |Z| scatters from bin to bin for two reasons, each averaged over the 16 sections (32
    // degrees of freedom per bin): the instrument noise, at most 1.2e-3 of |Z|^2 PSD_i (at 500
    // Hz), moves Zn by sqrt(1.2e-3 / 32) = 0.6% (one standard deviation); and Z changes across
    // the window's resolution of about two bins, which moves Zn by up to 0.7% at low frequencies.
    // Over 40 seeds of the generator the spread of Zn / |Z| stays below 0.75% in every bin
    // checked, so 4% is over five standard deviations. The three bins nearest the Nyquist
    // frequency are left out: the window reaches across it there, where a real record pairs each
    // frequency with its mirror image, whose impedance has the opposite phase, and Zn reads up
    // to 50% high.
    int k = 0;
    double f, psd_v, psd_i, zn;
    while (std::getline(report, line)) {
        ++k;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf", &f, &psd_v, &psd_i, &zn), 4);
        EXPECT_NEAR(f, k / (n * deltat), 1e-6 * f);
        if (k > n / 2 - 3) continue;
        const double two_pi_f = 2.0 * 3.141592653589793 * f;
        const double z =
            std::abs(resistance / std::complex<double>(1.0, two_pi_f * resistance * capacitance));
        EXPECT_NEAR(zn / z, 1.0, 0.04) << "bin " << k << " at " << f << " Hz";
    }
    EXPECT_EQ(k, n / 2);
}
