// Drift found and removed, the time-domain moments, the per-section table and the electrode
// figures, held against known truths: synthetic records of white noise with a drift of known
// shape (seeded), moments computed directly from the float-rounded samples, and figures worked by
// hand from their definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "spectrum/cross_spectrum.h"
#include "summary/band_stats.h"
#include "summary/bin_covariance.h"
#include "summary/electrode.h"
#include "summary/plot_axes.h"
#include "summary/record_stats.h"
#include "summary/record_trace.h"
#include "summary/summary.h"
#include "summary/summary_text.h"
#include "summary/text_format.h"
#include "summary_support.h"
#include "test_support.h"

using namespace psd;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double deltat = 0.01;

// A record of white noise, 10 uV and 1 nA (Zn = 10 kohm, the truth of Rn and Rsn0), V and I
// independent, with drift(t) added to the voltage; as psd's sample file, 7 digits.
std::string drifting_samples(int samples, std::uint64_t seed,
                             const std::function<double(double)>& drift) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> unit(0, 1);
    std::string text;
    for (int j = 0; j < samples; ++j) {
        const double t = j * deltat;
        char line[96];
        std::snprintf(line, sizeof line, "%.2f %.7e %.7e\n", t, 1e-5 * unit(random) + drift(t),
                      1e-9 * unit(random));
        text += line;
    }
    return text;
}

// psd's report of the samples in dir (Hann, M sections of N), summarised with the trend given.
Summary summary_of(const TempDir& dir, const std::string& samples, int m, int n, Detrend detrend) {
    SummaryOptions options;
    options.detrend = detrend;
    Summary s;
    run_and_summarise(dir, 1, std::to_string(m) + " " + std::to_string(n), samples, &s, options);
    return s;
}

// The float-rounded samples psd reads from a sample file's text: each number through strtod,
// then rounded to a 32-bit float.
void read_back(const std::string& text, std::vector<double>* v, std::vector<double>* i) {
    std::istringstream lines(text);
    std::string t, a, b;
    while (lines >> t >> a >> b) {
        v->push_back(static_cast<float>(std::strtod(a.c_str(), nullptr)));
        i->push_back(static_cast<float>(std::strtod(b.c_str(), nullptr)));
    }
}

// Population skewness and kurtosis, and the variance, of x less each n-sample section's mean.
struct Direct {
    double variance, skewness, kurtosis;
};
Direct direct_moments(const std::vector<double>& x, std::size_t n) {
    long double m2 = 0, m3 = 0, m4 = 0;
    for (std::size_t s = 0; s + n <= x.size(); s += n) {
        long double mean = 0;
        for (std::size_t j = s; j < s + n; ++j)
            mean += x[j];
        mean /= n;
        for (std::size_t j = s; j < s + n; ++j) {
            const long double r = x[j] - mean;
            m2 += r * r;
            m3 += r * r * r;
            m4 += r * r * r * r;
        }
    }
    const long double count = static_cast<long double>(x.size() / n * n);
    m2 /= count;
    m3 /= count;
    m4 /= count;
    return {static_cast<double>(m2), static_cast<double>(m3 / (m2 * std::sqrt(m2))),
            static_cast<double>(m4 / (m2 * m2))};
}

}  // namespace

// A section that is exactly a polynomial of the sample index loses all of it to a trend of that
// degree or more, and a trend of lower degree leaves the rest; the mean alone is the estimator's
// own (sum in index order over n, then subtracted), bit for bit.
TEST(Detrend, RemovesExactlyThePolynomialOfItsDegree) {
    const std::uint32_t n = 64;
    struct Case {
        double a, b, c;
        Detrend detrend;
        bool all_removed;
    } cases[] = {
        {3, 0, 0, Detrend::mean, true},           {3, 0.5, 0, Detrend::mean, false},
        {3, 0.5, 0, Detrend::linear, true},       {3, 0.5, 0.01, Detrend::linear, false},
        {3, 0.5, 0.01, Detrend::quadratic, true}, {-2e-3, 1e-6, -4e-9, Detrend::quadratic, true},
    };
    for (const Case& c : cases) {
        std::vector<double> x(n);
        for (std::uint32_t j = 0; j < n; ++j)
            x[j] = c.a + c.b * j + c.c * j * j;
        double largest = 0;
        const SectionTrend trend = remove_trend(c.detrend, x.data(), n);
        for (double r : x)
            largest = std::max(largest, std::fabs(r));
        const double scale = std::fabs(c.a) + std::fabs(c.b) * n + std::fabs(c.c) * n * n;
        EXPECT_EQ(largest < 1e-12 * scale, c.all_removed) << largest << " " << scale;
        if (c.detrend != Detrend::mean && c.c == 0) {
            EXPECT_NEAR(trend.linear, c.b, 1e-12 * scale);  // the slope per sample
        }
    }
    std::vector<double> x = {0.1f, 0.7f, 0.3f, 1e-3f}, same = x;
    double sum = 0;
    for (double v : same)
        sum += v;
    remove_trend(Detrend::mean, x.data(), 4);
    for (std::size_t j = 0; j < 4; ++j)
        EXPECT_EQ(bits(x[j]), bits(same[j] - sum / 4));
}

