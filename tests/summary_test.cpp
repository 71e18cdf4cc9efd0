#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "format/report_file.h"
#include "summary/quantiles.h"
#include "summary/summary.h"
#include "summary/summary_text.h"
#include "summary_support.h"
#include "test_support.h"

using namespace psd;

namespace {

const std::string header_n8 =
    "data file = cell.txt    hanning = 1    nb_section = 4     nbpoint_section = 8\n"
    "    frequency        PSD_v           PSD_i            Zn\n";
const std::string data_line = "  1.000000e+00\t  1.000000e-10\t  1.000000e-18\t  1.000000e+04\n";
// One section of 32 samples: 16 bins, enough for the default Rsn0 and slope bands.
const std::string header_n32 =
    "data file = cell.txt    hanning = 1    nb_section = 1     nbpoint_section = 32\n"
    "    frequency        PSD_v           PSD_i            Zn\n";

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

// count bins df apart with flat densities (PSD_v = 1e-10, PSD_i = 1e-18, Zn = 1e4).
std::vector<Bin> flat_bins(int count, double df) {
    std::vector<Bin> bins;
    for (int k = 1; k <= count; ++k)
        bins.push_back({k * df, 1e-10, 1e-18, 1e4});
    return bins;
}

// "FMIN:FMAX" as psd-summary takes it, an empty end open; "" leaves the band at its default.
void set_band(const std::string& text, bool* has_band, double* low, double* high) {
    *has_band = !text.empty();
    if (text.empty()) return;
    const std::size_t colon = text.find(':');
    const std::string first = text.substr(0, colon), second = text.substr(colon + 1);
    *low = first.empty() ? 0 : std::stod(first);
    *high = second.empty() ? HUGE_VAL : std::stod(second);
}

SummaryOptions options_of(const std::string& band, const std::string& slope_band) {
    SummaryOptions options;
    options.use_samples = false;
    set_band(band, &options.has_band, &options.band_low, &options.band_high);
    set_band(slope_band, &options.has_slope_band, &options.slope_low, &options.slope_high);
    return options;
}

// Whether text spells a number as one of words ("nan|inf" and the like) anywhere, in any case,
// with or without a sign.
bool spells(const std::string& text, const std::string& words) {
    const std::regex word("(^|[^A-Za-z_])[-+]?(" + words + ")([^A-Za-z_]|$)", std::regex::icase);
    return std::regex_search(text, word);
}

bool spells_nan_or_inf(const std::string& text) {
    return spells(text, "nan|inf|infinity");
}

// The columns of a one-row CSV left empty, by the header's names (no field here is quoted).
std::vector<std::string> empty_columns(const std::string& header, const std::string& row) {
    const std::vector<std::string> names = csv_fields(header), values = csv_fields(row);
    std::vector<std::string> empty;
    for (std::size_t c = 0; c < names.size(); ++c)
        if (c >= values.size() || values[c].empty()) empty.push_back(names[c]);
    return empty;
}

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
    // Rsn0 is sqrt(mean PSD_v / mean PSD_i) over bins 2 to 6, 1 to 3 Hz (it was the mean of Zn
    // until that was seen to be biased upward for few sections).
    double sum_v = 0, sum_i = 0;
    for (int k = 2; k <= 6; ++k) {
        sum_v += 1e-6 / std::pow(k * 0.5, 2);
        sum_i += 1e-18 / (k * 0.5);
    }
    const double expected = std::sqrt(sum_v / sum_i);
    EXPECT_NEAR(s.rsn0, expected, expected * 1e-6);

