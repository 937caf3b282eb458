// Saving the registry the kit touches, the restore file, and putting everything back.
#include "tests/e2e/saved_state.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>

#include "tests/e2e/checks.h"
#include "tests/e2e/registry_access.h"

namespace e2e {
namespace {

const char kFileHeader[] = "vivediz acceptance kit restore file 1";

// Whether `path` is `top` or a key below it.
bool within(const std::wstring& path, const std::wstring& top) {
  return starts_with_ignore_case(path, top) &&
         (path.size() == top.size() || path[top.size()] == L'\\');
}

std::string root_name(HKEY root) { return root == HKEY_CURRENT_USER ? "HKCU" : "HKLM"; }

// Text fields: UTF-8 with every byte outside printable ASCII, and '%', as %XX.
std::string encode(const std::wstring& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : narrow(text)) {
    if (c <= 0x20 || c >= 0x7F || c == '%') {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool decode_bytes(const std::string& text, std::string* bytes) {
  bytes->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      bytes->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size() || hex_digit(text[i + 1]) < 0 || hex_digit(text[i + 2]) < 0) {
      return false;
    }
    bytes->push_back(static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2])));
    i += 2;
  }
  return true;
}

bool decode(const std::string& text, std::wstring* out) {
  std::string bytes;
  if (!decode_bytes(text, &bytes)) return false;
  out->clear();
  if (bytes.empty()) return true;
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (units <= 0) return false;
  out->assign(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &(*out)[0], units);
  return true;
}

std::string hex(const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out = data.empty() ? "-" : "";
  for (BYTE b : data) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool unhex(const std::string& text, std::vector<BYTE>* data) {
  data->clear();
  if (text == "-") return true;
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (hex_digit(text[i]) < 0 || hex_digit(text[i + 1]) < 0) return false;
    data->push_back(static_cast<BYTE>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1])));
  }
  return true;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::wstring joined(const std::wstring& path, const std::wstring& relative) {
  return relative.empty() ? path : path + L"\\" + relative;
}

// A key's path relative to its tree: the child's name alone below the root.
std::wstring child_of(const std::wstring& relative, const std::wstring& child) {
  return relative.empty() ? child : relative + L"\\" + child;
}

std::string where(HKEY root, const std::wstring& path, REGSAM view) {
  return root_name(root) + "\\" + narrow(path) +
         (views_of(path).size() > 1 ? std::string(" (") + view_name(view) + ")" : "");
}

std::vector<saved_value> values_of(HKEY key) {
  std::vector<saved_value> values;
  for (const std::wstring& name : value_names_in(key)) {
    saved_value value{name, REG_NONE, {}};
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
      continue;
    }
    value.data.assign(size, 0);
    RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                     value.data.empty() ? nullptr : &value.data[0], &size);
    value.data.resize(size);
    values.push_back(value);
  }
  return values;
}

// Deletes the keys below the saved tree that it did not hold (created since it was saved).
void prune(const saved_tree& tree, const std::set<std::wstring>& saved_keys,
           const std::wstring& relative) {
  HKEY key = open_key(tree.root, joined(tree.path, relative), tree.view, KEY_ENUMERATE_SUB_KEYS);
  if (key == nullptr) return;
  const std::vector<std::wstring> children = subkey_names_in(key);
  RegCloseKey(key);
  for (const std::wstring& child : children) {
    if (relative.empty() && !starts_with_ignore_case(child, tree.child_prefix)) continue;
    const std::wstring below = child_of(relative, child);
    if (saved_keys.count(below) == 0) {
      delete_key_tree(tree.root, joined(tree.path, below), tree.view);
    } else {
      prune(tree, saved_keys, below);
    }
  }
}

std::set<std::wstring> lowered_keys(const saved_tree& tree) {
  std::set<std::wstring> keys;
  for (const saved_tree::key& k : tree.keys) keys.insert(k.relative);
  return keys;
}