// The sample file's pass hands the spectrum the trends the record's figures fitted: with every
// detrend they are the spectrum's own, so its sums come out bit for bit as when it fits them.
TEST(Detrend, TheRecordsTrendsGiveTheSpectrumItsOwnSums) {
    const std::uint32_t n = 64;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 1);
    for (Detrend detrend : {Detrend::mean, Detrend::linear, Detrend::quadratic}) {
        CrossSpectrum fitted(Window::hann, n, detrend), given(Window::hann, n, detrend);
        for (int section = 0; section < 3; ++section) {
            std::vector<double> v(n), i(n);
            for (std::uint32_t j = 0; j < n; ++j) {
                v[j] = 1e-3 * j + 1e-5 * j * j + noise(random);
                i[j] = -2e-4 * j + noise(random);
            }
            fitted.add_section(v.data(), i.data());
            given.add_section(v.data(), i.data(), channel_section(v.data(), n, detrend).trend,
                              channel_section(i.data(), n, detrend).trend);
        }
        for (std::uint32_t k = 0; k <= n / 2; ++k) {
            EXPECT_EQ(bits(fitted.sum_vv()[k]), bits(given.sum_vv()[k]));
            EXPECT_EQ(bits(fitted.sum_ii()[k]), bits(given.sum_ii()[k]));
            EXPECT_EQ(bits(fitted.sum_vi_re()[k]), bits(given.sum_vi_re()[k]));
            EXPECT_EQ(bits(fitted.sum_vi_im()[k]), bits(given.sum_vi_im()[k]));
        }
        EXPECT_EQ(bits(fitted.prepared_squares_v()), bits(given.prepared_squares_v()));
        EXPECT_EQ(bits(fitted.prepared_squares_i()), bits(given.prepared_squares_i()));
    }
}

// Without a window a fitted line takes from bin k of white noise |Q1(k)|^2 / N of its power,
// Q1 the transform of the unit ramp; worked here by a plain DFT.
TEST(BinCovariance, ALineRemovedLowersTheLowestBinsAsTheRampsTransformSays) {
    const std::uint32_t n = 256;
    const BinCovariance lines({}, n, Detrend::linear);
    double norm = 0;
    for (std::uint32_t j = 0; j < n; ++j)
        norm += (j - (n - 1) / 2.0) * (j - (n - 1) / 2.0);
    for (std::size_t k : {1, 2, 3, 6, 20}) {
        double re = 0, im = 0;
        for (std::uint32_t j = 0; j < n; ++j) {
            const double q = (j - (n - 1) / 2.0) / std::sqrt(norm);
            re += q * std::cos(2 * pi * j * k / n);
            im -= q * std::sin(2 * pi * j * k / n);
        }
        EXPECT_NEAR(lines.relative_power(k), 1 - (re * re + im * im) / n, 1e-9) << k;
    }
    EXPECT_EQ(lines.kind(2), BinKind::biased);  // 3 / (pi^2 k^2): 7.6 % low
    EXPECT_EQ(lines.kind(20), BinKind::regular);
}

