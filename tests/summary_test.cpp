#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "format/report_file.h"
#include "summary/quantiles.h"
#include "summary/summary.h"
#include "test_support.h"

using namespace psd;

namespace {

const std::string header_n8 =
    "data file = cell.txt    hanning = 1    nb_section = 4     nbpoint_section = 8\n"
    "    frequency        PSD_v           PSD_i            Zn\n";
const std::string data_line = "  1.000000e+00\t  1.000000e-10\t  1.000000e-18\t  1.000000e+04\n";

std::string lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%14.6e\t%14.6e\t%14.6e\t%14.6e\n", i * 0.5, 1e-10, 1e-18,
                      1e4);
        text += line;
    }
    return text;
}

// A report of N = 2 * bins whose columns follow PSD_v = a_v f^p_v and PSD_i = a_i f^p_i exactly,
// at bins k * df, with Zn = sqrt(PSD_v / PSD_i); printed as psd prints.
std::string power_law_report(int bins, double df, double a_v, double p_v, double a_i, double p_i) {
    std::string text =
        "data file = law.txt    hanning = 1    nb_section = 8     nbpoint_section = " +
        std::to_string(2 * bins) + "\n    frequency        PSD_v           PSD_i            Zn\n";
    for (int k = 1; k <= bins; ++k) {
        const double f = k * df, v = a_v * std::pow(f, p_v), i = a_i * std::pow(f, p_i);
        char line[128];
        std::snprintf(line, sizeof line, "%14.6e\t%14.6e\t%14.6e\t%14.6e\n", f, v, i,
                      std::sqrt(v / i));
        text += line;
    }
    return text;
}

