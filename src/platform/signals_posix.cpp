#include <signal.h>

#include "platform/signals.h"

namespace psd {

void set_up_signals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace psd
