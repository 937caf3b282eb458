// State shared by the stand-in's implementation files.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/standin/standin.h"

namespace standin::internal {

std::u16string fold(const std::u16string& s);
std::u16string widen(const std::string& s);
bool ends_with_ignore_case(const std::u16string& subject, const std::u16string& suffix);

// Returns the injected error for this call, or 0 when it goes through.
u32 fault_for(op operation, const std::u16string& subject);
void record(const std::string& event);
void set_last_error(u32 error);

void reset_faults();
void reset_registry();
void reset_system();
void reset_ui();
void reset_files();

}  // namespace standin::internal
