#include "run/driver.h"

#include <cstdio>
#include <cstdlib>

void pause_and_exit(const std::string& message) {
    std::fputs(message.c_str(), stdout);
    std::fputs("Click on any key to exit\n", stdout);
    std::fflush(stdout);
    std::getchar();
    std::exit(1);
}

std::optional<std::string> run_psd() {
    return std::nullopt;
}
