// The settings dialog: shows the loaded snapshot, keeps the working copy in step with the edits,
// and on OK checks every field and commits what changed.
//
// The procedure only decodes messages; the handlers below work on a dialog through the seam.
#pragma once

#include <cstdint>

#include "core/settings.h"
#include "platform/platform.h"

namespace ui {

using platform::u32;
using platform::window_handle;
using settings::control_settings;

std::intptr_t settings_dialog_procedure(window_handle dialog, u32 message, std::uintptr_t wparam,
                                        std::intptr_t lparam);

// Loads the snapshot for the variant, applies the version rules, shows it, makes the working copy.
bool on_init(window_handle dialog, control_settings& snapshot);
// Returns what the dialog procedure returns for the command.
bool on_command(window_handle dialog, int id, u32 notification);
// OK: true when the dialog ended, false when a field was refused and the dialog stays open.
bool on_ok(window_handle dialog);

void show_settings(window_handle dialog, const control_settings& record);
void show_xen_controls(window_handle dialog, const control_settings& record);
void show_tcp_controls(window_handle dialog, const control_settings& record);
// Each returns true when a field was refused.
bool read_xen_controls(window_handle dialog, control_settings& working);
bool read_tcp_controls(window_handle dialog, control_settings& working);
// The field rule on the control's text; the field takes the rule's value in every case.
bool check_field(window_handle dialog, int control, u32 min, u32 max, u32& field);

}  // namespace ui
