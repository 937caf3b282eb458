// The save-and-restore engine that the acceptance kit and the undo program share: an installer's
// rollback. It records exactly what will be touched, byte for byte; puts back exactly that; never
// deletes what was not recorded; refuses a record that is not whole or not this guest's.
//
// It works through the platform seam (platform/platform.h) like the program, so the native tests
// run it against the stand-in. vivediz.exe never links it: a Windows program that uses it calls
// vivediz_link_rollback(target) (cmake/rollback.cmake), which adds rollback/*.cpp and the seam's
// Win32 files it needs; the native build puts rollback/*.cpp into the stand-in's library.
//
// How to use it. A save, before the first change:
//
//   rollback::plan plan;
//   const rollback::hive hklm = rollback::hive::local_machine;
//   for (rollback::view v : rollback::views_of(hklm, tcpip_path))
//     plan.values(hklm, v, tcpip_path, {u"TcpWindowSize", u"Tcp1323Opts"});
//   plan.tree(hklm, rollback::view::registry64, block_service_path);
//   plan.devices(u"XEN", {u"XEN\\TYPE_VBD", u"XEN\\TYPE_VSCSI"});
//   rollback::record record;
//   std::string refusal;
//   if (!rollback::save(plan, u"undo", file, &record, &refusal)) { print refusal; fail; }
//
// save() reads everything first and refuses, changing nothing, when anything cannot be read (a
// key it may not open is never taken for a missing one), when `file` exists, or when an earlier
// save of the same owner was never restored (unfinished_saves). Then it marks the guest and writes
// the file whole (a temporary name, flushed, renamed). Only then may the caller change anything.
//
// Putting it back, in the same process:            rollback::restore(record, file)
// After a crash, from the file:                     rollback::load(file, u"undo", &record, &why),
//                                                   then rollback::restore(record, file)
// What a restore would change, changing nothing:   rollback::changes(record)
// Back to the saved state, going on (the kit, before each scenario): rollback::put_back(record)
//
// load() refuses, one line and nothing changed, a file that is not whole (a SHA-256 over all its
// lines is its last line: a line missing anywhere is caught), of another owner, or of another
// guest. A guest is its machine GUID (HKLM\SOFTWARE\Microsoft\Cryptography "MachineGuid"), its
// computer name (HKLM\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName) and the mark
// that save() left in its registry (a value named by the save's id in the key
// HKLM\SOFTWARE\vivediz\Rollback). A copy of the guest made after the save has all three: it cannot
// be told from its original. A copy made before the save lacks the mark.
//
// restore() puts every recorded item back and reads it again; only when everything is as
// recorded does it flush the registry (RegFlushKey), delete the file (and check that it is gone)
// and remove the mark. Otherwise each item that is not back is named, and the file and the mark
// stay. Its outcome is the caller's exit status.
//
// Names and paths are UTF-16 units as the registry holds them (any unit, paired or not). Messages
// are UTF-8 lines; a unit that is no character shows as \uXXXX.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rollback {

using u32 = std::uint32_t;
using text = std::u16string;
using bytes = std::vector<unsigned char>;

enum class hive { local_machine, current_user };
// The registry view a path is read and written in. On 64-bit Windows HKLM\SOFTWARE has a 64-bit
// and a 32-bit one; elsewhere both name the one registry.
enum class view { registry64, registry32 };

// The views a path lives in: both for HKLM\SOFTWARE\... where the system has views, else one.
std::vector<view> views_of(hive root, const text& path);

// What a save records.
class plan {
 public:
  // The named values of one key, each stored (type and bytes) or not, and whether the key exists.
  // A restore deletes nothing else there; a key that appears below it is named, not touched.
  void values(hive root, view where, const text& path, const std::vector<text>& names);
  // A key with everything below it, for keys the caller creates below it. Never under a control
  // set's Enum key (save refuses): those keys are the system's, saved value by value.
  void tree(hive root, view where, const text& path);
  // The configuration flags (through the device setup interface) of the enumerator's devices,
  // present or not, whose first hardware id starts with one of the prefixes (every one's if none).
  void devices(const text& enumerator, const std::vector<text>& hardware_id_prefixes);

