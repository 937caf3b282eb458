// Storage of the process-wide state.
#include "core/app_state.h"

namespace app {

const driver_set current_generation = {
    u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device",
    u"SYSTEM\\CurrentControlSet\\Services\\vdblk",
    u"SYSTEM\\CurrentControlSet\\Services\\vdscsi",
};

const driver_set legacy_generation = {
    u"SYSTEM\\CurrentControlSet\\Services\\ldbus\\Parameters\\Device",
    u"SYSTEM\\CurrentControlSet\\Services\\ldblk",
    u"SYSTEM\\CurrentControlSet\\Services\\ldscsi",
};

namespace {
process_state the_state{};
}

process_state& state() { return the_state; }

void reset_state() { the_state = process_state{}; }

}  // namespace app
