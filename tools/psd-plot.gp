# Draws a report written by psd, with gnuplot alone, so that it runs the same on Linux and on
# Windows:
#
#     gnuplot -c psd-plot.gp REPORT OUTPUT.png|OUTPUT.svg [ASSIGNMENTS [BINS]]
#
# Three panels on one logarithmic frequency axis: PSD_v, PSD_i and Zn, each shaded with the
# confidence band of a single bin (each bin's own: the Nyquist bin's is wider, bin 1 with the Hann
# window has none, being lowered by each section's mean removal; Zn's follows the coherence of
# voltage and current, thin for a coherent cell), and the Rsn0 band marked on Zn.
#
# This script reads nothing from the report: psd-summary owns the report format, and everything
# drawn here comes from `psd-summary --plot-data REPORT`, whose first line is gnuplot assignments
# (the bands, the Rsn0 band, the bin counts, the frequency span and the title) and whose other
# lines are the bins, "frequency PSD_v PSD_i Zn density_low density_high zn_low zn_high kind",
# each bin with its own band factors and its kind (0 regular, 1 biased, 2 fewer degrees of
# freedom: the special bins, marked with open circles). ASSIGNMENTS is that first line and BINS a file
# of the bins (that output file as it is will do: its assignments line is skipped); tools/psd-plot
# passes both. Without them this script runs psd-summary itself, found on PATH or named by
# PSD_SUMMARY (given with -e "PSD_SUMMARY='...'" before -c), and keeps the bins in a datablock, so
# it needs no file of its own. A report psd-summary refuses is not drawn (exit status 1), and
# without psd-summary nothing can be drawn (exit status 1 too).
#
# On POSIX systems tools/psd-plot wraps this script with checks of its arguments and messages.

if (ARGC < 2) {
    print "usage: gnuplot -c psd-plot.gp REPORT OUTPUT.png|OUTPUT.svg [ASSIGNMENTS [BINS]]"
    exit status 2
}
report = ARG1
output = ARG2
have_assignments = ARGC >= 3 && strlen(ARG3) > 0
have_bins_file = ARGC >= 4 && strlen(ARG4) > 0
width = 1000
height = 900

# --- What psd-summary says about the report. NaN stands for a figure it could not give.
level = NaN
density_low = NaN
density_high = NaN
zn_low = NaN
zn_high = NaN
rsn0_low = NaN
rsn0_high = NaN
rsn0 = NaN
rsn0_lower = NaN
rsn0_upper = NaN
coherence = NaN
zn_model = 'none'
bins = 0
usable_v = 0
usable_i = 0
usable_zn = 0
f_low = NaN
f_high = NaN
title = ''

assignments = have_assignments ? ARG3 : ''
if (!have_assignments || !have_bins_file) {
    summary = exists("PSD_SUMMARY") ? PSD_SUMMARY : "psd-summary"
    command = sprintf('"%s" --plot-data "%s"', summary, report)
    # cmd.exe drops the first and the last quote of a command line that starts with one, so on
    # Windows (the only builds with the windows terminal) the whole line gets one more pair.
    if (strstrt(GPVAL_TERMINALS, 'windows') > 0) {
        command = '"' . command . '"'
    }
    plot_data = system(command)
    summary_status = GPVAL_SYSTEM_ERRNO
    if (strlen(plot_data) == 0) {
        # psd-summary ends with 1 for a report it refuses, and has said why on stderr; with no
        # output and any other status it could not be run at all, and there is nothing to draw.
        if (summary_status == 1) {
            exit status 1
        }
        print sprintf("psd-plot: psd-summary ('%s') could not be run, and nothing can be " . \
            "drawn without it: it reads the report. Put psd-summary (built and installed " . \
            "with psd) on the PATH, or name it with -e \"PSD_SUMMARY='...'\" before -c", summary)
        exit status 1
    }
    newline = strstrt(plot_data, "\n")
    if (newline == 0 && summary_status != 0) {
        print sprintf("psd-plot: psd-summary ('%s') failed on '%s' (exit status %d)", \
            summary, report, summary_status)
        exit status 1
    }
    if (!have_assignments) {
        assignments = newline > 0 ? plot_data[1:newline - 1] : plot_data
    }
}
# A line read through a text pipe on Windows may keep its carriage return.
if (strlen(assignments) > 0 && assignments[strlen(assignments):] eq "\r") {
    assignments = assignments[1:strlen(assignments) - 1]
}
eval assignments

