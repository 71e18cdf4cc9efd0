// The checks of a run in the order a run makes them, in one place.
//
// A run checks its configuration and files first (driver.cpp), then, in this order: the sample
// file's structure (two lines at least), lines 1 and 2, the sample count against nb_section x
// nbpoint_section, the power of two, nb_section not negative, the sampling interval, the used
// lines, and memory. The older program made the first four of these, and its messages keep their
// precedence: a run bound to fail a check that needs no count (the power of two, a negative
// nb_section, the interval) only counts the lines, so that the checks before it still come first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>

#include "format/sample_stream.h"
#include "run/config.h"
#include "run/failure.h"

namespace psd {

// What the pass over the samples reads, decided from the configuration and lines 1 and 2.
struct Plan {
    bool power_of_two = false;     // N is 2, 4, 8, ...
    std::uint64_t used_lines = 0;  // lines converted into sections: 0 none, UINT64_MAX all
};

// The failure of a pass that ended in a fault of the file (status neither ok nor section_ready),
// or nothing. data_file is the name as configured, for the messages.
std::optional<Failure> sample_failure(SampleStatus status, const SampleStream& stream,
                                      const std::string& data_file);

// The plan of a run whose lines 1 and 2 gave the interval deltat: the checks that need no count
// are known, and a run bound to fail one only counts the lines.
Plan plan_for(const RunConfig& config, float deltat);

// Starts the pass over samples (lines 1 and 2) and plans the rest of it, or says why the file
// cannot be used. data_file is the name as configured, for the messages.
// REQUIRES: samples open for binary reading at its start.
std::variant<Plan, Failure> plan_run(const RunConfig& config, std::FILE* samples,
                                     const std::string& data_file, SampleStream& stream);

// What the pass left: its last status, and the sections the estimator took.
struct PassResult {
    SampleStatus status = SampleStatus::ok;
    std::int64_t sections = 0;
    bool memory_short = false;  // a buffer could not be allocated: conversion stopped
};

// The checks once the pass has ended, in the run's order: the number of sections to average
// (M), or the first check that fails.
std::variant<std::int64_t, Failure> check_run(const RunConfig& config, const Plan& plan,
                                              const SampleStream& stream, const PassResult& pass,
                                              const std::string& data_file);

}  // namespace psd
