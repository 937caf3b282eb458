// Where Windows looks for the libraries it loads by name for an elevated program: the system
// folder only (vivediz.exe and the undo program).
#pragma once

namespace platform {

// From here on, libraries loaded by name come from the system folder only; where that is not
// available, at least the current folder is left out. Call it before anything loads one.
void load_libraries_from_system_folder_only();

}  // namespace platform
