// The estimator and the report writer, called directly.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format/report_file.h"
#include "reference/direct_dft.h"
#include "run/config.h"
#include "spectrum/estimator.h"
#include "test_support.h"

using namespace psd;

namespace {

struct Spectra {
    std::vector<float> v;
    std::vector<float> i;
};

Window window_of(std::int32_t hanning) {
    return hanning == 1 ? Window::hann : Window::none;
}

// The estimator over the first m sections of n samples of both records, as the driver feeds it.
Spectra estimate(std::int32_t hanning, std::int32_t m, std::int32_t n,
                 const std::vector<float>& voltage, const std::vector<float>& current,
                 float deltat) {
    Estimator estimator(window_of(hanning), static_cast<std::uint32_t>(n));
    std::vector<double> section_v(n), section_i(n);
    for (std::int32_t s = 0; s < m; ++s) {
        for (std::int32_t j = 0; j < n; ++j) {
            section_v[j] = voltage[s * n + j];
            section_i[j] = current[s * n + j];
        }
        estimator.add_section(section_v.data(), section_i.data());
    }
    Densities d = estimator.densities(deltat);
    return {d.psd_v, d.psd_i};
}

// The densities of the hand-worked example (see the first test).
const std::vector<float> worked_v = {0.0f, 4.0f, 2.0f}, worked_i = {0.0f, 2.0f, 2.0f};

ReportWriteStatus write_worked_report(const std::string& path) {
    return write_report(path.c_str(), {"samples.txt", 0, 1, 4}, 1.0f, worked_v.data(),
                        worked_i.data());
}

// Uniform floats in [-1, 1) plus offset, from a fixed seed (the bit-level conversion keeps the
// values the same on every standard library).
std::vector<float> random_record(std::mt19937_64& bits, std::size_t length, float offset) {
    std::vector<float> record(length);
    for (float& x : record)
        x = offset + static_cast<float>(static_cast<double>(bits() >> 40) * 0x1.0p-23 - 1.0);
    return record;
}

}  // namespace

TEST(Spectrum, TurnsTheHandWorkedSamplesIntoTheHandWorkedReport) {
    // Voltage 1 2 3 4 after mean removal: -1.5 -0.5 0.5 1.5, so X1 = -2 + 2i and X2 = -2;
    // current 1 1 1 3: -0.5 -0.5 -0.5 1.5, so X1 = 2i and X2 = -2. psd_scale = 2 * 1 / 4 = 0.5:
    // PSD_v = 8 * 0.5 and 4 * 0.5, PSD_i = 4 * 0.5 and 4 * 0.5; bin 0 is empty after mean removal.
    // Zn = sqrt(2) and 1, at 1/4 and 2/4.
    const Spectra psd = estimate(0, 1, 4, {1, 2, 3, 4}, {1, 1, 1, 3}, 1.0f);
    EXPECT_EQ(psd.v, worked_v);
    EXPECT_EQ(psd.i, worked_i);
    TempDir dir;
    ASSERT_EQ(write_report(dir.file("report.txt").c_str(), {"samples.txt", 0, 1, 4}, 1.0f,
                           psd.v.data(), psd.i.data()),
              ReportWriteStatus::written);
    EXPECT_EQ(read_file(dir.file("report.txt")), as_stored(worked_report));
    EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"report.txt"});
}

TEST(Estimator, TwoPointSectionsHoldOnlyTheDifferenceOrNothingUnderTheWindow) {
    // Voltage 1 4 -> -1.5 1.5, Nyquist term -3, density 9 * 2 * 0.25 / 2; current 2 2 -> 0.
    const Spectra plain = estimate(0, 1, 2, {1, 4}, {2, 2}, 0.25f);
    EXPECT_EQ(plain.v, (std::vector<float>{0.0f, 2.25f}));
    EXPECT_EQ(plain.i, (std::vector<float>{0.0f, 0.0f}));
    // Both Hann weights are 0 when N = 2: cos(6.283185307) rounds to 1.
    const Spectra windowed = estimate(1, 1, 2, {1, 4}, {2, 5}, 0.25f);
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
    const Spectra psd = estimate(0, m, n, sine, flat, deltat);
    const double expected = amplitude * amplitude * n * deltat / 2.0;
    EXPECT_NEAR(psd.v[bin], expected, 1e-5 * expected);
    for (int k = 0; k <= n / 2; ++k) {
        EXPECT_TRUE(k == bin || psd.v[k] < 1e-9 * expected) << "bin " << k;
        EXPECT_EQ(psd.i[k], 0.0f);
    }
}

