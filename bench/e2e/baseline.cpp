// Baseline for the end-to-end benchmark: the averaged-periodogram PSD written the plain,
// obvious way, to show what psd's own input and transform work buys. It reads the same
// config_psd.txt from the current directory and writes a report in psd's format:
//
//   - count lines with fgets into a 199-byte buffer, take deltat from the first two time stamps,
//     rewind;
//   - read every token with fscanf("%s") and convert it with strtod, into double arrays;
//   - per section: remove the mean, apply the Hann window (1 - cos(2 pi j / (N - 1))) / 2 when
//     hanning is 1, transform with a textbook iterative radix-2 complex FFT (the real section as
//     the real part, zero imaginary part), add |X_k|^2;
//   - scale by 2 deltat / (N M), times 8/3 with the window, every bin doubled (DC and Nyquist
//     too), as psd does.
//
// Being a yardstick, it favours clarity over speed and never pauses: failures print a message
// to stderr and return 1.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "baseline: %s\n", message);
    return 1;
}

// In-place iterative radix-2 decimation-in-time FFT with kernel exp(-2 pi i j k / n), n a power
// of two: bit-reversal permutation, then log2(n) passes of butterflies whose twiddle factor is
// advanced by one complex multiplication per butterfly.
void fft(double* re, double* im, int n) {
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j) {
            double t = re[i];
            re[i] = re[j];
            re[j] = t;
            t = im[i];
            im[i] = im[j];
            im[j] = t;
        }
    }
    const double pi = 3.14159265358979323846;
    for (int len = 2; len <= n; len <<= 1) {
        double angle = -2.0 * pi / len;
        double step_re = std::cos(angle);
        double step_im = std::sin(angle);
        int half = len / 2;
        for (int start = 0; start < n; start += len) {
            double w_re = 1.0;
            double w_im = 0.0;
            for (int k = 0; k < half; ++k) {
                int a = start + k;
                int b = a + half;
                double t_re = re[b] * w_re - im[b] * w_im;
                double t_im = re[b] * w_im + im[b] * w_re;
                re[b] = re[a] - t_re;
                im[b] = im[a] - t_im;
                re[a] += t_re;
                im[a] += t_im;
                double next_re = w_re * step_re - w_im * step_im;
                w_im = w_re * step_im + w_im * step_re;
                w_re = next_re;
            }
        }
    }
}

// The whole record in memory: every line counted with fgets, then every token scanned.
struct Record {
    float deltat = 0;
    long count = 0;
    double* voltage = nullptr;
    double* current = nullptr;
};

const char* read_record(const char* data_file, Record* r) {
    std::FILE* in = std::fopen(data_file, "r");
    if (!in) return "cannot open the sample file";
    char line[199];
    if (!std::fgets(line, sizeof line, in)) return "empty sample file";
    double t1 = std::strtod(line, nullptr);
    if (!std::fgets(line, sizeof line, in)) return "sample file of one line";
    double t2 = std::strtod(line, nullptr);
    // Stored in single precision, like psd, so both reports print the same frequencies.
    r->deltat = static_cast<float>(t2 - t1);
    std::rewind(in);
    while (std::fgets(line, sizeof line, in))
        ++r->count;
    std::rewind(in);
    r->voltage = static_cast<double*>(std::malloc(r->count * sizeof(double)));
    r->current = static_cast<double*>(std::malloc(r->count * sizeof(double)));
    if (!r->voltage || !r->current) return "out of memory";
    char time_token[160];
    char token[80];
    for (long j = 0; j < r->count; ++j) {
        if (std::fscanf(in, "%159s", time_token) != 1) return "short sample file";
        if (std::fscanf(in, "%79s", token) != 1) return "short sample file";
        r->voltage[j] = std::strtod(token, nullptr);
        if (std::fscanf(in, "%79s", token) != 1) return "short sample file";
        r->current[j] = std::strtod(token, nullptr);
    }
    std::fclose(in);
    return nullptr;
}

