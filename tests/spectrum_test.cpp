// The estimator and the report writer, called directly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "spectrum/estimator.h"
#include "spectrum/report.h"
#include "test_support.h"

namespace {

struct Densities {
    std::vector<float> v;
    std::vector<float> i;
};

Densities estimate(std::int32_t hanning, std::int32_t m, std::int32_t n,
                   const std::vector<float>& voltage, const std::vector<float>& current,
                   float deltat) {
    std::vector<double> section_v(n), section_i(n);
    std::vector<float> spectrum(n + 2);
    Densities psd{std::vector<float>(n / 2 + 1), std::vector<float>(n / 2 + 1)};
    estimate_psd(hanning, m, n, voltage.data(), current.data(), deltat, section_v.data(),
                 section_i.data(), spectrum.data(), psd.v.data(), psd.i.data());
    return psd;
}

// The four-sample run worked by hand: voltage 1 2 3 4, current 1 1 1 3, deltat 1, N 4, M 1.
const Densities worked_example = {{0.0f, 4.0f, 2.0f}, {0.0f, 2.0f, 2.0f}};
const std::string worked_report =
    "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 4\n"
    "    frequency        PSD_v           PSD_i            Zn\n"
    "  2.500000e-01\t  4.000000e+00\t  2.000000e+00\t  1.414214e+00\n"
    "  5.000000e-01\t  2.000000e+00\t  2.000000e+00\t  1.000000e+00\n";

ReportStatus write_worked_report(const std::string& path) {
    return write_report(path.c_str(), "samples.txt", 0, 1, 4, 1.0f, worked_example.v.data(),
                        worked_example.i.data());
}

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Uniform floats in [-1, 1) plus offset, from a fixed seed (the bit-level conversion keeps the
// values the same on every standard library).
std::vector<float> random_record(std::mt19937_64& bits, std::size_t length, float offset) {
    std::vector<float> record(length);
    for (float& x : record)
        x = offset + static_cast<float>(static_cast<double>(bits() >> 40) * 0x1.0p-23 - 1.0);
    return record;
}

// The same density straight from its definition: sections with their means removed, the Hann
// weights (1 - cos(6.283185307 j / (N - 1))) / 2, X_k = sum of x_j exp(-2 pi i j k / N) summed
// directly, |X_k|^2 averaged over the sections, times 2 deltat / N (and 8/3 with the window).
std::vector<long double> direct_density(const std::vector<float>& record, std::int32_t hanning,
                                        int m, int n, float deltat) {
    const long double pi = 3.141592653589793238462643383279503L;
    std::vector<long double> density(n / 2 + 1, 0.0L);
    std::vector<long double> x(n);
    for (int s = 0; s < m; ++s) {
        long double mean = 0.0L;
        for (int j = 0; j < n; ++j)
            mean += record[s * n + j];
        mean /= n;
        for (int j = 0; j < n; ++j) {
            const long double weight =
                hanning == 1 ? (1.0L - std::cos(6.283185307L * j / (n - 1))) / 2.0L : 1.0L;
            x[j] = (record[s * n + j] - mean) * weight;
        }
        for (int k = 0; k <= n / 2; ++k) {
            long double re = 0.0L, im = 0.0L;
            for (int j = 0; j < n; ++j) {
                const long double angle = 2.0L * pi * static_cast<long double>((j * k) % n) / n;
                re += x[j] * std::cos(angle);
                im -= x[j] * std::sin(angle);
            }
            density[k] += re * re + im * im;
        }
    }
    const long double scale = 2.0L * deltat / n * (hanning == 1 ? 8.0L / 3.0L : 1.0L) / m;
    for (long double& d : density)
        d *= scale;
    return density;
}

}  // namespace

TEST(Estimator, GivesTheHandWorkedDensitiesOfFourSamples) {
    // Voltage section after mean removal: -1.5 -0.5 0.5 1.5, so X1 = -2 + 2i and X2 = -2;
    // current section -0.5 -0.5 -0.5 1.5, so X1 = 2i and X2 = -2. psd_scale = 2 * 1 / 4 = 0.5:
    // PSD_v = 8 * 0.5 and 4 * 0.5, PSD_i = 4 * 0.5 and 4 * 0.5; bin 0 is empty after mean removal.
    const Densities psd = estimate(0, 1, 4, {1, 2, 3, 4}, {1, 1, 1, 3}, 1.0f);
    EXPECT_EQ(psd.v, worked_example.v);
    EXPECT_EQ(psd.i, worked_example.i);
}

TEST(Estimator, TwoPointSectionsHoldOnlyTheDifferenceOrNothingUnderTheWindow) {
    // Voltage 1 4 -> -1.5 1.5, Nyquist term -3, density 9 * 2 * 0.25 / 2; current 2 2 -> 0.
    const Densities plain = estimate(0, 1, 2, {1, 4}, {2, 2}, 0.25f);
    EXPECT_EQ(plain.v, (std::vector<float>{0.0f, 2.25f}));
    EXPECT_EQ(plain.i, (std::vector<float>{0.0f, 0.0f}));
    // Both Hann weights are 0 when N = 2: cos(6.283185307) rounds to 1.
    const Densities windowed = estimate(1, 1, 2, {1, 4}, {2, 5}, 0.25f);
    EXPECT_EQ(windowed.v, (std::vector<float>{0.0f, 0.0f}));
    EXPECT_EQ(windowed.i, (std::vector<float>{0.0f, 0.0f}));
}

TEST(Estimator, PutsAWholeCycleSineIntoItsBinAtHalfASquaredNDeltat) {
    const int n = 64, m = 3, bin = 5;
    const float deltat = 0.01f, amplitude = 0.75f;
    std::vector<float> sine(m * n), flat(m * n, 1.0f);
    for (int j = 0; j < m * n; ++j)
        sine[j] =
            2.0f + amplitude * static_cast<float>(std::sin(2.0 * 3.141592653589793 * bin * j / n));
    const Densities psd = estimate(0, m, n, sine, flat, deltat);
    const double expected = amplitude * amplitude * n * deltat / 2.0;
    EXPECT_NEAR(psd.v[bin], expected, 1e-5 * expected);
    for (int k = 0; k <= n / 2; ++k) {
        if (k != bin) {
            EXPECT_LT(psd.v[k], 1e-9 * expected) << "bin " << k;
        }
        EXPECT_EQ(psd.i[k], 0.0f);
    }
}

TEST(Estimator, TakesAnyHanningOtherThanOneAsNoWindow) {
    std::mt19937_64 bits(7);
    const std::vector<float> v = random_record(bits, 256, 0.0f), i = random_record(bits, 256, 0.0f);
    const Densities none = estimate(0, 2, 128, v, i, 1.0f);
    for (std::int32_t hanning : {2, -1, 1000}) {
        const Densities other = estimate(hanning, 2, 128, v, i, 1.0f);
        EXPECT_EQ(other.v, none.v) << "hanning " << hanning;
        EXPECT_EQ(other.i, none.i) << "hanning " << hanning;
    }
    EXPECT_NE(estimate(1, 2, 128, v, i, 1.0f).v, none.v);
}

TEST(Estimator, AgreesWithDirectlySummedLongDoubleTransforms) {
    // Each density is a sum of M positive terms, each rounded once through the float spectrum
    // (2^-23 relative) and once into the float accumulator (2^-24 of the partial sum), then
    // scaled through three float roundings: at most (M + 5) * 2^-24 relative; (M + 8) * 2^-24
    // leaves room for the double transform. Bins near zero (bin 0 after mean removal) also get
    // an absolute allowance of 1e-12 of the largest density.
    struct Case {
        int n, m;
        std::int32_t hanning;
    };
    const Case cases[] = {{2, 3, 0},  {4, 1, 1},   {8, 5, 0},   {8, 5, 1},   {64, 3, 0},
                          {64, 3, 1}, {256, 2, 0}, {256, 2, 1}, {1024, 1, 1}};
    std::mt19937_64 bits(20240611);
    for (const Case& c : cases) {
        const float deltat = 0.003f;
        // Samples after the last whole section must be ignored: make them loud.
        std::vector<float> v = random_record(bits, c.m * c.n, 5.0f);
        std::vector<float> i = random_record(bits, c.m * c.n, -1e-3f);
        v.resize(v.size() + 9, 1e6f);
        i.resize(i.size() + 9, -1e6f);
        const Densities psd = estimate(c.hanning, c.m, c.n, v, i, deltat);
        const std::pair<const std::vector<float>*, const std::vector<float>*> records[] = {
            {&v, &psd.v}, {&i, &psd.i}};
        for (const auto& [record, got] : records) {
            const std::vector<long double> want =
                direct_density(*record, c.hanning, c.m, c.n, deltat);
            const long double largest = *std::max_element(want.begin(), want.end());
            for (int k = 0; k <= c.n / 2; ++k) {
                const long double tolerance = (c.m + 8) * 0x1.0p-24L * want[k] + 1e-12L * largest;
                EXPECT_LE(std::fabs((*got)[k] - want[k]), tolerance)
                    << "N " << c.n << " M " << c.m << " hanning " << c.hanning << " bin " << k;
            }
        }
    }
}

TEST(Report, WritesTheHandWorkedExampleByteForByte) {
    TempDir dir;
    ASSERT_EQ(write_worked_report(dir.file("report.txt")), ReportStatus::written);
    EXPECT_EQ(read_file(dir.file("report.txt")), worked_report);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"report.txt"});
}

