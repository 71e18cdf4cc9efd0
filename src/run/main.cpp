// psd: averaged power spectral densities and noise impedance of a voltage/current noise record.
// Everything comes from config_psd.txt in the current folder, or in the one folder given.
#include <cstdio>

#include "run/arguments.h"
#include "run/driver.h"

int main(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv);
    switch (arguments.action) {
        case Action::help:
            std::fputs(usage_text().c_str(), stdout);
            return 0;
        case Action::version:
            std::fputs(version_text().c_str(), stdout);
            return 0;
        case Action::misuse:
            std::fputs(usage_text().c_str(), stderr);
            return 2;
        case Action::run:
            break;
    }
    if (!arguments.folder.empty()) {
        if (auto failure = enter_folder(arguments.folder)) pause_and_exit(*failure);
    }
    if (auto failure = run_psd()) pause_and_exit(*failure);
    return 0;
}
