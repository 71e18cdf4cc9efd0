#include "input/sample_file.h"

std::int32_t nbpoint_acqui = 0;
float deltat = 0.0f;

std::int32_t DetecteESA400(std::FILE*, ProbeFault* fault) {
    if (fault) *fault = ProbeFault::none;
    return 0;
}

bool load_samples(std::FILE*, std::int32_t, float*, float*) {
    return true;
}

double convert_number(const char*, const char*) {
    return 0.0;
}
