// Stand-in windows, dialogs built from the compiled templates, focus and the message queue.
#include <cstring>
#include <deque>

#include "tests/standin/compiled_resources.h"
#include "tests/standin/standin_internal.h"

namespace standin {

using namespace internal;

namespace {

enum class kind { plain, dialog, control };
struct window_entry {
  kind k;
  int index;    // into plain_log or dialogs
  int control;  // for controls: index into the dialog's controls
};

struct dialog_record {
  window_handle self;
  dialog_state state;
  platform::dialog_procedure procedure;
  std::vector<window_handle> control_handles;
};

struct posted {
  window_handle window;
  u32 message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

std::vector<window_entry> windows;
std::vector<window_state> plain_log;
std::vector<std::u16string> classes;
std::deque<dialog_record> dialogs;  // deque: references stay valid as dialogs nest
std::deque<posted> queue;
// The dialogs whose keyboard each running modal loop serves, innermost loop last.
std::vector<std::vector<window_handle>> loops;
bool quit_posted = false;
int quit_code = 0;
bool blocked = false;
bool hung = false;
window_handle focus = nullptr;
dialog_script script;

constexpr std::uintptr_t own_module_value = 0x400000;
constexpr u32 ws_group = 0x00020000;
constexpr u32 ws_disabled = 0x08000000;
constexpr u32 ws_tabstop = 0x00010000;
constexpr u32 bs_autocheckbox = 3;
constexpr u32 bs_autoradiobutton = 9;
constexpr u32 bs_defpushbutton = 1;
constexpr u32 wm_keydown = 0x0100;
constexpr std::uintptr_t vk_tab = 0x09;
constexpr std::uintptr_t vk_return = 0x0D;
constexpr std::uintptr_t vk_escape = 0x1B;

window_handle add_window(window_entry entry) {
  windows.push_back(entry);
  return reinterpret_cast<window_handle>(static_cast<std::uintptr_t>(windows.size()));
}

window_entry* entry_of(window_handle window) {
  const auto n = reinterpret_cast<std::uintptr_t>(window);
  if (n == 0 || n > windows.size()) return nullptr;
  return &windows[n - 1];
}

dialog_record* dialog_of(window_handle window) {
  window_entry* e = entry_of(window);
  if (e == nullptr || e->k != kind::dialog) return nullptr;
  return &dialogs[static_cast<std::size_t>(e->index)];
}

// The dialog a control belongs to, with the control's index.
dialog_record* owner_of_control(window_handle window, int* index) {
  window_entry* e = entry_of(window);
  if (e == nullptr || e->k != kind::control) return nullptr;
  *index = e->control;
  return &dialogs[static_cast<std::size_t>(e->index)];
}

bool is_edit(const control_state& c) { return fold(widen(c.class_name)) == u"edit"; }
bool is_button(const control_state& c) { return fold(widen(c.class_name)) == u"button"; }

std::intptr_t send_command(dialog_record& d, int id, u32 notification, window_handle from) {
  const std::uintptr_t wparam = static_cast<std::uintptr_t>(id & 0xFFFF) |
                                static_cast<std::uintptr_t>(notification & 0xFFFF) << 16;
  return d.procedure(d.self, platform::wm_command, wparam, reinterpret_cast<std::intptr_t>(from));
}

// Moving the focus away from an edit tells its dialog, as the edit control does.
void move_focus(window_handle to) {
  const window_handle from = focus;
  if (from == to) return;
  focus = to;
  int index = 0;
  if (dialog_record* d = owner_of_control(from, &index)) {
    const control_state& c = d->state.controls[static_cast<std::size_t>(index)];
    if (is_edit(c) && !d->state.destroyed) send_command(*d, c.id, platform::en_killfocus, from);
  }
}

void dispatch(const posted& m) {
  dialog_record* d = dialog_of(m.window);
  if (d == nullptr || d->state.destroyed) return;
  d->procedure(m.window, m.message, m.wparam, m.lparam);
  // What the dialog manager does with a focus request: a handle when lparam is true.
  if (m.message == platform::wm_nextdlgctl && m.lparam != 0) {
    move_focus(reinterpret_cast<window_handle>(m.wparam));
  }
}

control_state* find_control(dialog_record& d, int id, window_handle* handle) {
  for (std::size_t i = 0; i < d.state.controls.size(); ++i) {
    if (d.state.controls[i].id == id) {
      if (handle) *handle = d.control_handles[i];
      return &d.state.controls[i];
    }
  }
  return nullptr;
}

// A live dialog's enabled control, or null.
control_state* usable(window_handle dialog_window, int id, dialog_record** d, window_handle* h) {
  *d = dialog_of(dialog_window);
  if (*d == nullptr || (*d)->state.destroyed || (*d)->state.ended) return nullptr;
  control_state* c = find_control(**d, id, h);
  return (c != nullptr && c->enabled) ? c : nullptr;
}

bool within(window_handle window, const dialog_record& d) {
  if (window == d.self) return true;
  for (window_handle h : d.control_handles) {
    if (h == window) return true;
  }
  return false;
}

// A key pressed in one of a dialog's windows, as the dialog manager takes it (IsDialogMessage):
// Tab moves the focus to the next enabled control with WS_TABSTOP, Enter presses the focused push
// button or else OK, Escape is Cancel. The controls' own keyboard is not modelled.
void dialog_key(dialog_record& d, std::uintptr_t key) {
  const std::vector<control_state>& all = d.state.controls;
  const std::size_t n = all.size();
  std::size_t at = n;  // the focused control, n when it is none of this dialog's
  for (std::size_t i = 0; i < n; ++i) {
    if (d.control_handles[i] == focus) at = i;
  }
  if (key == vk_tab) {
    for (std::size_t step = 1; step <= n; ++step) {
      const std::size_t i = (at == n ? step - 1 : at + step) % n;
      if ((all[i].style & ws_tabstop) && all[i].enabled) {
        move_focus(d.control_handles[i]);
        return;
      }
    }
  } else if (key == vk_return || key == vk_escape) {
    const bool push_button =
        at < n && is_button(all[at]) && (all[at].style & 0xF) <= bs_defpushbutton;
    const int id = key == vk_escape ? platform::id_cancel
                   : push_button    ? all[at].id
                                    : platform::id_ok;
    window_handle handle = nullptr;
    find_control(d, id, &handle);
    send_command(d, id, platform::bn_clicked, handle);
  }
}

// A message taken by the innermost modal loop: a key for a window of a dialog it serves goes to
// that dialog's keyboard handling, anything else to its window.
void take(const posted& m) {
  if (m.message == wm_keydown && !loops.empty()) {
    for (window_handle served : loops.back()) {
      dialog_record* d = dialog_of(served);
      if (d != nullptr && !d->state.destroyed && within(m.window, *d)) {
        dialog_key(*d, m.wparam);
        return;
      }
    }
  }
  dispatch(m);
}

void drain_queue() {
  while (!queue.empty()) {
    const posted m = queue.front();
    queue.pop_front();
    take(m);
  }
}

}  // namespace

namespace internal {
void reset_ui() {
  windows.clear();
  plain_log.clear();
  classes.clear();
  dialogs.clear();
  queue.clear();
  loops.clear();
  quit_posted = false;
  quit_code = 0;
  blocked = false;
  hung = false;
  focus = nullptr;
  script = nullptr;
}
}  // namespace internal

const std::vector<window_state>& plain_windows() { return plain_log; }
const std::vector<std::u16string>& registered_classes() { return classes; }
void set_dialog_script(dialog_script s) { script = std::move(s); }
bool dialog_hung() { return hung; }
bool loop_blocked() { return blocked; }

dialog_state& dialog(window_handle window) {
  dialog_record* d = dialog_of(window);
  if (d == nullptr) {
    fprintf(stderr, "standin: not a dialog handle\n");
    abort();
  }
  return d->state;
}

control_state* control(window_handle dialog_window, int id) {
  dialog_record* d = dialog_of(dialog_window);
  return d ? find_control(*d, id, nullptr) : nullptr;
}

window_handle focused_window() { return focus; }

window_handle control_window(window_handle dialog_window, int id) {
  dialog_record* d = dialog_of(dialog_window);
  window_handle h = nullptr;
  if (d) find_control(*d, id, &h);
  return h;
}

bool click(window_handle dialog_window, int id) {
  dialog_record* d = nullptr;
  window_handle handle = nullptr;
  control_state* c = usable(dialog_window, id, &d, &handle);
  if (c == nullptr || !is_button(*c)) return false;
  move_focus(handle);
  const u32 type = c->style & 0xF;
  if (type == bs_autocheckbox) {
    c->check = c->check == platform::bst_checked ? platform::bst_unchecked : platform::bst_checked;
  } else if (type == bs_autoradiobutton) {
    // The group runs from the last control with WS_GROUP up to the next one.
    std::vector<control_state>& all = d->state.controls;
    const std::size_t at = static_cast<std::size_t>(c - all.data());
    std::size_t first = at;
    while (first > 0 && !(all[first].style & ws_group)) --first;
    std::size_t end = at + 1;
    while (end < all.size() && !(all[end].style & ws_group)) ++end;
    for (std::size_t i = first; i < end; ++i) {
      if (is_button(all[i]) && (all[i].style & 0xF) == bs_autoradiobutton) {
        all[i].check = platform::bst_unchecked;
      }
    }
    c->check = platform::bst_checked;
  }
  send_command(*d, id, platform::bn_clicked, handle);
  return true;
}

bool type_text(window_handle dialog_window, int id, const std::u16string& text) {
  dialog_record* d = nullptr;
  window_handle handle = nullptr;
  control_state* c = usable(dialog_window, id, &d, &handle);
  if (c == nullptr || !is_edit(*c)) return false;
  move_focus(handle);
  c->text = text;
  return true;
}

bool leave_edit(window_handle dialog_window, int id) {
  dialog_record* d = nullptr;
  window_handle handle = nullptr;
  control_state* c = usable(dialog_window, id, &d, &handle);
  if (c == nullptr || !is_edit(*c)) return false;
  if (focus == handle) {
    move_focus(nullptr);
  } else {
    send_command(*d, id, platform::en_killfocus, handle);
  }
  return true;
}

std::intptr_t command(window_handle dialog_window, int id, u32 notification) {
  dialog_record* d = dialog_of(dialog_window);
  if (d == nullptr || d->state.destroyed || d->state.ended) return 0;
  window_handle handle = nullptr;
  find_control(*d, id, &handle);
  return send_command(*d, id, notification, handle);
}

bool press_key(u32 virtual_key) {
  if (focus == nullptr) return false;
  queue.push_back({focus, wm_keydown, virtual_key, 0});
  drain_queue();
  return true;
}

}  // namespace standin

namespace platform {

using namespace standin;
using namespace standin::internal;

bool register_window_class(module_handle module, const char16_t* class_name, u32 class_style) {
  (void)module;
  (void)class_style;
  const std::u16string name = class_name;
  if (fault_for(op::register_class, name) != 0) return false;
  for (const std::u16string& c : classes) {
    if (fold(c) == fold(name)) return false;  // already registered
  }
  classes.push_back(name);
  return true;
}

window_handle create_window(u32 ex_style, const char16_t* class_name, const char16_t* title,
                            u32 style, module_handle module) {
  const std::u16string name = class_name;
  if (fault_for(op::create_window, name) != 0) return nullptr;
  bool registered = false;
  for (const std::u16string& c : classes) registered = registered || fold(c) == fold(name);
  if (!registered) return nullptr;
  plain_log.push_back({name, title, ex_style, style, module});
  return add_window({kind::plain, static_cast<int>(plain_log.size()) - 1, -1});
}

module_handle window_module(window_handle window) {
  window_entry* e = entry_of(window);
  if (e == nullptr) return nullptr;
  if (e->k == kind::plain) return plain_log[static_cast<std::size_t>(e->index)].module;
  return reinterpret_cast<module_handle>(own_module_value);
}

namespace {

// A modal dialog's whole run; its loop serves the keyboard of the dialog and of others.
std::intptr_t run_modal(module_handle module, const char16_t* template_name, window_handle owner,
                        dialog_procedure procedure, std::intptr_t parameter,
                        std::vector<window_handle> others) {
  const std::u16string name = template_name;
  if (fault_for(op::dialog_create, name) != 0) return -1;
  // A null module means the program's own, as FindResourceW takes it.
  if (module != nullptr && reinterpret_cast<std::uintptr_t>(module) != own_module_value) return -1;
  const res::dialog* t = res::find_dialog(res::project_resources(), narrow(name));
  if (t == nullptr) return -1;
  record("dialog " + narrow(name));

  dialogs.emplace_back();
  const int index = static_cast<int>(dialogs.size()) - 1;
  dialog_record& d = dialogs.back();
  d.procedure = procedure;
  d.state.template_name = t->name;
  d.state.owner = owner;
  d.state.caption = t->caption;
  const window_handle self = add_window({kind::dialog, index, -1});
  d.self = self;
  others.insert(others.begin(), self);
  loops.push_back(others);
  for (const res::control& c : t->controls) {
    d.state.controls.push_back({c.id, c.class_name, c.style, c.text, bst_unchecked,
                                (c.style & ws_disabled) == 0, c.x, c.y, c.w, c.h});
    d.control_handles.push_back(
        add_window({kind::control, index, static_cast<int>(d.state.controls.size()) - 1}));
  }

  if (procedure(self, wm_initdialog, 0, parameter)) {
    for (std::size_t i = 0; i < d.state.controls.size(); ++i) {
      const control_state& c = d.state.controls[i];
      if ((c.style & ws_tabstop) && c.enabled) {
        move_focus(d.control_handles[i]);
        break;
      }
    }
  }
  drain_queue();
  if (script) script(self, d.state.template_name);
  drain_queue();

  std::intptr_t result = 0;
  if (d.state.ended) {
    result = d.state.result;
  } else if (!quit_posted) {
    hung = true;  // nobody would ever end this dialog
  }
  // The dialog goes away: an edit that had the focus loses it.
  for (window_handle h : d.control_handles) {
    if (focus == h) move_focus(nullptr);
  }
  if (focus == self) focus = nullptr;
  d.state.destroyed = true;
  loops.pop_back();
  return result;
}

}  // namespace

std::intptr_t dialog_box_param(module_handle module, const char16_t* template_name,
                               window_handle owner, dialog_procedure procedure,
                               std::intptr_t parameter) {
  return run_modal(module, template_name, owner, procedure, parameter, {});
}

std::intptr_t dialog_box_param_beside(module_handle module, const char16_t* template_name,
                                      window_handle owner, dialog_procedure procedure,
                                      std::intptr_t parameter, const window_handle* others,
                                      u32 other_count) {
  return run_modal(module, template_name, owner, procedure, parameter,
                   std::vector<window_handle>(others, others + other_count));
}

bool end_dialog(window_handle dialog_window, std::intptr_t result) {
  dialog_record* d = dialog_of(dialog_window);
  if (d == nullptr || d->state.destroyed) return false;
  d->state.ended = true;
  d->state.result = result;
  // As EndDialog does: the focus moves from a control of the dialog to the dialog itself before
  // this returns, so an edit that had it tells the dialog it lost it.
  for (window_handle h : d->control_handles) {
    if (focus == h) move_focus(dialog_window);
  }
  return true;
}

window_handle get_dlg_item(window_handle dialog_window, int id) {
  dialog_record* d = dialog_of(dialog_window);
  if (d == nullptr || d->state.destroyed) return nullptr;
  window_handle h = nullptr;
  find_control(*d, id, &h);
  return h;
}

bool enable_window(window_handle window, bool enable) {
  int index = 0;
  dialog_record* d = owner_of_control(window, &index);
  if (d == nullptr) return false;
  control_state& c = d->state.controls[static_cast<std::size_t>(index)];
  const bool was_disabled = !c.enabled;
  c.enabled = enable;
  return was_disabled;
}

bool check_dlg_button(window_handle dialog_window, int id, u32 state) {
  dialog_record* d = dialog_of(dialog_window);
  control_state* c = d ? find_control(*d, id, nullptr) : nullptr;
  if (c == nullptr) return false;
  c->check = state;
  return true;
}

bool check_radio_button(window_handle dialog_window, int first_id, int last_id, int check_id) {
  dialog_record* d = dialog_of(dialog_window);
  if (d == nullptr) return false;
  for (int id = first_id; id <= last_id; ++id) {
    if (control_state* c = find_control(*d, id, nullptr)) {
      c->check = id == check_id ? bst_checked : bst_unchecked;
    }
  }
  return true;
}

u32 is_dlg_button_checked(window_handle dialog_window, int id) {
  dialog_record* d = dialog_of(dialog_window);
  control_state* c = d ? find_control(*d, id, nullptr) : nullptr;
  return c ? c->check : 0;
}

bool set_dlg_item_int(window_handle dialog_window, int id, u32 value) {
  return set_dlg_item_text(dialog_window, id, widen(std::to_string(value)).c_str());
}

bool set_dlg_item_text(window_handle dialog_window, int id, const char16_t* text) {
  dialog_record* d = dialog_of(dialog_window);
  control_state* c = d ? find_control(*d, id, nullptr) : nullptr;
  if (c == nullptr) return false;
  c->text = text;
  return true;
}

u32 get_dlg_item_text(window_handle dialog_window, int id, char16_t* buffer, u32 units) {
  if (units == 0) return 0;
  buffer[0] = 0;
  dialog_record* d = dialog_of(dialog_window);
  control_state* c = d ? find_control(*d, id, nullptr) : nullptr;
  if (c == nullptr) return 0;
  const std::size_t n = c->text.size() < units - 1 ? c->text.size() : units - 1;
  std::memcpy(buffer, c->text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<u32>(n);
}

u32 get_window_text_length(window_handle window) {
  int index = 0;
  dialog_record* d = owner_of_control(window, &index);
  return d ? static_cast<u32>(d->state.controls[static_cast<std::size_t>(index)].text.size()) : 0;
}

window_handle set_focus(window_handle window) {
  const window_handle previous = focus;
  move_focus(window);
  return previous;
}

bool post_message(window_handle window, u32 message, std::uintptr_t wparam, std::intptr_t lparam) {
  if (entry_of(window) == nullptr) return false;
  queue.push_back({window, message, wparam, lparam});
  return true;
}

void post_quit_message(int exit_code) {
  quit_posted = true;
  quit_code = exit_code;
}

bool get_and_dispatch_message(int* exit_code) {
  if (!queue.empty()) {
    const posted m = queue.front();
    queue.pop_front();
    dispatch(m);
    return true;
  }
  if (quit_posted) {
    quit_posted = false;
    *exit_code = quit_code;
    return false;
  }
  // GetMessageW would wait here for ever.
  blocked = true;
  *exit_code = -1;
  return false;
}

}  // namespace platform
