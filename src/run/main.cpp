// psd: averaged power spectral densities and noise impedance of a voltage/current noise record.
// Everything comes from config_psd.txt in the current folder, or in the one folder given.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/signals.h"
#include "run/arguments.h"
#include "run/driver.h"
#include "run/messages.h"

namespace {

// Writes the failure's message and the closing line to standard output, waits for one key press
// when standard input and standard output are both a terminal, and ends the process with status
// 1. Only a console window closes with the process; a script reading the output must not hang.
[[noreturn]] void pause_and_exit(const psd::Failure& failure) {
    std::fputs(psd::message_of(failure).c_str(), stdout);
    std::fputs(psd::closing_line, stdout);
    std::fflush(stdout);
    if (psd::console_is_interactive()) psd::wait_for_one_key();
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is written: a closed standard output or a file size limit then makes a
    // write fail (a message, status 1) rather than kill the run, and a run interrupted while it
    // writes its report leaves no part of it behind.
    psd::set_up_signals();
    const psd::Arguments arguments = psd::parse_arguments(argc, argv);
    switch (arguments.action) {
        case psd::Action::help:
            std::fputs(psd::usage_text().c_str(), stdout);
            return 0;
        case psd::Action::version:
            std::fputs(psd::version_text().c_str(), stdout);
            return 0;
        case psd::Action::misuse:
            std::fputs((arguments.misuse + psd::usage_text()).c_str(), stderr);
            return 2;
        case psd::Action::run:
            break;
    }
    const unsigned threads = arguments.threads != 0 ? arguments.threads : psd::default_threads();
    if (auto failure = psd::run_psd(arguments.folder, psd::system_files(), threads))
        pause_and_exit(*failure);
    return 0;
}
