#include "run/plan.h"

#include <cmath>
#include <optional>

#include "format/report_file.h"
#include "spectrum/estimator.h"

namespace psd {

namespace {

// N passes when it is 2, 4, 8, ...: doubled in 64 bits, so no 32-bit value loops forever.
bool is_power_of_two(std::int32_t n) {
    std::int64_t p = 2;
    while (p < n)
        p *= 2;
    return p == n;
}

bool interval_ok(float deltat) {
    return deltat > 0.0f && std::isfinite(deltat);
}

// Whether the report of that interval fits 32-bit floats: an interval of 1e-45 s puts every
// frequency at inf, and one at which the density scale rounds to 0 makes every density 0.
bool interval_usable(const RunConfig& config, float deltat) {
    const float scale = Estimator::density_scale(
        config.window, static_cast<std::uint32_t>(config.nbpoint_section), deltat);
    return std::isfinite(nyquist_frequency(deltat)) && scale > 0.0f && std::isfinite(scale);
}

// The Hann window of two points is zero at both: such a run can only give zeros.
bool hann_of_two(const RunConfig& config) {
    return config.window == Window::hann && config.nbpoint_section == 2;
}

}  // namespace

std::optional<Failure> sample_failure(SampleStatus status, const SampleStream& stream,
                                      const std::string& data_file) {
    if (status == SampleStatus::ok || status == SampleStatus::section_ready) return std::nullopt;
    if (status == SampleStatus::read_error) return failure(RunFault::samples_unreadable, data_file);
    Failure f = failure(RunFault::sample_problem, data_file);
    f.samples = status;
    f.bad_line = stream.bad_line;
    return f;
}

Plan plan_for(const RunConfig& config, float deltat) {
    Plan plan;
    const std::int32_t n = config.nbpoint_section;
    plan.power_of_two = is_power_of_two(n);
    const bool analyse = plan.power_of_two && config.nb_section >= 0 && !hann_of_two(config) &&
                         interval_ok(deltat) && interval_usable(config, deltat);
    const std::int64_t asked = std::int64_t{config.nb_section} * n;
    plan.used_lines = !analyse                 ? 0
                      : config.nb_section == 0 ? UINT64_MAX
                                               : static_cast<std::uint64_t>(asked);
    return plan;
}

std::variant<Plan, Failure> plan_run(const RunConfig& config, std::FILE* samples,
                                     const std::string& data_file, SampleStream& stream) {
    const std::int32_t n = config.nbpoint_section;
    // A section length that can never be analysed still groups lines 1 and 2 by two.
    const std::uint32_t grouping = is_power_of_two(n) ? static_cast<std::uint32_t>(n) : 2;
    if (auto bad = sample_failure(start_samples(stream, samples, grouping), stream, data_file))
        return *bad;
    // The checks that do not need the count are known now.
    return plan_for(config, stream.deltat);
}

std::variant<std::int64_t, Failure> check_run(const RunConfig& config, const Plan& plan,
                                              const SampleStream& stream, const PassResult& pass,
                                              const std::string& data_file) {
    if (auto bad = sample_failure(pass.status, stream, data_file)) return *bad;

    // The section checks, sufficiency first. nb_section 0 asks for every whole section there is.
    const std::int32_t n = config.nbpoint_section;
    const std::int64_t count = static_cast<std::int64_t>(stream.count);
    const bool all = config.nb_section == 0 && plan.power_of_two;
    // Blank lines that end an export are no samples: as many sections as fit before them.
    const std::int64_t samples =
        all && stream.blank_tail != 0 ? static_cast<std::int64_t>(stream.blank_tail) - 1 : count;
    const std::int64_t m = all ? samples / n : std::int64_t{config.nb_section};
    if (m * n > count || (all && m == 0)) {
        Failure f = failure(RunFault::too_few_points, data_file);
        f.count = samples;
        f.nb_section = config.nb_section;
        f.n = n;
        return f;
    }
    if (!plan.power_of_two) {
        Failure f = failure(RunFault::not_power_of_two, data_file);
        f.n = n;
        return f;
    }
    // Values the estimator cannot work with, refused after both checks so that those keep their
    // precedence.
    if (config.nb_section < 0) return failure(RunFault::negative_sections, data_file);
    if (hann_of_two(config)) return failure(RunFault::hann_of_two, data_file);
    if (!interval_ok(stream.deltat)) return failure(RunFault::bad_interval, data_file);
    if (!interval_usable(config, stream.deltat)) {
        Failure f = failure(RunFault::unusable_interval, data_file);
        f.deltat = stream.deltat;
        return f;
    }

    // Every line the sections use must have been a sample.
    const BadLine& bad = stream.bad_line;
    if (bad.number != 0 && bad.number <= static_cast<std::uint64_t>(m * n)) {
        Failure f = failure(RunFault::bad_used_line, data_file);
        f.bad_line = bad;
        return f;
    }
    if (pass.memory_short || stream.out_of_memory) return failure(RunFault::out_of_memory, "");
    // Every used line was read as a sample, so every section was analysed; the guard keeps a
    // file that changed under the pass from giving a report of part of it.
    if (pass.sections != m) return failure(RunFault::samples_unreadable, data_file);
    return m;
}

}  // namespace psd
