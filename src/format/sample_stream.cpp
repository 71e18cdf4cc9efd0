#include "format/sample_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "format/decimal.h"
#include "format/text_scan.h"
#include "internal/sample_pass.h"

namespace psd {

namespace {

// Room at the front of the buffer for a line that runs past the end of a block. A line kept
// there is at most read_limit characters: a longer one cannot be a sample line and is counted
// in place instead.
constexpr std::size_t carry_room = read_limit + 1;

// Small blocks (the tests' way of putting block ends everywhere) still share a buffer of this
// size, so the unread text is not moved for every byte read.
constexpr std::size_t least_buffer = std::size_t{1} << 16;

// The read buffer the last pass of this thread left for the next.
thread_local std::vector<char> spare_buffer;

}  // namespace

void begin_counting(SampleStream& s) {
    s.converting = false;
    s.counted = LineCount{};
    s.counted.reads = s.lines_done;
    // A blank line where conversion stops may be the first of blank lines a file ends with.
    s.tail_blank = s.bad_line.blank && s.bad_line.number == s.lines_done + 1;
}

void count_text(SampleStream& s, const char* first, const char* end) {
    if (s.tail_blank) s.tail_blank = is_blank_text(first, end);
    count_lines(s.counted, first, end);
}

void end_counting(SampleStream& s) {
    s.count = final_line_count(s.counted);
    if (s.tail_blank) s.blank_tail = s.bad_line.number;
}

void keep_bad_line(SampleStream& s, const char* first, const char* last, LineVerdict kind) {
    std::size_t length = static_cast<std::size_t>(last - first);
    s.bad_line.number = s.lines_done + 1;
    s.bad_line.kind = kind;
    s.bad_line.blank = kind == LineVerdict::not_sample && is_blank_text(first, last);
    s.bad_line.start.assign(first, std::min(length, bad_line_shown));
}

namespace {

// Reads the next block after the unread text, first moving that text to the front of the buffer
// when the block would not fit behind it. Returns false on a read error.
bool read_block(SampleStream& s) {
    char* const buffer = s.buffer.data();
    if (s.len + s.block_size > s.buffer.size() - text_padding) {
        const std::size_t kept = s.len - s.pos;
        if (kept != 0 && s.pos != 0) std::memmove(buffer, buffer + s.pos, kept);
        s.pos = 0;
        s.len = kept;
    }
    if (s.at_end) return true;
    const std::size_t got = std::fread(buffer + s.len, 1, s.block_size, s.file);
    s.len += got;
    if (got < s.block_size) {
        s.at_end = true;
        if (std::ferror(s.file)) return false;
    }
    return true;
}

// The time stamp of the sample line [first, last), whose first token is already known to be a
// whole number: the fast path checks it without converting it.
double time_stamp(const char* first, const char* last) {
    const char* const token = skip_space(first, last);
    double time = 0;
    convert_token(token, find_space(token, last), &time);
    return time;
}

// Keeps the time stamp of the line [first, last) that completes a section. Only these are
// converted after line 2 (unless every time stamp is kept), for the readers that follow the
// record's time.
void note_section_end(SampleStream& s, const char* first, const char* last) {
    s.last_time = time_stamp(first, last);
}

// Makes room for at least one more sample in the section buffers.
bool grow_sections(SampleStream& s) {
    const std::size_t wanted = next_section_capacity(s.capacity, s.n);
    std::unique_ptr<double[]> voltage(new (std::nothrow) double[wanted]);
    std::unique_ptr<double[]> current(new (std::nothrow) double[wanted]);
    std::unique_ptr<double[]> times(s.keep_times ? new (std::nothrow) double[wanted] : nullptr);
    if (!voltage || !current || (s.keep_times && !times)) return false;
    std::copy(s.voltage.get(), s.voltage.get() + s.filled, voltage.get());
    std::copy(s.current.get(), s.current.get() + s.filled, current.get());
    if (s.keep_times) std::copy(s.times.get(), s.times.get() + s.filled, times.get());
    s.voltage = std::move(voltage);
    s.current = std::move(current);
    s.times = std::move(times);
    s.capacity = wanted;
    s.section_v = s.voltage.get();
    s.section_i = s.current.get();
    s.section_t = s.times.get();
    return true;
}

// Stores a sample in the section in progress; the caller has made room for it.
void store(SampleStream& s, const SampleValues& values) {
    s.voltage[s.filled] = static_cast<double>(values.voltage);
    s.current[s.filled] = static_cast<double>(values.current);
    if (s.keep_times) s.times[s.filled] = values.time;
    ++s.filled;
}

enum class LineRead { sample, bad, none, read_error };

// Reads and checks the next line, wherever blocks end; none at the end of the file. Used for the
// first two lines only: one slow step per line.
LineRead read_line(SampleStream& s, SampleValues* values) {
    for (;;) {
        const char* const first = s.buffer.data() + s.pos;
        const char* const end = s.buffer.data() + s.len;
        const void* found = std::memchr(first, '\n', static_cast<std::size_t>(end - first));
        if (found != nullptr || s.at_end) {
            if (found == nullptr && first == end) return LineRead::none;
            const char* const last = found ? static_cast<const char*>(found) : end;
            const LineVerdict verdict = read_sample_line(first, last, found != nullptr, values);
            if (verdict != LineVerdict::sample) {
                keep_bad_line(s, first, last, verdict);
                return LineRead::bad;
            }
            s.pos = static_cast<std::size_t>(last - s.buffer.data()) + (found ? 1 : 0);
            ++s.lines_done;
            return LineRead::sample;
        }
        if (s.len - s.pos > read_limit) {
            keep_bad_line(s, first, end, LineVerdict::too_long);
            return LineRead::bad;
        }
        if (!read_block(s)) return LineRead::read_error;
    }
}

// Counts from the current position to the end of the file, or until the count passes limit.
SampleStatus count_until(SampleStream& s, std::uint64_t limit) {
    for (;;) {
        const char* const first = s.buffer.data() + s.pos;
        const char* const end = s.buffer.data() + s.len;
        count_text(s, first, end);
        s.pos = s.len;
        if (s.counted.reads > limit || s.at_end) break;
        if (!read_block(s)) return SampleStatus::read_error;
    }
    if (s.at_end) {
        end_counting(s);
    } else {
        s.count = s.counted.reads;
    }
    return s.count > s.max_count ? SampleStatus::too_many_lines : SampleStatus::ok;
}

// How converting lines into the section in progress ended.
enum class Converted {
    section,   // a section is whole
    stop,      // conversion ends: the used lines are in, a bad line, or no memory
    more,      // the lines at hand are done; more text is needed
    too_many,  // the count went past max_count
};

// Ends the section in progress when it is whole, with the time stamp of its last line
// [first, last).
bool section_whole(SampleStream& s, const char* first, const char* last) {
    if (s.filled != s.n) return false;
    note_section_end(s, first, last);
    s.filled = 0;
    return true;
}

// Converts the whole lines in [pos, lines_end) into the section in progress. This is the loop
// every used line of a record goes through: a plain sample line is checked and converted in one
// pass, anything else by the full rule.
Converted convert_lines(SampleStream& s, std::size_t lines_end) {
    char* const buffer = s.buffer.data();
    while (s.pos < lines_end) {
        if (s.lines_done == s.used_lines) return Converted::stop;
        if (s.filled == s.capacity && !grow_sections(s)) {
            s.out_of_memory = true;
            return Converted::stop;
        }
        const char* const first = buffer + s.pos;
        SampleValues values;
        LineVerdict verdict;
        const char* const last = read_fed_line(first, buffer + lines_end, &values, &verdict);
        if (verdict != LineVerdict::sample) {
            keep_bad_line(s, first, last, verdict);
            return Converted::stop;
        }
        // The plain form only checks the time stamp; the full rule's value is the same number.
        if (s.keep_times) values.time = time_stamp(first, last);
        store(s, values);
        ++s.lines_done;
        s.pos = static_cast<std::size_t>(last + 1 - buffer);
        if (section_whole(s, first, last)) return Converted::section;
    }
    return s.lines_done == s.used_lines ? Converted::stop : Converted::more;
}

// Converts the last line of a file, [first, end), that no line feed ends.
Converted convert_last_line(SampleStream& s, const char* first, const char* end) {
    if (s.filled == s.capacity && !grow_sections(s)) {
        s.out_of_memory = true;
        return Converted::stop;
    }
    SampleValues values;
    const LineVerdict verdict = read_sample_line(first, end, false, &values);
    if (verdict != LineVerdict::sample) {
        keep_bad_line(s, first, end, verdict);
        return Converted::stop;
    }
    store(s, values);
    ++s.lines_done;
    s.pos = s.len;
    if (s.lines_done > s.max_count) return Converted::too_many;
    return section_whole(s, first, end) ? Converted::section : Converted::more;
}

}  // namespace

ReadBuffer::~ReadBuffer() {
    if (bytes_.size() > spare_buffer.size()) spare_buffer.swap(bytes_);
}

void ReadBuffer::ensure(std::size_t size) {
    if (bytes_.size() >= size) return;
    if (spare_buffer.size() >= size) {
        bytes_.swap(spare_buffer);
        return;
    }
    bytes_.assign(size, '\0');
}

SampleStatus start_samples(SampleStream& s, std::FILE* file, std::uint32_t n,
                           std::size_t block_size, std::uint64_t max_count) {
    ReadBuffer kept = std::move(s.buffer);
    s = SampleStream{};
    s.buffer = std::move(kept);
    s.file = file;
    s.block_size = block_size;
    s.max_count = max_count;
    s.n = n;
    // Defined bytes throughout (zeros, or an earlier pass's text), so the padding that whole-word
    // reads may touch is always defined.
    s.buffer.ensure(std::max(carry_room + block_size, least_buffer) + text_padding);

    // A UTF-8 byte order mark is no text of line 1.
    while (s.len < 3 && !s.at_end) {
        if (!read_block(s)) return SampleStatus::read_error;
    }
    if (s.len >= 3 && std::memcmp(s.buffer.data(), "\xEF\xBB\xBF", 3) == 0) s.pos = 3;

    for (SampleValues& values : s.first_two) {
        switch (read_line(s, &values)) {
            case LineRead::sample:
                continue;
            case LineRead::none:
                s.count = s.lines_done;
                return SampleStatus::fewer_than_two;
            case LineRead::read_error:
                return SampleStatus::read_error;
            case LineRead::bad:
                break;
        }
        // Whether the file has two reads decides between the two messages; no more is counted.
        begin_counting(s);
        const SampleStatus counted = count_until(s, 1);
        if (counted == SampleStatus::read_error) return counted;
        return s.count < 2 ? SampleStatus::fewer_than_two : SampleStatus::first_lines_bad;
    }
    s.deltat = static_cast<float>(s.first_two[1].time - s.first_two[0].time);
    s.first_time = s.first_two[0].time;
    return SampleStatus::ok;
}

void keep_time_stamps(SampleStream& s) {
    s.keep_times = true;
}

void set_used_lines(SampleStream& s, std::uint64_t lines) {
    s.used_lines = lines;
    if (lines == 0) {
        begin_counting(s);
        return;
    }
    if (!grow_sections(s)) {
        s.out_of_memory = true;
        begin_counting(s);
        return;
    }
    store(s, s.first_two[0]);
    store(s, s.first_two[1]);
}

SampleStatus next_section(SampleStream& s) {
    while (s.converting) {
        if (s.filled == s.n) {
            // Lines 1 and 2 made a whole section of 2.
            s.last_time = s.first_two[1].time;
            s.filled = 0;
            return SampleStatus::section_ready;
        }
        // The lines that end in this buffer; the text after the last line feed waits for more.
        std::size_t lines_end = s.len;
        while (lines_end > s.pos && s.buffer[lines_end - 1] != '\n')
            --lines_end;
        const Converted converted = convert_lines(s, lines_end);
        if (converted == Converted::section) return SampleStatus::section_ready;
        if (converted == Converted::stop) break;
        if (s.lines_done > s.max_count) return SampleStatus::too_many_lines;
        const char* const first = s.buffer.data() + s.pos;
        const char* const end = s.buffer.data() + s.len;
        if (s.at_end) {
            if (first == end) {
                s.count = s.lines_done;
                return SampleStatus::ok;
            }
            const Converted last = convert_last_line(s, first, end);
            if (last == Converted::section) return SampleStatus::section_ready;
            if (last == Converted::stop) break;
            if (last == Converted::too_many) return SampleStatus::too_many_lines;
            continue;
        }
        if (static_cast<std::size_t>(end - first) > read_limit) {
            keep_bad_line(s, first, end, LineVerdict::too_long);
            break;
        }
        if (!read_block(s)) return SampleStatus::read_error;
    }
    if (s.converting) begin_counting(s);
    return count_until(s, s.max_count);
}

void stop_converting(SampleStream& s) {
    if (s.converting) begin_counting(s);
}

}  // namespace psd
