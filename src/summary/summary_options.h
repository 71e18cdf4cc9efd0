// The options that shape a summary, read from psd-summary's words for them, so that psd-summary
// and the Python module take the same values and refuse the same ones with the same words.
//
// The options about output (--csv, --plot-data, --spectrum, --sections, --help, --version) are
// psd-summary's own and stay in its main.
#pragma once

#include <string>

#include "summary/summary.h"

namespace psd {

enum class OptionStatus {
    taken,      // the option is one of these and its value is good
    not_mine,   // the option is none of these
    bad_value,  // the value is refused: *why says why
};

// Whether option is one of these that takes a value (--band FMIN:FMAX, --level P, ...).
bool summary_option_takes_value(const std::string& option);

// Takes option into *options: value is its value, ignored for a flag (--no-samples,
// --keep-special-bins, --smooth).
// REQUIRES: options and why not null.
OptionStatus take_summary_option(const std::string& option, const std::string& value,
                                 SummaryOptions* options, std::string* why);

// What is wrong with the options taken together, in psd-summary's words; empty when they agree.
std::string summary_options_conflict(const SummaryOptions& options);

}  // namespace psd