    options.has_band = true;
    options.band_low = 10;
    options.band_high = 10.6;  // bins 20 and 21
    options.has_slope_band = true;
    options.slope_low = 50;
    options.slope_high = 60;
    ASSERT_EQ(summarise(dir.file("law.txt"), options, &s, &why), SummaryStatus::ok);
    EXPECT_EQ(s.rsn0_used, 2u);
    EXPECT_NEAR(s.rsn0, std::sqrt((1e-6 / 100 + 1e-6 / 110.25) / (1e-18 / 10 + 1e-18 / 10.5)), 1.0);
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
        Summary s;
        ASSERT_TRUE(run_and_summarise(dir, hanning, "16 512", samples, &s));
        ASSERT_TRUE(s.has_samples);
        EXPECT_NEAR(s.rn, 2000, 40);
        EXPECT_NEAR(s.samples.variance_v, 4e-6, 4e-6 * 0.05);
        // Bin 0 from the samples, the window's own weights: 1 but for the report's 7 digits (it
        // was within 5 % with the window, and 1 / N without it).
        EXPECT_NEAR(s.parseval_v, 1, 1e-5) << hanning;
        EXPECT_NEAR(s.parseval_i, 1, 1e-5) << hanning;
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

// A random walk's power sits in its lowest bins, where the Hann window weighs the samples
// unevenly: Parseval's check against the plain variance gave 0.55 for such a record. Against the
// windowed sections' own power it gives 1, red or white, with the window or without.
TEST(Summary, ParsevalRatioIsOneOnRedRecordsWithAndWithoutTheWindow) {
    TempDir dir;
    std::mt19937_64 generator(20270105);
    std::normal_distribution<double> step(0, 1e-4);
    std::string samples;
    double v = 0, i = 0;
    for (int j = 0; j < 4096; ++j) {
        char line[96];
        std::snprintf(line, sizeof line, "%.3f %.7e %.7e\n", j * 1e-3, v += step(generator),
                      i += 1e-4 * step(generator));
        samples += line;
    }
    for (int hanning : {0, 1}) {
        Summary s;
        ASSERT_TRUE(run_and_summarise(dir, hanning, "8 512", samples, &s));
        EXPECT_NEAR(s.parseval_v, 1, 1e-5) << hanning;
        EXPECT_NEAR(s.parseval_i, 1, 1e-5) << hanning;
    }
}

TEST(Summary, SampleFileThatIsMissingShortOrMalformedIsReported) {
    TempDir dir;
    write_file(dir.file("report.txt"), header_n32 + lines(16));  // needs 1 x 32 = 32 samples
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
                        "' is not a sample of three numbers: \"31 1\""},
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
        EXPECT_EQ(s.report.frequency.size(), 16u);  // the report's own figures are still there
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
    write_file(dir.file("good.txt"), header_n32 + lines(16));
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

// A band that holds no bin of a report gives no figure at all, and a slope band of fewer than two
// bins no slope: the report is refused with the range it covers, from which to choose another.
// The default slope band of a short report only leaves the slopes out.
// The plot draws no slope, so its summary does not depend on the slope band.
TEST(Summary, RefusesABandThatHoldsNoBinOfTheReport) {
    TempDir dir;
    const std::string path = dir.file("r.txt");
    write_file(path, report_of(4, flat_bins(16, 0.5)));  // 0.5 to 8 Hz
    const std::string range = " of '" + path + "' (0.5 to 8 Hz)";
    struct Case {
        std::string band, slope_band;
        std::string why;            // empty: summarised
        bool refused_for_the_plot;  // a band the plot cannot do without
    } cases[] = {
        {"1000:2000", "", "--band 1000:2000 holds no bin" + range, true},
        {":0.25", "", "--band 0:0.25 holds no bin" + range, true},
        {"2.6:2.9", "", "--band 2.6:2.9 holds no bin" + range, true},
        {"", "7.9:8", "--slope-band 7.9:8 holds fewer than 2 bins" + range, false},
        {"", "100:", "--slope-band 100: holds fewer than 2 bins" + range, false},
        // The default slope band starts at the top of the Rsn0 band and ends at 6.4 Hz: when it
        // holds fewer than 2 bins the slopes are left out, and the rest is summarised.
        {"7:8", "", "", false},
        {"5.5:6", "", "", false},
        {"1:3", "", "", false},
        {"", "6:6.5", "", false},
        {"7.9:", "1:2", "", false},
    };
    for (const Case& c : cases) {
        for (bool slopes : {true, false}) {
            SummaryOptions options = options_of(c.band, c.slope_band);
            options.slopes = slopes;
            const bool refused = !c.why.empty() && (slopes || c.refused_for_the_plot);
            Summary s;
            std::string why;
            EXPECT_EQ(summarise(path, options, &s, &why),
                      refused ? SummaryStatus::bad_band : SummaryStatus::ok)
                << c.band << " " << c.slope_band << " " << slopes << ": " << why;
            if (refused) {
                EXPECT_NE(why.find(c.why), std::string::npos) << why;
            } else if (slopes && c.slope_band.empty() &&
                       s.slope_bins.last - s.slope_bins.first < 2) {
                const std::string block = summary_block(s, 0.95), row = csv_row(s, 0.95);
                EXPECT_NE(block.find("slopes, dB/decade  not available: the default band holds "
                                     "fewer than 2 bins"),
                          std::string::npos)
                    << block;
                EXPECT_EQ(row.find("nan"), std::string::npos) << row;
            }
        }
    }
    // An open end is the report's last bin, never infinity.
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(path, options_of("7.9:", "1:"), &s, &why), SummaryStatus::ok) << why;
    EXPECT_EQ(s.rsn0_low, 8);
    EXPECT_EQ(s.rsn0_high, 8);
    EXPECT_EQ(s.slope_low, 1);
    EXPECT_EQ(s.slope_high, 8);
}

