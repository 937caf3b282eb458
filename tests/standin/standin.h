// Control of the in-memory stand-in for Windows that the native tests link instead of Win32.
//
// The stand-in is a small model of the machine: a registry tree (case-insensitive names, typed raw
// values, access checked per handle, an optional 32-bit view of SOFTWARE), a CPUID table, the
// token's answers, devices with properties, a few files that remember what was flushed,
// dialogs built from the templates of resources/vivediz.rc as windres compiles them, a message
// queue, and logs of what the user and the drivers would see. Any single operation can be made to
// fail with a chosen error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace standin {

using platform::u32;
using platform::window_handle;
using bytes = std::vector<std::uint8_t>;

// Back to an empty machine: empty registry, CPUID answering zeros, an administrator token, no
// devices, no windows, empty logs and no faults.
void reset();

// ---- Faults: the next matching call of an operation fails with error (after skip matching calls,
// for times calls; times < 0 means for ever). The subject that match is compared with, as a
// case-insensitive suffix (empty matches everything):
//   registry key operations: the key's full path ("SYSTEM\...\Device"), for delete_key the
//   subkey's; registry value operations: the key's full path, a backslash and the value name;
//   device property operations: the device's first hardware id; device list: the enumerator;
//   device fetch and instance id: the device's instance id (a fetch past the list's end: empty);
//   dialog creation: the template name; window class and window creation: the class name;
//   file operations: the file's path (for a rename, the old one); device open: the instance id.
enum class op {
  reg_open,
  reg_query,
  reg_set,
  reg_delete_value,
  reg_delete_key,
  reg_enum_key,
  admin_sid,
  admin_check,
  device_list,
  device_enum,
  device_get_property,
  device_set_property,
  device_instance_id,
  register_class,
  create_window,
  dialog_create,
  reg_create,
  reg_enum_value,
  reg_flush,
  file_open,
  file_read,
  file_write,
  file_flush,
  file_rename,
  file_delete,
  file_exists,
  device_open,
  token_elevation,
};
void fail(op operation, u32 error, const std::u16string& match = u"", int skip = 0, int times = 1);

// ---- Registry. Paths are relative to HKEY_LOCAL_MACHINE; "HKCU\..." names HKEY_CURRENT_USER's.
// Keys created below HARDWARE are volatile, as that hive is: a key below one must be volatile too.
// A string value written through the seam gets its terminator added when the caller's unit after
// the data is zero, as RegSetValueExW does on Windows (the stand-in reads that unit).
void create_key(const std::u16string& path);
void set_value(const std::u16string& path, const std::u16string& name, u32 type, const bytes& data);
void set_dword(const std::u16string& path, const std::u16string& name, u32 value);
// REG_SZ from text; with_terminator false stores the characters alone.
void set_string(const std::u16string& path, const std::u16string& name, const std::u16string& text,
                bool with_terminator = true);
void set_multi_string(const std::u16string& path, const std::u16string& name,
                      const std::vector<std::u16string>& strings);
bool key_exists(const std::u16string& path);
struct value {
  u32 type;
  bytes data;
};
std::optional<value> get_value(const std::u16string& path, const std::u16string& name);
// The value as a REG_DWORD of 4 bytes; nullopt when missing or of another shape.
std::optional<u32> get_dword(const std::u16string& path, const std::u16string& name);
std::vector<std::u16string> subkeys(const std::u16string& path);
// Opening the key with any access beyond KEY_READ fails with ERROR_ACCESS_DENIED, as HARDWARE
// keys do for a user who is not an administrator.
void deny_write_access(const std::u16string& path);
// Opening, creating or deleting the key fails with ERROR_ACCESS_DENIED, whatever the access.
void deny_access(const std::u16string& path);
// 64-bit Windows (the default): key_wow64_32key sends HKLM\SOFTWARE\X to SOFTWARE\WOW6432Node\X.
// Without views, passing either view flag fails with ERROR_INVALID_PARAMETER.
void set_registry_views(bool present);
void delete_tree(const std::u16string& path);
// Every key and value, one a line, for comparing the whole registry before and after.
std::string registry_text();
// Open registry handles (HKEY_LOCAL_MACHINE itself not counted).
int open_key_count();
struct open_record {
  std::u16string path;
  u32 access;
  u32 result;
};
const std::vector<open_record>& opens();

// ---- Processor and token.
void set_cpuid(u32 leaf, u32 eax, u32 ebx, u32 ecx, u32 edx);
// EBX, ECX, EDX from up to 12 characters, padded with zero bytes.
void set_cpuid_signature(u32 leaf, const std::string& text);
const std::vector<u32>& cpuid_leaves_asked();
void set_administrator(bool member);
// TokenElevation's answer; nullopt: a system before Vista, which does not know it.
void set_elevation(std::optional<bool> elevated);

