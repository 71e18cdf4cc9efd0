// Writes large, reproducible sample files for the end-to-end benchmark, and checks them.
//
//   psd_e2e_gen write FILE LINES SEED DELTAT   writes FILE, prints "<bytes> <checksum>"
//   psd_e2e_gen checksum FILE                  prints "<bytes> <checksum>" of an existing file
//
// Lines look like an ESA400 export: "0.000000e+00 -3.499870e-01 1.234567e-09", about 40 bytes
// each. Voltage is an offset plus white and low-pass (AR(1)) noise, current the same around zero,
// so spectra are coloured but no bin is empty. Everything after the seed is integer arithmetic
// and IEEE basic operations (no libm), so the same arguments give the same bytes on any machine
// with the same std::to_chars; the checksum lets the benchmark reuse a file only if it is intact.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::size_t kBlock = 1u << 20;

// splitmix64: tiny, full-period, and good enough for benchmark noise.
std::uint64_t next_random(std::uint64_t* state) {
    std::uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double uniform01(std::uint64_t* state) {
    return static_cast<double>(next_random(state) >> 11) * (1.0 / 9007199254740992.0);
}

// Sum of four uniforms (Irwin-Hall), centred and scaled to unit variance: near enough to a
// Gaussian for noise, and free of log/cos whose last bits vary between C libraries.
double unit_noise(std::uint64_t* state) {
    double s = uniform01(state) + uniform01(state) + uniform01(state) + uniform01(state);
    return (s - 2.0) * 1.7320508075688772;
}

// Checksum over 8-byte words (tail zero-padded); fast enough to verify 400 MB in a fraction
// of a second, which also pulls the file into the page cache before timing.
struct Checksum {
    std::uint64_t h = 0x84222325CBF29CE4ull;
    std::uint64_t bytes = 0;
    void add(const char* p, std::size_t n) {
        bytes += n;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            h = (h ^ w) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        if (i < n) {
            std::uint64_t w = 0;
            std::memcpy(&w, p + i, n - i);
            h = (h ^ w) * 0x100000001B3ull;
            h ^= h >> 29;
        }
    }
};

char* put_number(char* p, double x) {
    // Same text as printf "%.6e" for finite values.
    return std::to_chars(p, p + 32, x, std::chars_format::scientific, 6).ptr;
}

int write_file(const char* path, long long lines, std::uint64_t seed, double deltat) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "cannot create %s\n", path);
        return 1;
    }
    std::vector<char> buf(kBlock + 256);
    std::size_t used = 0;
    bool ok = true;
    Checksum sum;
    std::uint64_t state = seed;
    double drift_v = 0.0;
    double drift_i = 0.0;
    for (long long j = 0; j < lines; ++j) {
        drift_v = 0.99 * drift_v + unit_noise(&state);
        drift_i = 0.995 * drift_i + unit_noise(&state);
        double v = -0.35 + 2.0e-4 * unit_noise(&state) + 2.0e-5 * drift_v;
        double i = 3.0e-9 * unit_noise(&state) + 3.0e-10 * drift_i;
        char* p = buf.data() + used;
        p = put_number(p, static_cast<double>(j) * deltat);
        *p++ = ' ';
        p = put_number(p, v);
        *p++ = ' ';
        p = put_number(p, i);
        *p++ = '\n';
        used = static_cast<std::size_t>(p - buf.data());
        if (used >= kBlock) {
            sum.add(buf.data(), kBlock);
            ok = std::fwrite(buf.data(), 1, kBlock, out) == kBlock;
            if (!ok) break;
            used -= kBlock;
            std::memmove(buf.data(), buf.data() + kBlock, used);
        }
    }
    sum.add(buf.data(), used);
    ok = ok && std::fwrite(buf.data(), 1, used, out) == used;
    ok = (std::fclose(out) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "write error on %s\n", path);
        return 1;
    }
    std::printf("%llu %016llx\n", static_cast<unsigned long long>(sum.bytes),
                static_cast<unsigned long long>(sum.h));
    return 0;
}

int checksum_file(const char* path) {
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    // Reads must be whole multiples of 8 bytes except the last, to hash the same words as the
    // writer did.
    std::vector<char> buf(kBlock);
    Checksum sum;
    std::size_t got;
    while ((got = std::fread(buf.data(), 1, kBlock, in)) > 0)
        sum.add(buf.data(), got);
    std::fclose(in);
    std::printf("%llu %016llx\n", static_cast<unsigned long long>(sum.bytes),
                static_cast<unsigned long long>(sum.h));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "write") == 0) {
        long long lines = std::atoll(argv[3]);
        std::uint64_t seed = std::strtoull(argv[4], nullptr, 10);
        double deltat = std::strtod(argv[5], nullptr);
        if (lines < 2 || !(deltat > 0.0)) {
            std::fprintf(stderr, "need at least 2 lines and a positive deltat\n");
            return 2;
        }
        return write_file(argv[2], lines, seed, deltat);
    }
    if (argc == 3 && std::strcmp(argv[1], "checksum") == 0) return checksum_file(argv[2]);
    std::fprintf(stderr,
                 "usage: %s write FILE LINES SEED DELTAT\n"
                 "       %s checksum FILE\n",
                 argv[0], argv[0]);
    return 2;
}