// Adds |X_k|^2 of the mean-removed, windowed section x[0..n) to psd[0..n/2].
void add_periodogram(const double* x, int n, const double* window, double* re, double* im,
                     double* psd) {
    double mean = 0.0;
    for (int j = 0; j < n; ++j)
        mean += x[j];
    mean /= n;
    for (int j = 0; j < n; ++j) {
        re[j] = (x[j] - mean) * window[j];
        im[j] = 0.0;
    }
    fft(re, im, n);
    for (int k = 0; k <= n / 2; ++k)
        psd[k] += re[k] * re[k] + im[k] * im[k];
}

const char* write_report(const char* output_file, const char* data_file, int hanning,
                         int nb_section, int n, float deltat, const double* psd_v,
                         const double* psd_i) {
    double scale = 2.0 * deltat / (static_cast<double>(n) * nb_section);
    if (hanning == 1) scale *= 8.0 / 3.0;
    std::FILE* out = std::fopen(output_file, "w");
    if (!out) return "cannot create the report file";
    std::fprintf(out,
                 "data file = %s    hanning = %d    nb_section = %d     nbpoint_section = %d\n",
                 data_file, hanning, nb_section, n);
    std::fprintf(out, "    frequency        PSD_v           PSD_i            Zn\n");
    double f_nyquist = static_cast<float>(1.0 / (static_cast<double>(deltat) + deltat));
    double df = f_nyquist / (n / 2);
    for (int k = 1; k <= n / 2; ++k) {
        double pv = psd_v[k] * scale;
        double pi = psd_i[k] * scale;
        std::fprintf(out, "%14.6e\t%14.6e\t%14.6e\t%14.6e\n", k * df, pv, pi, std::sqrt(pv / pi));
    }
    std::fclose(out);
    return nullptr;
}

}  // namespace

int main() {
    std::FILE* config = std::fopen("config_psd.txt", "r");
    if (!config) return fail("no config_psd.txt in the current directory");
    char data_file[128];
    char output_file[128];
    int hanning = 0;
    int nb_section = 0;
    int n = 0;
    int fields = std::fscanf(config, "%127s %d %d %d %127s", data_file, &hanning, &nb_section, &n,
                             output_file);
    std::fclose(config);
    if (fields != 5) return fail("config_psd.txt does not hold five fields");

    Record record;
    if (const char* problem = read_record(data_file, &record)) return fail(problem);
    if (nb_section < 1 || static_cast<long long>(nb_section) * n > record.count) {
        return fail("too few samples for the sections");
    }
    if (n < 2 || (n & (n - 1)) != 0) return fail("points per section not a power of two");

    double* re = static_cast<double*>(std::malloc(n * sizeof(double)));
    double* im = static_cast<double*>(std::malloc(n * sizeof(double)));
    double* window = static_cast<double*>(std::malloc(n * sizeof(double)));
    double* psd_v = static_cast<double*>(std::calloc(n / 2 + 1, sizeof(double)));
    double* psd_i = static_cast<double*>(std::calloc(n / 2 + 1, sizeof(double)));
    if (!re || !im || !window || !psd_v || !psd_i) return fail("out of memory");
    for (int j = 0; j < n; ++j) {
        window[j] = hanning == 1 ? (1.0 - std::cos(6.283185307 / (n - 1) * j)) / 2.0 : 1.0;
    }
    for (long first = 0; first < static_cast<long>(nb_section) * n; first += n) {
        add_periodogram(record.voltage + first, n, window, re, im, psd_v);
        add_periodogram(record.current + first, n, window, re, im, psd_i);
    }
    const char* problem =
        write_report(output_file, data_file, hanning, nb_section, n, record.deltat, psd_v, psd_i);
    for (void* block : {static_cast<void*>(re), static_cast<void*>(im), static_cast<void*>(window),
                        static_cast<void*>(psd_v), static_cast<void*>(psd_i),
                        static_cast<void*>(record.voltage), static_cast<void*>(record.current)})
        std::free(block);
    return problem ? fail(problem) : 0;
}
