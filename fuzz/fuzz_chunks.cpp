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

#include "format/sample_stream.h"
#include "pass_check/pass_outcome.h"
#include "platform/file.h"
#include "reference/plain_text.h"

namespace {

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The run's shape comes from the size, so that every input is a sample file as it stands and
    // fuzz_samples' inputs seed this target too.
    const std::uint32_t n = 2u << (size % 3);
    const std::uint64_t used_choices[3] = {0, UINT64_MAX, std::uint64_t{3} * n};
    const std::uint64_t used = used_choices[(size / 3) % 3];
    const std::uint64_t max_count = size % 5 == 0 ? 2 + size % 11 : max_sample_lines;
    const std::size_t chunk_sizes[7] = {1, 2, 3, 7, 64, 199, 4096};
    const PassLayout layout{chunk_sizes[(size / 9) % 7], (size / 63) % 2 == 0};
    const unsigned threads = 1 + static_cast<unsigned>((size / 126) % 3);

    File one = file_of(data, size);
    File shared = file_of(data, size);
    if (!one || !shared) return 0;
    const check::PassOutcome expected =
        check::one_thread_pass(one.get(), n, used, max_count, stream_block_size);
    const std::optional<check::PassOutcome> got =
        check::shared_pass(shared.get(), n, used, max_count, stream_block_size, threads, layout);
    if (got) {
        const std::string difference = check::first_difference(*got, expected);
        const std::string property =
            "the parallel pass differs from the one-thread pass: " + difference;
        require(difference.empty(), property.c_str());
    }
    return 0;
}