TEST(Estimator, TakesAnyHanningOtherThanOneAsNoWindow) {
    std::mt19937_64 bits(7);
    const std::vector<float> v = random_record(bits, 256, 0.0f), i = random_record(bits, 256, 0.0f);
    const Spectra none = estimate(0, 2, 128, v, i, 1.0f);
    for (std::int32_t hanning : {2, -1, 0, 1}) {
        // The configuration decides the window once; the report keeps the number as given.
        File config = stream_of("d " + std::to_string(hanning) + " 2 128 r");
        RunConfig read;
        ConfigProblem problem;
        ASSERT_EQ(read_run_config(config.get(), &read, &problem), ConfigStatus::ok);
        EXPECT_EQ(read.hanning, hanning);
        EXPECT_EQ(read.window, window_of(hanning)) << "hanning " << hanning;
        if (hanning == 1) continue;
        const Spectra other = estimate(hanning, 2, 128, v, i, 1.0f);
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
    const struct {
        int n, m;
        std::int32_t hanning;
    } cases[] = {{2, 3, 0},  {4, 1, 1},   {8, 5, 0},   {8, 5, 1},   {64, 3, 0},
                 {64, 3, 1}, {256, 2, 0}, {256, 2, 1}, {1024, 1, 1}};
    std::mt19937_64 bits(20240611);
    for (const auto& c : cases) {
        const float deltat = 0.003f;
        // Samples after the last whole section must be ignored: make them loud.
        std::vector<float> v = random_record(bits, c.m * c.n, 5.0f);
        std::vector<float> i = random_record(bits, c.m * c.n, -1e-3f);
        v.resize(v.size() + 9, 1e6f);
        i.resize(i.size() + 9, -1e6f);
        const Spectra psd = estimate(c.hanning, c.m, c.n, v, i, deltat);
        for (const auto& [record, got] : {std::pair{&v, &psd.v}, std::pair{&i, &psd.i}}) {
            const std::vector<long double> want =
                reference::direct_density(record->data(), c.n, c.m, c.hanning == 1, deltat);
            const long double largest = *std::max_element(want.begin(), want.end());
            for (int k = 0; k <= c.n / 2; ++k)
                EXPECT_LE(std::fabs((*got)[k] - want[k]),
                          (c.m + 8) * 0x1.0p-24L * want[k] + 1e-12L * largest)
                    << "N " << c.n << " M " << c.m << " hanning " << c.hanning << " bin " << k;
        }
    }
}

TEST(Estimator, SumsSectionsTransformedApartAndOutOfOrderAsAddSectionDoes) {
    // Threads transform sections as they come; only the float sums must take them in order.
    const struct {
        std::uint32_t n, m;
        std::int32_t hanning;
    } cases[] = {{2, 5, 0}, {8, 7, 1}, {256, 3, 0}, {1024, 5, 1}};
    std::mt19937_64 bits(99);
    for (const auto& c : cases) {
        const std::vector<float> v = random_record(bits, c.m * c.n, 2.0f);
        const std::vector<float> i = random_record(bits, c.m * c.n, -3e-4f);
        const Spectra whole = estimate(c.hanning, c.m, c.n, v, i, 0.5f);
        std::vector<std::vector<double>> sections_v(c.m), sections_i(c.m);
        for (std::uint32_t s = 0; s < c.m; ++s) {
            sections_v[s].assign(v.begin() + s * c.n, v.begin() + (s + 1) * c.n);
            sections_i[s].assign(i.begin() + s * c.n, i.begin() + (s + 1) * c.n);
        }
        Estimator estimator(window_of(c.hanning), c.n);
        for (std::uint32_t s = c.m; s-- > 0;)
            estimator.transform_section(sections_v[s].data(), sections_i[s].data());
        for (std::uint32_t s = 0; s < c.m; ++s)
            estimator.add_transformed(sections_v[s].data(), sections_i[s].data());
        const Densities apart = estimator.densities(0.5f);
        EXPECT_EQ(apart.psd_v, whole.v) << "N " << c.n;
        EXPECT_EQ(apart.psd_i, whole.i) << "N " << c.n;
    }
}

TEST(Report, PrintsAZeroCurrentDensityAsInfiniteOrNotANumber) {
    TempDir dir;
    const std::vector<float> v = {0.0f, 1.0f, 0.0f}, i = {0.0f, 0.0f, 0.0f};
    ASSERT_EQ(write_report(dir.file("r").c_str(), {"d", 0, 1, 4}, 1.0f, v.data(), i.data()),
              ReportWriteStatus::written);
    const std::string text = as_text(read_file(dir.file("r")));
    EXPECT_NE(text.find("\t  0.000000e+00\t           inf\n"), std::string::npos);
    const std::string last = text.substr(text.rfind('\t') + 1);
    EXPECT_TRUE(last == "           nan\n" || last == "          -nan\n") << last;
}

#ifndef _WIN32  // modes, the umask and symbolic links

TEST(Report, ReplacesAnEarlierReportKeepingItsModeAndGivesANewOneTheUmaskMode) {
    TempDir dir;
    write_file(dir.file("report.txt"), std::string(5000, 'x'));
    ASSERT_EQ(chmod(dir.file("report.txt").c_str(), 0604), 0);
    const mode_t saved = umask(027);
    const ReportWriteStatus replaced = write_worked_report(dir.file("report.txt"));
    const ReportWriteStatus created = write_worked_report(dir.file("new.txt"));
    umask(saved);
    ASSERT_EQ(replaced, ReportWriteStatus::written);
    ASSERT_EQ(created, ReportWriteStatus::written);
    EXPECT_EQ(read_file(dir.file("report.txt")), worked_report);
    struct stat info;
    ASSERT_EQ(stat(dir.file("report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    ASSERT_EQ(stat(dir.file("new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(folder_entries(dir.path()), (std::set<std::string>{"new.txt", "report.txt"}));
}

TEST(Report, KeepsASymbolicLinkAndReplacesTheFileItPointsTo) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("store"));
    write_file(dir.file("store/kept.txt"), "earlier report");
    ASSERT_EQ(symlink("store/kept.txt", dir.file("report.txt").c_str()), 0);
    ASSERT_EQ(write_worked_report(dir.file("report.txt")), ReportWriteStatus::written);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("report.txt")));
    EXPECT_EQ(read_file(dir.file("store/kept.txt")), worked_report);
    EXPECT_EQ(folder_entries(dir.file("store")), std::set<std::string>{"kept.txt"});
    // A link to a file that does not exist yet creates that file.
    ASSERT_EQ(symlink("store/new.txt", dir.file("dangling.txt").c_str()), 0);
    ASSERT_EQ(write_worked_report(dir.file("dangling.txt")), ReportWriteStatus::written);
    EXPECT_EQ(read_file(dir.file("store/new.txt")), worked_report);
}