TEST(Report, RunsFromOneBinWidthToTheNyquistFrequency) {
    TempDir dir;
    const std::vector<float> ones(513, 1.0f);
    ASSERT_EQ(write_report(dir.file("r").c_str(), "d", 1, 2, 1024, 0.5f, ones.data(), ones.data()),
              ReportStatus::written);
    const std::string text = read_file(dir.file("r"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 512);
    EXPECT_NE(text.find("\n  1.953125e-03\t  1.000000e+00\t  1.000000e+00\t  1.000000e+00\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 60),
              "  1.000000e+00\t  1.000000e+00\t"
              "  1.000000e+00\t  1.000000e+00\n");
    // N = 2: one line, at 1 / (2 deltat).
    ASSERT_EQ(write_report(dir.file("r").c_str(), "d", 0, 1, 2, 0.25f, ones.data(), ones.data()),
              ReportStatus::written);
    const std::string two = read_file(dir.file("r"));
    EXPECT_EQ(two.substr(two.find("Zn\n") + 3),
              "  2.000000e+00\t  1.000000e+00\t"
              "  1.000000e+00\t  1.000000e+00\n");
}

TEST(Report, PrintsAZeroCurrentDensityAsInfiniteOrNotANumber) {
    TempDir dir;
    const std::vector<float> v = {0.0f, 1.0f, 0.0f}, i = {0.0f, 0.0f, 0.0f};
    ASSERT_EQ(write_report(dir.file("r").c_str(), "d", 0, 1, 4, 1.0f, v.data(), i.data()),
              ReportStatus::written);
    const std::string text = read_file(dir.file("r"));
    EXPECT_NE(text.find("\t  0.000000e+00\t           inf\n"), std::string::npos);
    const std::string last = text.substr(text.rfind('\t') + 1);
    EXPECT_TRUE(last == "           nan\n" || last == "          -nan\n") << last;
}

TEST(Report, ReplacesAnEarlierReportAndKeepsItsMode) {
    TempDir dir;
    write_file(dir.file("report.txt"), std::string(5000, 'x'));
    ASSERT_EQ(chmod(dir.file("report.txt").c_str(), 0604), 0);
    ASSERT_EQ(write_worked_report(dir.file("report.txt")), ReportStatus::written);
    EXPECT_EQ(read_file(dir.file("report.txt")), worked_report);
    struct stat info;
    ASSERT_EQ(stat(dir.file("report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"report.txt"});
}

TEST(Report, CreatesANewFileWithTheModeTheUmaskAllows) {
    TempDir dir;
    const mode_t saved = umask(027);
    const ReportStatus status = write_worked_report(dir.file("report.txt"));
    umask(saved);
    ASSERT_EQ(status, ReportStatus::written);
    struct stat info;
    ASSERT_EQ(stat(dir.file("report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(Report, KeepsASymbolicLinkAndReplacesTheFileItPointsTo) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("store"));
    write_file(dir.file("store/kept.txt"), "earlier report");
    ASSERT_EQ(symlink("store/kept.txt", dir.file("report.txt").c_str()), 0);
    ASSERT_EQ(write_worked_report(dir.file("report.txt")), ReportStatus::written);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("report.txt")));
    EXPECT_EQ(read_file(dir.file("store/kept.txt")), worked_report);
    EXPECT_EQ(entries(dir.file("store")), std::set<std::string>{"kept.txt"});
    // A link to a file that does not exist yet creates that file.
    ASSERT_EQ(symlink("store/new.txt", dir.file("dangling.txt").c_str()), 0);
    ASSERT_EQ(write_worked_report(dir.file("dangling.txt")), ReportStatus::written);
    EXPECT_EQ(read_file(dir.file("store/new.txt")), worked_report);
}

TEST(Report, CannotCreateAReportInAMissingFolderOrOverAFolder) {
    TempDir dir;
    EXPECT_EQ(write_worked_report(dir.file("missing/report.txt")), ReportStatus::cannot_create);
    std::filesystem::create_directory(dir.file("folder"));
    write_file(dir.file("folder/inside.txt"), "kept");
    EXPECT_EQ(write_worked_report(dir.file("folder")), ReportStatus::cannot_create);
    EXPECT_EQ(write_worked_report(dir.file("folder/")), ReportStatus::cannot_create);
    EXPECT_EQ(write_worked_report(""), ReportStatus::cannot_create);
    EXPECT_EQ(read_file(dir.file("folder/inside.txt")), "kept");
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"folder"});
    EXPECT_EQ(entries(dir.file("folder")), std::set<std::string>{"inside.txt"});
}

TEST(Report, RefusesAnEarlierReportThatMayNotBeWritten) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    TempDir dir;
    write_file(dir.file("report.txt"), "protected");
    ASSERT_EQ(chmod(dir.file("report.txt").c_str(), 0444), 0);
    EXPECT_EQ(write_worked_report(dir.file("report.txt")), ReportStatus::cannot_create);
    EXPECT_EQ(read_file(dir.file("report.txt")), "protected");
}

TEST(Report, LeavesAnEarlierReportIntactWhenTheDiskFillsUp) {
    // A file size limit makes writes fail past 100 bytes, as a full disk would.
    TempDir dir;
    const std::string earlier(5000, 'e');
    write_file(dir.file("report.txt"), earlier);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limit = saved;
    limit.rlim_cur = 100;
    void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const ReportStatus status = write_worked_report(dir.file("report.txt"));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, saved_handler);
    EXPECT_EQ(status, ReportStatus::write_failed);
    EXPECT_EQ(read_file(dir.file("report.txt")), earlier);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"report.txt"});
}

TEST(Report, WritesStraightIntoDevicesWithoutReplacingThem) {
    // As root, private twins of /dev/null and /dev/full in the temporary folder keep a faulty
    // writer from replacing the system's devices; others cannot replace those anyway.
    TempDir dir;
    std::string null_device = "/dev/null", full_device = "/dev/full";
    if (mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
        mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        null_device = dir.file("null");
        full_device = dir.file("full");
    }
    EXPECT_EQ(write_worked_report(null_device), ReportStatus::written);
    EXPECT_EQ(write_worked_report(full_device), ReportStatus::write_failed);
    ASSERT_EQ(symlink(full_device.c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(write_worked_report(dir.file("link")), ReportStatus::write_failed);
    for (const std::string& device : {null_device, full_device}) {
        struct stat info;
        ASSERT_EQ(stat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
}
