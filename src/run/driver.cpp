#include "run/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "format/sample_stream.h"
#include "platform/file.h"
#include "run/parallel_pass.h"
#include "run/plan.h"

namespace psd {

namespace {

// The configured names as the C library sees them: a NUL byte read into a name ends it.
std::string name_of(const std::string& field) {
    return field.c_str();
}

// The configuration, read whole before anything else is opened.
std::variant<RunConfig, Failure> load_config(const std::string& config_path,
                                             const FileSystem& files) {
    File file;
    const OpenStatus opened = files.open_for_reading(config_path.c_str(), &file);
    if (opened == OpenStatus::missing || opened == OpenStatus::unreadable)
        return failure(RunFault::config_missing, "");
    RunConfig config;
    Failure f = failure(RunFault::config_malformed, "");
    // A folder, a pipe or a device holds no configuration to read.
    if (opened == OpenStatus::not_regular) {
        f.config = ConfigStatus::read_error;
        return f;
    }
    f.config = read_run_config(file.get(), &config, &f.config_problem);
    if (f.config != ConfigStatus::ok) return f;
    return config;
}

// Reads on to the end of the samples, each section into the estimator as soon as it is read.
// The estimator's buffers come with the first section, so a file too short for one never asks
// for them; when they cannot be had, the rest of the file is only counted. More threads share the
// same work out (parallel_pass.h) with the same results; one thread, or threads whose buffers
// cannot be had, read it here.
PassResult run_pass(const RunConfig& config, const Plan& plan, SampleStream& stream,
                    std::optional<Estimator>& estimator, unsigned threads) {
    const Window window = config.window;
    const auto n = static_cast<std::uint32_t>(config.nbpoint_section);
    if (threads > 1) {
        if (auto pass = run_parallel_pass(stream, plan.used_lines, window, n, threads, estimator))
            return *pass;
    }
    set_used_lines(stream, plan.used_lines);
    PassResult pass;
    while ((pass.status = next_section(stream)) == SampleStatus::section_ready) {
        if (!estimator) {
            try {
                estimator.emplace(window, n);
            } catch (const std::bad_alloc&) {
                pass.memory_short = true;
                stop_converting(stream);
                continue;
            }
        }
        estimator->add_section(stream.section_v, stream.section_i);
    }
    pass.sections = estimator ? estimator->sections() : 0;
    return pass;
}

// The checks after the pass, then the densities into the analysis. name is the samples' name, in
// the messages and the parameter line.
std::optional<Failure> finish_analysis(const Plan& plan, const SampleStream& stream,
                                       const PassResult& pass,
                                       const std::optional<Estimator>& estimator,
                                       const std::string& name, Analysis& analysis) {
    const RunConfig& config = analysis.config;
    const std::variant<std::int64_t, Failure> checked = check_run(config, plan, stream, pass, name);
    if (const Failure* f = std::get_if<Failure>(&checked)) return *f;
    const std::int64_t m = std::get<std::int64_t>(checked);
    analysis.deltat = stream.deltat;
    analysis.header = {name, config.hanning, static_cast<std::int32_t>(m), config.nbpoint_section};
    analysis.densities = estimator->densities(stream.deltat);
    return std::nullopt;
}

// The pass over the samples and the checks after it, into the analysis.
std::optional<Failure> analyse_samples(std::FILE* samples, const std::string& data_file,
                                       unsigned threads, Analysis& analysis) {
    const RunConfig& config = analysis.config;
    SampleStream stream;
    const std::variant<Plan, Failure> planned = plan_run(config, samples, data_file, stream);
    if (const Failure* f = std::get_if<Failure>(&planned)) return *f;
    const Plan& plan = std::get<Plan>(planned);

    std::optional<Estimator> estimator;
    const PassResult pass = run_pass(config, plan, stream, estimator, threads);
    return finish_analysis(plan, stream, pass, estimator, data_file, analysis);
}

// Sample k of the arrays as a sample line gives it: voltage and current rounded to float.
SampleValues sample_at(const SampleArrays& a, std::int64_t k) {
    if (!a.doubles)
        return {0, static_cast<const float*>(a.voltage)[k],
                static_cast<const float*>(a.current)[k]};
    return {0, static_cast<float>(static_cast<const double*>(a.voltage)[k]),
            static_cast<float>(static_cast<const double*>(a.current)[k])};
}

// What a sample that is no finite float shows as its bad line: its values as given.
BadLine bad_sample(const SampleArrays& a, std::int64_t k) {
    const auto given = [&](const void* values) {
        return a.doubles ? static_cast<const double*>(values)[k]
                         : static_cast<double>(static_cast<const float*>(values)[k]);
    };
    char text[64];
    std::snprintf(text, sizeof text, "%.9g %.9g", given(a.voltage), given(a.current));
    BadLine bad;
    bad.number = static_cast<std::uint64_t>(k) + 1;
    bad.kind = LineVerdict::not_finite;
    bad.start = text;
    return bad;
}

// The sections the plan uses, filled from the arrays and added to the estimator one by one, as a
// pass over a file adds them: a sample that is no finite float ends the conversion as a bad line
// does, and buffers that cannot be had stop it as memory short.
PassResult pass_over_arrays(const RunConfig& config, const Plan& plan, const SampleArrays& a,
                            SampleStream& stream, std::optional<Estimator>& estimator) {
    PassResult pass;
    const std::int64_t n = config.nbpoint_section;
    const std::int64_t used = plan.used_lines == UINT64_MAX
                                  ? a.count
                                  : std::min(a.count, static_cast<std::int64_t>(plan.used_lines));
    std::vector<double> v, i;
    for (std::int64_t first = 0; first + n <= used && !pass.memory_short; first += n) {
        try {
            if (!estimator) {
                v.resize(static_cast<std::size_t>(n));
                i.resize(static_cast<std::size_t>(n));
                estimator.emplace(config.window, static_cast<std::uint32_t>(n));
            }
        } catch (const std::bad_alloc&) {
            pass.memory_short = true;
            continue;
        }
        for (std::int64_t k = 0; k < n; ++k) {
            const SampleValues sample = sample_at(a, first + k);
            if (!std::isfinite(sample.voltage) || !std::isfinite(sample.current)) {
                stream.bad_line = bad_sample(a, first + k);
                pass.sections = estimator->sections();
                return pass;
            }
            v[static_cast<std::size_t>(k)] = static_cast<double>(sample.voltage);
            i[static_cast<std::size_t>(k)] = static_cast<double>(sample.current);
        }
        estimator->add_section(v.data(), i.data());
    }
    pass.sections = estimator ? estimator->sections() : 0;
    return pass;
}

std::variant<Analysis, Failure> analyse_in(const std::string& folder, const FileSystem& files,
                                           unsigned threads) {
    if (!folder.empty() && !files.is_enterable_folder(folder.c_str()))
        return failure(RunFault::folder_not_entered, folder);
    const std::string config_path = path_in(folder, "config_psd.txt");
    std::variant<RunConfig, Failure> loaded = load_config(config_path, files);
    if (Failure* f = std::get_if<Failure>(&loaded)) return *f;

    Analysis analysis;
    analysis.config = std::move(std::get<RunConfig>(loaded));
    const std::string data_file = name_of(analysis.config.data_file);
    const std::string output_file = name_of(analysis.config.output_file);
    const std::string data_path = path_in(folder, data_file);
    analysis.report_path = path_in(folder, output_file);

    File samples;
    const OpenStatus opened = files.open_for_reading(data_path.c_str(), &samples);
    if (opened == OpenStatus::missing || opened == OpenStatus::unreadable)
        return failure(RunFault::samples_missing, data_file);
    // A report written over the record or the configuration would destroy what it is made of.
    if (files.same_file(analysis.report_path.c_str(), data_path.c_str()))
        return failure(RunFault::same_as_samples, output_file, data_file);
    if (files.same_file(analysis.report_path.c_str(), config_path.c_str()))
        return failure(RunFault::same_as_config, output_file, "config_psd.txt");
    // A pipe or a device cannot be measured: an endless one would never end the count.
    if (opened != OpenStatus::ok) return failure(RunFault::samples_unreadable, data_file);

    if (auto f = analyse_samples(samples.get(), data_file, threads, analysis)) return *f;
    return analysis;
}

}  // namespace

std::optional<Failure> write_analysis(const Analysis& analysis, const FileSystem& files) {
    return write_analysis(analysis, analysis.report_path, analysis.config.output_file, files);
}

std::optional<Failure> write_analysis(const Analysis& analysis, const std::string& report_path,
                                      const std::string& output_name, const FileSystem& files) {
    const std::string output_file = name_of(output_name);
    switch (write_report(report_path.c_str(), analysis.header, analysis.deltat,
                         analysis.densities.psd_v.data(), analysis.densities.psd_i.data(), files)) {
        case ReportWriteStatus::written:
            return std::nullopt;
        case ReportWriteStatus::cannot_create:
            return failure(RunFault::report_cannot_create, output_file);
        case ReportWriteStatus::held_open:
            return failure(RunFault::report_held_open, output_file);
        case ReportWriteStatus::write_failed:
            return failure(RunFault::report_write_failed, output_file);
        case ReportWriteStatus::no_reader:
            return failure(RunFault::report_no_reader, output_file);
    }
    return std::nullopt;
}

std::variant<Analysis, Failure> analyse_arrays(const RunConfig& config, const SampleArrays& samples,
                                               float deltat, const std::string& name) {
    try {
        const Plan plan = plan_for(config, deltat);
        SampleStream stream;
        stream.count = static_cast<std::uint64_t>(samples.count);
        stream.deltat = deltat;
        std::optional<Estimator> estimator;
        const PassResult pass = pass_over_arrays(config, plan, samples, stream, estimator);
        Analysis analysis;
        analysis.config = config;
        if (auto f = finish_analysis(plan, stream, pass, estimator, name, analysis)) return *f;
        analysis.header.data_file = config.data_file;
        return analysis;
    } catch (const std::bad_alloc&) {
        return failure(RunFault::out_of_memory, "");
    }
}

std::variant<Analysis, Failure> analyse_folder(const std::string& folder, const FileSystem& files,
                                               unsigned threads) {
    // The read buffer and the section buffers grow on the heap.
    std::variant<Analysis, Failure> result = failure(RunFault::out_of_memory, "");
    try {
        result = analyse_in(folder, files, threads);
    } catch (const std::bad_alloc&) {
    }
    if (Failure* f = std::get_if<Failure>(&result)) f->folder = folder;
    return result;
}

std::optional<Failure> run_psd(const std::string& folder, const FileSystem& files,
                               unsigned threads) {
    std::variant<Analysis, Failure> analysis = analyse_folder(folder, files, threads);
    if (const Failure* f = std::get_if<Failure>(&analysis)) return *f;
    try {
        return write_analysis(std::get<Analysis>(analysis), files);
    } catch (const std::bad_alloc&) {
        return failure(RunFault::out_of_memory, "");
    }
}

}  // namespace psd
