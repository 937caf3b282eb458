// What the engine's files share: registry keys in a view, reading and writing values exactly,
// deleting a tree, the record file's text, the guest's mark, and how things are named in messages.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "rollback/rollback.h"

namespace rollback::detail {

using platform::key_handle;

// An open registry key, closed when the object goes.
class key {
 public:
  key() = default;
  key(const key&) = delete;
  key& operator=(const key&) = delete;
  ~key() { close(); }
  key_handle get() const { return handle_; }
  key_handle* put() {
    close();
    return &handle_;
  }
  void close();

 private:
  key_handle handle_ = nullptr;
};

text join(const text& path, const text& relative);
// The view's flag where the system has views, else 0.
u32 view_flag(view where);
u32 open_key(hive root, view where, const text& path, u32 access, key* out);
// Creates the key and any missing key on the way (volatile where the parent demands it).
u32 create_key(hive root, view where, const text& path, key* out, bool* created);
// A value's type and bytes; a value that is not there is no error (stored false).
u32 read_value(key_handle k, const text& name, value_record* out);
// Writes the bytes exactly: Windows stores a string's terminator along when the unit after the
// data is zero, so the unit after them is never zero here.
u32 write_value(key_handle k, const value_record& v);
u32 value_names(key_handle k, std::vector<text>* out);
u32 subkey_names(key_handle k, std::vector<text>* out);
// Deletes the key with everything below it (a missing key is no error); *failed names the key
// that could not be deleted.
u32 delete_tree(hive root, view where, const text& path, text* failed);
bool same_name(const text& a, const text& b);
bool starts_with_ignore_case(const text& s, const text& prefix);
// Whether a tree at the path would hold a control set's Enum key or lie in one
// (SYSTEM\CurrentControlSet\Enum\...).
bool holds_enum(hive root, const text& path);

// Messages: "HKLM\path" with " (32-bit view)" where that view is meant, a value's name quoted.
std::string where(hive root, view in, const text& path);
std::string value_where(hive root, view in, const text& path, const text& name);
std::string error_text(u32 error);
std::string describe(const value_record& v);

// The record file's text (record_file.cpp).
std::string serialize(const record& r);
// False with the reason when the text is not a whole record.
bool parse(const std::string& content, record* out, std::string* reason);

// The guest (guest.cpp).
u32 read_identity(guest_identity* out, std::string* failed);
extern const char16_t kMarkKey[];  // under HKLM, 64-bit view
// Whether the mark with this id is in the guest; false with a reason when it cannot be read.
bool mark_present(const text& id, const text& owner, bool* present, std::string* error);
u32 write_mark(const text& id, const text& owner, const text& file, u32* keys_made);
// Removes the mark and the keys it made, if nothing else is in them; failures are lines.
void remove_mark(const text& id, u32 keys_made, std::vector<std::string>* failures);
text new_mark_id(const guest_identity& guest, const text& file);

// Files (files.cpp).
u32 read_file(const text& path, std::string* content);
// Writes the file whole: a temporary name, flushed, renamed; never replaces one that exists.
u32 write_file_whole(const text& path, const std::string& content, std::string* step);

}  // namespace rollback::detail
