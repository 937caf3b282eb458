// Fuzz target: arbitrary "ProductName" and "ReleaseId" data through the Windows classification.
//
// Input: one flag byte, then a value description for "ProductName" and one for "ReleaseId".
//   flags: bit 0 processor width (0: 32, 1: 64); bit 1 the CurrentVersion key exists; bit 2 its
//   open fails; bit 3 reading "ProductName" fails; bit 4 reading "ReleaseId" fails; bit 5 the key
//   refuses write access.
//   value: a control byte; bit 0 the value exists; bit 1 text (every data byte one unit) instead of
//   raw bytes; bit 2 (text) a terminator follows; bit 3 a type byte follows (else REG_SZ); bit 4 a
//   byte follows choosing a product prefix that goes before the text; bit 5 that prefix in
//   capitals; then the data's length (2 bytes, little-endian) and the data.
// Checked: the code is one that the product table or its fallbacks can give; where the data is a
// REG_SZ of at most 520 bytes (terminated or not) it is the code the restated rule gives for its
// text; data of more than 520 bytes does not fit the buffer, so the read fails; data of another
// type may also be refused; an odd last byte may or may not count as a unit. The key is opened
// with full access and closed again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "platform/platform.h"
#include "probes/windows_version.h"
#include "tests/fuzz/whole_units.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::bytes;

const std::u16string kVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

struct entry {
  const char16_t* prefix;
  u32 code_32;
  u32 code_64;
};

// In search order; a Windows 10 match also looks at the release id.
constexpr entry kProducts[] = {
    {u"Windows Server 2022", 0x80004000, 0x80004000},
    {u"Windows Server 2019", 0x80002000, 0x80002000},
    {u"Windows Server 2016", 0x80001000, 0x80001000},
    {u"Windows Server 2012 R2", 0x80000200, 0x80000200},
    {u"Windows Server 2012", 0x80000080, 0x80000080},
    {u"Windows Multipoint Server 2012", 0x80000080, 0x80000080},
    {u"Windows Server 2008 R2", 0x80000020, 0x80000020},
    {u"Windows Web Server 2008 R2", 0x80000020, 0x80000020},
    {u"Windows Multipoint Server 2011", 0x80000020, 0x80000020},
    {u"Windows Server 2008", 0x00000008, 0x80000008},
    {u"Windows Server (R) 2008", 0x00000008, 0x80000008},
    {u"Microsoft Windows Server 2003", 0x00000004, 0x80000004},
    {u"Windows Server", 0x80004000, 0x80004000},
    {u"Windows 10", 0x00000400, 0x80000400},
    {u"Windows 8.1", 0x00000100, 0x80000100},
    {u"Windows 8", 0x00000040, 0x80000040},
    {u"Windows 7", 0x00000010, 0x80000010},
    {u"Windows Vista", 0x00000008, 0x80000008},
    {u"Microsoft Windows XP", 0x00000002, 0x80000002},
    {u"Microsoft Windows 2000", 0x00000001, 0x00000001},
};
constexpr std::size_t kWindows10 = 13;  // index into kProducts
constexpr std::size_t kValueBytes = 520;

// Extra words the generator may put before the text: names that nearly match.
constexpr const char16_t* kNearNames[] = {u"Windows 11 Pro", u"Windows", u"Microsoft Windows",
                                          u"Windows Server (R)", u"Windows Web Server 2008"};

struct reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  std::size_t u16() {
    const std::size_t lo = byte();
    return lo | static_cast<std::size_t>(byte()) << 8;
  }
};

struct stored_value {
  bool present = false;
  u32 type = platform::reg_sz;
  bytes data;
};

void append_unit(bytes& out, char16_t c) {
  out.push_back(static_cast<std::uint8_t>(c & 0xFF));
  out.push_back(static_cast<std::uint8_t>(c >> 8));
}

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

stored_value decode_value(reader& in) {
  stored_value v;
  const std::uint8_t control = in.byte();
  v.present = (control & 1) != 0;
  const bool as_text = (control & 2) != 0;
  const bool terminated = (control & 4) != 0;
  if (control & 8) v.type = in.byte();
  if (control & 16) {
    const std::uint8_t choice = in.byte();
    const std::size_t count = sizeof kProducts / sizeof kProducts[0];
    const std::size_t near = sizeof kNearNames / sizeof kNearNames[0];
    const char16_t* prefix = choice % (count + near) < count
                                 ? kProducts[choice % (count + near)].prefix
                                 : kNearNames[choice % (count + near) - count];
    for (const char16_t* p = prefix; *p != 0; ++p)
      append_unit(v.data, control & 32 ? upper(*p) : *p);
  }
  const std::size_t length = in.u16();
  for (std::size_t i = 0; i < length && in.at < in.size; ++i) {
    const std::uint8_t b = in.byte();
    if (as_text) {
      append_unit(v.data, static_cast<char16_t>(b));
    } else {
      v.data.push_back(b);
    }
  }
  if (as_text && terminated) append_unit(v.data, 0);
  return v;
}

// The text a read of data that fits gives: its whole units.
std::vector<std::u16string> texts_of(const bytes& data) { return {whole_units_text(data)}; }

// ASCII letters fold; everything else compares as it is.
bool begins_with(const std::u16string& s, const char16_t* prefix) {
  std::size_t i = 0;
  for (; prefix[i] != 0; ++i) {
    if (i >= s.size() || lower(s[i]) != lower(prefix[i])) return false;
  }
  return true;
}

