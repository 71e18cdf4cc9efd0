# Draws a report written by psd, with gnuplot alone, so that it runs the same on Linux and on
# Windows:
#
#     gnuplot -c psd-plot.gp REPORT OUTPUT.png|OUTPUT.svg [ASSIGNMENTS [BINS [OPTIONS]]]
#
# With the sample file, the record over time on top: V(t) and I(t), each column of the picture
# the least and greatest sample of its part of the record, with the fitted trend when there is
# drift (and the drift named). Below, three panels on one logarithmic frequency axis: PSD_v, PSD_i
# and Zn, each shaded with the confidence band of a single bin (each bin's own: the Nyquist bin's
# is wider, bin 1 with the Hann window has none, being lowered by each section's mean removal;
# Zn's follows the coherence of voltage and current, thin for a coherent cell), each slope drawn
# over the band it was fitted on with its value, the Rsn0 band and Rsn0 marked, Rn as a line on
# Zn, and the bins above 0.95 of the Nyquist frequency shaded as unreliable. The title is a
# caption: data file, sampling interval, sections, window and trend removed.
#
# This script reads nothing from the report and works nothing out: everything drawn comes from
# `psd-summary --plot-data REPORT`, whose first line is gnuplot assignments (the figures, the
# axes' ranges and labelled tics, the units, the title), whose next lines are the bins,
# "frequency PSD_v PSD_i Zn density_low density_high zn_low zn_high kind smooth_v smooth_i
# smooth_zn", and whose second block (after two blank lines) is the record's trace, "t_first
# t_last v_min v_max i_min i_max v_trend_first v_trend_last i_trend_first i_trend_last".
# ASSIGNMENTS is that first line and BINS a file of the rest (that output file as it is will do:
# its assignments line is skipped); tools/psd-plot passes both. Without them this script runs
# psd-summary itself, found on PATH or named by PSD_SUMMARY (given with -e "PSD_SUMMARY='...'"
# before -c), with OPTIONS (such as "--detrend linear --smooth") when given, and keeps its output
# in datablocks, so it needs no file of its own. A report psd-summary refuses is not drawn (exit
# status 1), and without psd-summary nothing can be drawn (exit status 1 too).
#
# On POSIX systems tools/psd-plot wraps this script with checks of its arguments and messages.

if (ARGC < 2) {
    print "usage: gnuplot -c psd-plot.gp REPORT OUTPUT.png|OUTPUT.svg [ASSIGNMENTS [BINS [OPTIONS]]]"
    exit status 2
}
report = ARG1
output = ARG2
have_assignments = ARGC >= 3 && strlen(ARG3) > 0
have_bins_file = ARGC >= 4 && strlen(ARG4) > 0
summary_options = ARGC >= 5 ? ARG5 : ''
width = 1000

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
rn = NaN
slope_low = NaN
slope_high = NaN
slope_v = NaN
slope_i = NaN
slope_zn = NaN
bins = 0
usable_v = 0
usable_i = 0
usable_zn = 0
f_low = NaN
f_high = NaN
reliable_top = NaN
smooth = 0
x_low = NaN
x_tics = ''
x_marks = ''
y_v_low = NaN
y_v_tics = ''
y_i_low = NaN
y_i_tics = ''
y_zn_low = NaN
y_zn_tics = ''
trace = 0
t_scale = 1
t_unit = 's'
v_scale = 1
v_unit = 'V'
i_scale = 1
i_unit = 'A'
detrend = 'none'
drift = 0
drift_text = ''
title = ''