if (!have_bins_file) {
    # The bins go to a datablock, plotted like a file but kept in memory.
    set print $bins
    if (newline > 0) {
        print plot_data[newline + 1:]
    }
    unset print
    # gnuplot keeps only the first 1 MiB of a command's output, and psd-summary, cut off, fails
    # to write the rest (and says so): the bins of a long report (nbpoint_section = 65536 and
    # up) are then read again through a pipe, which has no such limit.
    if (summary_status != 0 || |$bins| != bins) {
        print "psd-plot: note: psd-summary's output is longer than gnuplot's system() keeps, " . \
            "so the bins are read again through a pipe"
        set table $bins
        plot '< ' . command every ::1 using (strcol(1)):(strcol(2)):(strcol(3)):(strcol(4)): \
            (strcol(5)):(strcol(6)):(strcol(7)):(strcol(8)):(strcol(9)) with table
        unset table
        if (|$bins| != bins) {
            print sprintf("psd-plot: psd-summary ('%s') gave %d of the %d bins of '%s'", \
                summary, |$bins|, bins, report)
            exit status 1
        }
    }
}
have_bands = density_low == density_low

# --- Where the bins are read from: the datablock, or BINS less its assignments line if it has one.
if (have_bins_file) {
    source = ARG4
    # gnuplot reads a name starting with '<' as a command to run and one starting with '$' as a
    # datablock: such a file name gets a ./ prefix to stay a file.
    if (source[1:1] eq '<' || source[1:1] eq '$') {
        source = './' . source
    }
    first_word = ''
    stats source every ::0::0 using (first_word = strcol(1), 0) nooutput
    skip = first_word eq 'level' ? 1 : 0
} else {
    source = '$bins'
    skip = 0
}

if (f_low != f_low || f_high != f_high) {
    print sprintf("psd-plot: '%s' has no bin with a positive, finite frequency to plot", report)
    exit status 1
}

# Finite and positive only: a zero, infinite or NaN value (a report prints them where a density
# is 0) is left out, and its neighbours are joined, as a spectrum reads best.
usable(x) = (x > 0 && x < 1e308) ? x : NaN
# A bin left out is skipped rather than breaking the line, so its neighbours are joined.
set datafile missing NaN

# --- Page.
extension = strlen(output) >= 4 ? output[strlen(output) - 3:strlen(output)] : ''
set encoding utf8
if (extension eq '.svg' || extension eq '.SVG' || extension eq '.Svg') {
    set terminal svg size width, height fixed enhanced font 'sans,11' background rgb 'white'
} else {
    # The cairo terminal's antialiased text reads far better than the older libgd one.
    if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {
        set terminal pngcairo size width, height enhanced font 'sans,11' background rgb 'white'
    } else {
        set terminal png size width, height enhanced background rgb 'white'
    }
}
set output output

# Whole decades at both ends, like gnuplot's own logarithmic y axes, so that even a report
# spanning less than a decade gets labelled frequencies. The small slack keeps a bin lying
# exactly on a power of ten from adding a decade through rounding in log10.
x_low = 10.0**floor(log10(f_low) + 1e-9)
x_high = 10.0**ceil(log10(f_high) - 1e-9)
if (x_high <= x_low) {
    x_high = x_low * 10
}

# Up to this many bins each one is marked with a point, so that a short report (N = 2 gives a
# single bin) still shows something; beyond it the markers would only clutter the lines.
marked = bins <= 64
percent = sprintf('%g %%', 100 * level)

set multiplot title title noenhanced font ',12'
# Fixed margins keep the panels' plot areas exactly above each other.
set lmargin at screen 0.11
set rmargin at screen 0.95
set logscale xy
set xrange [x_low:x_high]
set mxtics 10
# One style for every logarithmic axis: powers of ten.
set format x '10^{%L}'
set format y '10^{%L}'
set grid xtics mxtics ytics linetype 1 linecolor rgb '#d4d4d4' dashtype solid, \
    linetype 1 linecolor rgb '#ececec' dashtype solid