// Release id: optional white space and sign, then digits, as the C runtime's decimal parsing reads
// it (saturating); 2004 or later counts. A non-ASCII unit where the scan stops could be white space
// or a digit to some runtimes, so both answers are allowed then.
std::set<bool> release_2004_or_later(const std::u16string& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || (s[i] >= u'\t' && s[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  unsigned long long number = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    if (number < 100000000000ull) number = number * 10 + static_cast<unsigned>(s[i] - u'0');
  }
  const bool later = !negative && number > 2003;
  if (i < s.size() && s[i] >= 0x80) return {false, true};
  return {later};
}

// The possible "is 2004 or later" answers for the release id as stored. The read does not look at
// the type, but refusing a value that is not REG_SZ is allowed too.
std::set<bool> release_answers(const stored_value& release, bool read_fails) {
  if (!release.present || read_fails || release.data.size() > kValueBytes) return {false};
  std::set<bool> answers;
  if (release.type != platform::reg_sz) answers.insert(false);
  for (const std::u16string& t : texts_of(release.data)) {
    for (bool b : release_2004_or_later(t)) answers.insert(b);
  }
  return answers;
}

std::set<u32> classify_text(const std::u16string& name, u32 bits, u32 fallback,
                            const std::set<bool>& release) {
  for (std::size_t e = 0; e < sizeof kProducts / sizeof kProducts[0]; ++e) {
    if (!begins_with(name, kProducts[e].prefix)) continue;
    const u32 plain = bits == 32 ? kProducts[e].code_32 : kProducts[e].code_64;
    if (e != kWindows10) return {plain};
    std::set<u32> codes;
    for (bool later : release)
      codes.insert(later ? (bits == 32 ? 0x00000800u : 0x80000800u) : plain);
    return codes;
  }
  return {fallback};
}

[[noreturn]] void disagree(const char* what, u32 got, const std::set<u32>& allowed, u32 bits,
                           const stored_value& name, const stored_value& release) {
  std::fprintf(stderr, "fuzz_classify_windows: %s: got 0x%08X for %u bits, allowed:", what, got,
               bits);
  for (u32 c : allowed) std::fprintf(stderr, " 0x%08X", c);
  for (const stored_value* v : {&name, &release}) {
    std::fprintf(stderr,
                 "\n  %s: present %d type %u bytes %zu:", v == &name ? "ProductName" : "ReleaseId",
                 v->present ? 1 : 0, v->type, v->data.size());
    for (std::size_t i = 0; i < v->data.size() && i < 96; ++i)
      std::fprintf(stderr, " %02x", v->data[i]);
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::reset();
  app::reset_state();

  reader in{data, size};
  const std::uint8_t flags = in.byte();
  const u32 bits = (flags & 1) ? 64 : 32;
  const bool key_exists = (flags & 2) != 0;
  const bool open_fails = (flags & 4) != 0;
  const bool name_read_fails = (flags & 8) != 0;
  const bool release_read_fails = (flags & 16) != 0;
  const bool write_denied = (flags & 32) != 0;
  const stored_value name = decode_value(in);
  const stored_value release = decode_value(in);

  if (key_exists) {
    standin::create_key(kVersionKey);
    if (name.present) standin::set_value(kVersionKey, u"ProductName", name.type, name.data);
    if (release.present) standin::set_value(kVersionKey, u"ReleaseId", release.type, release.data);
    if (write_denied) standin::deny_write_access(kVersionKey);
  }
  if (open_fails) standin::fail(standin::op::reg_open, platform::error_access_denied, kVersionKey);
  if (name_read_fails) {
    standin::fail(standin::op::reg_query, platform::error_not_enough_memory, u"\\ProductName", 0,
                  -1);
  }
  if (release_read_fails) {
    standin::fail(standin::op::reg_query, platform::error_not_enough_memory, u"\\ReleaseId", 0, -1);
  }

  const u32 got = windows_version::classify_windows(bits);

  // Every code the table and the fallbacks can give for this width.
  const u32 fallback = bits == 32 ? 0x00000400u : 0x80004000u;
  std::set<u32> possible = {fallback, bits == 32 ? 0x00000800u : 0x80000800u};
  for (const entry& e : kProducts) possible.insert(bits == 32 ? e.code_32 : e.code_64);
  if (possible.count(got) == 0)
    disagree("not a code of the table", got, possible, bits, name, release);

  std::set<u32> allowed;
  if (!key_exists || open_fails || write_denied || !name.present || name_read_fails ||
      name.data.size() > kValueBytes) {
    allowed = {fallback};
  } else {
    const std::set<bool> later = release_answers(release, release_read_fails);
    if (name.type != platform::reg_sz) allowed.insert(fallback);
    for (const std::u16string& t : texts_of(name.data)) {
      for (u32 c : classify_text(t, bits, fallback, later)) allowed.insert(c);
    }
  }
  if (allowed.count(got) == 0) disagree("classification", got, allowed, bits, name, release);

  for (const standin::open_record& r : standin::opens()) {
    if (r.access != platform::key_all_access) {
      std::fprintf(stderr, "fuzz_classify_windows: key opened with access 0x%X\n", r.access);
      std::abort();
    }
  }
  if (standin::open_key_count() != 0) {
    std::fprintf(stderr, "fuzz_classify_windows: %d keys left open\n", standin::open_key_count());
    std::abort();
  }
  if (standin::open_device_list_count() != 0) {
    std::fprintf(stderr, "fuzz_classify_windows: device list left open\n");
    std::abort();
  }
  return 0;
}
