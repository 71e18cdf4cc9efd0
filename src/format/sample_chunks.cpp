#include "format/sample_chunks.h"

#include <algorithm>
#include <cstring>

#include "format/text_scan.h"
#include "internal/sample_pass.h"
#include "platform/read_at.h"

namespace psd {

namespace {

// Every sample line holds three tokens and two blanks between them, and all but the file's last
// end in a line feed: lines that start in size bytes are at most one per six bytes, and one more.
std::size_t most_samples(std::size_t size) {
    return size / 6 + 2;
}

// Sets what the text read says: its length, its own bytes, and where the file ends. Whole-word
// reads may pass the text's end by text_padding bytes, which are set here.
void place(Chunk& chunk, std::size_t chunk_size, std::size_t asked, std::size_t got) {
    std::memset(chunk.text.get() + got, 0, text_padding);
    chunk.length = got;
    chunk.own_end = 1 + (got > 1 ? std::min(chunk_size, got - 1) : 0);
    chunk.file_end = got < asked;
    chunk.last = chunk.file_end && got <= chunk_size + 1;
}

// Where the line after the first `lines` lines from `first` starts; each of those ends in a line
// feed.
std::size_t after_lines(const Chunk& chunk, std::size_t first, std::uint32_t lines) {
    const char* p = chunk.text.get() + first;
    const char* const end = chunk.text.get() + chunk.length;
    for (std::uint32_t j = 0; j < lines; ++j)
        p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))) + 1;
    return static_cast<std::size_t>(p - chunk.text.get());
}

// The first line that starts among the chunk's own bytes: where the byte before is a line feed.
std::size_t first_line_of(const Chunk& chunk) {
    const char* const text = chunk.text.get();
    if (chunk.own_end == 1 || text[0] == '\n') return 1;
    const void* found = std::memchr(text + 1, '\n', chunk.own_end - 1);
    if (found == nullptr) return chunk.own_end;
    return static_cast<std::size_t>(static_cast<const char*>(found) - text) + 1;
}

// Keeps the line at p, which ends at last, as the chunk's bad line.
void stop_at(Chunk& chunk, std::size_t p, std::size_t last, LineVerdict kind) {
    chunk.bad = true;
    chunk.next_line = p;
    chunk.bad_end = last;
    chunk.kind = kind;
}

}  // namespace

Chunk::Chunk(std::size_t size)
    : text(new char[1 + size + chunk_overhang + text_padding]),
      voltage(new float[most_samples(size)]),
      current(new float[most_samples(size)]) {}

ChunkSource::ChunkSource(SampleStream& s, std::size_t chunk_size, bool positional)
    : s_(s), chunk_size_(chunk_size), positional_(positional && can_read_at(s.file)) {
    // Lines 1 and 2 are taken, so the byte before chunk 0 is the last of line 2.
    const std::int64_t position = positional_ ? stream_position(s.file) : -1;
    if (position < 0) positional_ = false;
    const std::size_t unread = s.len - s.pos;
    if (positional_) {
        origin_ = static_cast<std::uint64_t>(position) - unread - 1;
    } else {
        // Room for every later spill, so that reading in order allocates nothing.
        spill_.reserve(std::max(unread + 1, chunk_overhang + 1));
        spill_.assign(s.buffer.data() + s.pos - 1, s.buffer.data() + s.len);
    }
}

void ChunkSource::read(std::uint64_t k, Chunk& chunk) {
    chunk.index = k;
    chunk.read_error = false;
    if (!positional_) return read_in_order(k, chunk);
    const std::size_t asked = 1 + chunk_size_ + chunk_overhang;
    const std::int64_t got = read_at(s_.file, origin_ + k * chunk_size_, chunk.text.get(), asked);
    if (got < 0) {
        chunk.read_error = true;
        place(chunk, chunk_size_, asked, 0);
        return;
    }
    place(chunk, chunk_size_, asked, static_cast<std::size_t>(got));
}

void ChunkSource::read_in_order(std::uint64_t k, Chunk& chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return next_ == k; });
    const std::size_t asked = 1 + chunk_size_ + chunk_overhang;
    std::size_t got = std::min(spill_.size(), asked);
    std::memcpy(chunk.text.get(), spill_.data(), got);
    if (got < asked && !s_.at_end && !failed_) {
        const std::size_t wanted = asked - got;
        const std::size_t read = std::fread(chunk.text.get() + got, 1, wanted, s_.file);
        got += read;
        if (read < wanted) {
            s_.at_end = true;
            failed_ = std::ferror(s_.file) != 0;
        }
    }
    chunk.read_error = failed_;
    place(chunk, chunk_size_, asked, failed_ ? 0 : got);
    // The next chunk's text starts chunk_size bytes on, with what is left of the spill after it.
    if (spill_.size() > got) {
        spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(chunk_size_));
    } else {
        const std::size_t from = std::min(chunk_size_, got);
        spill_.assign(chunk.text.get() + from, chunk.text.get() + got);
    }
    ++next_;
    lock.unlock();
    turn_.notify_all();
}