  // Whether the save refuses while an earlier save of the same owner was never put back (the
  // kit's runs, one at a time); the undo program keeps as many saves as the administrator makes.
  bool refuse_while_unfinished = true;

  struct values_target {
    hive root;
    view where;
    text path;
    std::vector<text> names;
  };
  struct tree_target {
    hive root;
    view where;
    text path;
  };
  struct devices_target {
    text enumerator;
    std::vector<text> prefixes;
  };
  std::vector<values_target> value_targets;
  std::vector<tree_target> tree_targets;
  std::vector<devices_target> device_targets;
};

// What a save found.
struct value_record {
  text name;
  bool stored = false;
  u32 type = 0;
  bytes data;
};

struct key_record {
  text relative;  // below the item's path; empty for the item's own key
  std::vector<value_record> values;
  std::vector<text> subkeys;  // of a values item's key: what was there, so newer ones are named
};

struct registry_record {
  enum class kind { values, tree };
  kind what = kind::values;
  hive root = hive::local_machine;
  view where = view::registry64;
  text path;
  bool existed = false;
  text first_missing;  // values only, key absent: the first key on the path that was absent
  std::vector<key_record> keys;  // values: one when it existed; tree: parents before children
};

struct device_record {
  text instance_id;
  bool stored = false;  // whether the device had configuration flags
  u32 flags = 0;
};

struct devices_record {
  text enumerator;
  std::vector<text> prefixes;
  std::vector<device_record> devices;
};

struct guest_identity {
  bool has_machine_guid = false;
  text machine_guid;
  bool has_computer_name = false;
  text computer_name;
};

struct record {
  text owner;  // who saved it: "accept", "undo"
  guest_identity guest;
  text mark;               // the id of the guest's mark: 32 hexadecimal digits
  u32 mark_keys_made = 0;  // keys the mark created: 0, 1 (Rollback) or 2 (vivediz and Rollback)
  std::vector<registry_record> registry;
  std::vector<devices_record> devices;
};

struct outcome {
  std::vector<std::string> failures;  // each item that is not as recorded, named: exit non-zero
  std::vector<std::string> notes;     // keys found outside what was recorded, left as they are
  bool whole() const { return failures.empty(); }
};

// Reads what the plan names, marks the guest and writes the record file whole. False with one
// line, and nothing changed, when it cannot.
bool save(const plan& what, const text& owner, const text& file, record* out, std::string* refusal);

// Reads and checks a record file. False with one line, and nothing changed, when the file cannot
// be read, is not whole, belongs to another owner, or was not written on this guest.
bool load(const text& file, const text& owner, record* out, std::string* refusal);

// One line per difference between the guest and the record, each naming what a restore changes.
// Reading errors are lines too.
std::vector<std::string> changes(const record& saved);

// Puts everything recorded back and reads it again; leaves the file and the mark.
outcome put_back(const record& saved);

// put_back, then, when everything is back: flushes, deletes the file (checked), removes the mark.
outcome restore(const record& saved, const text& file);

// Saves of this owner that were never restored on this guest, from any folder: their files.
struct unfinished {
  text mark;
  text file;
  bool file_exists;
};
bool unfinished_saves(const text& owner, std::vector<unfinished>* out, std::string* error);
// Removes the mark of a save whose record file is gone for good (nothing can be put back from
// it); false with the reason when there is no such mark or the file is there.
bool forget_save(const text& owner, const text& file, std::string* said);

// Whether a change of this value (or, for an empty name, of this key) is one the record undoes:
// within a tree, a recorded value, or a key below one recorded absent.
bool covers(const record& saved, hive root, const text& path, const text& name);

// The token is elevated: TokenElevation where the system has it, else membership of
// Administrators. *how names which answered.
bool elevated(std::string* how);

// UTF-8 of a name for messages; a unit that is no character shows as \uXXXX.
std::string printable(const text& name);

}  // namespace rollback
