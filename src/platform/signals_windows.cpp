#include "platform/signals.h"

namespace psd {

void set_up_signals() {}

}  // namespace psd
