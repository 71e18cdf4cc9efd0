// The time-domain figures of a record's used samples, gathered a section at a time during the one
// pass over the sample file, so that memory stays that of one section however long the record:
// for each section of each channel its mean, its fitted straight line (the drift found) and the
// moments of what is left once its trend is removed (the mean, or the line or parabola asked
// for); for the record the same moments pooled over the sections, the share of the variance the
// lines hold, and the mean current.
//
// Moments are population moments of the detrended samples: sigma^2 = m2, skewness = m3 / m2^1.5,
// kurtosis = m4 / m2^2 (0 and 3 for a normal record). Pooled over sections, each section's
// residuals have mean 0, so the record's sigma^2 is the mean of its sections' (sections are all N
// long): Rn^2 = sum sigma_V^2 / sum sigma_I^2 over sections.
#pragma once

#include <cstdint>

#include "spectrum/cross_spectrum.h"

namespace psd {

// Sums of powers of residuals that have mean 0.
struct Moments {
    double count = 0, sum2 = 0, sum3 = 0, sum4 = 0;

    void add(double r);
    void merge(const Moments& other);
    // NaN where not defined (no samples; a variance of 0 for the shape figures).
    double variance() const;
    double skewness() const;
    double kurtosis() const;
};

// One section of one channel.
struct ChannelSection {
    double mean = 0;
    double slope = 0;            // of the fitted straight line, per sample
    double centred_squares = 0;  // sum (x - mean)^2
    double line_squares = 0;     // sum (line - mean)^2: what the straight line holds of it
    SectionTrend trend;          // the trend removed (the mean, line or parabola asked for)
    Moments moments;             // of the samples less that trend
};

// The figures of one channel's section x[0..n), detrend the trend removed.
// REQUIRES: n >= 2.
ChannelSection channel_section(const double* x, std::uint32_t n, Detrend detrend);

// One section of the record.
struct SectionFigures {
    std::int64_t index = 0;  // from 0
    // Its first and last samples' times, and its sampling interval, in seconds. The pass gives
    // the last time stamp of each section; the first is derived: the file's first time stamp for
    // section 0, else the previous section's last plus this section's own interval (its N
    // intervals since the previous section's last sample, over N).
    double t_start = 0, t_end = 0, interval = 0;
    ChannelSection v, i;
};

// The record's figures, built a section at a time.
class RecordStats {
  public:
    // REQUIRES: n >= 2.
    RecordStats(Detrend detrend, std::uint32_t n) : detrend_(detrend), n_(n) {}

    // Adds the next section (n samples of each channel; first_time the file's first time stamp,
    // last_time that of the section's last sample) and returns its figures.
    const SectionFigures& add_section(const double* v, const double* i, double first_time,
                                      double last_time);

    const Moments& moments_v() const { return moments_v_; }
    const Moments& moments_i() const { return moments_i_; }
    // The share of the variance about each section's mean that the sections' straight lines hold:
    // sum (line - mean)^2 / sum (x - mean)^2 over sections; NaN for a constant channel.
    double drift_fraction_v() const { return line_v_ / centred_v_; }
    double drift_fraction_i() const { return line_i_ / centred_i_; }
    // The sums over sections of sum (line - mean)^2, what the straight lines hold.
    double line_squares_v() const { return line_v_; }
    double line_squares_i() const { return line_i_; }
    // The mean of the current's samples.
    double mean_i() const { return sum_i_ / count_; }

  private:
    Detrend detrend_;
    std::uint32_t n_;
    std::int64_t sections_ = 0;
    double count_ = 0, sum_i_ = 0;
    double line_v_ = 0, line_i_ = 0, centred_v_ = 0, centred_i_ = 0;
    Moments moments_v_, moments_i_;
    SectionFigures last_;
};

// Mansfeld & Sun's localisation index sigma_I / I_rms, I_rms = sqrt(sigma_I^2 + mean_I^2)
// (Corrosion 55 (1999) 915): 1 whenever the mean current is near 0, whatever the corrosion.
double localisation_index(double sigma_i, double mean_i);

}  // namespace psd
