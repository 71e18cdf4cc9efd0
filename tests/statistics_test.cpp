// The statistics psd-summary rests on, held against known truths: hand-worked values of the Hann
// window's bins, closed forms, and seeded Monte Carlo over records of known spectrum, in-process
// and lean (300 short records per case). Coverage is asked to lie within 95 +/- 3 %.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "spectrum/cross_spectrum.h"
#include "spectrum/estimator.h"
#include "summary/band_stats.h"
#include "summary/bin_covariance.h"
#include "summary/bin_figures.h"
#include "summary/zn_interval.h"

using namespace psd;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int records = 300;

// A record of M sections of N samples: current white, voltage white and independent of it
// (coherence 0) or R times the current plus independent noise of the relative power given.
struct Record {
    std::vector<double> v, i;
};

Record cell_record(std::mt19937_64& random, int samples, double coherent_noise) {
    std::normal_distribution<double> unit(0, 1);
    Record r{std::vector<double>(samples), std::vector<double>(samples)};
    for (int j = 0; j < samples; ++j) {
        r.i[j] = 1e-6 * unit(random);
        // 10 mV of noise of its own, or R = 10 kohm times the current plus a part of that noise.
        const double noise = 1e-2 * unit(random);
        r.v[j] = coherent_noise < 0 ? noise : 1e4 * r.i[j] + std::sqrt(coherent_noise) * noise;
    }
    return r;
}

CrossSpectrum cross_of(const Record& r, Window window, int m, int n) {
    CrossSpectrum cross(window, static_cast<std::uint32_t>(n));
    for (int s = 0; s < m; ++s)
        cross.add_section(&r.v[s * n], &r.i[s * n]);
    return cross;
}

struct Coverage {
    double median_ratio, coverage;
};

// Rsn0 over bins 2 to 6 of records from make, its median over the truth and its interval's
// coverage at 95 %.
template <class Make>
Coverage rsn0_coverage(Window window, int m, double truth, Make make) {
    const int n = 64;
    const BinCovariance cov(window_weights(window, n), n);
    const std::vector<std::size_t> bins = {2, 3, 4, 5, 6};
    std::vector<double> ratios;
    int covered = 0;
    for (int r = 0; r < records; ++r) {
        const CrossSpectrum cross = cross_of(make(m * n), window, m, n);
        double vv = 0, ii = 0;
        for (std::size_t k : bins) {
            vv += cross.sum_vv()[k];
            ii += cross.sum_ii()[k];
        }
        const double estimate = std::sqrt(vv / ii);
        const ZnInterval z = band_zn_interval(estimate, bins, cov, m, &cross, 0.95, nullptr);
        ratios.push_back(estimate / truth);
        covered += z.low <= truth && truth <= z.high;
    }
    std::nth_element(ratios.begin(), ratios.begin() + records / 2, ratios.end());
    return {ratios[records / 2], static_cast<double>(covered) / records};
}

}  // namespace

// With the mean removed before the window, bin 1 keeps 5/6 of a bin's power (the window's
// transform at bin 1, -N/4, is taken away with the mean); the periodograms of neighbouring Hann
// bins correlate by 4/9 and 1/36 (Percival & Walden 1993), the Nyquist bin is real and worth
// half an average; without a window no bin correlates with another.
TEST(BinCovariance, GivesTheHannBinsKnownCorrelationsAndSetsApartBin1AndTheNyquistBin) {
    const std::uint32_t n = 4096;
    const BinCovariance hann(hann_weights(n), n), none({}, n);
    EXPECT_NEAR(hann.relative_power(1), 5.0 / 6, 1e-3);
    EXPECT_NEAR(hann.power_correlation(100, 101), 4.0 / 9, 1e-3);
    EXPECT_NEAR(hann.power_correlation(100, 102), 1.0 / 36, 1e-3);
    EXPECT_EQ(hann.reach(), 2u);
    EXPECT_EQ(hann.kind(1), BinKind::biased);
    EXPECT_EQ(hann.kind(2), BinKind::regular);
    EXPECT_EQ(hann.kind(n / 2), BinKind::fewer_dof);
    EXPECT_NEAR(hann.band_averages({n / 2}), 0.5, 1e-9);
    // Five neighbouring Hann bins: 25 / (5 + 8 x 4/9 + 6 x 1/36) complex averages.
    EXPECT_NEAR(hann.band_averages({10, 11, 12, 13, 14}), 25 / (5 + 32.0 / 9 + 6.0 / 36), 1e-3);
    EXPECT_EQ(none.reach(), 0u);
    EXPECT_NEAR(none.power_correlation(100, 101), 0, 1e-20);
    EXPECT_EQ(none.kind(1), BinKind::regular);
    EXPECT_EQ(none.kind(n / 2), BinKind::fewer_dof);
    EXPECT_NEAR(none.band_averages({10, 11, 12, 13, 14}), 5, 1e-9);
}

