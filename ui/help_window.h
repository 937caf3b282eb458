// The help dialog: a fixed text for the settings dialog's variant, owned by a hidden window of its
// own so that the settings dialog stays usable while help is open.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ui {

// Opens the help dialog modally (help kinds as resources/help_texts.h names them) beside the
// settings dialog, which keeps its keyboard meanwhile, and returns once help is closed.
void show_help(platform::u32 help_kind, platform::window_handle settings_dialog);

// Ends every open help dialog: the settings dialog does this as it ends, so that the help
// dialogs' modal loops return and the program can end.
void end_open_help_dialogs();

std::intptr_t help_dialog_procedure(platform::window_handle dialog, platform::u32 message,
                                    std::uintptr_t wparam, std::intptr_t lparam);

}  // namespace ui
