// Bounded UTF-16 string routines.
#include "core/text.h"

namespace text {

namespace {
char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
bool is_space(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
}  // namespace

u32 length(const char16_t* s, u32 limit) {
  u32 n = 0;
  while (n < limit && s[n] != 0) ++n;
  return n;
}

bool equal_prefix_ignore_case(const char16_t* s, const char16_t* prefix, u32 count) {
  for (u32 i = 0; i < count; ++i) {
    if (fold(s[i]) != fold(prefix[i])) return false;
    if (s[i] == 0) return true;
  }
  return true;
}

bool starts_with_ignore_case(const char16_t* s, const char16_t* prefix) {
  return equal_prefix_ignore_case(s, prefix, length(prefix));
}

bool contains(const char16_t* s, u32 limit, const char16_t* needle) {
  const u32 needle_length = length(needle);
  const u32 s_length = length(s, limit);
  if (needle_length == 0) return true;
  for (u32 start = 0; start + needle_length <= s_length; ++start) {
    u32 i = 0;
    while (i < needle_length && s[start + i] == needle[i]) ++i;
    if (i == needle_length) return true;
  }
  return false;
}

bool append(char16_t* dest, u32 units, const char16_t* src) {
  if (units == 0) return false;
  u32 end = length(dest, units);
  if (end == units) {  // no terminator at all: cut at the last unit
    dest[units - 1] = 0;
    return false;
  }
  u32 i = 0;
  while (src[i] != 0 && end + 1 < units) dest[end++] = src[i++];
  dest[end] = 0;
  return src[i] == 0;
}

long long parse_decimal_loose(const char16_t* s) {
  u32 i = 0;
  while (is_space(s[i])) ++i;
  bool negative = false;
  if (s[i] == u'+' || s[i] == u'-') negative = (s[i++] == u'-');
  long long value = 0;
  constexpr long long limit = 0x7FFFFFFFLL + 1;
  for (; s[i] >= u'0' && s[i] <= u'9'; ++i) {
    if (value < limit) value = value * 10 + (s[i] - u'0');
  }
  if (value > limit) value = limit;
  if (!negative && value == limit) value = limit - 1;
  return negative ? -value : value;
}

bool parse_unsigned_decimal(const char16_t* s, u32* value) {
  u32 i = 0;
  while (s[i] == u' ') ++i;
  if (s[i] < u'0' || s[i] > u'9') return false;
  unsigned long long number = 0;
  for (; s[i] != 0; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    number = number * 10 + static_cast<unsigned>(s[i] - u'0');
    if (number > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<u32>(number);
  return true;
}

void format_unsigned_decimal(u32 value, char16_t (&buffer)[11]) {
  char16_t reversed[10];
  u32 n = 0;
  do {
    reversed[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (u32 i = 0; i < n; ++i) buffer[i] = reversed[n - 1 - i];
  buffer[n] = 0;
}

}  // namespace text