#endif

TEST(Report, CannotCreateAReportInAMissingFolderOverAFolderOrOverAReadOnlyFile) {
    TempDir dir;
    EXPECT_EQ(write_worked_report(dir.file("missing/report.txt")),
              ReportWriteStatus::cannot_create);
    std::filesystem::create_directory(dir.file("folder"));
    write_file(dir.file("folder/inside.txt"), "kept");
    EXPECT_EQ(write_worked_report(dir.file("folder")), ReportWriteStatus::cannot_create);
    EXPECT_EQ(write_worked_report(dir.file("folder/")), ReportWriteStatus::cannot_create);
    EXPECT_EQ(write_worked_report(""), ReportWriteStatus::cannot_create);
    EXPECT_EQ(read_file(dir.file("folder/inside.txt")), "kept");
    EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"folder"});
    EXPECT_EQ(folder_entries(dir.file("folder")), std::set<std::string>{"inside.txt"});
#ifndef _WIN32
    if (geteuid() == 0) return;  // root may write any file
#endif
    write_file(dir.file("report.txt"), "protected");
    std::filesystem::permissions(dir.file("report.txt"), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
    EXPECT_EQ(write_worked_report(dir.file("report.txt")), ReportWriteStatus::cannot_create);
    EXPECT_EQ(read_file(dir.file("report.txt")), "protected");
}

#ifndef _WIN32  // file size limits and device nodes

TEST(Report, LeavesAnEarlierReportIntactWhenTheDiskFillsUp) {
    // A file size limit makes writes fail past 100 bytes, as a full disk would.
    TempDir dir;
    const std::string earlier(5000, 'e');
    write_file(dir.file("report.txt"), earlier);
    ReportWriteStatus status = ReportWriteStatus::written;
    with_limit(RLIMIT_FSIZE, 100, [&] { status = write_worked_report(dir.file("report.txt")); });
    EXPECT_EQ(status, ReportWriteStatus::write_failed);
    EXPECT_EQ(read_file(dir.file("report.txt")), earlier);
    EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"report.txt"});
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
    EXPECT_EQ(write_worked_report(null_device), ReportWriteStatus::written);
    EXPECT_EQ(write_worked_report(full_device), ReportWriteStatus::write_failed);
    ASSERT_EQ(symlink(full_device.c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(write_worked_report(dir.file("link")), ReportWriteStatus::write_failed);
    for (const std::string& device : {null_device, full_device}) {
        struct stat info;
        ASSERT_EQ(stat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
}

#endif  // POSIX