// White noise with the voltage creeping by 10 uV/s (about 90 % of its variance within a section):
// without a trend removed Rn is three times the truth and the block warns of drift, predicting
// the Rn a fitted line gives; --detrend linear gives Rn within 3 % and Rsn0 within its interval.
TEST(Drift, LinearDetrendGivesRnWithinThreePercentAndTheWarningWithout) {
    TempDir dir;
    const std::string samples = drifting_samples(8192, 20261210, [](double t) { return 1e-5 * t; });
    const Summary raw = summary_of(dir, samples, 8, 1024, Detrend::mean);
    EXPECT_GT(raw.rn, 2.5e4);
    EXPECT_GT(raw.drift_fraction_v, 0.8);
    EXPECT_LT(raw.drift_fraction_i, 0.01);
    EXPECT_TRUE(raw.drift_flagged);
    const std::string block = summary_block(raw, 0.95);
    EXPECT_NE(block.find("warning          drift: "), std::string::npos) << block;
    EXPECT_NE(block.find("--detrend linear removes them"), std::string::npos) << block;

    const Summary fixed = summary_of(dir, samples, 8, 1024, Detrend::linear);
    EXPECT_NEAR(fixed.rn / 1e4, 1, 0.03);
    EXPECT_LE(fixed.rsn0_interval.low, 1e4);
    EXPECT_GE(fixed.rsn0_interval.high, 1e4);
    EXPECT_FALSE(fixed.drift_flagged);
    // The warning's prediction: each variance less what the lines hold.
    const double predicted =
        raw.rn * std::sqrt((1 - raw.drift_fraction_v) / (1 - raw.drift_fraction_i));
    EXPECT_NEAR(predicted / fixed.rn, 1, 1e-6);
    const std::string fixed_block = summary_block(fixed, 0.95);
    EXPECT_NE(fixed_block.find("(--detrend linear): every figure below is from the samples' "
                               "spectrum recomputed so, not the report's"),
              std::string::npos)
        << fixed_block;
    EXPECT_EQ(fixed_block.find("warning          drift"), std::string::npos) << fixed_block;
    EXPECT_NE(csv_row(fixed, 0.95).find(",linear,"), std::string::npos);
}

// A parabola over the whole record puts the same curvature into every section: a fitted line
// leaves it (Rn about sqrt(2) times the truth, the curvature holding as much variance as the
// noise), the fitted parabola removes it.
TEST(Drift, AQuadraticDriftIsRemovedOnlyByTheQuadraticTrend) {
    const int m = 8, n = 512;
    const double half = m * n * deltat / 2;
    // c^2 deltat^4 N^4 / 180 = (10 uV)^2: a section's parabola holds the noise's variance.
    const double c = 1e-5 * std::sqrt(180.0) / (deltat * deltat * n * n);
    TempDir dir;
    const std::string samples =
        drifting_samples(m * n, 20261211, [&](double t) { return c * (t - half) * (t - half); });
    struct Case {
        Detrend detrend;
        double low, high;  // Rn / truth
    } cases[] = {
        {Detrend::mean, 1.5, 1e9},
        {Detrend::linear, 1.3, 1.5},
        {Detrend::quadratic, 0.97, 1.03},
    };
    for (const Case& k : cases) {
        const Summary s = summary_of(dir, samples, m, n, k.detrend);
        EXPECT_GE(s.rn / 1e4, k.low) << detrend_word(k.detrend);
        EXPECT_LE(s.rn / 1e4, k.high) << detrend_word(k.detrend);
    }
}

