// Decimal text to double, exactly as the C library's strtod converts it.
//
// Sample files hold tens of millions of numbers, so the plain decimal forms recorders write
// (sign, digits, point, exponent) are converted on a fast path: one IEEE operation where that is
// provably exact, otherwise a 128-bit product with a table of powers of five that settles the
// correctly rounded double whenever it is not within a whisker of a halfway point, for any
// exponent. Every other form (hexadecimal, inf, nan, those rare near-ties, values of more than 19
// digits that the product cannot bound) goes to std::from_chars or strtod itself, the reference.
#pragma once

namespace psd {

// A number read from the start of a text: where strtod would end it and its value. end is nullptr
// when the text does not start with a plain decimal number the fast path settles (strtod must).
struct ShortDecimal {
    const char* end;
    double value;
};

// The fast path over terminated text: reads sign, digits, optional point and exponent at p.
// REQUIRES: the text from p contains a white space byte, after which text_padding (text_scan.h)
// more bytes are readable.
ShortDecimal convert_short_decimal(const char* p);

// Converts the longest numeric prefix of [first, last) exactly as strtod would (0 when none); like
// strtod on a C string, the conversion stops at a NUL byte.
// REQUIRES: [first, last) a valid range; it need not be NUL-terminated.
double convert_number(const char* first, const char* last);

// Whether the whole token [first, last) is a number as strtod reads one (12, -1.5e-3, +7, .5,
// 0x1p-3, inf, nan; not 1,5 or 1.5V or 2e or -); on true *value holds its double, as strtod gives.
// REQUIRES: [first, last) a valid range without white space; value not null.
bool convert_token(const char* first, const char* last, double* value);

// convert_token over padded text, faster: the token is read on the fast path in one pass.
// REQUIRES: [first, last) a token without white space; as for convert_short_decimal at first (a
// white space byte at or after last, then text_padding readable bytes); value not null.
bool convert_padded_token(const char* first, const char* last, double* value);

}  // namespace psd
