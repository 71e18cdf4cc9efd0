// The sample line: what a line of a sample file must be for the run to use it.
//
// A sample line holds exactly three tokens separated by white space (time stamp, voltage,
// current), each of them a whole number as strtod reads one, in fewer than 198 characters (the
// line feed and a CR just before it not counted), with a voltage and a current that are finite
// once rounded to the floats they are stored as: instruments write nan or inf for a dropout, and
// one such value would turn a whole column of the report into nan. Lab software exports with
// commas, comma decimals, headers or extra columns otherwise read as plausible but wrong numbers;
// checking each used line turns that into a message instead of a silently wrong report.
#pragma once

#include <cstddef>

#include "format/line_count.h"

namespace psd {

// The values of one sample line: the time stamp as a double (only the first two are used, for
// the sampling interval), voltage and current rounded to float as they are stored.
struct SampleValues {
    double time;
    float voltage;
    float current;
};

// What the rule says of a line.
enum class LineVerdict {
    sample,      // three whole numbers, voltage and current finite as floats
    not_sample,  // not three tokens, or a token that is not a whole number
    too_long,    // 198 characters or more
    not_finite,  // a voltage or current that is nan, inf or beyond float range
};

// Checks the line [first, last), its text without the line feed; line_feed says whether a line
// feed ended it (a CR just before that line feed then does not count toward the length, but is
// white space among the tokens). On sample *values holds the line's values.
// REQUIRES: [first, last) a readable range; values not null.
LineVerdict read_sample_line(const char* first, const char* last, bool line_feed,
                             SampleValues* values);

// The common form checked and converted in one pass over the text: a line of three plain
// decimal numbers whose voltage and current are finite floats. Returns the line feed that ends the
// line when it is such a sample line (then *values holds its voltage and current; its time stamp,
// only checked, reads as 0), nullptr when read_sample_line must decide.
// REQUIRES: a line feed ends the line at first, and text_padding (text_scan.h) readable bytes
// follow it; values not null.
const char* read_plain_sample_line(const char* first, SampleValues* values);

}  // namespace psd
