// Windows classification: the product name's prefix decides, Windows 10 also by its release id.
#include "probes/windows_version.h"

#include "core/text.h"
#include "store/registry.h"

namespace windows_version {

namespace {

struct product {
  const char16_t* prefix;
  u32 entry;
  u32 code_32;
  u32 code_64;
};

constexpr u32 windows_10_entry = 12;

// Longer prefixes stand before the shorter ones they extend; the first match decides.
constexpr product products[] = {
    {u"Windows Server 2022", 0, 0x80004000, 0x80004000},
    {u"Windows Server 2019", 1, 0x80002000, 0x80002000},
    {u"Windows Server 2016", 2, 0x80001000, 0x80001000},
    {u"Windows Server 2012 R2", 3, 0x80000200, 0x80000200},
    {u"Windows Server 2012", 4, 0x80000080, 0x80000080},
    {u"Windows Multipoint Server 2012", 5, 0x80000080, 0x80000080},
    {u"Windows Server 2008 R2", 6, 0x80000020, 0x80000020},
    {u"Windows Web Server 2008 R2", 6, 0x80000020, 0x80000020},
    {u"Windows Multipoint Server 2011", 7, 0x80000020, 0x80000020},
    {u"Windows Server 2008", 8, 0x00000008, 0x80000008},
    {u"Windows Server (R) 2008", 9, 0x00000008, 0x80000008},
    {u"Microsoft Windows Server 2003", 10, 0x00000004, 0x80000004},
    {u"Windows Server", 11, 0x80004000, 0x80004000},
    {u"Windows 10", windows_10_entry, 0x00000400, 0x80000400},
    {u"Windows 8.1", 13, 0x00000100, 0x80000100},
    {u"Windows 8", 14, 0x00000040, 0x80000040},
    {u"Windows 7", 15, 0x00000010, 0x80000010},
    {u"Windows Vista", 16, 0x00000008, 0x80000008},
    {u"Microsoft Windows XP", 17, 0x00000002, 0x80000002},
    {u"Microsoft Windows 2000", 18, 0x00000001, 0x00000001},
};

constexpr u32 string_units = 260 + 1;  // a 520-byte value and the terminator the program adds

// Windows 10 from release 2004 on carries its own generation bit.
bool is_release_2004_or_later(platform::key_handle key) {
  char16_t release[string_units];
  if (store::query_string_value(key, u"ReleaseId", release, string_units) != 0) return false;
  return text::parse_decimal_loose(release) > 2003;
}

u32 classify_product(platform::key_handle key, const char16_t* name, u32 bits, u32 fallback) {
  for (const product& p : products) {
    if (!text::starts_with_ignore_case(name, p.prefix)) continue;
    if (p.entry == windows_10_entry && is_release_2004_or_later(key)) {
      return bits == 32 ? 0x00000800 : 0x80000800;
    }
    return bits == 32 ? p.code_32 : p.code_64;
  }
  return fallback;
}

}  // namespace

u32 classify_windows(u32 bits) {
  const u32 fallback = bits == 32 ? 0x00000400 : 0x80004000;
  platform::key_handle key = nullptr;
  if (platform::reg_open_key(platform::local_machine(),
                             u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                             platform::key_all_access, &key) != 0) {
    return fallback;
  }
  char16_t name[string_units];
  u32 result = fallback;
  if (store::query_string_value(key, u"ProductName", name, string_units) == 0) {
    result = classify_product(key, name, bits, fallback);
  }
  platform::reg_close_key(key);
  return result;
}

}  // namespace windows_version
