#include "run/arguments.h"

#include <algorithm>
#include <cstring>
#include <thread>

#ifndef PSD_VERSION
#define PSD_VERSION "unknown"
#endif

namespace psd {

namespace {

Arguments misuse(const std::string& line) {
    Arguments parsed;
    parsed.action = Action::misuse;
    parsed.misuse = line;
    return parsed;
}

// A thread count: digits only, from 1 to max_threads.
bool read_threads(const char* text, unsigned* threads) {
    unsigned value = 0;
    if (*text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > max_threads) return false;
    }
    *threads = value;
    return value >= 1;
}

}  // namespace

Arguments parse_arguments(int argc, const char* const* argv) {
    Arguments parsed;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        parsed.action = Action::help;
        return parsed;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        parsed.action = Action::version;
        return parsed;
    }
    bool folder_given = false;
    for (int j = 1; j < argc; ++j) {
        const char* const argument = argv[j];
        // Named first, so that a mistyped option is seen before the usage scrolls it away.
        if (folder_given) {
            return misuse("psd: unexpected argument '" + std::string(argument) +
                          "': psd takes one folder at most\n");
        }
        if (std::strcmp(argument, "--threads") == 0) {
            if (j + 1 == argc) return misuse("psd: --threads needs a number of threads\n");
            if (!read_threads(argv[++j], &parsed.threads)) {
                return misuse("psd: --threads takes a whole number from 1 to " +
                              std::to_string(max_threads) + ", not '" + argv[j] + "'\n");
            }
        } else if (argument[0] == '-' || argument[0] == '\0') {
            // A folder whose name starts with '-' is reached as ./-name, so no option is ever
            // mistaken for a folder.
            return misuse("psd: unknown argument '" + std::string(argument) + "'\n");
        } else {
            parsed.folder = argument;
            folder_given = true;
        }
    }
    return parsed;
}

unsigned default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::min(std::max(cores, 1u), max_threads);
}

std::string usage_text() {
    return "Usage: psd [FOLDER]\n"
           "       psd --threads N [FOLDER]\n"
           "       psd --help | --version\n"
           "\n"
           "Estimates the power spectral densities of a voltage and a current noise record and\n"
           "their noise impedance Zn = sqrt(PSD_v / PSD_i), averaged over sections.\n"
           "\n"
           "psd reads config_psd.txt in FOLDER (default: the current folder). It holds five\n"
           "fields separated by blanks:\n"
           "  data_file        the sample file: one sample per line, three numbers (time stamp,\n"
           "                   voltage, current) separated by blanks or tabs\n"
           "  hanning          1 for the Hann window, any other whole number for none\n"
           "  nb_section       sections averaged; 0 for as many as the record holds\n"
           "  nbpoint_section  points per section, a power of two\n"
           "  output_file      the report to write\n"
           "\n"
           "--threads N runs on N threads (default: one per core); the report is the same\n"
           "for any N.\n"
           "\n"
           "The details and every message: man psd, or docs/messages.md in the psd sources.\n";
}

std::string version_text() {
    return std::string("psd ") + PSD_VERSION + "\n";
}

}  // namespace psd