// ---- Files: whole files by path (case-insensitive). Each remembers what was last flushed.
void set_file(const std::u16string& path, const bytes& content);
std::optional<bytes> file_content(const std::u16string& path);
// A power cut: every file holds what was last flushed (a rename is on disk at once).
void lose_unflushed_data();
int open_file_count();

// ---- Devices.
struct device {
  std::u16string enumerator;
  bytes hardware_id;  // REG_MULTI_SZ bytes; empty: no such property
  std::optional<u32> config_flags;
  bool present = true;         // DIGCF_PRESENT lists only present devices
  std::u16string instance_id;  // "<enumerator>\<device>\<instance>"; empty: one is made up
};
// Returns the device's index.
int add_device(const std::u16string& enumerator, const std::vector<std::u16string>& hardware_ids,
               std::optional<u32> config_flags = 0, bool present = true);
// A device known by its instance id alone; its enumerator is the id's first part.
int add_device_instance(const std::u16string& instance_id, bool present);
device& device_at(int index);
int open_device_list_count();
struct device_list_record {
  std::u16string enumerator;
  u32 flags;
};
const std::vector<device_list_record>& device_lists_built();
int reboot_prompts();

// ---- What the user saw, and in which order.
struct message_record {
  std::u16string text;
  std::u16string caption;
  u32 flags;
  bool owned;
};
const std::vector<message_record>& messages();
// Text for test messages: ASCII as it is, anything else as \uXXXX.
std::string narrow(const std::u16string& s);
// The text of a string-table entry, as the compiled string table holds it.
std::u16string string_text(u32 id);
// Observable events in order, one line each:
//   "set <path>\<name>=<dword in hex>" (other types: "=<type>:<byte count>"),
//   "delete_value <path>\<name>", "delete_key <path>\<subkey>",
//   "config_flags <hardware id>=<hex>" (cleared: "=none"), "message <text>", "reboot",
//   "dialog <template>", "create_key <path>", "flush_key <path>", "write_file <path>",
//   "flush_file <path>", "rename_file <old> -> <new>", "delete_file <path>".
const std::vector<std::string>& timeline();
std::vector<std::string> timeline_matching(const std::string& prefix);

// ---- Windows and dialogs.
struct control_state {
  int id;
  std::string class_name;
  u32 style;
  std::u16string text;
  u32 check;
  bool enabled;
  int x, y, w, h;
};
struct dialog_state {
  std::string template_name;
  window_handle owner;
  std::u16string caption;
  std::vector<control_state> controls;
  bool ended = false;
  bool destroyed = false;
  std::intptr_t result = 0;
};
struct window_state {
  std::u16string class_name;
  std::u16string title;
  u32 ex_style;
  u32 style;
  platform::module_handle module;
};
const std::vector<window_state>& plain_windows();
const std::vector<std::u16string>& registered_classes();

// Called once a dialog is initialised, with the dialog and its template name; it plays the user.
// The dialog's modal run then ends if the script ended it; a quit request breaks it as in Windows;
// otherwise the dialog would wait for ever, which the stand-in reports as hung.
using dialog_script = std::function<void(window_handle dialog, const std::string& template_name)>;
void set_dialog_script(dialog_script script);
bool dialog_hung();
// True when a message loop waited with no message and no quit request: the real program would hang.
bool loop_blocked();

dialog_state& dialog(window_handle dialog);
control_state* control(window_handle dialog, int id);
window_handle focused_window();
window_handle control_window(window_handle dialog, int id);

// The user's actions. Each returns false (and does nothing) when the control is missing or
// disabled. click: an auto check box toggles, an auto radio button is selected within its group;
// then the dialog gets BN_CLICKED.
bool click(window_handle dialog, int id);
bool type_text(window_handle dialog, int id, const std::u16string& text);
// The focus leaves an edit: the dialog gets EN_KILLFOCUS.
bool leave_edit(window_handle dialog, int id);
// A WM_COMMAND as the dialog manager sends it (Enter: id_ok, Escape: id_cancel); returns the
// procedure's answer.
std::intptr_t command(window_handle dialog, int id, u32 notification = 0);
// A key pressed where the focus is (virtual-key code): the innermost modal loop running takes it
// at once, and gives it to the keyboard handling of the dialog it belongs to when that loop serves
// that dialog (Tab, Enter, Escape, as IsDialogMessage does); otherwise the key goes to the window
// itself, whose keyboard the stand-in does not model. False when nothing has the focus.
bool press_key(u32 virtual_key);

}  // namespace standin
