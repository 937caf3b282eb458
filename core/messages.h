// Every message the user sees comes from the string table through show_message.
#pragma once

#include "platform/platform.h"

namespace messages {

// Shows string id in a message box captioned with string 1000: no owner, OK only, no icon.
// Returns when the box is dismissed.
void show_message(platform::u32 id);

}  // namespace messages
