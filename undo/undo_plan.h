// What the undo program saves on this guest: everything vivediz can change here.
#pragma once

#include <string>
#include <vector>

#include "rollback/rollback.h"

namespace undo {

// Names, for the engine, what vivediz can change on this guest: the six settings of each driver
// generation whose settings key exists; the StartOverride subkeys of both generations' block and
// SCSI services, present or absent; the five TCP values; "MSISupported" of every virtio serial
// instance that has the MSI key; the configuration flags of the XEN disk and SCSI devices.
// False with one line, and nothing changed, when a key it must look into cannot be read: a key
// that may not be opened is never taken for a missing one.
bool plan_for_this_guest(rollback::plan* out, std::string* refusal);

// A driver settings key that was absent at the save and exists now, one line each. A restore
// leaves it: it may be the drivers' own, installed since; if a hand-made one, it turns vivediz to
// that generation's keys, and the administrator deletes it.
std::vector<std::string> settings_keys_made_since(const rollback::record& saved);

}  // namespace undo
