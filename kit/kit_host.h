// What the kit finds out about the system it runs on: Wine or Windows, version, rights.
#pragma once

#include <string>

namespace e2e {

// Wine's version when ntdll exports wine_get_version, else empty (Windows).
std::string wine_version();
// Major.minor.build as RtlGetVersion reports it (GetVersionEx without a manifest answers 6.2 from
// Windows 8.1 on), with the service pack text when there is one.
std::string true_windows_version();
// "x64" or "x86": what this kit was built for; and whether the system itself is 64-bit.
const char* kit_architecture();
std::string system_architecture();
// TokenElevation where the system has it (Vista on), else membership of Administrators.
bool token_elevated(std::string* how);

}  // namespace e2e
