#include <benchmark/benchmark.h>

#include "input/sample_file.h"