set key top right opaque box linecolor rgb '#bbbbbb' samplen 2 noenhanced
set style fill transparent solid 0.25 noborder
# The Rsn0 band, shaded lightly behind every panel so that the eye finds it on each.
if (rsn0_low == rsn0_low) {
    set object 1 rectangle from rsn0_low, graph 0 to rsn0_high, graph 1 behind \
        fillcolor rgb '#f3e6b8' fillstyle solid 0.6 noborder
}

# draw(count, column, colour, name, low, high): one curve with its band.
# A curve with no usable bin (a constant current gives PSD_i all zero) is still named, over a
# fixed axis without tics, so that the picture says what is missing instead of failing.
panel_top = 0.92
panel_height = 0.265
gap = 0.02

do for [p = 1:3] {
    column = p + 1
    n = p == 1 ? usable_v : (p == 2 ? usable_i : usable_zn)
    colour = p == 1 ? '#1f4e9c' : (p == 2 ? '#c0392b' : '#1e7b45')
    name = p == 1 ? 'PSD_v' : (p == 2 ? 'PSD_i' : 'Zn')
    low = p == 3 ? zn_low : density_low
    high = p == 3 ? zn_high : density_high
    set tmargin at screen panel_top - (p - 1) * (panel_height + gap)
    set bmargin at screen panel_top - (p - 1) * (panel_height + gap) - panel_height
    if (p == 1) { set ylabel 'PSD_v (V²/Hz)' noenhanced }
    if (p == 2) { set ylabel 'PSD_i (A²/Hz)' noenhanced }
    if (p == 3) { set ylabel 'Zn (Ω)' noenhanced }
    if (p < 3) {
        set format x ''
        unset xlabel
    } else {
        set format x '10^{%L}'
        set xlabel 'frequency (Hz)'
    }
    unset label 1
    unset arrow 1
    if (p == 3 && rsn0 == rsn0) {
        set arrow 1 from rsn0_low, rsn0 to rsn0_high, rsn0 nohead linecolor rgb '#8a6d00' \
            linewidth 3 front
        set label 1 sprintf('Rsn0 = %.4g Ω', rsn0) at rsn0_high, rsn0 offset 1, 1 \
            textcolor rgb '#8a6d00' front noenhanced
    }
    rsn0_title = (p == 3 && rsn0_low == rsn0_low) ? 'Rsn0 band' : ''
    # Each bin's own band: columns 5 and 6 for the densities, 7 and 8 for Zn.
    low_column = p == 3 ? 7 : 5
    band_title = sprintf('%s band of one bin', percent) . \
        ((p == 3 && zn_model eq 'coherent') ? ' (coherent V and I)' : '')
    special_title = p == 1 ? 'special bin: own band or none' : ''
    if (p == 3 && rsn0_lower == rsn0_lower) {
        set label 3 sprintf('%s: %.4g to %.4g Ω', percent, rsn0_lower, rsn0_upper) \
            at rsn0_high, rsn0 offset 1, -1 textcolor rgb '#8a6d00' front noenhanced
    } else {
        unset label 3
    }
    if (n == 0) {
        set yrange [1:10]
        unset ytics
        set label 2 sprintf('%s: no bin to draw', name) at graph 0.5, 0.5 center noenhanced
        unset key
        plot NaN notitle
        unset label 2
        set key
        set ytics
        set autoscale y
    } else {
        if (have_bands) {
            plot source every ::skip \
                     using 1:(usable(column(column)) * column(low_column)): \
                         (usable(column(column)) * column(low_column + 1)) \
                     with filledcurves fillcolor rgb colour title band_title, \
                 source every ::skip using 1:(usable(column(column))) \
                     with linespoints pointtype 7 pointsize (marked ? 0.6 : 0) \
                     linecolor rgb colour linewidth 1.5 title name, \
                 source every ::skip using 1:(column(9) > 0 ? usable(column(column)) : NaN) \
                     with points pointtype 6 pointsize 1.4 linecolor rgb '#333333' \
                     title special_title, \
                 keyentry with boxes fillcolor rgb '#f3e6b8' fillstyle solid 0.6 \
                     title rsn0_title
        } else {
            plot source every ::skip using 1:(usable(column(column))) \
                     with linespoints pointtype 7 pointsize (marked ? 0.6 : 0) \
                     linecolor rgb colour linewidth 1.5 title name, \
                 keyentry with boxes fillcolor rgb '#f3e6b8' fillstyle solid 0.6 \
                     title rsn0_title
        }
    }
}
unset multiplot
set output