// A density that is not a finite number is no density psd computed: no figure can be trusted, and
// the message leads to the line. Zn = inf where PSD_i = 0 (a constant current) and Zn = nan where
// both are 0 are what psd writes for a correct record.
TEST(Summary, RefusesADensityThatIsNotFiniteButKeepsTheZnOfAConstantCurrent) {
    const double inf = HUGE_VAL, nan = std::nan("");
    struct Case {
        std::vector<Bin> changed;  // bins replaced, by frequency (bin k at k x 0.5 Hz)
        std::string why;           // empty: summarised
    } cases[] = {
        {{{2.5, nan, 1e-18, nan}}, "PSD_v of bin 5 (2.5 Hz) is not a number"},
        {{{1.5, 1e-10, inf, 0}}, "PSD_i of bin 3 (1.5 Hz) is infinite"},
        {{{8, -inf, 1e-18, nan}}, "PSD_v of bin 16 (8 Hz) is infinite"},
        {{{1, 1e-10, nan, nan}, {3.5, inf, 1e-18, inf}}, "PSD_i of bin 2 (1 Hz) is not a number"},
        {{{1, 1e-10, 0, inf}, {1.5, 1e-10, 0, inf}}, ""},
        {{{2, 0, 0, nan}}, ""},
    };
    TempDir dir;
    const std::string path = dir.file("r.txt");
    for (const Case& c : cases) {
        std::vector<Bin> bins = flat_bins(16, 0.5);
        for (const Bin& b : c.changed)
            bins[static_cast<std::size_t>(b.f * 2) - 1] = b;
        write_file(path, report_of(4, bins));
        Summary s;
        std::string why;
        EXPECT_EQ(summarise(path, options_of("", ""), &s, &why),
                  c.why.empty() ? SummaryStatus::ok : SummaryStatus::bad_report)
            << c.why << why;
        EXPECT_NE(why.find(c.why.empty() ? "" : "'" + path + "'"), std::string::npos) << why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

namespace {

// 32 samples 1/16 s apart (the Nyquist frequency of flat_bins(16, 0.5)), voltage and current from
// the sample's number; the last time stamp as given when not empty.
std::string samples_of(const std::function<std::string(int)>& voltage,
                       const std::function<std::string(int)>& current,
                       const std::string& last_time = "") {
    std::string text;
    for (int j = 0; j < 32; ++j) {
        const std::string time =
            j == 31 && !last_time.empty() ? last_time : std::to_string(j / 16.0);
        text += time + " " + voltage(j) + " " + current(j) + "\n";
    }
    return text;
}

std::string varying(int j) {
    return std::to_string((j % 5) * 1e-3);
}

std::function<std::string(int)> constant(const char* value) {
    return [value](int) { return std::string(value); };
}

// A report of one section, its sample file (none when empty), the slope band and level asked
// for; the words the block must hold and the CSV columns it must leave empty, besides the sample
// columns of a report summarised without its samples.
struct FigureCase {
    std::vector<Bin> bins;
    std::string samples, slope_band;
    double level;
    std::vector<std::string> says, empty;
};

// Sample checks that cannot be formed: a constant current or voltage,
// a time stamp past the largest double.
std::vector<FigureCase> sample_check_cases() {
    std::vector<Bin> constant_current = flat_bins(16, 0.5);
    for (Bin& b : constant_current)
        b = {b.f, b.v, 0, HUGE_VAL};
    return {
        {constant_current,
         samples_of(varying, constant("1e-6")),
         "",
         0.95,
         {"Rsn0               not available: no usable PSD_v and PSD_i in bins 2 to 6, 1 to 3 Hz",
          "PSD_i            not available (fewer than 2 usable bins)",
          "Rn               not available: the current is constant (sigma_V = 0.001422 V, "
          "sigma_I = 0 A, section means removed)",
          "Rsn0 / Rn        not available: no Rsn0",
          "Parseval PSD_i   integrated 0 A^2, expected 0 A^2 from the windowed variance 0 A^2: "
          "ratio not available (the variance is 0)"},
         {"rsn0_ohm", "rsn0_low_ohm", "rsn0_high_ohm", "rsn0_model", "slope_psd_i_db_per_decade",
          "slope_psd_i_se", "slope_zn_db_per_decade", "slope_zn_se", "rn_ohm", "rsn0_over_rn",
          "parseval_i", "coherence_rsn0_band", "zn_phase_rsn0_band_deg", "drift_fraction_i",
          "drift_band_fraction_v", "drift_band_fraction_i", "skewness_i", "kurtosis_i"}},
        {flat_bins(16, 0.5),
         samples_of(varying, constant("1e-6")),
         "",
         0.95,
         {"Rn               not available: the current is constant",
          "Rsn0 / Rn        not available: no Rn"},
         {"rn_ohm", "rsn0_over_rn", "parseval_i", "coherence_rsn0_band", "drift_fraction_i",
          "drift_band_fraction_i", "skewness_i", "kurtosis_i"}},
        {flat_bins(16, 0.5),
         samples_of(constant("0.5"), varying),
         "",
         0.95,
         {"Rn               0 ohm", "Rsn0 / Rn        not available: Rn is 0",
          ": ratio not available (the variance is 0)"},
         {"rsn0_over_rn", "parseval_v", "coherence_rsn0_band", "drift_fraction_v",
          "drift_band_fraction_v", "skewness_v", "kurtosis_v"}},
        {flat_bins(16, 0.5),
         samples_of(varying, varying, "1e400"),
         "",
         0.95,
         {"mean interval    not available: the time stamps do not give a finite mean interval"},
         {"mean_interval_s", "interval_error_percent"}},
    };
}

// Figures of the report alone: PSD_v near the largest double (Rsn0 from its square root, not
// from a ratio past the doubles), frequencies whose logarithms are one, a level whose lower
// tail's complement is 1.
std::vector<FigureCase> report_figure_cases() {
    std::vector<Bin> huge_zn = flat_bins(16, 0.5), close;
    for (int k = 2; k <= 6; ++k) {
        huge_zn[k - 1].v = 1.5e308;
        huge_zn[k - 1].zn = 1.2247e163;
    }
    for (int k = 0; k < 4; ++k)  // a unit in the last place apart
        close.push_back({1e10 + k * std::ldexp(1.0, -19), 1e-10 * (k + 1), 1e-18, 1e4});
    return {
        {huge_zn, "", "", 0.95, {"Rsn0               1.225e+163 ohm"}, {}},
        {close,
         "",
         "0:",
         0.95,
         {"PSD_v            not available (the bins' frequencies are too close together for a "
          "line)"},
         {"slope_psd_v_db_per_decade", "slope_psd_v_se", "slope_psd_i_db_per_decade",
          "slope_psd_i_se", "slope_zn_db_per_decade", "slope_zn_se"}},
        {flat_bins(16, 0.5),
         "",
         "",
         1 - std::ldexp(1.0, -53),
         {"PSD_v, PSD_i     not available (the level is too close to 0 or 1)",
          "Zn               not available (the level is too close to 0 or 1)"},
         {"density_factor_low", "density_factor_high", "zn_factor_low", "zn_factor_high",
          "rsn0_low_ohm", "rsn0_high_ohm"}},
    };
}

}  // namespace

// Every figure that cannot be formed from a correct report (or at a level too close to 1) is
// given with the reason in the text and left empty in the CSV; neither ever spells nan or inf.
TEST(SummaryText, GivesAReasonWhereAFigureCannotBeFormedAndLeavesItsCsvCellEmpty) {
    const std::vector<std::string> sample_columns = {"sample_file",
                                                     "rn_ohm",
                                                     "rsn0_over_rn",
                                                     "mean_interval_s",
                                                     "interval_error_percent",
                                                     "parseval_v",
                                                     "parseval_i",
                                                     "coherence_rsn0_band",
                                                     "zn_phase_rsn0_band_deg",
                                                     "drift_fraction_v",
                                                     "drift_fraction_i",
                                                     "drift_band_fraction_v",
                                                     "drift_band_fraction_i",
                                                     "sigma_v",
                                                     "sigma_i",
                                                     "mean_i",
                                                     "skewness_v",
                                                     "skewness_i",
                                                     "kurtosis_v",
                                                     "kurtosis_i",
                                                     "localisation_index"};
    // Without --area and --stern-geary the electrode's figures are not available either.
    const std::vector<std::string> electrode_columns = {
        "area_cm2", "rn_ohm_cm2",  "rsn0_ohm_cm2", "stern_geary_v",
        "icorr_a",  "icorr_a_cm2", "q_coulomb",    "fn_hz"};
    std::vector<FigureCase> cases = sample_check_cases(), more = report_figure_cases();
    cases.insert(cases.end(), more.begin(), more.end());
    TempDir dir;
    for (const FigureCase& c : cases) {
        write_file(dir.file("r.txt"), report_of(1, c.bins));
        write_file(dir.file("cell.txt"), c.samples);
        SummaryOptions options = options_of("", c.slope_band);
        options.level = c.level;
        options.use_samples = !c.samples.empty();
        Summary s;
        std::string why;
        ASSERT_EQ(summarise(dir.file("r.txt"), options, &s, &why), SummaryStatus::ok) << why;
        const std::string block = summary_block(s, c.level), row = csv_row(s, c.level);
        EXPECT_FALSE(spells_nan_or_inf(block)) << block;
        EXPECT_FALSE(spells_nan_or_inf(row)) << row;
        for (const std::string& words : c.says)
            EXPECT_NE(block.find(words), std::string::npos) << words << "\n" << block;
        std::vector<std::string> empty = c.empty, found = empty_columns(csv_header(), row);
        if (c.samples.empty())
            empty.insert(empty.end(), sample_columns.begin(), sample_columns.end());
        empty.insert(empty.end(), electrode_columns.begin(), electrode_columns.end());
        std::sort(empty.begin(), empty.end());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, empty) << block << row;
    }
}

// psd-plot draws the bins it can and leaves the others out, as before; on its line of
// assignments NaN is the word for a figure not available, and inf never appears there.
TEST(SummaryText, PlotDataKeepsEveryBinAndSaysNaNForAFigureNotAvailable) {
    std::vector<Bin> bins = flat_bins(8, 0.125);  // 8 bins: the default slope band holds one
    for (Bin& b : bins)
        b = {b.f, b.v, 0, HUGE_VAL};
    TempDir dir;
    write_file(dir.file("r.txt"), report_of(4, bins));
    SummaryOptions options = options_of("", "");
    options.slopes = false;
    options.per_bin = true;
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(dir.file("r.txt"), options, &s, &why), SummaryStatus::ok) << why;
    const std::string data = plot_data(s, 0.95);
    const std::string assignments = data.substr(0, data.find('\n'));
    EXPECT_FALSE(spells(assignments.substr(0, assignments.find("title")), "inf|infinity"))
        << assignments;
    EXPECT_NE(assignments.find("rsn0 = NaN;"), std::string::npos) << assignments;
    EXPECT_NE(assignments.find("bins = 8; usable_v = 8; usable_i = 0; usable_zn = 0"),
              std::string::npos);
    // Each bin's band factors and kind follow its values: bin 1 is lowered by the Hann window's
    // mean removal (no band), the last is the Nyquist bin, of half the degrees of freedom.
    EXPECT_NE(data.find("\n0.125 1e-10 0 inf NaN NaN NaN NaN 1 NaN NaN NaN\n"), std::string::npos)
        << data;
    // chi-squared with 4 degrees of freedom: 4 / 11.143 (NIST table 1.3.6.7.4).
    EXPECT_NE(data.find("\n1 1e-10 0 inf 0.358"), std::string::npos) << data;
    EXPECT_EQ(data.substr(data.size() - 22), "NaN NaN 2 NaN NaN NaN\n") << data;
    // No slope band, so no line: its figures are NaN.
    EXPECT_NE(assignments.find("slope_low = NaN; slope_high = NaN; slope_v = NaN;"),
              std::string::npos)
        << assignments;
    EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 9);
}

