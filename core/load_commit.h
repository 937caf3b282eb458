// Filling the snapshot from the store, and writing back what the working copy changed.
#pragma once

#include "core/settings.h"

namespace load_commit {

using settings::control_settings;

// Xen variant: the six driver values from the bus parameters key; a failed read gives the default.
void load_xen_settings(control_settings& snapshot);
// Every variant but on Windows 2000: the five TCP values; a failed read gives ABSENT.
void load_tcp_settings(control_settings& snapshot);
// KVM variant: false when the value is not available (the dialog then disables its box).
bool load_serial_msi(control_settings& snapshot);

// Each writes only the fields that differ, shows a message for failed writes, and returns whether
// anything differed (decided before any write, whatever the writes did).
bool commit_xen_settings(const control_settings& working, const control_settings& snapshot);
bool commit_serial_msi(const control_settings& working, const control_settings& snapshot);
bool commit_tcp_settings(const control_settings& working, const control_settings& snapshot);

// The system's reboot prompt; the user is always asked and the answer is not used.
void offer_reboot();

}  // namespace load_commit
