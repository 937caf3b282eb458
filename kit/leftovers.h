// What a run that did not end leaves besides the registry: the programs it started, still open
// (an OK pressed in a forgotten settings dialog would write the scenario's values), and the copy of
// the program planted in the temporary folder. --restore ends and removes them before it restores.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// Ends every process whose image is one of the kit's programs (beside it, in test\, or the planted
// copy of this architecture's kit) and removes the planted copy's folder. Reports each; returns one
// line for each that is still there afterwards.
std::vector<std::string> end_what_a_killed_run_left(const std::wstring& kit);

}  // namespace e2e