// A skewed record (exponential current, voltage of a chi-squared law with 3 degrees of freedom):
// sigma, skewness and kurtosis of the samples less each section's mean agree with a direct
// computation on the float-rounded samples; the mean current and the localisation index too.
TEST(TimeDomain, MomentsOfASkewedRecordMatchADirectComputation) {
    const int m = 4, n = 256;
    std::mt19937_64 random(20261212);
    std::exponential_distribution<double> exponential(1.0);
    std::chi_squared_distribution<double> chi(3.0);
    std::string text;
    for (int j = 0; j < m * n; ++j) {
        char line[96];
        std::snprintf(line, sizeof line, "%.2f %.7e %.7e\n", j * deltat, 1e-4 * chi(random),
                      2e-9 * exponential(random) + 1e-9);
        text += line;
    }
    TempDir dir;
    const Summary s = summary_of(dir, text, m, n, Detrend::mean);
    std::vector<double> v, i;
    read_back(text, &v, &i);
    const Direct dv = direct_moments(v, n), di = direct_moments(i, n);
    struct Case {
        const char* what;
        double got, want;
    } cases[] = {
        {"sigma_V", s.sigma_v, std::sqrt(dv.variance)},
        {"sigma_I", s.sigma_i, std::sqrt(di.variance)},
        {"skewness V", s.skewness_v, dv.skewness},
        {"skewness I", s.skewness_i, di.skewness},
        {"kurtosis V", s.kurtosis_v, dv.kurtosis},
        {"kurtosis I", s.kurtosis_i, di.kurtosis},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(c.got / c.want, 1, 1e-9) << c.what;
    // Skewed as drawn: an exponential's skewness is 2 and kurtosis 9, chi-squared(3)'s 1.63, 7.
    EXPECT_NEAR(s.skewness_i, 2, 0.5);
    EXPECT_NEAR(s.skewness_v, std::sqrt(8.0 / 3), 0.5);
    double mean = 0;
    for (double x : i)
        mean += x / static_cast<double>(i.size());
    EXPECT_NEAR(s.mean_i / mean, 1, 1e-9);
    EXPECT_NEAR(s.localisation_index, s.sigma_i / std::sqrt(s.sigma_i * s.sigma_i + mean * mean),
                1e-12);
}

// The figures of one electrode by hand: Rn 5 kohm, Rsn0 8 kohm, band means psi_V = 4e-10 V^2/Hz
// and psi_I = 2.5e-18 A^2/Hz, area 2 cm^2, B = 26 mV.
TEST(Electrode, FiguresFollowTheirDefinitions) {
    struct Case {
        double area, b;
        ElectrodeFigures want;  // NaN where not given
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {2, 0.026, {1e4, 1.6e4, 5.2e-6, 2.6e-6, 1e-9 * 3.1622776601683795e-5 / 0.026, 1.69e6}},
        {0, 0.026, {nan, nan, 5.2e-6, nan, 1e-9 * 3.1622776601683795e-5 / 0.026, 1.69e6}},
        {2, 0, {1e4, 1.6e4, nan, nan, nan, nan}},
    };
    for (const Case& c : cases) {
        const ElectrodeFigures e = electrode_figures(5e3, 8e3, 4e-10, 2.5e-18, c.area, c.b);
        const double got[] = {e.rn_area,       e.rsn0_area, e.icorr,
                              e.icorr_density, e.charge,    e.frequency};
        const double want[] = {c.want.rn_area,       c.want.rsn0_area, c.want.icorr,
                               c.want.icorr_density, c.want.charge,    c.want.frequency};
        for (int k = 0; k < 6; ++k) {
            if (std::isnan(want[k]))
                EXPECT_TRUE(std::isnan(got[k])) << k;
            else
                EXPECT_NEAR(got[k] / want[k], 1, 1e-12) << k;
        }
    }
}

// q and fn of a report: psi_V and psi_I are the means over the bins that entered Rsn0 (bins 2 to
// 6), here worked by hand from the report's own numbers.
TEST(Electrode, ChargeAndFrequencyComeFromTheRsn0BandsMeans) {
    TempDir dir;
    std::vector<Bin> bins;
    double sum_v = 0, sum_i = 0;
    for (int k = 1; k <= 16; ++k) {
        const double v = 1e-10 * k, i = 1e-18 / k;
        bins.push_back({0.5 * k, v, i, std::sqrt(v / i)});
        if (k >= 2 && k <= 6) sum_v += v, sum_i += i;
    }
    write_file(dir.file("r.txt"), report_of(4, bins));
    SummaryOptions options;
    options.use_samples = false;
    options.stern_geary = 0.026;
    options.area = 0.5;
    Summary s;
    std::string why;
    ASSERT_EQ(summarise(dir.file("r.txt"), options, &s, &why), SummaryStatus::ok) << why;
    const double psi_v = sum_v / 5, psi_i = sum_i / 5;
    EXPECT_NEAR(s.electrode.charge / (std::sqrt(psi_v * psi_i) / 0.026), 1, 1e-12);
    EXPECT_NEAR(s.electrode.frequency / (0.026 * 0.026 / psi_v), 1, 1e-12);
    EXPECT_NEAR(s.electrode.rsn0_area / (0.5 * std::sqrt(psi_v / psi_i)), 1, 1e-12);
    EXPECT_TRUE(std::isnan(s.electrode.icorr_density));  // no sample file, no Rn
    const std::string block = summary_block(s, 0.95);
    EXPECT_NE(block.find("icorr            not available (no sample file, so no Rn)"),
              std::string::npos)
        << block;
}

// Labelled tics on every axis, however few decades it spans, and no empty decade of padding.
TEST(PlotAxes, LabelEveryAxisEnoughWithoutEmptyDecades) {
    struct Case {
        double lo, hi;
        int max_labels;
        std::vector<double> labelled;
    } cases[] = {
        {1.953125, 500, 12, {2, 5, 10, 20, 50, 100, 200, 500}},
        {9000, 11000, 6, {9000, 10000, 12000}},           // a white Zn: a tenth of a decade
        {508, 11230, 6, {500, 1000, 2000, 5000, 10000}},  // 500: within the margin
        {1e-20, 1e-8, 6, {1e-18, 1e-15, 1e-12, 1e-9}},    // every third decade
    };
    for (const Case& c : cases) {
        const LogAxis axis = log_axis(c.lo, c.hi, 0.05, 0, c.max_labels);
        EXPECT_LT(axis.high / axis.low, c.hi / c.lo * 1.3) << c.lo;  // a twentieth of a decade
        ASSERT_EQ(axis.labelled.size(), c.labelled.size()) << c.lo << " " << axis.tics;
        for (std::size_t k = 0; k < c.labelled.size(); ++k)
            EXPECT_NEAR(axis.labelled[k] / c.labelled[k], 1, 1e-12);
    }
    const LogAxis frequency = log_axis(1.953125, 500, 0.05, 0, 12);
    EXPECT_NE(frequency.tics.find("\"500\" 500"), std::string::npos) << frequency.tics;
    const LogAxis density = log_axis(3e-16, 3e-12, 0.05, 0, 6);
    EXPECT_NE(density.tics.find("\"10^{-13}\""), std::string::npos) << density.tics;
}

// Each column holds the least and greatest samples of its own part of the record, and a column
// never holds parts of two sections while there are fewer sections than columns.
TEST(RecordTrace, KeepsEachColumnsExtremesWithinItsSection) {
    struct Case {
        std::int64_t sections;
        std::uint32_t n;
        std::size_t columns, expected_columns, samples_per_column;
    } cases[] = {{4, 8, 8, 8, 4}, {3, 4, 100, 12, 1}, {10, 8, 4, 4, 24}};
    for (const Case& c : cases) {
        RecordTrace trace(c.sections, c.n, c.columns);
        RecordStats stats(Detrend::mean, c.n);
        std::vector<double> all_v;
        for (std::int64_t s = 0; s < c.sections; ++s) {
            std::vector<double> v(c.n), i(c.n, 0.0);
            for (std::uint32_t j = 0; j < c.n; ++j)
                all_v.push_back(v[j] = std::sin(1.3 * (s * c.n + j)));
            const SectionFigures& f = stats.add_section(v.data(), i.data(), 0, (s + 1.0) * c.n - 1);
            trace.add_section(v.data(), i.data(), f, f.v.trend, f.i.trend);
        }
        ASSERT_EQ(trace.columns().size(), c.expected_columns);
        const std::size_t per = c.samples_per_column;
        for (std::size_t k = 0; k < trace.columns().size(); ++k) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (std::size_t j = k * per; j < std::min(all_v.size(), (k + 1) * per); ++j)
                low = std::min(low, all_v[j]), high = std::max(high, all_v[j]);
            EXPECT_EQ(trace.columns()[k].v_min, low) << k;
            EXPECT_EQ(trace.columns()[k].v_max, high) << k;
            EXPECT_DOUBLE_EQ(trace.columns()[k].t_first, static_cast<double>(k * per));
        }
    }
}

