// The record file's text: one item a line, tab-separated fields, and a last line with the SHA-256
// of every line before it, so that a line missing or changed anywhere is caught.
//
//   vivediz rollback record 1
//   owner   accept
//   guest   <1|0> <machine guid> <1|0> <computer name>
//   mark    <id> <keys the mark made>
//   values  <HKLM|HKCU> <64|32> <path> <existed 1|0> <first missing key>
//   tree    <HKLM|HKCU> <64|32> <path> <existed 1|0>
//   key     <relative path>                 (a tree's keys; a values item's one key)
//   value   <name> <stored 1|0> <type> <data in hexadecimal>
//   subkey  <name>                          (what a values item's key held below it)
//   devices <enumerator> <hardware id prefix>...
//   device  <instance id> <stored 1|0> <flags in hexadecimal>
//   sha256  <digest of every byte before this line>
//
// Text fields hold any UTF-16 units: printable ASCII but '%' as it is, every other unit as %XXXX.
#include <cstdio>
#include <cstdlib>

#include "rollback/internal.h"
#include "rollback/sha256.h"

namespace rollback::detail {
namespace {

const char kHeader[] = "vivediz rollback record 1";
const char kDigits[] = "0123456789ABCDEF";

std::string encode(const text& s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F && c != u'%') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 15];
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

bool decode(const std::string& field, text* out) {
  out->clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c != '%') {
      if (c < 0x20 || c >= 0x7F) return false;
      out->push_back(c);
      continue;
    }
    if (i + 4 >= field.size()) return false;
    u32 unit = 0;
    for (int k = 1; k <= 4; ++k) {
      const int d = hex_digit(field[i + k]);
      if (d < 0) return false;
      unit = unit * 16 + static_cast<u32>(d);
    }
    out->push_back(static_cast<char16_t>(unit));
    i += 4;
  }
  return true;
}

