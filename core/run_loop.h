// The message loops and the quit request that ends the program.
//
// The settings dialog posts a quit request when it ends. A help window's own loop may take that
// request while it is open; it then posts it again, so that start-up's run loop always gets one.
#pragma once

namespace run_loop {

// Called by the settings dialog as it ends, after marking itself ended (settings_dialog_ended):
// posts the quit request (code 0).
void post_settings_quit();
// Start-up's run loop: dispatches messages until the quit request arrives; returns its code.
int run_until_quit();
// A nested loop (after a help dialog): dispatches until a quit request arrives, and hands that
// request on when the settings dialog has ended meanwhile.
void run_nested_until_quit();

}  // namespace run_loop