assignments = have_assignments ? ARG3 : ''
if (!have_assignments || !have_bins_file) {
    summary = exists("PSD_SUMMARY") ? PSD_SUMMARY : "psd-summary"
    command = sprintf('"%s" --plot-data %s "%s"', summary, summary_options, report)
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

# --- Where the bins (block 0) and the record's trace (block 1) are read from: datablocks, or
# BINS less its assignments line if it has one.
bins_skip = 0
trace_source = '$bins'
trace_index = 1
if (!have_bins_file) {
    # psd-summary's output goes to a datablock, plotted like a file but kept in memory.
    set print $bins
    if (newline > 0) {
        print plot_data[newline + 1:]
    }
    unset print
    # gnuplot keeps only the first 1 MiB of a command's output, and psd-summary, cut off, fails
    # to write the rest (and says so): the bins of a long report (nbpoint_section = 65536 and
    # up) and the trace are then read again through a pipe, which has no such limit.
    if (summary_status != 0 || |$bins| != bins + (trace > 0 ? trace + 2 : 0)) {
        print "psd-plot: note: psd-summary's output is longer than gnuplot's system() keeps, " . \
            "so the bins are read again through a pipe"
        set table $bins
        plot '< ' . command index 0 every ::1 using (strcol(1)):(strcol(2)):(strcol(3)): \
            (strcol(4)):(strcol(5)):(strcol(6)):(strcol(7)):(strcol(8)):(strcol(9)): \
            (strcol(10)):(strcol(11)):(strcol(12)) with table
        unset table
        if (|$bins| != bins) {
            print sprintf("psd-plot: psd-summary ('%s') gave %d of the %d bins of '%s'", \
                summary, |$bins|, bins, report)
            exit status 1
        }
        if (trace > 0) {
            set table $trace
            plot '< ' . command index 1 using (strcol(1)):(strcol(2)):(strcol(3)):(strcol(4)): \
                (strcol(5)):(strcol(6)):(strcol(7)):(strcol(8)):(strcol(9)):(strcol(10)) \
                with table
            unset table
            trace_source = '$trace'
            trace_index = 0
        }
    }
    source = '$bins'
} else {
    source = ARG4
    # gnuplot reads a name starting with '<' as a command to run and one starting with '$' as a
    # datablock: such a file name gets a ./ prefix to stay a file.
    if (source[1:1] eq '<' || source[1:1] eq '$') {
        source = './' . source
    }
    first_word = ''
    stats source index 0 every ::0::0 using (first_word = strcol(1), 0) nooutput
    bins_skip = first_word eq 'level' ? 1 : 0
    trace_source = source
}
have_bands = density_low == density_low

if (f_low != f_low || f_high != f_high) {
    print sprintf("psd-plot: '%s' has no bin with a positive, finite frequency to plot", report)
    exit status 1
}

# Finite and positive only: a zero, infinite or NaN value (a report prints them where a density
# is 0) is left out, and its neighbours are joined, as a spectrum reads best.
usable(x) = (x > 0 && x < 1e308) ? x : NaN
# A bin left out is skipped rather than breaking the line, so its neighbours are joined.
set datafile missing NaN

# --- Page: the record over time on top when there is one.
timed = trace > 0
height = timed ? 1250 : 900
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

# Up to this many bins each one is marked with a point, so that a short report (N = 2 gives a
# single bin) still shows something; beyond it the markers would only clutter the lines.
marked = bins <= 64
percent = sprintf('%g %%', 100 * level)

set multiplot title title noenhanced font ',12'
# Fixed margins keep the panels' plot areas exactly above each other.
set lmargin at screen 0.11
set rmargin at screen 0.95
set grid xtics mxtics ytics mytics linetype 1 linecolor rgb '#d4d4d4' dashtype solid, \
    linetype 1 linecolor rgb '#ececec' dashtype solid
set key top right opaque box linecolor rgb '#bbbbbb' samplen 2 noenhanced font ',10'
set style fill transparent solid 0.25 noborder
gap = 0.015
# What a record without drift, a report without slope or Rn, or an unsmoothed one leaves out is
# still plotted, in this fully transparent colour: a curve of no usable point would stop gnuplot.
invisible = '#ff000000'

# --- V(t) and I(t): each column's least and greatest sample, and the trend drawn through them
# when there is drift or a trend is removed.
spectra_top = 0.93
if (timed) {
    time_height = 0.11
    show_trend = drift || detrend ne 'none'
    trend_title = detrend eq 'none' ? 'fitted line of each section' : \
        sprintf('fitted %s trend of each section', detrend)
    set autoscale xfix
    set autoscale y
    set format y '%g'
    do for [p = 1:2] {
        top = 0.93 - (p - 1) * (time_height + gap)
        set tmargin at screen top
        set bmargin at screen top - time_height
        colour = p == 1 ? '#1f4e9c' : '#c0392b'
        scale = p == 1 ? v_scale : i_scale
        low = p == 1 ? 3 : 5
        trend = p == 1 ? 7 : 9
        if (p == 1) {
            set ylabel sprintf('V (%s)', v_unit) noenhanced
            set format x ''
            unset xlabel
            # The record's drift, named above it where no curve hides it.
            if (drift) {
                set label 4 drift_text at screen 0.53, screen 0.947 center front \
                    textcolor rgb '#b00000' noenhanced
            }
        } else {
            set ylabel sprintf('I (%s)', i_unit) noenhanced
            set format x '%g'
            set xlabel sprintf('time (%s)', t_unit) noenhanced
            unset label 4
        }
        # The record takes the lower part of the panel, the key the top.
        set autoscale y
        stats trace_source index trace_index using (column(low) * scale) nooutput
        record_low = STATS_min
        stats trace_source index trace_index using (column(low + 1) * scale) nooutput
        record_span = STATS_max > record_low ? STATS_max - record_low : 1
        set yrange [record_low - 0.05 * record_span : STATS_max + 0.35 * record_span]
        set key top left
        plot trace_source index trace_index \
                 using (($1 + $2) / 2 * t_scale):(column(low) * scale):(column(low + 1) * scale) \
                 with filledcurves fillcolor rgb colour notitle, \
             '' index trace_index using (($1 + $2) / 2 * t_scale):(column(low) * scale) \
                 with lines linecolor rgb colour linewidth 0.5 notitle, \
             '' index trace_index using (($1 + $2) / 2 * t_scale):(column(low + 1) * scale) \
                 with lines linecolor rgb colour linewidth 0.5 notitle, \
             '' index trace_index using ($1 * t_scale):(column(trend) * scale): \
                 (($2 - $1) * t_scale):((column(trend + 1) - column(trend)) * scale) \
                 with vectors nohead linecolor rgb (show_trend ? '#111111' : invisible) \
                 linewidth 2 title (show_trend ? trend_title : '')
    }
    unset label 4
    unset xlabel
    spectra_top = 0.93 - 2 * time_height - gap - 0.065
}

# --- The spectra on logarithmic axes whose ranges and labelled tics psd-summary gives.
set logscale xy
set xrange [x_low:x_high]
unset mxtics
unset mytics

# The Rsn0 band, shaded lightly behind every panel so that the eye finds it on each; above 0.95 of
# the Nyquist frequency, where the window's leakage folds back, the bins are shaded as unreliable.
if (rsn0_low == rsn0_low) {
    set object 1 rectangle from rsn0_low, graph 0 to rsn0_high, graph 1 behind \
        fillcolor rgb '#f3e6b8' fillstyle solid 0.6 noborder
}
set object 2 rectangle from reliable_top, graph 0 to x_high, graph 1 behind \
    fillcolor rgb '#dddddd' fillstyle pattern 4 noborder
set samples 400

# slope_line(f, slope, x0, y0, per): the fitted line at f within the slope band, NaN outside it;
# per is 10 for a density, 20 for Zn.
slope_line(f, slope, x0, y0, per) = (f >= slope_low && f <= slope_high) ? \
    10**((y0 + slope * (log10(f) - x0)) / per) : NaN

spectra_height = timed ? 0.175 : 0.265
do for [p = 1:3] {
    column = p + 1
    n = p == 1 ? usable_v : (p == 2 ? usable_i : usable_zn)
    colour = p == 1 ? '#1f4e9c' : (p == 2 ? '#c0392b' : '#1e7b45')
    name = p == 1 ? 'PSD_v' : (p == 2 ? 'PSD_i' : 'Zn')
    top = spectra_top - (p - 1) * (spectra_height + gap)
    set tmargin at screen top
    set bmargin at screen top - spectra_height
    if (p == 1) {
        set ylabel 'PSD_v (V²/Hz)' noenhanced
        eval 'set yrange [' . sprintf('%.17g:%.17g', y_v_low, y_v_high) . ']'
        y_tics = y_v_tics
        slope = slope_v
        slope_x = slope_v_x
        slope_y = slope_v_y
    }
    if (p == 2) {
        set ylabel 'PSD_i (A²/Hz)' noenhanced
        eval 'set yrange [' . sprintf('%.17g:%.17g', y_i_low, y_i_high) . ']'
        y_tics = y_i_tics
        slope = slope_i
        slope_x = slope_i_x
        slope_y = slope_i_y
    }
    if (p == 3) {
        set ylabel 'Zn (Ω)' noenhanced
        eval 'set yrange [' . sprintf('%.17g:%.17g', y_zn_low, y_zn_high) . ']'
        y_tics = y_zn_tics
        slope = slope_zn
        slope_x = slope_zn_x
        slope_y = slope_zn_y
    }
    per = p == 3 ? 20 : 10
    if (strlen(y_tics) > 0) {
        eval 'set ytics ' . y_tics
    }
    # Only the lowest panel labels the frequencies; the others mark the same tics.
    if (p < 3) {
        unset xlabel
        if (strlen(x_marks) > 0) {
            eval 'set xtics ' . x_marks
        }
    } else {
        set xlabel 'frequency (Hz)'
        if (strlen(x_tics) > 0) {
            eval 'set xtics ' . x_tics
        }
    }
    unset arrow 1
    if (p == 3 && rsn0 == rsn0) {
        set arrow 1 from rsn0_low, rsn0 to rsn0_high, rsn0 nohead linecolor rgb '#8a6d00' \
            linewidth 3 front
    }
    rsn0_title = (p == 3 && rsn0_low == rsn0_low) ? 'Rsn0 band' : ''
    if (p == 3 && rsn0 == rsn0) {
        rsn0_title = sprintf('Rsn0 = %.4g Ω', rsn0) . (rsn0_lower == rsn0_lower ? \
            sprintf(' (%s: %.4g to %.4g)', percent, rsn0_lower, rsn0_upper) : '')
    }
    unreliable_title = p == 1 ? 'above 0.95 of Nyquist: unreliable' : ''
    rn_title = (p == 3 && rn == rn) ? sprintf('Rn = %.4g Ω', rn) : ''
    slope_title = slope == slope ? sprintf('slope %.1f dB/decade (%.3g to %.3g Hz)', \
        slope, slope_low, slope_high) : ''
    # psd-summary leaves the top of each panel free for the key, in two columns.
    set key top right maxrows 3
    # Each bin's own band: columns 5 and 6 for the densities, 7 and 8 for Zn.
    low_column = p == 3 ? 7 : 5
    band_title = sprintf('%s band of one bin', percent) . \
        ((p == 3 && zn_model eq 'coherent') ? ' (coherent V and I)' : '')
    special_title = p == 1 ? 'special bin: own band or none' : ''
    smooth_title = smooth ? 'smoothed over 0.1 decade' : ''
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
        plot source index 0 every ::bins_skip \
                 using 1:(have_bands ? usable(column(column)) * column(low_column) : NaN): \
                     (usable(column(column)) * column(low_column + 1)) \
                 with filledcurves fillcolor rgb colour title (have_bands ? band_title : ''), \
             '' index 0 every ::bins_skip using 1:(usable(column(column))) \
                 with linespoints pointtype 7 pointsize (marked ? 0.6 : 0) \
                 linecolor rgb colour linewidth (smooth ? 0.8 : 1.5) title name, \
             '' index 0 every ::bins_skip \
                 using 1:(usable(column(smooth ? column + 8 : column))) \
                 with lines linecolor rgb (smooth ? '#000000' : invisible) linewidth 2 \
                 title smooth_title, \
             '' index 0 every ::bins_skip using 1:(column(9) > 0 ? usable(column(column)) : NaN) \
                 with points pointtype 6 pointsize 1.4 linecolor rgb '#333333' \
                 title special_title, \
             (slope == slope ? slope_line(x, slope, slope_x, slope_y, per) : x) with lines \
                 linecolor rgb (slope == slope ? '#6a1b9a' : invisible) linewidth 2 dashtype 2 \
                 title slope_title, \
             (p == 3 && rn == rn ? rn : x) with lines \
                 linecolor rgb (p == 3 && rn == rn ? '#444444' : invisible) dashtype 3 \
                 linewidth 2 title rn_title, \
             keyentry with boxes fillcolor rgb '#f3e6b8' fillstyle solid 0.6 title rsn0_title, \
             keyentry with boxes fillcolor rgb '#dddddd' fillstyle pattern 4 \
                 title unreliable_title
    }
}
unset multiplot
set output