std::string hex(const bytes& data) {
  std::string out;
  for (unsigned char b : data) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool unhex(const std::string& field, bytes* out) {
  out->clear();
  if (field.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < field.size(); i += 2) {
    const int high = hex_digit(field[i]);
    const int low = hex_digit(field[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return true;
}

bool number(const std::string& field, int base, u32* out) {
  if (field.empty() || field.size() > 10) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(field.c_str(), &end, base);
  if (*end != '\0' || hex_digit(field[0]) < 0 || value > 0xFFFFFFFFul) return false;
  *out = static_cast<u32>(value);
  return true;
}

bool flag(const std::string& field, bool* out) {
  if (field != "0" && field != "1") return false;
  *out = field == "1";
  return true;
}

const char* hive_field(hive root) { return root == hive::current_user ? "HKCU" : "HKLM"; }
const char* view_field(view where) { return where == view::registry32 ? "32" : "64"; }

bool parse_hive(const std::string& field, hive* out) {
  if (field != "HKLM" && field != "HKCU") return false;
  *out = field == "HKCU" ? hive::current_user : hive::local_machine;
  return true;
}

bool parse_view(const std::string& field, view* out) {
  if (field != "64" && field != "32") return false;
  *out = field == "32" ? view::registry32 : view::registry64;
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

void add_line(std::string* out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) *out += '\t';
    *out += fields[i];
  }
  *out += '\n';
}

// Parses one line after the header into the record; false when it is not a record line or comes
// where it cannot.
bool parse_line(const std::vector<std::string>& f, record* r, bool* in_key) {
  const std::string& kind = f[0];
  if (kind == "owner" && f.size() == 2) return decode(f[1], &r->owner);
  if (kind == "guest" && f.size() == 5) {
    return flag(f[1], &r->guest.has_machine_guid) && decode(f[2], &r->guest.machine_guid) &&
           flag(f[3], &r->guest.has_computer_name) && decode(f[4], &r->guest.computer_name);
  }
  if (kind == "mark" && f.size() == 3) {
    return decode(f[1], &r->mark) && r->mark.size() == 32 && number(f[2], 10, &r->mark_keys_made) &&
           r->mark_keys_made <= 2;
  }
  if (kind == "values" && f.size() == 6) {
    registry_record item;
    item.what = registry_record::kind::values;
    *in_key = false;
    r->registry.push_back(item);
    registry_record& i = r->registry.back();
    return parse_hive(f[1], &i.root) && parse_view(f[2], &i.where) && decode(f[3], &i.path) &&
           flag(f[4], &i.existed) && decode(f[5], &i.first_missing);
  }
  if (kind == "tree" && f.size() == 5) {
    registry_record item;
    item.what = registry_record::kind::tree;
    *in_key = false;
    r->registry.push_back(item);
    registry_record& i = r->registry.back();
    return parse_hive(f[1], &i.root) && parse_view(f[2], &i.where) && decode(f[3], &i.path) &&
           flag(f[4], &i.existed);
  }
  if (kind == "key" && f.size() == 2 && !r->registry.empty() && r->registry.back().existed) {
    registry_record& i = r->registry.back();
    if (i.what == registry_record::kind::values && !i.keys.empty()) return false;
    i.keys.emplace_back();
    *in_key = true;
    return decode(f[1], &i.keys.back().relative);
  }
  if (kind == "value" && f.size() == 5 && *in_key) {
    value_record v;
    if (!decode(f[1], &v.name) || !flag(f[2], &v.stored) || !number(f[3], 10, &v.type) ||
        !unhex(f[4], &v.data)) {
      return false;
    }
    r->registry.back().keys.back().values.push_back(v);
    return true;
  }
  if (kind == "subkey" && f.size() == 2 && *in_key) {
    text name;
    if (!decode(f[1], &name)) return false;
    r->registry.back().keys.back().subkeys.push_back(name);
    return true;
  }
  if (kind == "devices" && f.size() >= 2) {
    *in_key = false;
    devices_record d;
    if (!decode(f[1], &d.enumerator)) return false;
    for (std::size_t k = 2; k < f.size(); ++k) {
      d.prefixes.emplace_back();
      if (!decode(f[k], &d.prefixes.back())) return false;
    }
    r->devices.push_back(d);
    return true;
  }
  if (kind == "device" && f.size() == 4 && !r->devices.empty()) {
    device_record d;
    // An empty id would name the root device to the device setup interface.
    if (!decode(f[1], &d.instance_id) || d.instance_id.empty() || !flag(f[2], &d.stored) ||
        !number(f[3], 16, &d.flags)) {
      return false;
    }
    r->devices.back().devices.push_back(d);
    return true;
  }
  return false;
}

}  // namespace

std::string serialize(const record& r) {
  std::string out = std::string(kHeader) + "\n";
  add_line(&out, {"owner", encode(r.owner)});
  add_line(&out, {"guest", r.guest.has_machine_guid ? "1" : "0", encode(r.guest.machine_guid),
                  r.guest.has_computer_name ? "1" : "0", encode(r.guest.computer_name)});
  add_line(&out, {"mark", encode(r.mark), std::to_string(r.mark_keys_made)});
  for (const registry_record& i : r.registry) {
    if (i.what == registry_record::kind::values) {
      add_line(&out, {"values", hive_field(i.root), view_field(i.where), encode(i.path),
                      i.existed ? "1" : "0", encode(i.first_missing)});
    } else {
      add_line(&out, {"tree", hive_field(i.root), view_field(i.where), encode(i.path),
                      i.existed ? "1" : "0"});
    }
    for (const key_record& k : i.keys) {
      add_line(&out, {"key", encode(k.relative)});
      for (const value_record& v : k.values) {
        add_line(&out, {"value", encode(v.name), v.stored ? "1" : "0", std::to_string(v.type),
                        hex(v.data)});
      }
      for (const text& s : k.subkeys) add_line(&out, {"subkey", encode(s)});
    }
  }
  for (const devices_record& d : r.devices) {
    std::vector<std::string> fields = {"devices", encode(d.enumerator)};
    for (const text& p : d.prefixes) fields.push_back(encode(p));
    add_line(&out, fields);
    for (const device_record& one : d.devices) {
      char flags[16];
      std::snprintf(flags, sizeof flags, "%08X", one.flags);
      add_line(&out, {"device", encode(one.instance_id), one.stored ? "1" : "0", flags});
    }
  }
  sha256 digest;
  digest.add(out.data(), out.size());
  add_line(&out, {"sha256", digest.hex()});
  return out;
}

bool parse(const std::string& content, record* out, std::string* reason) {
  *out = record();
  // The digest line is the last; everything before it must hash to it.
  const std::size_t last_start =
      content.size() >= 2 ? content.rfind('\n', content.size() - 2) : std::string::npos;
  const std::string last =
      last_start == std::string::npos ? std::string() : content.substr(last_start + 1);
  if (content.empty() || content.back() != '\n' || last.compare(0, 7, "sha256\t") != 0) {
    *reason = "it has no closing check line: it was not written whole";
    return false;
  }
  sha256 digest;
  digest.add(content.data(), last_start + 1);
  if (last != "sha256\t" + digest.hex() + "\n") {
    *reason = "its content does not match its check line: a line is missing or changed";
    return false;
  }
  int line_number = 0;
  bool in_key = false;
  for (std::size_t start = 0; start <= last_start;) {
    const std::size_t end = content.find('\n', start);
    const std::string line = content.substr(start, end - start);
    start = end + 1;
    ++line_number;
    const bool good =
        line_number == 1 ? line == kHeader
        : line_number == 2
            ? fields_of(line)[0] == "owner" && parse_line(fields_of(line), out, &in_key)
        : line_number == 3
            ? fields_of(line)[0] == "guest" && parse_line(fields_of(line), out, &in_key)
        : line_number == 4
            ? fields_of(line)[0] == "mark" && parse_line(fields_of(line), out, &in_key)
            : parse_line(fields_of(line), out, &in_key);
    if (!good) {
      *reason = line_number == 1 ? "it is not a record of this engine"
                                 : "line " + std::to_string(line_number) + " is not a record line";
      return false;
    }
  }
  if (line_number < 4) {
    *reason = "it ends before its mark";
    return false;
  }
  for (const registry_record& i : out->registry) {
    const bool paths_fit = !i.path.empty() && (i.existed || i.what == registry_record::kind::tree ||
                                               !i.first_missing.empty());
    const bool keys_fit =
        paths_fit &&
        (!i.existed ? i.keys.empty()
                    : !i.keys.empty() && i.keys.front().relative.empty() &&
                          (i.what == registry_record::kind::tree || i.keys.size() == 1));
    if (!keys_fit) {
      *reason = "the keys of " + where(i.root, i.where, i.path) + " do not fit its record";
      return false;
    }
  }
  return true;
}

}  // namespace rollback::detail