bool same_name(const std::wstring& a, const std::wstring& b) {
  return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::string describe_value(bool present, DWORD type, const std::vector<BYTE>& data) {
  if (!present) return "absent";
  char text[64];
  std::snprintf(text, sizeof text, "type %lu with %u bytes", type,
                static_cast<unsigned>(data.size()));
  return text;
}

void restore_values(HKEY key, const std::vector<saved_value>& saved) {
  for (const std::wstring& name : value_names_in(key)) {
    bool kept = false;
    for (const saved_value& v : saved) kept = kept || same_name(v.name, name);
    if (!kept) RegDeleteValueW(key, name.c_str());
  }
  for (const saved_value& v : saved) {
    RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.empty() ? nullptr : v.data.data(),
                   static_cast<DWORD>(v.data.size()));
  }
}

void check_tree(const saved_tree& tree, std::vector<std::string>* left) {
  if (!tree.existed) {
    if (key_exists_in(tree.root, tree.path, tree.view)) {
      left->push_back(where(tree.root, tree.path, tree.view) + ": expected no key, got one");
    }
    return;
  }
  const std::set<std::wstring> saved_keys = lowered_keys(tree);
  for (const saved_tree::key& k : tree.keys) {
    const std::wstring path = joined(tree.path, k.relative);
    HKEY key = open_key(tree.root, path, tree.view, KEY_READ);
    if (key == nullptr) {
      left->push_back(where(tree.root, path, tree.view) + ": expected the key, got none");
      continue;
    }
    const std::vector<saved_value> now = values_of(key);
    for (const std::wstring& child : subkey_names_in(key)) {
      if (k.relative.empty() && !starts_with_ignore_case(child, tree.child_prefix)) continue;
      if (saved_keys.count(child_of(k.relative, child)) == 0) {
        left->push_back(where(tree.root, joined(path, child), tree.view) +
                        ": expected no key, got one");
      }
    }
    RegCloseKey(key);
    if (k.relative.empty() && !tree.child_prefix.empty()) continue;
    for (const saved_value& v : k.values) {
      bool found = false;
      for (const saved_value& n : now) {
        if (!same_name(n.name, v.name)) continue;
        found = true;
        if (n.type != v.type || n.data != v.data) {
          left->push_back(where(tree.root, path, tree.view) + " \"" + narrow(v.name) +
                          "\": expected " + describe_value(true, v.type, v.data) + ", got " +
                          describe_value(true, n.type, n.data));
        }
      }
      if (!found) {
        left->push_back(where(tree.root, path, tree.view) + " \"" + narrow(v.name) +
                        "\": expected " + describe_value(true, v.type, v.data) + ", got absent");
      }
    }
    for (const saved_value& n : now) {
      bool saved = false;
      for (const saved_value& v : k.values) saved = saved || same_name(n.name, v.name);
      if (!saved) {
        left->push_back(where(tree.root, path, tree.view) + " \"" + narrow(n.name) +
                        "\": expected absent, got " + describe_value(true, n.type, n.data));
      }
    }
  }
}

void restore_tree(const saved_tree& tree) {
  if (!tree.existed) {
    delete_key_tree(tree.root, tree.path, tree.view);
    return;
  }
  prune(tree, lowered_keys(tree), L"");
  for (const saved_tree::key& k : tree.keys) {
    HKEY key = create_key(tree.root, joined(tree.path, k.relative), tree.view);
    if (key == nullptr) continue;
    if (!k.relative.empty() || tree.child_prefix.empty()) restore_values(key, k.values);
    RegCloseKey(key);
  }
}

void restore_single(const saved_single& s, std::vector<std::string>* left) {
  if (s.existed) {
    HKEY key = create_key(s.root, s.path, s.view);
    if (key != nullptr) {
      RegSetValueExW(key, s.value.name.c_str(), 0, s.value.type,
                     s.value.data.empty() ? nullptr : s.value.data.data(),
                     static_cast<DWORD>(s.value.data.size()));
      RegCloseKey(key);
    }
  } else {
    HKEY key = open_key(s.root, s.path, s.view, KEY_SET_VALUE);
    if (key != nullptr) {
      RegDeleteValueW(key, s.value.name.c_str());
      RegCloseKey(key);
    }
    if (!s.first_missing.empty()) delete_key_tree(s.root, s.first_missing, s.view);
  }
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  const bool present = read_value(s.root, s.path, s.value.name, s.view, &type, &data);
  if (present != s.existed || (present && (type != s.value.type || data != s.value.data))) {
    left->push_back(where(s.root, s.path, s.view) + " \"" + narrow(s.value.name) + "\": expected " +
                    describe_value(s.existed, s.value.type, s.value.data) + ", got " +
                    describe_value(present, type, data));
  }
  if (!s.existed && !s.first_missing.empty() && key_exists_in(s.root, s.first_missing, s.view)) {
    left->push_back(where(s.root, s.first_missing, s.view) + ": expected no key, got one");
  }
}

bool parse_root(const std::string& text, HKEY* root) {
  if (text == "HKLM")
    *root = HKEY_LOCAL_MACHINE;
  else if (text == "HKCU")
    *root = HKEY_CURRENT_USER;
  else
    return false;
  return true;
}

bool parse_view(const std::string& text, REGSAM* view) {
  if (text == "64")
    *view = KEY_WOW64_64KEY;
  else if (text == "32")
    *view = KEY_WOW64_32KEY;
  else
    return false;
  return true;
}

}  // namespace

void save_tree(saved_state* state, HKEY root, const std::wstring& path, REGSAM view,
               const std::wstring& child_prefix) {
  saved_tree tree{root, path, view, child_prefix, key_exists_in(root, path, view), {}};
  std::vector<std::wstring> pending = {L""};
  while (tree.existed && !pending.empty()) {
    const std::wstring relative = pending.front();
    pending.erase(pending.begin());
    HKEY key = open_key(root, joined(path, relative), view, KEY_READ);
    if (key == nullptr) continue;
    saved_tree::key record{relative, {}};
    if (!relative.empty() || child_prefix.empty()) record.values = values_of(key);
    for (const std::wstring& sub : subkey_names_in(key)) {
      if (relative.empty() && !starts_with_ignore_case(sub, child_prefix)) continue;
      pending.push_back(child_of(relative, sub));
    }
    RegCloseKey(key);
    tree.keys.push_back(record);
  }
  state->trees.push_back(tree);
}

void save_single(saved_state* state, HKEY root, const std::wstring& path,
                 const std::wstring& name) {
  for (REGSAM view : views_of(path)) {
    saved_single s{root, path, view, {name, REG_NONE, {}}, false, L""};
    s.existed = read_value(root, path, name, view, &s.value.type, &s.value.data);
    for (std::size_t at = 0; !s.existed && at != std::wstring::npos;) {
      at = path.find(L'\\', at + 1);
      const std::wstring prefix = path.substr(0, at);
      if (!key_exists_in(root, prefix, view)) {
        s.first_missing = prefix;
        break;
      }
    }
    state->singles.push_back(s);
  }
}

bool covers(const saved_state& state, const std::wstring& path, const std::wstring& name) {
  for (const saved_tree& tree : state.trees) {
    if (tree.root != HKEY_LOCAL_MACHINE || !within(path, tree.path)) continue;
    if (tree.child_prefix.empty()) return true;
    if (path.size() > tree.path.size() &&
        starts_with_ignore_case(path.substr(tree.path.size() + 1), tree.child_prefix)) {
      return true;
    }
  }
  for (const saved_single& s : state.singles) {
    // A key on the way to a saved value that was missing: restore deletes it again.
    if (name.empty() && s.root == HKEY_LOCAL_MACHINE && !s.first_missing.empty() &&
        within(path, s.first_missing) && within(s.path, path)) {
      return true;
    }
  }
  if (name.empty()) return false;
  for (const saved_single& s : state.singles) {
    if (s.root == HKEY_LOCAL_MACHINE && same_name(s.path, path) && same_name(s.value.name, name)) {
      return true;
    }
  }
  return false;
}

