// The undo program's commands: save what vivediz can change, show what a restore would change,
// put it back, or drop a save and keep the guest as it is.
#pragma once

#include <string>
#include <vector>

namespace undo {

// Exit statuses.
constexpr int done = 0;     // saved; shown; everything put back and the file deleted; or forgotten
constexpr int refused = 1;  // nothing was changed; one line says why
constexpr int incomplete = 2;  // restore: some items are not back (each named); file kept

// Runs "save FILE", "show FILE", "restore FILE" or "forget FILE" (arguments without the program's
// name; FILE as the administrator gave it, made a full path by the caller). x86_on_64bit: the
// 32-bit program runs on 64-bit Windows. Appends the lines to print, UTF-8, to *said.
int run(const std::vector<std::u16string>& arguments, bool x86_on_64bit,
        std::vector<std::string>* said);

}  // namespace undo
