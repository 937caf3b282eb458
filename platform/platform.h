// The one seam between the program and Windows: every Win32 call the program makes goes through
// here.
//
// Two implementations exist and the build links exactly one: win32_*.cpp for the .exe and
// tests/standin/standin_*.cpp, an in-memory model of the machine, for the native tests. The last
// part, below the program's own, serves the save-and-restore engine (rollback/) that ships in the
// acceptance kit and the undo program; its Win32 files are linked only there. Text is
// UTF-16 (char16_t); buffer sizes for text are in UTF-16 units, terminator included, and sizes of
// raw registry or device data are in bytes, as Windows states them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using u32 = std::uint32_t;

// Opaque handles. The Win32 implementation casts them to and from HKEY, HWND, HINSTANCE, HDEVINFO.
struct key_tag;
struct window_tag;
struct module_tag;
struct device_list_tag;
using key_handle = key_tag*;
using window_handle = window_tag*;
using module_handle = module_tag*;
using device_list = device_list_tag*;

// Windows error codes and constants the program uses; the values are those of the Win32 ABI.
constexpr u32 error_success = 0;
constexpr u32 error_file_not_found = 2;
constexpr u32 error_access_denied = 5;
constexpr u32 error_invalid_handle = 6;
constexpr u32 error_not_enough_memory = 8;
constexpr u32 error_invalid_data = 13;
constexpr u32 error_invalid_parameter = 87;
constexpr u32 error_insufficient_buffer = 122;
constexpr u32 error_filename_exced_range = 206;
constexpr u32 error_more_data = 234;
constexpr u32 error_no_more_items = 259;
constexpr u32 error_key_deleted = 1018;

constexpr u32 key_read = 0x20019;
constexpr u32 key_all_access = 0xF003F;

constexpr u32 reg_none = 0;
constexpr u32 reg_sz = 1;
constexpr u32 reg_binary = 3;
constexpr u32 reg_dword = 4;
constexpr u32 reg_multi_sz = 7;

constexpr u32 digcf_present = 0x2;
constexpr u32 digcf_allclasses = 0x4;
constexpr u32 spdrp_hardwareid = 0x1;
constexpr u32 spdrp_configflags = 0xA;

constexpr u32 wm_initdialog = 0x0110;
constexpr u32 wm_command = 0x0111;
constexpr u32 wm_nextdlgctl = 0x0028;
constexpr u32 en_killfocus = 0x0200;
constexpr u32 bn_clicked = 0;
constexpr u32 bst_unchecked = 0;
constexpr u32 bst_checked = 1;
constexpr int id_ok = 1;
constexpr int id_cancel = 2;

// The registry root every path of the program is relative to.
key_handle local_machine();

// Registry, mirroring RegOpenKeyExW and friends; each returns a Windows error code.
u32 reg_open_key(key_handle parent, const char16_t* path, u32 access, key_handle* out);
// data may be null to ask for the size only; *byte_size is in: the buffer's size, out: the data's.
u32 reg_query_value(key_handle key, const char16_t* name, u32* type, void* data, u32* byte_size);
u32 reg_set_value(key_handle key, const char16_t* name, u32 type, const void* data, u32 byte_size);
u32 reg_delete_value(key_handle key, const char16_t* name);
u32 reg_delete_key(key_handle key, const char16_t* subkey);
// *name_units is in: the buffer's size in units with the terminator, out: the name's length without
// it.
u32 reg_enum_key(key_handle key, u32 index, char16_t* name, u32* name_units);
u32 reg_close_key(key_handle key);

// Security: builds the Administrators SID (S-1-5-32-544) and tests the thread's token against it.
// Returns false when the SID cannot be built or the test fails; *member holds the answer otherwise.
bool check_administrators_membership(bool* member);

// The processor's CPUID instruction: regs receives EAX, EBX, ECX, EDX.
void cpuid(u32 leaf, u32 subleaf, u32 regs[4]);

// Device setup interface. device_info mirrors SP_DEVINFO_DATA (32 bytes in the 64-bit layout).
struct device_info {
  u32 size;
  unsigned char class_guid[16];
  u32 device_instance;
  std::uintptr_t reserved;
};
// Returns null when the list cannot be built.
device_list setup_get_class_devs(const char16_t* enumerator, u32 flags);
bool setup_enum_device_info(device_list list, u32 index, device_info* info);
bool setup_get_device_property(device_list list, device_info* info, u32 property, u32* type,
                               void* buffer, u32 byte_size, u32* required_size);
bool setup_set_device_property(device_list list, device_info* info, u32 property,
                               const void* buffer, u32 byte_size);
// The device's instance id ("PCI\<device key>\<instance>"), terminated, into units units;
// *required_units receives its length with the terminator. False when it does not fit.
bool setup_get_device_instance_id(device_list list, device_info* info, char16_t* buffer, u32 units,
                                  u32* required_units);
bool setup_destroy_device_list(device_list list);
int setup_prompt_reboot();
u32 last_error();

// Module and resources.
module_handle own_module();
// Copies string id into buffer (at most units - 1 characters, terminated); returns the length
// copied.
int load_string(module_handle module, u32 id, char16_t* buffer, int units);
int message_box(window_handle owner, const char16_t* text, const char16_t* caption, u32 flags);

// Windows. register_window_class registers a class with the default window procedure, background
// brush value 1 and no icon, cursor or menu; it returns false when the class exists already.
bool register_window_class(module_handle module, const char16_t* class_name, u32 class_style);
window_handle create_window(u32 ex_style, const char16_t* class_name, const char16_t* title,
                            u32 style, module_handle module);
module_handle window_module(window_handle window);

