#include "summary_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <sys/wait.h>
#endif

std::string report_of(long long nb_section, const std::vector<Bin>& bins) {
    std::string text =
        "data file = cell.txt    hanning = 1    nb_section = " + std::to_string(nb_section) +
        "     nbpoint_section = " + std::to_string(2 * bins.size()) +
        "\n    frequency        PSD_v           PSD_i            Zn\n";
    for (const Bin& b : bins) {
        char line[160];
        std::snprintf(line, sizeof line, "%.17g\t%.17g\t%.17g\t%.17g\n", b.f, b.v, b.i, b.zn);
        text += line;
    }
    return text;
}

bool run_and_summarise(const TempDir& dir, int hanning, const std::string& sections,
                       const std::string& samples, psd::Summary* s,
                       const psd::SummaryOptions& options) {
    write_run_files(
        dir, "samples.txt " + std::to_string(hanning) + " " + sections + " report.txt\n", samples);
    const RunResult run = run_psd_in(dir.path());
    EXPECT_EQ(run.exit_status, 0) << run.console;
    std::string why;
    const psd::SummaryStatus status = psd::summarise(dir.file("report.txt"), options, s, &why);
    EXPECT_EQ(status, psd::SummaryStatus::ok) << why;
    return run.exit_status == 0 && status == psd::SummaryStatus::ok;
}

std::vector<std::string> csv_fields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text.substr(0, text.find('\n'))) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

#ifndef _WIN32
int run_summary(const TempDir& dir, const std::string& args, std::string* out,
                const std::string& stdout_to, const std::string& first) {
    const std::string output = dir.file("summary.out");
    const std::string command = (first.empty() ? "" : first + " && ") + "exec '" + PSD_SUMMARY_EXE +
                                "' " + args +
                                (stdout_to.empty() ? " >'" + output + "' 2>&1"
                                                   : " >'" + stdout_to + "' 2>'" + output + "'");
    const int status = std::system(command.c_str());
    *out = read_file(output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif
