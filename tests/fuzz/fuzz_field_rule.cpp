// Fuzz target: typed edit text through the unsigned decimal parser and the field rule.
//
// The rule: accept the number, clamp it to the bounds, or refuse the text and keep the last good
// value.
//
// Input: min, max, last_good and a free number (4 bytes each, little-endian), one flag byte, then
// the text. Flag bit 0: the text is UTF-16LE (two bytes a unit, an odd last byte dropped); else
// every byte is one unit, so that digits are easy to reach. Flag bit 1: the free number's rule
// call counts as parsed. The text may hold NUL units; the edit's text ends at the first.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;

[[noreturn]] void disagree(const char* what, const std::u16string& text, unsigned long long a,
                           unsigned long long b) {
  std::fprintf(stderr, "fuzz_field_rule: %s (program %llu, expected %llu); text units:", what, a,
               b);
  for (char16_t c : text) std::fprintf(stderr, " %04x", static_cast<unsigned>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

u32 read_u32(const std::uint8_t* data, std::size_t size, std::size_t at) {
  u32 v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (at + i < size) v |= static_cast<u32>(data[at + i]) << (8 * i);
  }
  return v;
}

// The edit rule restated: any number of leading U+0020, then one or more of '0'..'9' and nothing
// else up to the end of the text, with a value of at most 4294967295 (leading zeros allowed).
bool reference_parse(const std::u16string& text, u32* value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  if (i == text.size()) return false;
  unsigned long long number = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return false;
    number = number * 10 + static_cast<unsigned>(c - u'0');
    if (number > 4294967295ull) return false;
  }
  *value = static_cast<u32>(number);
  return true;
}

struct rule_outcome {
  u32 value;
  bool accepted;
  u32 message;
};

// Refused text keeps the last good value (1011); below the minimum gives the minimum (1012), above
// the maximum the maximum (1013), tested in that order with unsigned comparisons.
rule_outcome reference_rule(bool parsed, u32 number, u32 min, u32 max, u32 last_good) {
  if (!parsed) return {last_good, false, 1011};
  if (number < min) return {min, false, 1012};
  if (number > max) return {max, false, 1013};
  return {number, true, 0};
}

void check_rule(const char* which, const std::u16string& text, bool parsed, u32 number, u32 min,
                u32 max, u32 last_good) {
  const settings::field_result got = settings::validate_field(parsed, number, min, max, last_good);
  const rule_outcome want = reference_rule(parsed, number, min, max, last_good);
  if (got.value != want.value || got.accepted != want.accepted || got.message_id != want.message) {
    std::fprintf(stderr,
                 "fuzz_field_rule: %s: parsed %d number %u min %u max %u last_good %u gives "
                 "(%u, %d, %u), expected (%u, %d, %u)\n",
                 which, parsed ? 1 : 0, number, min, max, last_good, got.value,
                 got.accepted ? 1 : 0, got.message_id, want.value, want.accepted ? 1 : 0,
                 want.message);
    disagree("field rule", text, got.value, want.value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::reset();
  app::reset_state();

  const u32 min = read_u32(data, size, 0);
  const u32 max = read_u32(data, size, 4);
  const u32 last_good = read_u32(data, size, 8);
  const u32 free_number = read_u32(data, size, 12);
  const std::uint8_t flags = size > 16 ? data[16] : 0;
  const bool utf16 = (flags & 1) != 0;
  const bool free_parsed = (flags & 2) != 0;

  // All units as given, NULs included, in a buffer of exactly that many units plus a terminator,
  // so that reading past the terminator is an overflow the address sanitizer reports.
  std::vector<char16_t> units;
  for (std::size_t i = 17; i < size; i += utf16 ? 2 : 1) {
    if (utf16) {
      if (i + 1 >= size) break;
      units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    } else {
      units.push_back(static_cast<char16_t>(data[i]));
    }
  }
  units.push_back(0);
  std::u16string text;
  for (char16_t c : units) {
    if (c == 0) break;
    text += c;
  }

  constexpr u32 untouched = 0xA5A5A5A5u;
  u32 parsed_value = untouched;
  const bool parsed = text::parse_unsigned_decimal(units.data(), &parsed_value);
  u32 want_value = untouched;
  const bool want_parsed = reference_parse(text, &want_value);
  if (parsed != want_parsed) disagree("parse accepted", text, parsed, want_parsed);
  if (parsed && parsed_value != want_value)
    disagree("parsed value", text, parsed_value, want_value);

  // What the dialog does: the parse's answer into the rule; and the rule on a free number.
  check_rule("typed text", text, parsed, parsed ? parsed_value : free_number, min, max, last_good);
  check_rule("free number", text, free_parsed, free_number, min, max, last_good);

  // A clamped value is written back as an unsigned decimal and must read back as the same number.
  const u32 shown = parsed ? parsed_value : free_number;
  char16_t formatted[11];
  text::format_unsigned_decimal(shown, formatted);
  u32 round_trip = untouched;
  if (!text::parse_unsigned_decimal(formatted, &round_trip) || round_trip != shown) {
    disagree("format then parse", std::u16string(formatted), round_trip, shown);
  }

  if (standin::open_key_count() != 0) disagree("open keys", text, standin::open_key_count(), 0);
  if (standin::open_device_list_count() != 0) {
    disagree("open device lists", text, standin::open_device_list_count(), 0);
  }
  return 0;
}
