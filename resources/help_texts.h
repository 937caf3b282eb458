// The three help texts of the help dialog, compiled in as UTF-16.
#pragma once

#include "platform/platform.h"

namespace resources {

// Help kinds as the settings dialog asks for them.
constexpr platform::u32 help_xen = 1;
constexpr platform::u32 help_tcp = 2;
constexpr platform::u32 help_serial_msi = 3;

// help_tcp gives the TCP text, help_serial_msi the Serial MSI text, and any other value the Xen
// text. The result is a static, terminated string whose paragraphs are separated by an empty line.
const char16_t* help_text(platform::u32 help_kind);

}  // namespace resources
