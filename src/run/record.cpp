#include "run/record.h"

#include <cstdint>

#include "format/sample_stream.h"
#include "platform/file.h"
#include "run/plan.h"

namespace psd {

namespace {

// The samples handed over at a time: the pass's first section buffers, never grown.
constexpr std::uint32_t record_block = first_section_capacity;

// The failure the pass ended in, in a run's order: the file's faults, a line that is not a sample
// line (the blank lines that end the file excepted), memory.
std::optional<Failure> pass_failure(SampleStatus status, const SampleStream& s,
                                    const std::string& name) {
    if (auto bad = sample_failure(status, s, name)) return bad;
    if (s.bad_line.number != 0 && s.bad_line.number != s.blank_tail) {
        Failure f = failure(RunFault::bad_used_line, name);
        f.bad_line = s.bad_line;
        return f;
    }
    if (s.out_of_memory) return failure(RunFault::out_of_memory, "");
    return std::nullopt;
}

}  // namespace

std::optional<Failure> read_record(const std::string& path, const std::string& name,
                                   const RecordSink& sink) {
    File file;
    const OpenStatus opened = open_for_reading(path.c_str(), &file);
    if (opened == OpenStatus::missing || opened == OpenStatus::unreadable)
        return failure(RunFault::samples_missing, name);
    if (opened != OpenStatus::ok) return failure(RunFault::samples_unreadable, name);

    SampleStream s;
    SampleStatus status = start_samples(s, file.get(), record_block);
    if (status != SampleStatus::ok) return pass_failure(status, s, name);
    keep_time_stamps(s);
    set_used_lines(s, UINT64_MAX);
    bool kept = true;
    while ((status = next_section(s)) == SampleStatus::section_ready) {
        kept = kept && sink(s.section_t, s.section_v, s.section_i, record_block);
        if (!kept) stop_converting(s);
    }
    // The samples after the last whole block, up to the end or to the blank lines that end it.
    if (kept && status == SampleStatus::ok && s.filled > 0)
        kept = sink(s.section_t, s.section_v, s.section_i, s.filled);
    s.out_of_memory = s.out_of_memory || !kept;
    return pass_failure(status, s, name);
}

}  // namespace psd
