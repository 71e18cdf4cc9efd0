// End to end: the built psd run in a temporary folder, as a user runs it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "test_support.h"

using namespace psd;

TEST(Psd, WritesTheHandWorkedReportsOverAnEarlierReport) {
    const struct {
        std::string config, samples, report;
    } cases[] = {
        {"samples.txt 0 1 4 report.txt\n", worked_samples, worked_report},
        // deltat 0.5: voltage 1 4 -> Nyquist term -3, 9 * (2 * 0.5 / 2) = 4.5; current 1 2 ->
        // -1, 0.5; Zn = 3, at 1 / (2 * 0.5) = 1.
        {"samples.txt 0 1 2 report.txt\n", "0 1 1\n0.5 4 2\n",
         "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 2\n"
         "    frequency        PSD_v           PSD_i            Zn\n"
         "  1.000000e+00\t  4.500000e+00\t  5.000000e-01\t  3.000000e+00\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_run_files(dir, c.config, c.samples);
        write_file(dir.file("report.txt"), std::string(10000, 'x'));
        const RunResult run = run_psd_in(dir.path());
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.console, "");
        EXPECT_EQ(read_file(dir.file("report.txt")), as_stored(c.report));
    }
}

TEST(Psd, FailsWithAMessageWhenTheReportCannotBeCreated) {
    for (const std::string output_file : {"missing/report.txt", "folder"}) {
        TempDir dir;
        write_run_files(dir, "samples.txt 0 1 4 " + output_file + "\n", worked_samples);
        std::filesystem::create_directory(dir.file("folder"));
        write_file(dir.file("folder/earlier.txt"), "earlier");
        const RunResult run = run_psd_in(dir.path());
        EXPECT_EQ(run.exit_status, 1) << output_file;
        EXPECT_EQ(run.console, cannot_create(output_file));
        EXPECT_EQ(read_file(dir.file("folder/earlier.txt")), "earlier");
        EXPECT_FALSE(file_exists(dir.file("missing")));
    }
}

#ifndef _WIN32  // file size limits are POSIX
TEST(Psd, LeavesAnEarlierReportIntactWhenTheReportCannotBeWritten) {
    // psd inherits a 100-byte file size limit, so its report writes fail as on a full disk.
    TempDir dir;
    write_run_files(dir, "samples.txt 0 1 4 report.txt\n", worked_samples);
    const std::string earlier(5000, 'e');
    write_file(dir.file("report.txt"), earlier);
    RunResult run;
    with_limit(RLIMIT_FSIZE, 100, [&] { run = run_psd_in(dir.path()); });
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(read_file(dir.file("report.txt")), earlier);
    EXPECT_EQ(folder_entries(dir.path()),
              (std::set<std::string>{"config_psd.txt", "report.txt", "samples.txt"}));
}
#endif

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

    std::istringstream report(as_text(read_file(dir.file("report_psd.txt"))));
    std::string line;
    std::getline(report, line);
    EXPECT_EQ(line,
              "data file = example_samples.txt    hanning = 1    nb_section = 16     "
              "nbpoint_section = 512");
    std::getline(report, line);
    // Zn / |Z| scatters from bin to bin, each bin averaged over 16 sections (32 degrees of
    // freedom): the instrument noise, at most 1.2e-3 of |Z|^2 PSD_i (at 500 Hz), moves Zn by
    // sqrt(1.2e-3 / 32) = 0.6% (one standard deviation), and Z changes across the window's
    // resolution of about two bins by up to 0.7% at low frequencies. Over 40 seeds of the
    // generator the spread stays below 0.75% in every bin checked, so 4% is over five standard
    // deviations. The three bins nearest the Nyquist frequency are left out: there the window
    // reaches across it to each frequency's mirror image, whose impedance has the opposite
    // phase, and Zn reads up to 50% high.
    int k = 0;
    double f, psd_v, psd_i, zn;
    while (std::getline(report, line)) {
        ++k;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf", &f, &psd_v, &psd_i, &zn), 4);
        EXPECT_NEAR(f, k / (n * deltat), 1e-6 * f);
        if (k > n / 2 - 3) continue;
        const double z =
            std::abs(resistance / std::complex<double>(
                                      1.0, 2 * 3.141592653589793 * f * resistance * capacitance));
        EXPECT_NEAR(zn / z, 1.0, 0.04) << "bin " << k << " at " << f << " Hz";
    }
    EXPECT_EQ(k, n / 2);
}