void convert_chunk(Chunk& chunk) {
    chunk.converted = true;
    chunk.bad = false;
    chunk.samples = 0;
    const char* const text = chunk.text.get();
    std::size_t p = chunk.first_line = first_line_of(chunk);
    // The lines that end in the text; the rest of it waits for a line feed that is not there.
    std::size_t lines_end = chunk.length;
    while (lines_end > p && text[lines_end - 1] != '\n')
        --lines_end;
    while (p < chunk.own_end) {
        SampleValues values;
        std::size_t last = 0;
        LineVerdict verdict = LineVerdict::sample;
        if (p < lines_end) {
            last = static_cast<std::size_t>(
                read_fed_line(text + p, text + lines_end, &values, &verdict) - text);
        } else {
            // No line feed in the text after p: the file's last line, or more than a line may
            // hold (the overhang alone is longer).
            last = chunk.length;
            verdict = chunk.file_end ? read_sample_line(text + p, text + last, false, &values)
                                     : LineVerdict::too_long;
        }
        if (verdict != LineVerdict::sample) return stop_at(chunk, p, last, verdict);
        chunk.voltage[chunk.samples] = values.voltage;
        chunk.current[chunk.samples] = values.current;
        ++chunk.samples;
        p = last + (last < chunk.length ? 1 : 0);
    }
    chunk.next_line = p;
}

void count_chunk(Chunk& chunk) {
    chunk.converted = false;
    const char* const own = chunk.text.get() + 1;
    const char* const end = chunk.text.get() + chunk.own_end;
    chunk.piece = count_piece(own, end);
    chunk.blank = is_blank_text(own, end);
}

ChunkSequencer::ChunkSequencer(SampleStream& s, std::uint64_t used_lines, std::size_t chunk_size)
    : s_(s), chunk_size_(chunk_size) {
    s_.used_lines = used_lines;
    if (s_.lines_done >= used_lines) begin_counting(s_);
}

std::uint32_t ChunkSequencer::take(const Chunk& chunk) {
    if (chunk.read_error) {
        finish(SampleStatus::read_error);
        return 0;
    }
    const std::uint32_t used = s_.converting ? take_samples(chunk) : 0;
    if (!s_.converting) count_own(chunk);
    // As the one-thread pass, which checks the count where blocks end.
    const std::uint64_t so_far = s_.converting ? s_.lines_done : s_.counted.reads;
    if (so_far > s_.max_count) {
        s_.count = so_far;
        finish(SampleStatus::too_many_lines);
    } else if (chunk.last) {
        if (s_.converting) {
            s_.count = s_.lines_done;
        } else {
            end_counting(s_);
        }
        finish(s_.count > s_.max_count ? SampleStatus::too_many_lines : SampleStatus::ok);
    }
    return used;
}

std::uint32_t ChunkSequencer::take_samples(const Chunk& chunk) {
    const std::uint64_t base = chunk.index * chunk_size_;
    if (chunk.first_line == chunk.own_end) return 0;  // inside a line that started earlier
    const std::uint32_t used = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(chunk.samples, s_.used_lines - s_.lines_done));
    s_.lines_done += used;
    if (s_.lines_done == s_.used_lines) {
        // The used lines are in: whatever follows is only counted, a bad line too.
        resume_ = base + (used == chunk.samples ? chunk.next_line
                                                : after_lines(chunk, chunk.first_line, used));
        begin_counting(s_);
    } else if (chunk.bad) {
        const char* const text = chunk.text.get();
        keep_bad_line(s_, text + chunk.next_line, text + chunk.bad_end, chunk.kind);
        resume_ = base + chunk.next_line;
        begin_counting(s_);
    } else {
        resume_ = base + chunk.next_line;
    }
    return used;
}

void ChunkSequencer::count_own(const Chunk& chunk) {
    const std::uint64_t base = chunk.index * chunk_size_;
    const std::uint64_t own_end = base + chunk.own_end;
    if (resume_ >= own_end) return;  // counting goes on in a later chunk
    if (resume_ <= base + 1 && !chunk.converted) {
        append_piece(s_.counted, chunk.piece);
        if (s_.tail_blank) s_.tail_blank = chunk.blank;
    } else {
        // Counting starts inside this chunk, or the chunk was converted before the sequencer
        // stopped converting: its text is counted here.
        const char* const from = chunk.text.get() + (std::max(resume_, base + 1) - base);
        count_text(s_, from, chunk.text.get() + chunk.own_end);
    }
    resume_ = own_end;
}

void ChunkSequencer::finish(SampleStatus status) {
    done_ = true;
    status_ = status;
}

void ChunkSequencer::stop_converting(std::uint64_t lines) {
    if (s_.converting) begin_counting(s_);
    if (s_.bad_line.number > lines) {
        s_.bad_line = BadLine{};
        s_.tail_blank = false;
        s_.blank_tail = 0;
    }
}

}  // namespace psd
