#include "pass_check/pass_outcome.h"

#include "reference/plain_text.h"
#include "spectrum/estimator.h"

namespace psd::check {

namespace {

void keep_results(const SampleStream& s, const std::optional<Estimator>& estimator,
                  PassOutcome& outcome) {
    outcome.count = s.count;
    outcome.bad_line = s.bad_line;
    outcome.blank_tail = s.blank_tail;
    outcome.sections = estimator ? estimator->sections() : 0;
    if (outcome.sections == 0) return;
    const Densities d = estimator->densities(s.deltat);
    outcome.densities = d.psd_v;
    outcome.densities.insert(outcome.densities.end(), d.psd_i.begin(), d.psd_i.end());
}

}  // namespace

PassOutcome one_thread_pass(std::FILE* file, std::uint32_t n, std::uint64_t used,
                            std::uint64_t max_count, std::size_t block_size) {
    PassOutcome outcome;
    SampleStream s;
    outcome.status = start_samples(s, file, n, block_size, max_count);
    if (outcome.status != SampleStatus::ok) return outcome;
    set_used_lines(s, used);
    std::optional<Estimator> estimator;
    while ((outcome.status = next_section(s)) == SampleStatus::section_ready) {
        if (!estimator) estimator.emplace(Window::hann, n);
        estimator->add_section(s.section_v, s.section_i);
    }
    keep_results(s, estimator, outcome);
    return outcome;
}

std::optional<PassOutcome> shared_pass(std::FILE* file, std::uint32_t n, std::uint64_t used,
                                       std::uint64_t max_count, std::size_t block_size,
                                       unsigned threads, const PassLayout& layout) {
    PassOutcome outcome;
    SampleStream s;
    outcome.status = start_samples(s, file, n, block_size, max_count);
    if (outcome.status != SampleStatus::ok) return outcome;
    std::optional<Estimator> estimator;
    const std::optional<PassResult> pass =
        run_parallel_pass(s, used, Window::hann, n, threads, estimator, layout);
    if (!pass) return std::nullopt;
    if (pass->memory_short) outcome.fault = "the shared pass ran short of memory";
    if (pass->sections != (estimator ? estimator->sections() : 0))
        outcome.fault = "the shared pass counts other sections than its estimator took";
    outcome.status = pass->status;
    keep_results(s, estimator, outcome);
    return outcome;
}

std::string first_difference(const PassOutcome& got, const PassOutcome& expected) {
    if (!got.fault.empty()) return got.fault;
    if (got.status != expected.status) return "another status";
    // Past the line limit the count and a bad line are only where each pass stopped reading.
    if (expected.status == SampleStatus::too_many_lines) return "";
    if (got.count != expected.count) return "another count of lines";
    const BadLine& a = got.bad_line;
    const BadLine& b = expected.bad_line;
    if (a.number != b.number || a.kind != b.kind || a.blank != b.blank || a.start != b.start)
        return "another first bad line";
    if (got.blank_tail != expected.blank_tail) return "another blank tail";
    if (got.sections != expected.sections) return "other sections";
    if (got.densities.size() != expected.densities.size()) return "another number of densities";
    for (std::size_t k = 0; k < got.densities.size(); ++k)
        if (!reference::same(got.densities[k], expected.densities[k]))
            return "density " + std::to_string(k) + " differs";
    return "";
}

}  // namespace psd::check
