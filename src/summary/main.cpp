// psd-summary: the figures an electrochemical-noise analyst reads off psd reports (Rsn0, Rn,
// roll-off slopes, confidence factors of a bin), one block or one CSV row per report.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "summary/summary.h"
#include "summary/summary_options.h"
#include "summary/summary_text.h"

// psd-summary --version prints the project's version, as psd --version does.
#ifndef PSD_VERSION
#define PSD_VERSION "unknown"
#endif

namespace {

using namespace psd;

const char* const usage_text =
    "usage: psd-summary [OPTIONS] REPORT...\n"
    "Summarises psd reports: parameters, Rsn0 (sqrt of mean PSD_v over mean PSD_i in a\n"
    "low-frequency band) with its confidence interval, roll-off slopes of PSD_v, PSD_i and Zn\n"
    "in dB per decade, the confidence factors of one bin and, when the report's sample file is\n"
    "found (relative to the report's folder), the coherence of voltage and current, Rn,\n"
    "Rsn0 / Rn, the mean sampling interval and Parseval's check.\n"
    "\n"
    "  --band FMIN:FMAX        Rsn0 band in Hz (default: bins 2 to 6)\n"
    "  --slope-band FMIN:FMAX  slope band in Hz (default: top of the Rsn0 band to 0.8 of the\n"
    "                          Nyquist frequency); an empty FMIN or FMAX leaves that end open\n"
    "  --level P               confidence level, 0 < P < 1 (default 0.95)\n"
    "  --samples FILE          the sample file (one REPORT only)\n"
    "  --no-samples            skip the sample file checks\n"
    "  --keep-special-bins     let bin 1 (with the Hann window) and the Nyquist bin enter Rsn0\n"
    "                          and the slopes\n"
    "  --detrend KIND          none (default: the report's figures), linear or quadratic: each\n"
    "                          section's least-squares line or parabola removed, every figure\n"
    "                          recomputed from the sample file\n"
    "  --area CM2              the area of one electrode: Rn and Rsn0 in ohm cm^2\n"
    "  --stern-geary B         B in volts (0.026 for 26 mV): the corrosion current B / Rn and\n"
    "                          the shot-noise charge q and frequency fn\n"
    "  --sections FILE         one CSV row per section of the samples: time, means, sigmas,\n"
    "                          Rn, moments and drift (a report column with several REPORTs)\n"
    "  --spectrum FILE         write every bin's figures to FILE as CSV (one report only)\n"
    "  --csv                   one CSV row per report, after a header line (none when the\n"
    "                          output is appended to a file that holds rows already)\n"
    "  --plot-data             what psd-plot draws: a line of gnuplot assignments, then the\n"
    "                          bins and the record's trace (one report only)\n"
    "  --smooth                with --plot-data: the top decade smoothed over 0.1 decade\n"
    "  --help                  this text\n"
    "  --version               the version of psd-summary\n"
    "\n"
    "A report is refused when a band holds none of its bins (a slope band: fewer than 2) or\n"
    "when it holds a density that is not a finite number. A figure that cannot be formed (Zn\n"
    "of a constant current, Rn with sigma_I = 0, ...) is said to be not available, and its\n"
    "CSV cell left empty.\n"
    "\n"
    "The text warns when the sections' straight lines hold 10 % or more of a channel's\n"
    "variance (drift): --detrend linear removes it.\n"
    "\n"
    "Exit status: 0 when every report was summarised, 1 when any report or sample file could\n"
    "not be read or summarised, 2 on a mistake on the command line.\n";

enum class Output { block, csv, plot_data };

struct Arguments {
    SummaryOptions options;
    Output output = Output::block;
    std::string spectrum;  // the file --spectrum writes; empty: none
    std::string sections;  // the file --sections writes; empty: none
    std::vector<std::string> reports;
};

// Whether stream is a file that already holds something: rows appended to a table (">> day.csv"
// in a loop over records) then follow its header instead of repeating it.
bool holds_rows(std::FILE* stream) {
    struct stat info;
    return fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// The columns of the record's trace the plot asks for: about one per two pixels of its width.
constexpr std::size_t trace_columns = 500;

int usage_error(const std::string& what) {
    std::fprintf(stderr, "psd-summary: %s\n%s", what.c_str(),
                 "usage: psd-summary [OPTIONS] REPORT...   (psd-summary --help for more)\n");
    return 2;
}

// One of the options that take a value. Returns -1 when it is good, else the exit status.
int take_value(const std::string& option, const std::string& value, Arguments* args) {
    if (option == "--spectrum" || option == "--sections") {
        (option == "--spectrum" ? args->spectrum : args->sections) = value;
        return value.empty() ? usage_error(option + " needs a file name") : -1;
    }
    std::string why;
    if (take_summary_option(option, value, &args->options, &why) == OptionStatus::bad_value)
        return usage_error(why);
    return -1;
}

// An option without a value; false when arg is none of them.
bool take_flag(const std::string& arg, Arguments* args) {
    if (arg == "--csv")
        args->output = Output::csv;
    else if (arg == "--plot-data")
        args->output = Output::plot_data;
    else {
        std::string why;
        return take_summary_option(arg, "", &args->options, &why) == OptionStatus::taken;
    }
    return true;
}

// What the options say together; -1 when they agree, else the exit status to end with.
int check_arguments(Arguments* args) {
    if (args->reports.empty()) return usage_error("no report given");
    if (args->output == Output::plot_data && args->reports.size() > 1)
        return usage_error("--plot-data draws one report; give one REPORT");
    const SummaryOptions& o = args->options;
    const std::string conflict = summary_options_conflict(o);
    if (!conflict.empty()) return usage_error(conflict);
    if (!o.use_samples && !args->sections.empty())
        return usage_error("--sections reads the sample file: it cannot go with --no-samples");
    if (o.smooth && args->output != Output::plot_data)
        return usage_error("--smooth smooths what the plot draws: give it with --plot-data");
    if (!args->options.samples.empty() && args->reports.size() > 1)
        return usage_error("--samples names the sample file of one report; give one REPORT");
    if (!args->spectrum.empty() && args->reports.size() > 1)
        return usage_error("--spectrum writes the bins of one report; give one REPORT");
    // The plot draws every bin's band and the record over time.
    args->options.per_bin = args->output == Output::plot_data || !args->spectrum.empty();
    if (args->output == Output::plot_data) args->options.trace_columns = trace_columns;
    return -1;
}

// Returns -1 when the arguments are good, else the exit status to end with.
int parse_arguments(int argc, char** argv, Arguments* args) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
            args->reports.push_back(arg);
            continue;
        }
        const bool takes_value =
            summary_option_takes_value(arg) || arg == "--spectrum" || arg == "--sections";
        if (takes_value && i + 1 >= argc) return usage_error(arg + " needs a value");
        if (takes_value) {
            const int status = take_value(arg, argv[++i], args);
            if (status >= 0) return status;
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("psd-summary " PSD_VERSION "\n", stdout);
            return 0;
        } else if (!take_flag(arg, args)) {
            return usage_error("unknown option '" + arg + "'");
        }
    }
    return check_arguments(args);
}