#ifndef _WIN32
// Runs the built psd-summary with args in a POSIX shell; returns its exit status, output in *out.
int run_summary(const TempDir& dir, const std::string& args, std::string* out) {
    const std::string output = dir.file("summary.out");
    const std::string command =
        std::string("'") + PSD_SUMMARY_EXE + "' " + args + " >'" + output + "' 2>&1";
    const int status = std::system(command.c_str());
    *out = read_file(output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

// Critical values from the NIST/SEMATECH e-Handbook of Statistical Methods, tables 1.3.6.7.4
// (chi-square) and 1.3.6.7.3 (F), printed to three decimals.
TEST(Quantiles, AgreeWithTabulatedChiSquaredAndFValues) {
    struct Case {
        double dof, p, table;
    } chi2[] = {{2, 0.975, 7.378},  {2, 0.025, 0.051},  {10, 0.95, 18.307},  {16, 0.975, 28.845},
                {16, 0.025, 6.908}, {32, 0.95, 46.194}, {100, 0.99, 135.807}};
    for (const Case& c : chi2)
        EXPECT_NEAR(chi_squared_quantile(c.dof, c.p), c.table, 5e-4) << c.dof << " " << c.p;
    struct FCase {
        double d1, d2, p, table;
    } f[] = {{2, 2, 0.95, 19.000},  {10, 10, 0.95, 2.978}, {10, 10, 0.99, 4.849},
             {20, 20, 0.95, 2.124}, {30, 30, 0.95, 1.841}, {5, 10, 0.95, 3.326}};
    for (const FCase& c : f)
        EXPECT_NEAR(fisher_f_quantile(c.d1, c.d2, c.p), c.table, 5e-4) << c.d1 << " " << c.d2;
    EXPECT_TRUE(std::isnan(chi_squared_quantile(4, 1.0)));
    EXPECT_TRUE(std::isnan(fisher_f_quantile(0, 4, 0.5)));
}

// The factors quoted in the literature for 95 %: x0.56 to x2.3 with M = 8, x0.27 to x39 with
// M = 1 (2M degrees of freedom); F(2, 2) has the closed form F = p / (1 - p).
TEST(Quantiles, ConfidenceFactorsOfOneBin) {
    ConfidenceFactors k;
    ASSERT_TRUE(confidence_factors(8, 0.95, &k));
    EXPECT_NEAR(k.density_low, 0.555, 1e-3);
    EXPECT_NEAR(k.density_high, 2.32, 1e-2);
    ASSERT_TRUE(confidence_factors(1, 0.95, &k));
    EXPECT_NEAR(k.density_low, 0.271, 1e-3);
    EXPECT_NEAR(k.density_high, 39.5, 0.1);
    EXPECT_NEAR(k.zn_low, 1 / std::sqrt(39.0), 1e-9);
    EXPECT_NEAR(k.zn_high, std::sqrt(39.0), 1e-9);
    EXPECT_FALSE(confidence_factors(8, 1.0, &k));
    EXPECT_FALSE(confidence_factors(0, 0.95, &k));
}

TEST(ReportReader, AcceptsReportsAndRefusesEverythingElseWithAReason) {
    const std::string valid = header_n8 + lines(4);
    std::string crlf;
    for (char c : valid)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    struct Case {
        std::string text;
        ReportReadStatus status;
        std::string why;
    } cases[] = {
        {valid, ReportReadStatus::ok, ""},
        {crlf, ReportReadStatus::ok, ""},
        {valid + "\n", ReportReadStatus::ok, ""},
        {header_n8 + lines(3) + "  2.0e+00\t  inf\t  -nan\t  nan\n", ReportReadStatus::ok, ""},
        {"", ReportReadStatus::not_a_report, "the file is empty"},
        {"0.000 5.06e-05 5.52e-09\n0.001 4.90e-05 3.75e-09\n", ReportReadStatus::not_a_report,
         "line 1 is not the parameter line"},
        {"data file = a    hanning = 1    nb_section = 4     nbpoint_section = 6\n",
         ReportReadStatus::not_a_report, "not a power of two"},
        {"data file = a    hanning = 1    nb_section = 0     nbpoint_section = 8\n",
         ReportReadStatus::not_a_report, "nb_section = 0 is below 1"},
        {header_n8.substr(0, header_n8.find('\n') + 1) + "frequency PSD_v\n",
         ReportReadStatus::not_a_report, "line 2 is not the title line"},
        {header_n8 + lines(2) + "1 2 3\n" + lines(1), ReportReadStatus::not_a_report,
         "line 5 is not four numbers"},
        {header_n8 + lines(4) + data_line, ReportReadStatus::not_a_report, "line 7 is one more"},
        {header_n8 + lines(2) + data_line, ReportReadStatus::not_a_report,
         "not positive and increasing"},
        {header_n8 + std::string(10000, 'x'), ReportReadStatus::not_a_report, "longer than"},
        {header_n8 + std::string("1 2\0 3 4\n", 9), ReportReadStatus::not_a_report, "NUL"},
        {header_n8.substr(0, header_n8.find('\n') + 1), ReportReadStatus::truncated,
         "ends after the parameter line"},
        {header_n8 + lines(2), ReportReadStatus::truncated, "calls for 4 data lines, found 2"},
        {valid.substr(0, valid.size() - 5), ReportReadStatus::truncated, "(line 6) is cut off"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        write_file(dir.file("r.txt"), c.text);
        ReportData report;
        std::string why;
        EXPECT_EQ(read_report(dir.file("r.txt").c_str(), &report, &why), c.status) << c.text;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        if (c.status == ReportReadStatus::ok) {
            EXPECT_EQ(report.frequency.size(), 4u);
        }
    }
    ReportData report;
    std::string why;
    EXPECT_EQ(read_report(dir.path().c_str(), &report, &why), ReportReadStatus::unreadable);
    EXPECT_EQ(read_report(dir.file("none").c_str(), &report, &why), ReportReadStatus::unreadable);
}

// PSD_v = 1e-6 f^-2 falls at 20 dB per decade, PSD_i = 1e-18 f^-1 at 10, so Zn ~ f^-1/2 falls at
// 10 (20 log10 of an amplitude); the printed 7 digits limit how exactly a fit can find them.
TEST(Summary, SlopesOfAKnownPowerLawAndRsn0OverTheLowBins) {
    TempDir dir;
    write_file(dir.file("law.txt"), power_law_report(256, 0.5, 1e-6, -2, 1e-18, -1));
    SummaryOptions options;
    options.use_samples = false;
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(dir.file("law.txt"), options, &s, &why), SummaryStatus::ok) << why;
    EXPECT_NEAR(s.slope_v.slope, -20, 1e-4);
    EXPECT_NEAR(s.slope_i.slope, -10, 1e-4);
    EXPECT_NEAR(s.slope_zn.slope, -10, 1e-4);
    EXPECT_LT(s.slope_v.std_error, 1e-4);
    // Default band: from bin 6 (3 Hz) to 0.8 of the Nyquist frequency (102.4 Hz): bins 6 to 204.
    EXPECT_EQ(s.slope_v.points, 199u);
    // Zn = 1e6 f^-1/2: Rsn0 is its mean over bins 2 to 6, 1 to 3 Hz.
    double expected = 0;
    for (int k = 2; k <= 6; ++k)
        expected += 1e6 / std::sqrt(k * 0.5) / 5;
    EXPECT_NEAR(s.rsn0, expected, expected * 1e-6);

    options.has_band = true;
    options.band_low = 10;
    options.band_high = 10.6;  // bins 20 and 21
    options.has_slope_band = true;
    options.slope_low = 50;
    options.slope_high = 60;
    ASSERT_EQ(summarise(dir.file("law.txt"), options, &s, &why), SummaryStatus::ok);
    EXPECT_EQ(s.rsn0_used, 2u);
    EXPECT_NEAR(s.rsn0, (1e6 / std::sqrt(10.0) + 1e6 / std::sqrt(10.5)) / 2, 1.0);
    EXPECT_EQ(s.slope_zn.points, 21u);
}

// Independent Gaussian white noise, sigma_V = 2 mV and sigma_I = 1 uA (seeded): Rn = 2000 ohm
// to within the sampling error of 8192 samples (about 1 %), and Parseval's check without window
// exact but for the Nyquist bin (about 1 / N) and with the Hann window within its scatter.
TEST(Summary, RnAndParsevalOnWhiteNoiseOfKnownVariance) {
    TempDir dir;
    std::mt19937_64 generator(20261209);
    std::normal_distribution<double> volts(0, 2e-3), amperes(0, 1e-6);
    std::string samples;
    for (int j = 0; j < 8192; ++j) {
        char line[96];
        std::snprintf(line, sizeof line, "%.3f %.7e %.7e\n", j * 1e-3, volts(generator),
                      amperes(generator));
        samples += line;
    }
    for (int hanning : {0, 1}) {
        write_run_files(dir, "samples.txt " + std::to_string(hanning) + " 16 512 report.txt\n",
                        samples);
        ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
        Summary s;
        std::string why;
        ASSERT_EQ(summarise(dir.file("report.txt"), SummaryOptions{}, &s, &why), SummaryStatus::ok)
            << why;
        ASSERT_TRUE(s.has_samples);
        EXPECT_NEAR(s.rn, 2000, 40);
        EXPECT_NEAR(s.samples.variance_v, 4e-6, 4e-6 * 0.05);
        const double tolerance = hanning ? 0.05 : 0.01;
        EXPECT_NEAR(s.parseval_v, 1, tolerance) << hanning;
        EXPECT_NEAR(s.parseval_i, 1, tolerance) << hanning;
        EXPECT_NEAR(s.interval_error, 0, 1e-6);
        EXPECT_FALSE(s.samples_mismatch);
    }

    // Time stamps 1 % further apart than the first two: the report's frequencies are 1 % high.
    std::string drifting;
    for (int j = 0; j < 8192; ++j)
        drifting +=
            std::to_string(j < 2 ? j * 1e-3 : j * 1.01e-3) + " 1 " + std::to_string(j % 7) + "\n";
    write_file(dir.file("drift.txt"), drifting);
    SummaryOptions options;
    options.samples = dir.file("drift.txt");
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(dir.file("report.txt"), options, &s, &why), SummaryStatus::ok) << why;
    EXPECT_NEAR(s.interval_error, 0.01, 1e-4);
}

TEST(Summary, SampleFileThatIsMissingShortOrMalformedIsReported) {
    TempDir dir;
    write_file(dir.file("report.txt"), header_n8 + lines(4));  // needs 4 x 8 = 32 samples
    std::string short_file, malformed;
    for (int j = 0; j < 31; ++j)
        short_file += std::to_string(j) + " 1 2\n";
    malformed = short_file + "31 1\n";
    struct Case {
        std::string samples;
        std::string why;
    } cases[] = {
        // The folder part of the sample file's name is the platform's own (a backslash on Windows).
        {"", "cell.txt' of '" + dir.file("report.txt") + "' does not exist"},
        {short_file, "holds 31 samples, fewer than the nb_section x nbpoint_section = 32"},
        // psd's own message: the same sample-line rule, the same words.
        {malformed, "Line 32 of '" + (std::filesystem::path(dir.path()) / "cell.txt").string() +
                        "' is not a sample of three numbers"},
        {"0 1 1\n", "has fewer than two lines"},
    };
    for (const Case& c : cases) {
        std::remove(dir.file("cell.txt").c_str());
        if (!c.samples.empty()) write_file(dir.file("cell.txt"), c.samples);
        Summary s;
        std::string why;
        EXPECT_EQ(summarise(dir.file("report.txt"), SummaryOptions{}, &s, &why),
                  SummaryStatus::bad_samples);
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_FALSE(s.has_samples);
        EXPECT_EQ(s.report.frequency.size(), 4u);  // the report's own figures are still there
    }
    // A byte order mark that an editor wrote is skipped, as psd skips it.
    write_file(dir.file("cell.txt"), "\xEF\xBB\xBF" + short_file + "31 1 2\n");
    Summary s;
    std::string why;
    EXPECT_EQ(summarise(dir.file("report.txt"), SummaryOptions{}, &s, &why), SummaryStatus::ok)
        << why;
    EXPECT_TRUE(s.has_samples);
}

#ifndef _WIN32
// One bad file among good ones: every good one is summarised, each bad one named, status 1.
TEST(SummaryProgram, SummarisesTheGoodReportsAndFailsForTheBadOnes) {
    TempDir dir;
    write_file(dir.file("good.txt"), header_n8 + lines(4));
    write_file(dir.file("cut.txt"), header_n8 + lines(2));
    std::string out;
    EXPECT_EQ(run_summary(dir,
                          "--no-samples '" + dir.file("good.txt") + "' '" + dir.file("cut.txt") +
                              "' '" + dir.file("good.txt") + "'",
                          &out),
              1);
    EXPECT_NE(out.find("cut.txt' is truncated"), std::string::npos) << out;
    EXPECT_EQ(out.find("Rsn0 ") != std::string::npos && out.rfind("Rsn0 ") != out.find("Rsn0 "),
              true)
        << out;
    EXPECT_EQ(run_summary(dir, "--csv --no-samples '" + dir.file("good.txt") + "'", &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_EQ(run_summary(dir, "--level 95 '" + dir.file("good.txt") + "'", &out), 2);
    EXPECT_EQ(run_summary(dir, "", &out), 2);
}
#endif

#ifndef _WIN32
// Opening a named pipe waits for a writer: with none, psd-summary hung on a pipe given as the
// report, as --samples, or named by a report as its sample file. Each must be refused at once.
TEST(SummaryProgram, RefusesNamedPipesWithoutWaitingForAWriter) {
    TempDir dir;
    write_file(dir.file("report.txt"), header_n8 + lines(4));  // its sample file: cell.txt
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("cell.txt").c_str(), 0600), 0);
    const std::string report = "'" + dir.file("report.txt") + "'";
    const struct {
        std::vector<std::string> arguments;
        std::string why;
    } cases[] = {
        {{"--no-samples", dir.file("pipe")},
         "cannot read '" + dir.file("pipe") + "': it is a named pipe or a device, not a file"},
        {{"--samples", dir.file("pipe"), dir.file("report.txt")},
         "the sample file of " + report + ": The file '" + dir.file("pipe") +
             "' could not be read."},
        {{dir.file("report.txt")},
         "the sample file of " + report + ": The file '" + dir.file("cell.txt") +
             "' could not be read."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Launch launch;
        launch.program = PSD_SUMMARY_EXE;
        launch.arguments = c.arguments;
        launch.deadline_seconds = 20;
        const Outcome outcome = run_psd_as(dir.path(), launch);
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.run.exit_status, 1);
        EXPECT_NE(outcome.run.console.find(c.why), std::string::npos) << outcome.run.console;
    }
}
#endif

// The bundled example simulates 10 kohm in parallel with 0.5 uF (corner 1 / (2 pi R C) = 31.8 Hz):
// Rsn0 must follow |Z(f)| = R / sqrt(1 + (f / fc)^2) over bins 2 to 6, Rn weighs in the higher
// frequencies where |Z| is lower, and above the corner Zn falls at close to 20 dB per decade.
TEST(SummaryProgram, BundledExampleShowsItsParallelRCImpedance) {
    TempDir dir;
    for (const char* name : {"config_psd.txt", "example_samples.txt"})
        write_file(dir.file(name), read_file(std::string(PSD_SOURCE_DIR) + "/examples/" + name));
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    const double pi = 3.14159265358979323846, corner = 1 / (2 * pi * 1e4 * 0.5e-6);
    double model = 0;  // mean |Z| at bins 2 to 6 of 1000 / 512 Hz
    for (int k = 2; k <= 6; ++k)
        model += 1e4 / std::sqrt(1 + std::pow(k * 1000.0 / 512 / corner, 2)) / 5;
    SummaryOptions options;
    options.has_slope_band = true;
    options.slope_low = 100;
    options.slope_high = 400;
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(dir.file("report_psd.txt"), options, &s, &why), SummaryStatus::ok) << why;
    EXPECT_NEAR(s.rsn0, model, model * 0.03);
    EXPECT_GT(s.rsn0 / s.rn, 1.5);
    EXPECT_NEAR(s.slope_zn.slope, -19.5, 1.0);
}