bool write_restore_file(const saved_state& state, const std::wstring& file) {
  std::string text = std::string(kFileHeader) + "\n";
  const auto view_text = [](REGSAM view) { return view == KEY_WOW64_32KEY ? "32" : "64"; };
  for (const saved_tree& tree : state.trees) {
    text += "tree\t" + root_name(tree.root) + "\t" + view_text(tree.view) + "\t" +
            encode(tree.path) + "\t" + encode(tree.child_prefix) + "\t" +
            (tree.existed ? "1" : "0") + "\n";
    for (const saved_tree::key& k : tree.keys) {
      text += "key\t" + encode(k.relative) + "\n";
      for (const saved_value& v : k.values) {
        text +=
            "value\t" + encode(v.name) + "\t" + std::to_string(v.type) + "\t" + hex(v.data) + "\n";
      }
    }
  }
  for (const saved_single& s : state.singles) {
    text += "single\t" + root_name(s.root) + "\t" + view_text(s.view) + "\t" + encode(s.path) +
            "\t" + encode(s.value.name) + "\t" + (s.existed ? "1" : "0") + "\t" +
            std::to_string(s.value.type) + "\t" + hex(s.value.data) + "\t" +
            encode(s.first_missing) + "\n";
  }
  text += "end\n";
  const std::wstring temporary = file + L".tmp";
  HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && FlushFileBuffers(out);
  CloseHandle(out);
  if (!whole) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return MoveFileExW(temporary.c_str(), file.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool read_restore_file(const std::wstring& file, saved_state* state, std::string* error) {
  HANDLE in =
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    *error = "cannot open it (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  std::string text;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(in);
  *state = saved_state();
  bool ended = false;
  int line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    const std::vector<std::string> f = fields_of(line);
    bool good = true;
    if (line_number == 1) {
      good = line == kFileHeader;
    } else if (ended) {
      good = false;
    } else if (f[0] == "tree" && f.size() == 6) {
      saved_tree tree{nullptr, L"", 0, L"", f[5] == "1", {}};
      good = parse_root(f[1], &tree.root) && parse_view(f[2], &tree.view) &&
             decode(f[3], &tree.path) && decode(f[4], &tree.child_prefix);
      state->trees.push_back(tree);
    } else if (f[0] == "key" && f.size() == 2 && !state->trees.empty()) {
      saved_tree::key k{L"", {}};
      good = decode(f[1], &k.relative);
      state->trees.back().keys.push_back(k);
    } else if (f[0] == "value" && f.size() == 4 && !state->trees.empty() &&
               !state->trees.back().keys.empty()) {
      saved_value v{L"", static_cast<DWORD>(std::strtoul(f[2].c_str(), nullptr, 10)), {}};
      good = decode(f[1], &v.name) && unhex(f[3], &v.data);
      state->trees.back().keys.back().values.push_back(v);
    } else if (f[0] == "single" && f.size() == 9) {
      saved_single s{nullptr, L"", 0, {L"", 0, {}}, f[5] == "1", L""};
      s.value.type = static_cast<DWORD>(std::strtoul(f[6].c_str(), nullptr, 10));
      good = parse_root(f[1], &s.root) && parse_view(f[2], &s.view) && decode(f[3], &s.path) &&
             decode(f[4], &s.value.name) && unhex(f[7], &s.value.data) &&
             decode(f[8], &s.first_missing);
      state->singles.push_back(s);
    } else if (f[0] == "end" && f.size() == 1) {
      ended = true;
    } else {
      good = line.empty() && start >= text.size();
    }
    if (!good) {
      *error = "line " + std::to_string(line_number) + " is not a restore record";
      return false;
    }
  }
  if (!ended) *error = "it ends before its last line: it was not written whole";
  return ended;
}

std::vector<std::string> restore(const saved_state& state) {
  std::vector<std::string> left;
  for (const saved_tree& tree : state.trees) restore_tree(tree);
  for (const saved_single& s : state.singles) restore_single(s, &left);
  for (const saved_tree& tree : state.trees) check_tree(tree, &left);
  return left;
}

}  // namespace e2e
