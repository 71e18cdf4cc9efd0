#include <atomic>
#include <cstring>
#include <new>

#include "internal/temporary_file.h"

namespace psd {

namespace {

constexpr std::size_t max_host_length = 32;
// Report names are cut to this many bytes, so that the temporary name stays within the 255 bytes
// that file systems allow: 1 + 64 + 5 + 20 + 1 + 32 + 1 + 6.
constexpr std::size_t max_stem_name = 64;
constexpr std::size_t max_process_digits = 20;  // 2^64 - 1
constexpr std::size_t letter_count = 6;
const char program_mark[] = ".psd-";
const std::size_t program_mark_length = sizeof program_mark - 1;

bool is_letter_or_digit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_host_character(char c) {
    return is_letter_or_digit(c) || c == '-';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The number that text[begin, end) spells, without a leading zero; false when it is none.
bool parse_process(const std::string& text, std::size_t begin, std::size_t end,
                   std::uint64_t* process) {
    if (begin == end || end - begin > max_process_digits || text[begin] == '0') return false;
    std::uint64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *process = value;
    return true;
}

// The start of the run of characters that pass keep and end at end, going back from end.
template <typename Keep>
std::size_t run_start(const std::string& text, std::size_t end, Keep keep) {
    while (end > 0 && keep(text[end - 1]))
        --end;
    return end;
}

// The name of the temporary file that an interrupting signal removes, kept where the handler can
// read it without allocating; a lock-free atomic flag says whether it holds one.
char held_name[4096];
std::atomic<bool> holding{false};

}  // namespace

std::string host_in_name(const std::string& host) {
    std::string kept = host.substr(0, max_host_length);
    for (char& c : kept) {
        if (!is_host_character(c)) c = '-';
    }
    return kept;
}

std::string this_host() {
    return host_in_name(raw_host_name());
}

TemporaryNames::TemporaryNames(const std::string& folder, const std::string& name) {
    const std::string host = this_host();
    // Without a machine name the file is still marked as psd's; remove_leftovers then never
    // takes it for one of its own machine's.
    stem_ = folder + "." + name.substr(0, max_stem_name) + program_mark +
            std::to_string(this_process()) + "@" + (host.empty() ? "unknown" : host) + ".";
    // A weak, clock-free mix of the process id, a call counter and a stack address.
    static std::uint64_t calls = 0;
    seed_ = (this_process() << 32) ^ ++calls ^ reinterpret_cast<std::uintptr_t>(this);
}

std::string TemporaryNames::next() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    seed_ += 0x9e3779b97f4a7c15ULL;  // splitmix64
    std::uint64_t bits = seed_;
    bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9ULL;
    bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebULL;
    bits ^= bits >> 31;
    std::string suffix(letter_count, 'A');
    for (char& c : suffix) {
        c = letters[bits % 62];
        bits /= 62;
    }
    return stem_ + suffix;
}

bool parse_temporary_name(const std::string& entry, TemporaryOwner* owner) {
    // Read from the end, where every part has a fixed alphabet: the letters, the host (no '.'
    // or '@'), the process id, then the mark; what is left is the report's name.
    const std::size_t size = entry.size();
    if (size < letter_count + 1) return false;
    const std::size_t letters_start = size - letter_count;
    if (run_start(entry, size, is_letter_or_digit) > letters_start) return false;
    if (entry[letters_start - 1] != '.') return false;
    const std::size_t host_end = letters_start - 1;
    const std::size_t host_start = run_start(entry, host_end, is_host_character);
    if (host_start == host_end || host_end - host_start > max_host_length) return false;
    if (host_start == 0 || entry[host_start - 1] != '@') return false;
    const std::size_t digits_end = host_start - 1;
    const std::size_t digits_start = run_start(entry, digits_end, is_digit);
    std::uint64_t process = 0;
    if (!parse_process(entry, digits_start, digits_end, &process)) return false;
    if (digits_start < program_mark_length + 2) return false;  // "." and one byte of name
    const std::size_t mark = digits_start - program_mark_length;
    if (entry.compare(mark, program_mark_length, program_mark) != 0) return false;
    if (entry[0] != '.' || mark - 1 > max_stem_name) return false;
    owner->process = process;
    owner->host = entry.substr(host_start, host_end - host_start);
    return true;
}

void remove_leftovers(const std::string& folder) {
    try {
        const std::string host = this_host();
        if (host.empty()) return;
        const std::uint64_t self = this_process();
        for (const std::string& entry : folder_names(folder)) {
            TemporaryOwner owner;
            if (!parse_temporary_name(entry, &owner) || owner.host != host) continue;
            // A process id of this process is one reused since: that file may still be in use
            // for all this run can tell, and it is kept.
            if (owner.process == self || !process_is_gone(owner.process)) continue;
            remove_file(folder + entry);
        }
    } catch (const std::bad_alloc&) {
        // Nothing removed is nothing lost: the run needs none of this.
    }
}

void hold_temporary(const char* name) {
    holding.store(false);
    const std::size_t length = std::strlen(name);
    if (length >= sizeof held_name) return;
    std::memcpy(held_name, name, length + 1);
    holding.store(true);
}

void release_temporary() {
    holding.store(false);
}

const char* held_temporary() {
    return holding.load() ? held_name : nullptr;
}

}  // namespace psd
