// Fuzz target: the one pass over a sample file, and the number conversion, on arbitrary bytes.
//
// convert_number must equal strtod on a NUL-terminated copy of its range; the range is handed over
// in a buffer of exactly its length, so a read past its end is caught by AddressSanitizer.
// The one pass must agree with the reference's lines: the sample-line rule on lines 1 and 2 and
// on every used line, the count, and every sample it hands over in sections.
// Files of any size are read in blocks, so the block size is varied too. (The whole-record reading
// of tests/reference is held against the C library's own readers by the tests.)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "format/decimal.h"
#include "format/sample_stream.h"
#include "reference/plain_text.h"

namespace {

namespace reference = psd::reference;
using namespace psd;
using reference::require;

void check_conversion(const std::uint8_t* data, std::size_t length) {
    std::unique_ptr<char[]> exact(new char[length > 0 ? length : 1]);
    if (length > 0) std::memcpy(exact.get(), data, length);
    double converted = convert_number(exact.get(), exact.get() + length);
    double expected = reference::c_strtod(std::string(exact.get(), length));
    require(reference::same(converted, expected), "convert_number differs from strtod");
}

std::FILE* open_bytes(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return std::fopen("/dev/null", "r");
    return fmemopen(const_cast<std::uint8_t*>(data), size, "r");
}

// The one pass over the same bytes: its verdicts on lines 1 and 2, its count, the first used line
// that is not a sample line and every sample of every section must be the reference's.
void check_stream(const std::uint8_t* data, std::size_t size, std::size_t block_size) {
    const std::string text = reference::without_byte_order_mark(data, size);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t count = reference::line_pieces(bytes, text.size()).size();
    const std::vector<reference::Line> lines = reference::lines(text);
    const std::uint32_t n = 2u << (size % 3);
    const std::uint64_t used_choices[3] = {0, UINT64_MAX, std::uint64_t{4} * n};
    const std::uint64_t used = used_choices[(size / 3) % 3];

    std::FILE* stream = open_bytes(data, size);
    if (stream == nullptr) return;
    SampleStream s;
    SampleStatus status =
        start_samples(s, stream, n, block_size == 0 ? stream_block_size : block_size);
    double first[3];
    double second[3];
    if (count < 2) {
        require(status == SampleStatus::fewer_than_two, "the pass misses a file of one piece");
    } else if (!reference::sample_line(lines[0], first) || !reference::finite_as_floats(first)) {
        require(status == SampleStatus::first_lines_bad && s.bad_line.number == 1,
                "the pass misses a bad line 1");
    } else if (!reference::sample_line(lines[1], second) || !reference::finite_as_floats(second)) {
        require(status == SampleStatus::first_lines_bad && s.bad_line.number == 2,
                "the pass misses a bad line 2");
    } else {
        require(status == SampleStatus::ok, "the pass refuses good lines 1 and 2");
        require(reference::same(s.deltat, static_cast<float>(second[0] - first[0])),
                "the pass's interval differs from strtod of the first two time stamps");
        set_used_lines(s, used);
        std::vector<double> voltage;
        std::vector<double> current;
        while ((status = next_section(s)) == SampleStatus::section_ready) {
            voltage.insert(voltage.end(), s.section_v, s.section_v + n);
            current.insert(current.end(), s.section_i, s.section_i + n);
        }
        require(status == SampleStatus::ok, "the pass fails on a memory stream");
        require(s.count == count, "the pass's count differs from the 198-character pieces");
        std::size_t good = 0;
        double values[3];
        while (good < lines.size() && good < used && reference::sample_line(lines[good], values) &&
               reference::finite_as_floats(values)) {
            if (good < voltage.size()) {
                require(reference::same(voltage[good],
                                        static_cast<double>(static_cast<float>(values[1]))),
                        "a voltage of the pass differs from strtod");
                require(reference::same(current[good],
                                        static_cast<double>(static_cast<float>(values[2]))),
                        "a current of the pass differs from strtod");
            }
            ++good;
        }
        const bool bad_found = good < lines.size() && good < used;
        require(s.bad_line.number == (bad_found ? good + 1 : 0),
                "the pass's first bad line differs from the reference's");
        require(voltage.size() == (used == 0 ? 0 : good / n * n),
                "the pass hands over other sections than the whole ones of good lines");
    }
    (void)std::fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_conversion(data, size);
    if (size > 1) check_conversion(data, data[size - 1] % size);

    // Most inputs are read in small blocks, which put block boundaries inside lines, CR LF pairs
    // and tokens and keep an execution fast; one in eight uses the real block size.
    const std::size_t block_sizes[8] = {1, 2, 3, 7, 64, 199, 4096, 0};
    check_stream(data, size, block_sizes[size % 8]);
    return 0;
}
