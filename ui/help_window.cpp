// Help window: its hidden owner, the dialog and the loop that takes the dialog's quit request.
#include "ui/help_window.h"

#include "core/app_state.h"
#include "core/run_loop.h"
#include "help_texts.h"
#include "resource.h"

namespace ui {

using namespace platform;

void show_help(u32 help_kind, window_handle settings_dialog) {
  app::process_state& s = app::state();
  if (s.open_help_dialog_count == app::max_open_help_dialogs) return;
  const module_handle module = own_module();
  // Registered by the first help request; later registrations fail, which is fine.
  register_window_class(module, u"tarn_vivediz_app_class", 0x6008);
  // Never shown and never destroyed: it only owns the help dialog.
  const window_handle owner = create_window(0x110, u"tarn_vivediz_app_class",
                                            u"TARN ORVANE Windows Application", 0x02CF0000, module);
  const char16_t* text = resources::help_text(help_kind);
  const u32 depth = s.open_help_dialog_count;
  // Help's loop runs while the settings dialog and the help dialogs opened before stay open: each
  // of them keeps its keyboard (Tab, Enter, Escape, Alt+letter) through it.
  window_handle beside[app::max_open_help_dialogs + 1] = {settings_dialog};
  for (u32 i = 0; i < depth; ++i) beside[i + 1] = s.open_help_dialogs[i];
  const std::intptr_t outcome = dialog_box_param_beside(
      window_module(owner), u"TARN_VIVEDIZ_DLG_TEMPLATE", owner, help_dialog_procedure,
      reinterpret_cast<std::intptr_t>(text), beside, depth + 1);
  s.open_help_dialog_count = depth;  // this dialog is gone, and any opened from within it
  // A dialog that never opened posted no quit request; waiting for one would never end.
  if (outcome == -1) return;
  run_loop::run_nested_until_quit();
}

void end_open_help_dialogs() {
  app::process_state& s = app::state();
  for (u32 i = 0; i < s.open_help_dialog_count; ++i) end_dialog(s.open_help_dialogs[i], 0);
}

namespace {

bool on_help_init(window_handle dialog, const char16_t* text) {
  app::process_state& s = app::state();
  if (s.open_help_dialog_count < app::max_open_help_dialogs) {
    s.open_help_dialogs[s.open_help_dialog_count++] = dialog;
  }
  set_dlg_item_text(dialog, IDC_HELP_TEXT, text);
  const window_handle ok = get_dlg_item(dialog, id_ok);
  if (ok != nullptr) {
    enable_window(ok, true);
    post_message(dialog, wm_nextdlgctl, reinterpret_cast<std::uintptr_t>(ok), 1);
  }
  return true;
}

bool on_help_command(window_handle dialog, int id) {
  // Only OK closes help; Escape's cancel command is taken and ignored.
  if (id == id_ok) {
    end_dialog(dialog, 1);
    post_quit_message(0);
  }
  return true;
}

}  // namespace

std::intptr_t help_dialog_procedure(window_handle dialog, u32 message, std::uintptr_t wparam,
                                    std::intptr_t lparam) {
  switch (message) {
    case wm_initdialog:
      return on_help_init(dialog, reinterpret_cast<const char16_t*>(lparam));
    case wm_command:
      return on_help_command(dialog, static_cast<int>(wparam & 0xFFFF));
    default:
      return false;
  }
}

}  // namespace ui
