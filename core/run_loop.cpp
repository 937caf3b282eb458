// Message loops that never swallow the quit request start-up waits for.
#include "core/run_loop.h"

#include "core/app_state.h"
#include "platform/platform.h"

namespace run_loop {

void post_settings_quit() { platform::post_quit_message(0); }

int run_until_quit() {
  int exit_code = 0;
  while (platform::get_and_dispatch_message(&exit_code)) {
  }
  return exit_code;
}

void run_nested_until_quit() {
  int exit_code = 0;
  while (platform::get_and_dispatch_message(&exit_code)) {
  }
  if (app::state().settings_dialog_ended) platform::post_quit_message(exit_code);
}

}  // namespace run_loop