// The top decade's smoothing averages the bins within a twentieth of a decade either side and
// leaves the bins below the top decade, and those left out, alone.
TEST(SmoothedTopDecade, AveragesOverATenthOfADecadeInTheTopDecadeOnly) {
    std::vector<double> f, x;
    for (int k = 1; k <= 100; ++k) {
        f.push_back(k);
        x.push_back(k % 2 ? 1.0 : 3.0);
    }
    std::vector<bool> left_out(100, false);
    left_out[99] = true;
    const std::vector<double> s = smoothed_top_decade(f.data(), x.data(), 100, left_out);
    EXPECT_TRUE(std::isnan(s[8]));   // 9 Hz: below a tenth of 100 Hz
    EXPECT_TRUE(std::isnan(s[99]));  // left out
    // At 50 Hz the window is 50 / 10^0.05 = 44.6 to 56.1 Hz: bins 45 to 56, six of each value.
    EXPECT_DOUBLE_EQ(s[49], 2.0);
    // At 10 Hz: 8.91 to 11.2 Hz, bins 9, 10 and 11.
    EXPECT_DOUBLE_EQ(s[9], (1.0 + 3.0 + 1.0) / 3);
}

#ifndef _WIN32
namespace {

// The rows of a CSV text, each split into its fields.
std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        rows.push_back(csv_fields(line));
    return rows;
}

}  // namespace

