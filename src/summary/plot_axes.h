// The logarithmic axes of the plot: a range that fits the values drawn without whole empty
// decades of padding, and labelled tick marks enough to read a value off every axis, however
// few decades it spans (a white-noise Zn spans less than one, where powers of ten alone would
// leave the axis unlabelled). Worked out here, so that the gnuplot script only sets them.
#pragma once

#include <string>
#include <vector>

namespace psd {

struct LogAxis {
    double low = 0, high = 0;  // the range
    // gnuplot's tic list: ("label" value, ...), minor tics as ("" value 1); marks, the same tics
    // unlabelled, for a panel that shares the axis of the one below it.
    std::string tics, marks;
    std::vector<double> labelled;  // the values that carry a label, increasing
};

// An axis over [lo, hi] widened by margin decades at both ends, labelled as densely as max_labels
// allows: at 1, 1.2, 1.5, 2, 2.5, 3, ... 9, at 1, 1.5, 2, 3, 5 and 7, at 1, 2 and 5, or at 1 and 3
// times the powers of ten, or at the powers, or at
// every second, third, fifth or tenth power. Labels read as plain numbers when all lie within 0.01
// to 1000, else as powers of ten in gnuplot's enhanced text ("10^{-12}", "2·10^{-12}"). REQUIRES: 0
// < lo <= hi, both finite; max_labels >= 3. headroom is the share of the axis left free above hi
// for the key (0 for none). REQUIRES: 0 <= headroom < 1.
LogAxis log_axis(double lo, double hi, double margin, double headroom, int max_labels);

}  // namespace psd
