#include "run/arguments.h"

#include <cstring>

#ifndef PSD_VERSION
#define PSD_VERSION "unknown"
#endif

namespace psd {

Arguments parse_arguments(int argc, const char* const* argv) {
    Arguments parsed;
    if (argc <= 1) return parsed;
    const char* const first = argv[1];
    if (argc == 2 && (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0)) {
        parsed.action = Action::help;
    } else if (argc == 2 && std::strcmp(first, "--version") == 0) {
        parsed.action = Action::version;
    } else if (argc == 2 && first[0] != '-' && first[0] != '\0') {
        // A folder whose name starts with '-' is reached as ./-name, so no option is ever
        // mistaken for a folder.
        parsed.folder = first;
    } else {
        parsed.action = Action::misuse;
        // Named first, so that a mistyped option is seen before the usage scrolls it away.
        const bool folder_first = first[0] != '-' && first[0] != '\0';
        parsed.misuse = folder_first ? "psd: unexpected argument '" + std::string(argv[2]) +
                                           "': psd takes one folder at most\n"
                                     : "psd: unknown argument '" + std::string(first) + "'\n";
    }
    return parsed;
}

std::string usage_text() {
    return "Usage: psd [FOLDER]\n"
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
           "The details and every message: man psd, or docs/messages.md in the psd sources.\n";
}

std::string version_text() {
    return std::string("psd ") + PSD_VERSION + "\n";
}

}  // namespace psd
