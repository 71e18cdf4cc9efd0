// psd: averaged power spectral densities and noise impedance of a voltage/current noise record.
// Takes no arguments; everything comes from config_psd.txt in the current directory.
#include "run/driver.h"

int main() {
    if (auto failure = run_psd()) pause_and_exit(*failure);
    return 0;
}
