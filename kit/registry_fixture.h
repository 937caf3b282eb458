// Registry preparation and checks for the end-to-end scenarios, and the machine's saved state.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kit/checks.h"
#include "rollback/rollback.h"

namespace e2e {

// One registry fact under HKEY_LOCAL_MACHINE: a value with its type and data, a value that must be
// missing, a key that must exist, or a key that must be missing. Paths under "SOFTWARE\" are
// applied to and checked in both the 64-bit and the 32-bit view; all other paths are shared.
struct reg_item {
  enum class kind { value, key };
  kind what;
  std::wstring path;
  std::wstring name;
  bool present;
  DWORD type;
  std::vector<BYTE> data;
  location where;
};

reg_item dword_value(const std::wstring& path, const std::wstring& name, DWORD value,
                     location where = E2E_HERE_DEFAULT);
reg_item string_value(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                      location where = E2E_HERE_DEFAULT);
// A REG_SZ holding exactly the text's units, without a terminator.
reg_item unterminated_string_value(const std::wstring& path, const std::wstring& name,
                                   const std::wstring& text, location where = E2E_HERE_DEFAULT);
reg_item multi_string_value(const std::wstring& path, const std::wstring& name,
                            const std::vector<std::wstring>& strings,
                            location where = E2E_HERE_DEFAULT);
// Binary data of the given size, for values whose size matters rather than their type.
reg_item binary_value(const std::wstring& path, const std::wstring& name,
                      const std::vector<BYTE>& data, location where = E2E_HERE_DEFAULT);
reg_item no_value(const std::wstring& path, const std::wstring& name,
                  location where = E2E_HERE_DEFAULT);
reg_item key_exists(const std::wstring& path, location where = E2E_HERE_DEFAULT);
reg_item no_key(const std::wstring& path, location where = E2E_HERE_DEFAULT);

// Makes the item true in the registry (creating keys on the way, deleting trees for no_key).
// Returns false, after a failed check, when that was not possible.
bool apply(const reg_item& item);
// Checks that the item holds; the failure names the key, the value, what was expected and got.
void expect(const reg_item& item, location where);
// Checks that the key holds no value besides the named ones (a missing key holds none).
void expect_only_values(const std::wstring& path, const std::vector<std::wstring>& names,
                        location where);

bool key_present(const std::wstring& path);
void delete_tree(const std::wstring& path);

// Text for the save-and-restore engine, whose text is UTF-16 as Windows' is.
std::u16string utf16(const std::wstring& text);
std::wstring wide(const std::u16string& text);

// Everything the kit touches and the program under test can change, for the engine to save.
// Under Wine: the PV driver services and AFD whole, the device keys under Enum that the scenarios
// prepare value by value, and Wine's per-program settings. In a guest: the PV driver services
// whole, of AFD and Tcpip only the five TCP values by name, and of Enum only the MSI values of the
// virtio serial devices. Both: the product name and release id (both views), processor identifier,
// board maker, and the configuration flags of the XEN devices.
rollback::plan what_the_kit_touches(bool wine);
// The saved state every scenario starts from. In a guest (guest true) every change must also be
// one it can undo, and the PV driver service keys and the XEN devices the guest has are noted:
// kept, never expected absent.
void use_saved_state(const rollback::record* saved, bool guest);
// In a guest, the names of the values the key held when the kit saved it (none under Wine).
std::vector<std::wstring> guest_value_names(const std::wstring& path);
// A key the guest has that a scenario depends on being absent (a key it deletes, or a PV driver
// service key or the XEN devices: any for the Xen dialog, which reads both generations and can
// re-enable the devices), or empty.
std::wstring guest_tree_needed_by(const std::vector<reg_item>& items, bool xen_dialog);

// The state every scenario starts from: everything as saved (under Wine, where the keys the
// program owns were missing, they are gone again), the five TCP values are missing (their AFD key
// exists), and the system reads as 64-bit Windows 10 version 2004 on a board named "TestBoard".
void reset_to_baseline();
// Wine waits up to two seconds for a window manager to acknowledge every top-level window that a
// program hides (each message box, each help window, the settings dialog at the end), and Xvfb
// runs none. Marking the program's windows as not managed (Wine's per-program "X11 Driver"
// setting "Managed" = "N" under HKEY_CURRENT_USER) removes that wait; it changes nothing that a
// Win32 program can see. Only under Wine; every return to the saved state keeps it, and the
// restore at the end puts the setting back as saved.
void leave_program_windows_unmanaged();

// What reset_to_baseline leaves, as checkable items (the TCP values and the owned keys).
std::vector<reg_item> baseline_items();

// Paths used throughout.
extern const wchar_t* const kCurrentBusKey;
extern const wchar_t* const kLegacyBusKey;
extern const wchar_t* const kCurrentBlockKey;
extern const wchar_t* const kCurrentScsiKey;
extern const wchar_t* const kLegacyBlockKey;
extern const wchar_t* const kLegacyScsiKey;
extern const wchar_t* const kAfdKey;
extern const wchar_t* const kTcpipKey;
extern const wchar_t* const kCurrentVersionKey;
extern const wchar_t* const kProcessorKey;
extern const wchar_t* const kBiosKey;
extern const wchar_t* const kXenEnumKey;
extern const wchar_t* const kPciEnumKey;

}  // namespace e2e