// The sections table has one row per section, each section's start M x N apart in time, and its
// Rn combine to the record's: Rn^2 = sum sigma_V^2 / sum sigma_I^2. With several reports a report
// column comes first.
TEST(SummaryProgram, SectionsTableHasMRowsWhoseRnCombineToTheRecords) {
    TempDir dir;
    write_run_files(dir, "samples.txt 1 8 256 report.txt\n",
                    drifting_samples(2048, 20261213, [](double t) { return 2e-5 * t; }));
    ASSERT_EQ(run_psd_in(dir.path()).exit_status, 0);
    std::string out;
    ASSERT_EQ(
        run_summary(dir,
                    "--csv --sections '" + dir.file("s.csv") + "' '" + dir.file("report.txt") + "'",
                    &out),
        0)
        << out;
    const auto table = csv_rows(read_file(dir.file("s.csv")));
    ASSERT_EQ(table.size(), 9u);
    EXPECT_EQ(table[0][0], "section");
    EXPECT_EQ(table[0][6], "rn_ohm");
    EXPECT_EQ(table[0][11], "drift_slope_v_per_s");
    double sum_v = 0, sum_i = 0;
    for (std::size_t s = 1; s <= 8; ++s) {
        EXPECT_EQ(table[s][0], std::to_string(s));
        EXPECT_NEAR(std::stod(table[s][1]), (s - 1) * 256 * deltat, 1e-9);
        sum_v += std::stod(table[s][4]) * std::stod(table[s][4]);
        sum_i += std::stod(table[s][5]) * std::stod(table[s][5]);
        EXPECT_NEAR(std::stod(table[s][11]), 2e-5, 0.5e-5);  // the drift, V/s
    }
    const auto summary = csv_rows(out);
    std::size_t rn_column = 0;
    while (summary[0][rn_column] != "rn_ohm")
        ++rn_column;
    EXPECT_NEAR(std::sqrt(sum_v / sum_i) / std::stod(summary[1][rn_column]), 1, 1e-7);

    // Rows appended to a table that holds some already follow its header: a loop over records,
    // one psd-summary each, gives one table.
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(std::system(("'" + std::string(PSD_SUMMARY_EXE) + "' --csv '" +
                               dir.file("report.txt") + "' >>'" + dir.file("day.csv") + "'")
                                  .c_str()),
                  0);
    const auto day = csv_rows(read_file(dir.file("day.csv")));
    ASSERT_EQ(day.size(), 3u);
    EXPECT_EQ(day[0][0], "report");
    EXPECT_EQ(day[2][0], dir.file("report.txt"));

    ASSERT_EQ(run_summary(dir,
                          "--sections '" + dir.file("s2.csv") + "' '" + dir.file("report.txt") +
                              "' '" + dir.file("report.txt") + "'",
                          &out),
              0);
    const auto both = csv_rows(read_file(dir.file("s2.csv")));
    ASSERT_EQ(both.size(), 17u);
    EXPECT_EQ(both[0][0], "report");
    EXPECT_EQ(both[16][0], dir.file("report.txt"));
}

// Out-of-range values of the new options are mistakes on the command line: status 2 and words
// that say what is wanted.
TEST(SummaryProgram, RefusesOutOfRangeElectrodeAndDetrendOptions) {
    TempDir dir;
    const std::string report = " '" + dir.file("r.txt") + "'";
    const struct {
        std::string args, says;
    } cases[] = {
        {"--area -1", "--area wants the electrode's area in cm^2, a number above 0, not '-1'"},
        {"--area 0", "--area wants the electrode's area in cm^2, a number above 0, not '0'"},
        {"--area inf", "a number above 0, not 'inf'"},
        {"--stern-geary 0", "--stern-geary wants the Stern-Geary coefficient B in volts"},
        {"--stern-geary -0.026", "a number above 0 (0.026 for 26 mV), not '-0.026'"},
        {"--stern-geary 26mV", "not '26mV'"},
        {"--detrend cubic", "--detrend wants none, linear or quadratic, not 'cubic'"},
        {"--detrend linear --no-samples", "--detrend recomputes every figure from the sample file"},
        {"--sections s.csv --no-samples", "--sections reads the sample file"},
        {"--smooth", "--smooth smooths what the plot draws: give it with --plot-data"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(run_summary(dir, c.args + report, &out), 2) << c.args;
        EXPECT_EQ(out.rfind("psd-summary: ", 0), 0u) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
    }
}
#endif
