#include "spectrum/estimator.h"

void estimate_psd(std::int32_t, std::int32_t, std::int32_t, const float*, const float*, float,
                  double*, double*, float*, float*, float*) {}
