// Makes the bundled example: examples/example_samples.txt and examples/config_psd.txt.
//
// Remake it from the repository root with
//     cmake -S . -B build -DPSD_BUILD_TOOLS=ON && cmake --build build --target make_example
//     ./build/make_example examples
// The output depends only on the fixed seed below (and on the platform's cos/sin/sqrt/log, which
// can move a last printed digit between C libraries).
//
// The record simulates electrochemical noise measured across a known impedance: a current noise
// record i(t) (flicker plus white noise, in amperes) flowing through a resistor R in parallel with
// a capacitor C, Z(f) = R / (1 + j 2 pi f R C), and the voltage v(t) across it (in volts), plus a
// little independent instrument noise on the voltage. Analysed with psd (Hann window, 16
// sections of 512 points), the report's Zn column follows |Z(f)|: flat at R below the corner
// frequency 1 / (2 pi R C) = 31.8 Hz, falling as 1/f above it, across a band of 1.95 Hz to 500 Hz.
//
// Both records are built in the frequency domain of the whole record of L samples: the current's
// Fourier coefficients are drawn as independent complex Gaussians with the chosen one-sided
// density, the voltage's are Z(f) times the current's plus the instrument noise, and both are
// summed back into time series. The record is thus one period of a stationary Gaussian process
// and the voltage is the exact response of the circuit to it, free of any discretisation of the
// circuit's equation.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// The circuit and the noise sources; tests/psd_test.cpp repeats R and C.
constexpr double resistance = 1.0e4;          // ohm
constexpr double capacitance = 0.5e-6;        // farad: corner at 31.8 Hz
constexpr double current_white = 2.0e-21;     // A^2/Hz, white part of the current density
constexpr double current_knee = 20.0;         // Hz, where the 1/f part equals the white part
constexpr double voltage_noise = 1.0e-18;     // V^2/Hz, white instrument noise on the voltage
constexpr double current_offset = 5.0e-9;     // A, a steady current through R
constexpr double sampling_interval = 1.0e-3;  // s
constexpr int nb_section = 16;
constexpr int nbpoint_section = 512;
constexpr int record_length = nb_section * nbpoint_section;
constexpr std::uint64_t seed = 20240611;
constexpr double two_pi = 6.283185307179586;

// One-sided density of the current at f > 0.
double current_density(double f) {
    return current_white * (1.0 + current_knee / f);
}

std::complex<double> impedance(double f) {
    return resistance / std::complex<double>(1.0, two_pi * f * resistance * capacitance);
}

// Standard normal pairs by the Box-Muller transform over the 64-bit Mersenne Twister, whose
// output the language fixes; std::normal_distribution is not the same on every library.
struct Gaussian {
    std::mt19937_64 bits{seed};
    double uniform() {  // in (0, 1]
        return (static_cast<double>(bits() >> 11) + 1.0) * 0x1.0p-53;
    }
    std::complex<double> pair() {
        const double radius = std::sqrt(-2.0 * std::log(uniform()));
        const double angle = two_pi * uniform();
        return {radius * std::cos(angle), radius * std::sin(angle)};
    }
};

// x[j] = (2 / L) * sum over m of Re(coefficient[m] * exp(+2 pi i j m / L)) for m = 1 .. L/2 - 1:
// the real record whose Fourier coefficients are those given and their conjugates at L - m (the
// zero-frequency and Nyquist coefficients are zero).
std::vector<double> synthesise(const std::vector<std::complex<double>>& coefficient,
                               const std::vector<double>& cosine, const std::vector<double>& sine) {
    std::vector<double> record(record_length);
    for (int j = 0; j < record_length; ++j) {
        double sum = 0.0;
        for (int m = 1; m < record_length / 2; ++m) {
            const int t = static_cast<int>((static_cast<std::int64_t>(j) * m) % record_length);
            sum += coefficient[m].real() * cosine[t] - coefficient[m].imag() * sine[t];
        }
        record[j] = 2.0 * sum / record_length;
    }
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "examples";

    // A coefficient c at bin m of an L-point record contributes E|c|^2 = L * G(f) / (2 dt) for a
    // one-sided density G, which is what psd's scaling 2 dt / (N M) undoes per section.
    Gaussian gaussian;
    const double to_amplitude = record_length / (4.0 * sampling_interval);
    std::vector<std::complex<double>> current(record_length / 2);
    std::vector<std::complex<double>> voltage(record_length / 2);
    for (int m = 1; m < record_length / 2; ++m) {
        const double f = m / (record_length * sampling_interval);
        current[m] = std::sqrt(to_amplitude * current_density(f)) * gaussian.pair();
        voltage[m] =
            impedance(f) * current[m] + std::sqrt(to_amplitude * voltage_noise) * gaussian.pair();
    }

    std::vector<double> cosine(record_length);
    std::vector<double> sine(record_length);
    for (int t = 0; t < record_length; ++t) {
        cosine[t] = std::cos(two_pi * t / record_length);
        sine[t] = std::sin(two_pi * t / record_length);
    }
    const std::vector<double> i = synthesise(current, cosine, sine);
    const std::vector<double> v = synthesise(voltage, cosine, sine);

    const std::string samples_name = folder + "/example_samples.txt";
    std::FILE* samples = std::fopen(samples_name.c_str(), "w");
    if (!samples) {
        std::fprintf(stderr, "cannot create %s\n", samples_name.c_str());
        return 1;
    }
    for (int j = 0; j < record_length; ++j) {
        std::fprintf(samples, "%.3f %.7e %.7e\n", j * sampling_interval,
                     resistance * current_offset + v[j], current_offset + i[j]);
    }
    const bool samples_ok = std::fclose(samples) == 0;

    const std::string config_name = folder + "/config_psd.txt";
    std::FILE* config = std::fopen(config_name.c_str(), "w");
    if (!config) {
        std::fprintf(stderr, "cannot create %s\n", config_name.c_str());
        return 1;
    }
    std::fprintf(config, "example_samples.txt 1 %d %d report_psd.txt\n", nb_section,
                 nbpoint_section);
    const bool config_ok = std::fclose(config) == 0;
    if (!samples_ok || !config_ok) {
        std::fprintf(stderr, "cannot write the example into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