// Dialogs. The procedure returns true for "handled"; on wm_initdialog lparam is the creation
// parameter. dialog_box_param returns the EndDialog result, or -1 when the dialog was not created.
using dialog_procedure = std::intptr_t (*)(window_handle dialog, u32 message, std::uintptr_t wparam,
                                           std::intptr_t lparam);
std::intptr_t dialog_box_param(module_handle module, const char16_t* template_name,
                               window_handle owner, dialog_procedure procedure,
                               std::intptr_t parameter);
// As dialog_box_param, for a dialog that stays open beside others (others, other_count; null
// entries are skipped): its modal loop is the program's own, and gives each message for a window of
// this dialog or of one of the others to that dialog's keyboard handling (Tab, Enter, Escape,
// Alt+letter), which the system's modal loop gives to its own dialog alone. end_dialog ends it.
std::intptr_t dialog_box_param_beside(module_handle module, const char16_t* template_name,
                                      window_handle owner, dialog_procedure procedure,
                                      std::intptr_t parameter, const window_handle* others,
                                      u32 other_count);
bool end_dialog(window_handle dialog, std::intptr_t result);
window_handle get_dlg_item(window_handle dialog, int id);
bool enable_window(window_handle window, bool enable);
bool check_dlg_button(window_handle dialog, int id, u32 state);
bool check_radio_button(window_handle dialog, int first_id, int last_id, int check_id);
u32 is_dlg_button_checked(window_handle dialog, int id);
bool set_dlg_item_int(window_handle dialog, int id, u32 value);  // unsigned decimal
bool set_dlg_item_text(window_handle dialog, int id, const char16_t* text);
// Copies the control's text (at most units - 1 characters, terminated); returns the length copied.
u32 get_dlg_item_text(window_handle dialog, int id, char16_t* buffer, u32 units);
u32 get_window_text_length(window_handle window);
window_handle set_focus(window_handle window);
bool post_message(window_handle window, u32 message, std::uintptr_t wparam, std::intptr_t lparam);
void post_quit_message(int exit_code);
// One turn of the message loop: false when the quit request was retrieved (its code in *exit_code).
// The Win32 implementation blocks until a message arrives, as GetMessageW does.
bool get_and_dispatch_message(int* exit_code);

// ---- For the save-and-restore engine (rollback/) only: vivediz.exe links none of this.

constexpr u32 error_path_not_found = 3;
constexpr u32 error_file_exists = 80;
constexpr u32 error_already_exists = 183;
constexpr u32 error_child_must_be_volatile = 1021;
constexpr u32 error_no_such_devinst = 0xE000020B;

constexpr u32 key_query_value = 0x1;
constexpr u32 key_set_value = 0x2;
constexpr u32 key_create_sub_key = 0x4;
constexpr u32 key_enumerate_sub_keys = 0x8;
constexpr u32 key_wow64_64key = 0x100;
constexpr u32 key_wow64_32key = 0x200;
constexpr u32 reg_option_non_volatile = 0;
constexpr u32 reg_option_volatile = 1;
constexpr u32 reg_expand_sz = 2;
constexpr u32 reg_qword = 11;

key_handle current_user();
// Whether the registry has a 64-bit and a 32-bit view (64-bit Windows). Elsewhere no view flag
// may be passed: Windows 2000 does not know them.
bool registry_has_views();
// RegCreateKeyExW: opens the key, creating it and every missing key on the way; *created says
// whether the key itself was made.
u32 reg_create_key(key_handle parent, const char16_t* path, u32 options, u32 access,
                   key_handle* out, bool* created);
// RegEnumValueW for the name alone; *name_units as for reg_enum_key. Names hold up to 16383 units.
u32 reg_enum_value_name(key_handle key, u32 index, char16_t* name, u32* name_units);
// RegFlushKey: returns once the key's hive is on disk.
u32 reg_flush_key(key_handle key);
// Deletes a subkey without subkeys in the given view (key_wow64_64key or key_wow64_32key, or 0),
// as RegDeleteKeyExW (XP x64 on, looked up) does; where it is missing, as RegDeleteKeyW.
u32 reg_delete_key_in_view(key_handle key, const char16_t* subkey, u32 view);

// Files, as CreateFileW and friends; each returns a Windows error code.
struct file_tag;
using file_handle = file_tag*;
constexpr u32 create_new = 1;
constexpr u32 create_always = 2;
constexpr u32 open_existing = 3;
u32 file_open(const char16_t* path, bool for_writing, u32 disposition, file_handle* out);
// *got is 0 at the end of the file.
u32 file_read(file_handle file, void* buffer, u32 byte_size, u32* got);
// Writes all of data, or fails.
u32 file_write(file_handle file, const void* data, u32 byte_size);
// FlushFileBuffers: the file's data is on disk when it returns.
u32 file_flush(file_handle file);
u32 file_close(file_handle file);
// MoveFileExW with MOVEFILE_WRITE_THROUGH: the new name is on disk when it returns. It never
// replaces a file that exists.
u32 file_rename(const char16_t* from, const char16_t* to);
u32 file_delete(const char16_t* path);
// error_success when the path names a file or folder; else why not (error_file_not_found...).
u32 file_exists(const char16_t* path);

// A list holding the one device with this instance id (SetupDiOpenDeviceInfoW into a new list),
// its record in *info; null when there is none, with the reason as the last error.
device_list setup_open_device(const char16_t* instance_id, device_info* info);

// TokenElevation's answer for this process (Vista on); false where the system does not know it.
bool query_token_elevation(bool* elevated);

// Numbers that differ between two saves on one machine: the system time, the performance
// counter, the thread id and the tick count.
void uniqueness_seed(u32 out[6]);

}  // namespace platform