// 2M degrees of freedom of M sections up to the largest nb_section a header holds, 2^31 - 1:
// formed in 32 bits they would overflow from M = 2^30 on.
TEST(SummaryText, CountsTheDegreesOfFreedomOfAnyHeaderWithoutOverflow) {
    struct Case {
        long long nb_section;
        std::string dof, samples;  // 2M, and M x N with N = 32
    } cases[] = {
        {1, "2", "32"},
        {1 << 30, "2147483648", "34359738368"},
        {2147483647, "4294967294", "68719476704"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        write_file(dir.file("r.txt"), report_of(c.nb_section, flat_bins(16, 0.5)));
        Summary s;
        std::string why;
        ASSERT_EQ(summarise(dir.file("r.txt"), options_of("", ""), &s, &why), SummaryStatus::ok)
            << why;
        const std::string block = summary_block(s, 0.95);
        EXPECT_NE(block.find("(" + c.samples + " samples in all)"), std::string::npos) << block;
        EXPECT_NE(block.find("(chi-squared, " + c.dof + " degrees of freedom)"), std::string::npos)
            << block;
        EXPECT_NE(block.find("(F(" + c.dof + ", " + c.dof + "), "), std::string::npos) << block;
        EXPECT_FALSE(spells_nan_or_inf(block + csv_row(s, 0.95))) << block;
    }
}

#ifndef _WIN32
namespace {

// The number of summary blocks in psd-summary's output.
std::ptrdiff_t blocks_in(const std::string& out) {
    std::ptrdiff_t count = 0;
    for (std::size_t at = out.find("\n  Rsn0 "); at != std::string::npos;
         at = out.find("\n  Rsn0 ", at + 1))
        ++count;
    return count;
}

}  // namespace

// What psd-summary cannot summarise fails that report (status 1) and the others are still
// summarised; a level it cannot compute factors for is a mistake on the command line (status 2).
TEST(SummaryProgram, RefusesWhatItCannotSummariseAndGoesOnWithTheOtherReports) {
    TempDir dir;
    std::vector<Bin> damaged = flat_bins(16, 0.5);
    damaged[4].v = std::nan("");
    write_file(dir.file("narrow.txt"), report_of(4, flat_bins(16, 0.5)));  // 0.5 to 8 Hz
    write_file(dir.file("wide.txt"), report_of(4, flat_bins(64, 10)));     // 10 to 640 Hz
    write_file(dir.file("damaged.txt"), report_of(4, damaged));
    const std::string narrow = "'" + dir.file("narrow.txt") + "'",
                      wide = "'" + dir.file("wide.txt") + "'";
    struct Case {
        std::string arguments;
        int status;
        std::string says;
        std::ptrdiff_t blocks;
    } cases[] = {
        {"--band 100:200 " + narrow + " " + wide, 1,
         "--band 100:200 holds no bin of " + narrow + " (0.5 to 8 Hz)", 1},
        {"'" + dir.file("damaged.txt") + "' " + wide, 1, "PSD_v of bin 5 (2.5 Hz) is not a number",
         1},
        {"--slope-band 7.9:8 " + narrow, 1, "--slope-band 7.9:8 holds fewer than 2 bins", 0},
        {"--level 1e-300 " + narrow, 2, "--level 1e-300 is too close to 0", 0},
        {"--level 5e-324 " + narrow, 2, "--level 5e-324 is too close to 0", 0},
        {"--level 0.9999999999999999 " + narrow, 2, "--level 0.9999999999999999 is too close to 1",
         0},
        {"--level 0.99999999999999999 " + narrow, 2, "between 0 and 1", 0},
        {"--level 1e-15 " + narrow, 0, "", 1},
        {"--level 0.9999999999999998 " + narrow, 0, "", 1},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(run_summary(dir, "--no-samples " + c.arguments, &out), c.status) << c.arguments;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(blocks_in(out), c.blocks) << out;
        EXPECT_FALSE(spells_nan_or_inf(out)) << out;
    }
}

// A report of 2^19 bins needs some 30 MiB to be read, as much again for its plot data and about
// twice that for the figures of every bin the plot draws. Under address space limits 16 MiB
// apart, from one too small to read the report up to the first that fits all (a larger one fits
// too), every run either gives its whole output or says that memory ran out, in each output
// form. The limit is set in the shell that starts psd-summary: the test's own process needs more.
TEST(SummaryProgram, SaysWhenMemoryRunsOutInsteadOfAborting) {
#ifdef PSD_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#else
    TempDir dir;
    std::string report =
        "data file = cell.txt    hanning = 1    nb_section = 1     nbpoint_section = 1048576\n"
        "    frequency        PSD_v           PSD_i            Zn\n";
    report.reserve(62u << 19);
    for (int k = 1; k <= 1 << 19; ++k) {
        char line[80];
        std::snprintf(line, sizeof line, "%14.6e\t  1.000000e-10\t  1.000000e-18\t  1.000000e+04\n",
                      k * 1e-3);
        report += line;
    }
    write_file(dir.file("big.txt"), report);
    for (const char* form : {"--plot-data", "--csv", ""}) {
        int status = 1;
        for (int kib = 16 << 10; status != 0 && kib <= 256 << 10; kib += 16 << 10) {
            std::string out;
            status =
                run_summary(dir, std::string(form) + " --no-samples '" + dir.file("big.txt") + "'",
                            &out, "/dev/null", "ulimit -v " + std::to_string(kib));
            const bool ran_out = out.find("not enough memory") != std::string::npos;
            EXPECT_TRUE(status == 0 || (status == 1 && ran_out))
                << form << " " << kib << " KiB: " << status << " " << out;
            if (kib == 16 << 10) {
                EXPECT_TRUE(ran_out) << out;
            }
        }
        EXPECT_EQ(status, 0) << form;
    }
#endif
}

// The version is the project's, as CMake's project() gives it to psd too.
TEST(SummaryProgram, PrintsItsVersionAndListsTheOptionInItsHelp) {
    const std::string lists = read_file(std::string(PSD_SOURCE_DIR) + "/CMakeLists.txt");
    std::smatch version;
    ASSERT_TRUE(std::regex_search(lists, version, std::regex("project\\(psd VERSION ([0-9.]+)")));
    TempDir dir;
    std::string out;
    EXPECT_EQ(run_summary(dir, "--version", &out), 0);
    EXPECT_EQ(out, "psd-summary " + version[1].str() + "\n");
    EXPECT_EQ(run_summary(dir, "--help", &out), 0);
    EXPECT_NE(out.find("\n  --version "), std::string::npos) << out;
}
#endif