// For one section the log-periodograms of two bins correlate by Li2(rho) / Li2(1); for many
// sections by rho itself. Li2(1/2) = pi^2 / 12 - ln(2)^2 / 2.
TEST(LogPowerCorrelation, MatchesItsClosedFormsForOneSectionAndForMany) {
    const double li2_half = pi * pi / 12 - std::log(2.0) * std::log(2.0) / 2;
    EXPECT_NEAR(log_power_correlation(0.5, 1), li2_half / (pi * pi / 6), 1e-9);
    EXPECT_NEAR(log_power_correlation(4.0 / 9, 100000), 4.0 / 9, 1e-4);
    EXPECT_EQ(log_power_correlation(0, 8), 0);
}

// The cross-spectrum keeps what the estimator keeps (bins 1 .. N/2 to float rounding), bin 0
// besides, and Parseval's identity; a voltage leading the current by 30 degrees gives a phase of
// +30 degrees and a coherence of 1.
TEST(CrossSpectrum, AgreesWithTheEstimatorKeepsParsevalsIdentityAndTheSignOfThePhase) {
    const std::uint32_t n = 64;
    const int m = 3;
    std::vector<double> v(m * n), i(m * n);
    for (std::size_t j = 0; j < v.size(); ++j) {
        i[j] = static_cast<float>(std::sin(2 * pi * 5 * j / n) + 0.1 * std::cos(0.7 * j));
        v[j] = static_cast<float>(std::sin(2 * pi * 5 * j / n + pi / 6) + 0.05 * std::sin(1.3 * j));
    }
    for (Window window : {Window::none, Window::hann}) {
        CrossSpectrum cross(window, n);
        Estimator estimator(window, n);
        for (int s = 0; s < m; ++s) {
            std::vector<double> sv(&v[s * n], &v[s * n] + n), si(&i[s * n], &i[s * n] + n);
            cross.add_section(sv.data(), si.data());
            estimator.add_section(sv.data(), si.data());
        }
        const Densities d = estimator.densities(1.0f);
        const double scale = Estimator::density_scale(window, n, 1.0f) / double{m};
        double circle = cross.sum_vv()[0] + cross.sum_vv()[n / 2];
        for (std::uint32_t k = 1; k <= n / 2; ++k) {
            EXPECT_NEAR(cross.sum_vv()[k] * scale, d.psd_v[k],
                        1e-6 * d.psd_v[5] + 1e-6 * d.psd_v[k]);
            if (k < n / 2) circle += 2 * cross.sum_vv()[k];
        }
        EXPECT_NEAR(circle / n, cross.prepared_squares_v(), 1e-12 * circle);
        CrossSums sums;
        sums.add(cross, 5, 1);
        EXPECT_NEAR(sums.phase_deg(), 30, 1);
        EXPECT_NEAR(sums.coherence(), 1, 0.02);
    }
}

// The median of sqrt(mean PSD_v / mean PSD_i) is the truth even for one section (the mean of Zn
// is 1.5 times it there), and the interval covers it in 95 +/- 3 % of records, Hann or not.
TEST(Rsn0, IsRightInTheMedianAndItsIntervalCoversForIndependentElectrodes) {
    std::mt19937_64 random(20270101);
    for (Window window : {Window::hann, Window::none}) {
        for (int m : {1, 2, 8}) {
            const Coverage c = rsn0_coverage(
                window, m, 1e4, [&](int samples) { return cell_record(random, samples, -1); });
            EXPECT_NEAR(c.median_ratio, 1, 0.05) << m;
            EXPECT_NEAR(c.coverage, 0.95, 0.03) << m << " " << static_cast<int>(window);
        }
    }
}

