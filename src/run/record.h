// A whole sample file read into memory through the one pass, for programs that want the samples
// themselves rather than their spectrum (the Python module's read_record).
//
// Every line must be a sample line, as every used line of a run must, except the blank lines a
// file may end with (the end of an export, no samples); a file of fewer than two lines is refused
// as a run refuses it. Failures are a run's, so their messages are psd's own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "run/failure.h"

namespace psd {

// Takes the next count samples in file order: time stamps, voltages and currents (the floats a
// sample line gives, widened to double). Returns false when it cannot keep them (no memory).
using RecordSink =
    std::function<bool(const double* t, const double* v, const double* i, std::size_t count)>;

// Reads the sample file at path into sink, a block of samples at a time; name stands for the file
// in messages. Returns nothing when every sample went to sink.
std::optional<Failure> read_record(const std::string& path, const std::string& name,
                                   const RecordSink& sink);

}  // namespace psd