// The summary in the form asked for; blocks after the first are set apart by a blank line.
std::string printed(const Summary& summary, const Arguments& args, bool* first_block) {
    const double level = args.options.level;
    switch (args.output) {
        case Output::block: {
            const std::string gap = *first_block ? "" : "\n";
            std::string block = gap + summary_block(summary, level);
            *first_block = false;
            return block;
        }
        case Output::csv:
            return csv_row(summary, level);
        case Output::plot_data:
            return plot_data(summary, level);
    }
    return "";
}

// Writes the figures of every bin of summary to the file at path; false when it cannot.
bool write_spectrum(const std::string& path, const Summary& summary) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const std::string table = spectrum_table(summary);
    const bool written = std::fwrite(table.data(), 1, table.size(), file) == table.size();
    return std::fclose(file) == 0 && written;
}

// Summarises the report at path and prints it with any message about it; returns whether it was
// summarised completely. Running out of memory, in the reading or in the printing, fails this
// report alone: what is printed is whole or nothing.
bool summarise_one(const std::string& path, const Arguments& args, std::FILE* sections,
                   bool* first_block) {
    std::string text, why;
    SummaryStatus result = SummaryStatus::bad_report;
    try {
        // Each section's row goes to the file as soon as it is read, so that a record of any
        // length costs one section's memory.
        SummaryOptions options = args.options;
        const std::string report = args.reports.size() > 1 ? path : "";
        if (sections)
            options.on_section = [&](const SectionFigures& f) {
                std::fputs(section_csv_row(report, f).c_str(), sections);
            };
        Summary summary;
        result = summarise(path, options, &summary, &why);
        // The plot draws a report whose sample file cannot be used, its Zn band then assuming
        // uncorrelated voltage and current: a note, not a failure.
        if (result == SummaryStatus::bad_samples && args.output == Output::plot_data) {
            why = "note: " + why + "; the Zn band assumes uncorrelated voltage and current";
            result = SummaryStatus::ok;
        }
        if (result == SummaryStatus::ok || result == SummaryStatus::bad_samples)
            text = printed(summary, args, first_block);
        if (!text.empty() && !args.spectrum.empty() && !write_spectrum(args.spectrum, summary)) {
            result = SummaryStatus::bad_report;
            why = "cannot write the spectrum to '" + args.spectrum + "'";
        }
    } catch (const std::bad_alloc&) {
        result = SummaryStatus::bad_report;
        why = "there is not enough memory to summarise '" + path + "'";
    }
    std::fputs(text.c_str(), stdout);
    // Messages after the block they belong to, so that a terminal shows them in order.
    std::fflush(stdout);
    if (!why.empty()) std::fprintf(stderr, "psd-summary: %s\n", why.c_str());
    return result == SummaryStatus::ok;
}

int run(int argc, char** argv) {
    Arguments args;
    const int early = parse_arguments(argc, argv, &args);
    if (early >= 0) return early;

    int status = 0;
    std::FILE* sections = nullptr;
    if (!args.sections.empty()) {
        sections = std::fopen(args.sections.c_str(), "wb");
        if (!sections) {
            std::fprintf(stderr, "psd-summary: cannot write the sections to '%s': %s\n",
                         args.sections.c_str(), std::strerror(errno));
            return 1;
        }
        std::fputs(section_csv_header(args.reports.size() > 1).c_str(), sections);
    }
    if (args.output == Output::csv && !holds_rows(stdout)) std::fputs(csv_header().c_str(), stdout);
    bool first_block = true;
    for (const std::string& path : args.reports)
        if (!summarise_one(path, args, sections, &first_block)) status = 1;
    if (sections && (std::ferror(sections) | std::fclose(sections))) {
        std::fprintf(stderr, "psd-summary: the sections could not be written completely to '%s'\n",
                     args.sections.c_str());
        status = 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "psd-summary: the summary could not be written completely\n");
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Outside any one report: the arguments, or a message too large to be made.
        std::fflush(stdout);
        std::fputs("psd-summary: there is not enough memory\n", stderr);
        return 1;
    }
}
