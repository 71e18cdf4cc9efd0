// Fuzz target: the decimal conversion on arbitrary bytes, against strtod on the same text.
//
// convert_number must give strtod's value of the whole input (as a NUL-terminated copy: strtod
// stops at a NUL byte); convert_token must accept the input exactly when strtod reads all of it,
// with the same value; and for every white-space-separated token, convert_token and
// convert_padded_token must agree with strtod's end pointer and value, and convert_short_decimal,
// when it settles a number, must end it where strtod does with the same bits. Ranges are handed
// over in buffers of exactly their length, so a read past their end is caught by
// AddressSanitizer; the padded text is padded with digits, so a scan that runs past the white
// space that ends a number shows up as a wrong value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "format/decimal.h"
#include "format/text_scan.h"
#include "reference/plain_text.h"

namespace {

namespace reference = psd::reference;
using namespace psd;
using reference::require;

// strtod on a NUL-terminated copy of [first, last): its value and how many bytes it read.
double strtod_of(const char* first, const char* last, std::size_t* read) {
    const std::string text(first, last);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    *read = static_cast<std::size_t>(end - text.c_str());
    return value;
}

// A token is a number for strtod when it reads all of it (a NUL byte stops it early).
void check_token(const char* first, const char* last, const char* padded_first) {
    std::size_t read = 0;
    const double expected = strtod_of(first, last, &read);
    const std::size_t size = static_cast<std::size_t>(last - first);
    const bool whole = size > 0 && read == size;

    std::unique_ptr<char[]> exact(new char[size > 0 ? size : 1]);
    if (size > 0) std::memcpy(exact.get(), first, size);
    double value = 0.0;
    const bool accepted = convert_token(exact.get(), exact.get() + size, &value);
    require(accepted == whole, "convert_token accepts what strtod does not read whole, or not");
    require(!whole || reference::same(value, expected), "convert_token differs from strtod");

    value = 0.0;
    const bool padded = convert_padded_token(padded_first, padded_first + size, &value);
    require(padded == whole, "convert_padded_token accepts what strtod does not read whole");
    require(!whole || reference::same(value, expected), "convert_padded_token differs from strtod");

    const ShortDecimal fast = convert_short_decimal(padded_first);
    if (fast.end != nullptr) {
        require(static_cast<std::size_t>(fast.end - padded_first) == read,
                "convert_short_decimal ends a number elsewhere than strtod");
        require(reference::same(fast.value, expected), "convert_short_decimal differs from strtod");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);

    // The whole input as one range.
    std::unique_ptr<char[]> exact(new char[size > 0 ? size : 1]);
    if (size > 0) std::memcpy(exact.get(), text, size);
    std::size_t read = 0;
    const double expected = strtod_of(text, text + size, &read);
    require(reference::same(convert_number(exact.get(), exact.get() + size), expected),
            "convert_number differs from strtod");
    double value = 0.0;
    const bool whole = size > 0 && read == size;
    require(convert_token(exact.get(), exact.get() + size, &value) == whole,
            "convert_token accepts what strtod does not read whole, or not");
    require(!whole || reference::same(value, expected), "convert_token differs from strtod");

    // The input as the sample reader holds it: a blank after it, then padding.
    std::unique_ptr<char[]> padded(new char[size + 1 + text_padding]);
    if (size > 0) std::memcpy(padded.get(), text, size);
    padded[size] = ' ';
    std::memset(padded.get() + size + 1, '9', text_padding);
    const char* const end = padded.get() + size;
    for (const char* p = skip_space(padded.get(), end); p != end; p = skip_space(p, end)) {
        const char* const stop = find_space(p, end);
        check_token(text + (p - padded.get()), text + (stop - padded.get()), p);
        p = stop;
    }
    return 0;
}
