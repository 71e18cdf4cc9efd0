// Reference readings of text, for the fuzz targets and the tests.
//
// Each function here reads the same bytes as one of psd's readers, but is written apart from
// src/ and as plainly as possible (whole strings, no buffers, no cleverness), so that a fuzz target
// can hold the real reader against it: the two must agree on every input. None of this is linked
// into psd itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace psd::reference {

// The pieces that a line reader with a 199-byte buffer returns from text read in text mode: each
// CR LF is first folded into one LF, then every piece is at most 198 characters and ends after a
// line feed. A piece may hold NUL bytes.
std::vector<std::string> line_pieces(const std::uint8_t* data, std::size_t size);

// The white-space-delimited tokens of the text, as "%s" reads them in the C locale (NUL bytes
// and bytes above 127 belong to tokens).
std::vector<std::string> tokens(const std::uint8_t* data, std::size_t size);

// strtod on a NUL-terminated copy of text: so the conversion stops at an embedded NUL.
double c_strtod(const std::string& text);

// The sampling interval from the first two pieces: their strtod values subtracted in double and
// rounded once to float.
float interval(const std::string& first, const std::string& second);

// The samples that the loader must produce from the text: count triples of tokens (time stamp,
// voltage, current), each value strtod of its token rounded to float; once the tokens run out,
// each column keeps its last token (an empty one, converting to 0, before the first).
void samples(const std::vector<std::string>& words, std::int32_t count, std::vector<float>& voltage,
             std::vector<float>& current);

// The text a sample reader sees: the bytes without a UTF-8 byte order mark at their start.
std::string without_byte_order_mark(const std::uint8_t* data, std::size_t size);

// A line of text: its characters without the line feed, and whether a line feed ended it.
struct Line {
    std::string text;
    bool line_feed;
};
std::vector<Line> lines(const std::string& text);

// Whether the line is a sample line: fewer than 198 characters (a CR just before the line feed
// not counted), exactly three white-space-delimited tokens, each read whole by strtod (so no NUL
// byte in it). On true values[0..2] hold strtod of the three tokens.
bool sample_line(const Line& line, double values[3]);

// Whether a sample line's voltage and current, values[1] and values[2], are finite once rounded
// to float: a run refuses the others.
bool finite_as_floats(const double values[3]);

// Whether the line holds nothing but white space in fewer than 198 characters.
bool blank_line(const Line& line);

// True when both are NaN or both have the same bits.
bool same(double a, double b);
bool same(float a, float b);

// The configuration as "%s %d %d %d %s\n" scans it, with what a strict reader needs to know.
struct ScannedConfig {
    bool complete = false;             // all five fields were scanned
    std::string names[2];              // data_file, output_file (NUL bytes kept)
    long long numbers[3] = {0, 0, 0};  // saturated at +-10^17
    bool in_range = true;              // every number fits 32 bits
    bool whole = true;                 // every number is followed by white space or the end
};
ScannedConfig scan_config(const std::uint8_t* data, std::size_t size);

// Ends the fuzz run with the property's description when a property does not hold: libFuzzer
// then saves the input as a crash artifact.
inline void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}

}  // namespace psd::reference