// V = R I plus independent noise of 1e-5 of its power (coherence 0.99999): the estimates scatter
// by a fraction of a per cent, and the interval follows them instead of the F law's x0.7 to x1.4.
TEST(Rsn0, IsRightInTheMedianAndItsIntervalCoversForACoherentCell) {
    std::mt19937_64 random(20270102);
    const double truth = std::sqrt(1e8 + 1e-5 * 1e-4 / 1e-12);
    for (Window window : {Window::hann, Window::none}) {
        for (int m : {1, 2, 8}) {
            const Coverage c = rsn0_coverage(
                window, m, truth, [&](int samples) { return cell_record(random, samples, 1e-5); });
            EXPECT_NEAR(c.median_ratio, 1, 0.002) << m;
            EXPECT_NEAR(c.coverage, 0.95, 0.03) << m << " " << static_cast<int>(window);
        }
    }
}

// The coherence of a coherent cell is near 1; that of independent records has the mean 1/M.
TEST(BinFigures, CoherenceIsNearOneForACoherentCellAndNearOneOverMForIndependentRecords) {
    std::mt19937_64 random(20270103);
    const int m = 4, n = 256;
    const BinCovariance cov(hann_weights(n), n);
    for (double noise : {-1.0, 1e-5}) {
        const Record r = cell_record(random, m * n, noise);
        const CrossSpectrum cross = cross_of(r, Window::hann, m, n);
        ReportData report;
        report.header = {"cell.txt", 1, m, n};
        for (int k = 1; k <= n / 2; ++k) {
            report.frequency.push_back(k);
            report.psd_v.push_back(cross.sum_vv()[k]);
            report.psd_i.push_back(cross.sum_ii()[k]);
            report.zn.push_back(std::sqrt(cross.sum_vv()[k] / cross.sum_ii()[k]));
        }
        const std::vector<BinFigures> bins = bin_figures(report, cov, &cross, 0.95);
        double mean = 0, widest = 0;
        for (int k = 2; k < n / 2; ++k) {
            mean += bins[k - 1].coherence / (n / 2 - 2);
            widest = std::max(widest, bins[k - 1].zn.high / bins[k - 1].zn.low);
        }
        if (noise < 0) {
            EXPECT_NEAR(mean, 1.0 / m, 0.03);
        } else {
            EXPECT_GT(mean, 0.9999);
            EXPECT_LT(widest, 1.05);  // a thin band, not F(8, 8)'s factor of 7
        }
    }
}

// A random walk has the exact discrete spectrum 1 / (4 sin^2(pi k / N)) (times the step's
// variance): its slope over the fitted bins is the truth. 1.96 standard errors cover it in
// 95 +/- 3 % of records with the window (least squares alone: about 85 %) and without.
TEST(Slope, StandardErrorCoversTheRandomWalksTrueSlopeWithAndWithoutTheWindow) {
    const int m = 8, n = 256;
    std::vector<std::size_t> indices;
    std::vector<double> frequency, truth;
    for (int k = 8; k <= 102; ++k) {
        indices.push_back(indices.size());
        frequency.push_back(k);
        truth.push_back(1 / (4 * std::pow(std::sin(pi * k / n), 2)));
    }
    const double true_slope =
        fit_db_per_decade(frequency.data(), truth.data(), indices, 10, {}).slope;
    std::mt19937_64 random(20270104);
    std::normal_distribution<double> unit(0, 1);
    for (Window window : {Window::hann, Window::none}) {
        const BinCovariance cov(window_weights(window, n), n);
        int covered = 0;
        for (int r = 0; r < records; ++r) {
            Record walk{std::vector<double>(m * n), std::vector<double>(m * n, 0.0)};
            double x = 0;
            for (double& v : walk.v)
                v = x += unit(random);
            const CrossSpectrum cross = cross_of(walk, window, m, n);
            std::vector<double> psd;
            for (int k = 8; k <= 102; ++k)
                psd.push_back(cross.sum_vv()[k]);
            // Report index j holds bin j + 1: the fitted bins are 8 .. 102.
            std::vector<std::size_t> at(indices.size());
            std::vector<double> f(n / 2, 1), p(n / 2, 1);
            for (std::size_t j = 0; j < indices.size(); ++j) {
                at[j] = j + 7;
                f[j + 7] = frequency[j];
                p[j + 7] = psd[j];
            }
            const SlopeFit fit = fit_db_per_decade(f.data(), p.data(), at, 10, {&cov, m});
            covered += std::fabs(fit.slope - true_slope) <= 1.96 * fit.std_error;
        }
        EXPECT_NEAR(static_cast<double>(covered) / records, 0.95, 0.03) << static_cast<int>(window);
    }
}
