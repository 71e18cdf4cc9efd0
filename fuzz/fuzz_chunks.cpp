// Fuzz target: the sample pass shared out among threads, on arbitrary bytes, against the pass of
// one thread.
//
// Whatever the chunk ends, the number of threads and the way chunks are read (by offset, or in
// order from the stream), the parallel pass must leave the one-thread pass's status, count, first
// bad line (number, kind, text), blank tail, number of sections and densities. The one-thread pass
// is itself held against the reference's lines by fuzz_samples, so together they hold the parallel
// pass against the sample-line rule. Small chunks put chunk ends inside lines, CR LF pairs and
// tokens; a small line limit makes the count stop early.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "format/sample_stream.h"
#include "platform/file.h"
#include "reference/plain_text.h"
#include "run/parallel_pass.h"
#include "spectrum/estimator.h"

namespace {

namespace reference = psd::reference;
using namespace psd;
using reference::require;

// The bytes as a file with a descriptor, so that chunks can be read by offset as from a disk.
File file_of(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("samples", 0);
    if (fd < 0) return File(nullptr);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    // The stream reads from the descriptor's offset, which the writes left at the end.
    const bool whole = written == size && lseek(fd, 0, SEEK_SET) == 0;
    std::FILE* stream = whole ? fdopen(fd, "rb") : nullptr;
    if (stream == nullptr) (void)close(fd);
    return File(stream);
}

struct Parameters {
    std::uint32_t n;
    std::uint64_t used;
    std::uint64_t max_count;
    PassLayout layout;
};

// What a pass leaves for a run's checks and its report.
struct Outcome {
    SampleStatus status = SampleStatus::ok;
    std::uint64_t count = 0;
    BadLine bad_line;
    std::uint64_t blank_tail = 0;
    std::int64_t sections = 0;
    std::vector<float> densities;  // voltage then current
};

void keep_results(const SampleStream& s, const std::optional<Estimator>& estimator,
                  Outcome& outcome) {
    outcome.count = s.count;
    outcome.bad_line = s.bad_line;
    outcome.blank_tail = s.blank_tail;
    outcome.sections = estimator ? estimator->sections() : 0;
    if (outcome.sections == 0) return;
    const Densities d = estimator->densities(s.deltat);
    outcome.densities = d.psd_v;
    outcome.densities.insert(outcome.densities.end(), d.psd_i.begin(), d.psd_i.end());
}

// One pass over the bytes: by one thread as the driver runs it (threads 0), else shared out among
// that many.
std::optional<Outcome> pass(const std::uint8_t* data, std::size_t size, const Parameters& p,
                            unsigned threads) {
    File file = file_of(data, size);
    if (!file) return std::nullopt;
    Outcome outcome;
    SampleStream s;
    outcome.status = start_samples(s, file.get(), p.n, stream_block_size, p.max_count);
    if (outcome.status != SampleStatus::ok) return outcome;
    std::optional<Estimator> estimator;
    if (threads == 0) {
        set_used_lines(s, p.used);
        while ((outcome.status = next_section(s)) == SampleStatus::section_ready) {
            if (!estimator) estimator.emplace(Window::hann, p.n);
            estimator->add_section(s.section_v, s.section_i);
        }
    } else {
        const std::optional<PassResult> result =
            run_parallel_pass(s, p.used, Window::hann, p.n, threads, estimator, p.layout);
        if (!result) return std::nullopt;
        require(!result->memory_short, "the parallel pass ran short of memory on a small file");
        require(result->sections == (estimator ? estimator->sections() : 0),
                "the parallel pass counts other sections than the estimator took");
        outcome.status = result->status;
    }
    keep_results(s, estimator, outcome);
    return outcome;
}

void require_same(const Outcome& got, const Outcome& expected) {
    require(got.status == expected.status, "the parallel pass ends with another status");
    // Past the line limit the run is refused for that alone; the count and a bad line are only
    // where each pass happened to stop reading.
    if (expected.status == SampleStatus::too_many_lines) return;
    require(got.count == expected.count, "the parallel pass counts other lines");
    require(got.bad_line.number == expected.bad_line.number &&
                got.bad_line.kind == expected.bad_line.kind &&
                got.bad_line.blank == expected.bad_line.blank &&
                got.bad_line.start == expected.bad_line.start,
            "the parallel pass finds another first bad line");
    require(got.blank_tail == expected.blank_tail, "the parallel pass sees another blank tail");
    require(got.sections == expected.sections, "the parallel pass takes other sections");
    require(got.densities.size() == expected.densities.size(),
            "the parallel pass gives another number of densities");
    for (std::size_t k = 0; k < got.densities.size(); ++k)
        require(reference::same(got.densities[k], expected.densities[k]),
                "a density of the parallel pass differs from the one-thread pass's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The run's shape comes from the size, so that every input is a sample file as it stands and
    // fuzz_samples' inputs seed this target too.
    const std::uint32_t n = 2u << (size % 3);
    const std::uint64_t used_choices[3] = {0, UINT64_MAX, std::uint64_t{3} * n};
    const std::size_t chunk_sizes[7] = {1, 2, 3, 7, 64, 199, 4096};
    Parameters p;
    p.n = n;
    p.used = used_choices[(size / 3) % 3];
    p.max_count = size % 5 == 0 ? 2 + size % 11 : max_sample_lines;
    p.layout = PassLayout{chunk_sizes[(size / 9) % 7], (size / 63) % 2 == 0};
    const unsigned threads = 1 + static_cast<unsigned>((size / 126) % 3);

    const std::optional<Outcome> expected = pass(data, size, p, 0);
    if (!expected) return 0;
    const std::optional<Outcome> got = pass(data, size, p, threads);
    if (got) require_same(*got, *expected);
    return 0;
}
