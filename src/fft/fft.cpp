#include "fft/fft.h"

void dfour1(double*, std::uint32_t, std::int32_t) {}
void four1(float*, std::uint32_t, std::int32_t) {}
void drealft(double*, std::uint32_t, std::int32_t) {}
void realft(float*, std::uint32_t, std::int32_t) {}
