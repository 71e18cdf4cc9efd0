#include "summary/summary_options.h"

#include <cmath>

#include "format/decimal.h"
#include "summary/quantiles.h"
#include "summary/text_format.h"

namespace psd {

namespace {

bool parse_number(const std::string& text, double* value) {
    return !text.empty() && convert_token(text.data(), text.data() + text.size(), value) &&
           !std::isnan(*value);
}

// "FMIN:FMAX" with either end optional: an empty FMIN is 0 and an empty FMAX is unbounded.
bool parse_band(const std::string& text, double* low, double* high) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string first = text.substr(0, colon), second = text.substr(colon + 1);
    *low = 0;
    *high = HUGE_VAL;
    if (!first.empty() && !parse_number(first, low)) return false;
    if (!second.empty() && !parse_number(second, high)) return false;
    return *low >= 0 && *low < *high;
}

OptionStatus refuse(const std::string& words, std::string* why) {
    *why = words;
    return OptionStatus::bad_value;
}

// --detrend, --area or --stern-geary.
OptionStatus take_electrode_value(const std::string& option, const std::string& value,
                                  SummaryOptions* o, std::string* why) {
    if (option == "--detrend") {
        const Detrend kinds[] = {Detrend::mean, Detrend::linear, Detrend::quadratic};
        for (Detrend kind : kinds)
            if (value == detrend_word(kind)) {
                o->detrend = kind;
                return OptionStatus::taken;
            }
        return refuse("--detrend wants none, linear or quadratic, not '" + value + "'", why);
    }
    double number = 0;
    const bool good = parse_number(value, &number) && number > 0 && std::isfinite(number);
    if (option == "--area") {
        o->area = number;
        return good ? OptionStatus::taken
                    : refuse("--area wants the electrode's area in cm^2, a number above 0, not '" +
                                 value + "'",
                             why);
    }
    o->stern_geary = number;
    return good ? OptionStatus::taken
                : refuse(
                      "--stern-geary wants the Stern-Geary coefficient B in volts, a number "
                      "above 0 (0.026 for 26 mV), not '" +
                          value + "'",
                      why);
}

OptionStatus take_level(const std::string& value, SummaryOptions* o, std::string* why) {
    double level = 0;
    if (!parse_number(value, &level) || !(level > 0 && level < 1))
        return refuse(
            "--level wants a probability between 0 and 1 (0.95 for 95 %), not '" + value + "'",
            why);
    // Closer to 0 both tails of the interval are 1/2 in double precision; closer to 1 a tail's
    // complement is 1, whose quantile is infinite.
    if (!level_gives_factors(level))
        return refuse("--level " + value + " is too close to " + (level < 0.5 ? "0" : "1") +
                          " for the confidence factors to be computed (0.95 for 95 %)",
                      why);
    o->level = level;
    return OptionStatus::taken;
}

OptionStatus take_flag(const std::string& option, SummaryOptions* o) {
    if (option == "--no-samples")
        o->use_samples = false;
    else if (option == "--keep-special-bins")
        o->keep_special_bins = true;
    else if (option == "--smooth")
        o->smooth = true;
    else
        return OptionStatus::not_mine;
    return OptionStatus::taken;
}

}  // namespace

bool summary_option_takes_value(const std::string& option) {
    return option == "--band" || option == "--slope-band" || option == "--level" ||
           option == "--samples" || option == "--detrend" || option == "--area" ||
           option == "--stern-geary";
}

OptionStatus take_summary_option(const std::string& option, const std::string& value,
                                 SummaryOptions* o, std::string* why) {
    if (!summary_option_takes_value(option)) return take_flag(option, o);
    if (option == "--detrend" || option == "--area" || option == "--stern-geary")
        return take_electrode_value(option, value, o, why);
    if (option == "--level") return take_level(value, o, why);
    if (option == "--samples") {
        o->samples = value;
        return value.empty() ? refuse("--samples needs a file name", why) : OptionStatus::taken;
    }
    const bool band = option == "--band";
    const bool good = band ? (o->has_band = parse_band(value, &o->band_low, &o->band_high))
                           : (o->has_slope_band = parse_band(value, &o->slope_low, &o->slope_high));
    if (!good)
        return refuse(option + " wants FMIN:FMAX in Hz, 0 <= FMIN < FMAX, not '" + value + "'",
                      why);
    return OptionStatus::taken;
}

std::string summary_options_conflict(const SummaryOptions& o) {
    if (!o.use_samples && o.detrend != Detrend::mean)
        return "--detrend recomputes every figure from the sample file: it cannot go with "
               "--no-samples";
    return std::string();
}

}  // namespace psd
