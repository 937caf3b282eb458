// What the kit saves before its first change, the restore file that holds it, and its restore.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct saved_value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};

// A key with everything below it as it was: on restore, keys that were not there are deleted
// (they were created since), saved ones recreated, and their values made exactly the saved ones.
// With a child prefix, only the root's children whose names start with it belong to the tree.
struct saved_tree {
  HKEY root;
  std::wstring path;
  REGSAM view;
  std::wstring child_prefix;
  bool existed;
  struct key {
    std::wstring relative;  // empty for the root
    std::vector<saved_value> values;
  };
  std::vector<key> keys;  // parents before children
};

// One value by name. A value that was not there is deleted on restore, and so is the first key
// of its path that was not there (`first_missing`), with everything created below it since.
struct saved_single {
  HKEY root;
  std::wstring path;
  REGSAM view;
  saved_value value;
  bool existed;
  std::wstring first_missing;
};

struct saved_state {
  std::vector<saved_tree> trees;
  std::vector<saved_single> singles;
};

void save_tree(saved_state* state, HKEY root, const std::wstring& path, REGSAM view,
               const std::wstring& child_prefix = std::wstring());
// In every view the path lives in (SOFTWARE: both on 64-bit Windows).
void save_single(saved_state* state, HKEY root, const std::wstring& path, const std::wstring& name);

// Whether a change of this value (or, for an empty name, this key) under HKLM is saved.
bool covers(const saved_state& state, const std::wstring& path, const std::wstring& name);

// Writes the file whole: to FILE.tmp, then renamed over FILE.
bool write_restore_file(const saved_state& state, const std::wstring& file);
bool read_restore_file(const std::wstring& file, saved_state* state, std::string* error);

// Puts everything back and checks it by reading it again. Returns one line per value or key that
// is not as saved afterwards, naming it.
std::vector<std::string> restore(const saved_state& state);

}  // namespace e2e
