#include <benchmark/benchmark.h>

#include "fft/fft.h"
