// Bounded UTF-16 string routines: the program's own, so that no copy or search can overrun a
// buffer.
#pragma once

#include "platform/platform.h"

namespace text {

using platform::u32;

// Length of a terminated string, looking at no more than limit units.
u32 length(const char16_t* s, u32 limit = 0xFFFFFFFFu);

// Case-insensitive comparison of the first count units (ASCII letters fold, as the C locale does).
// A terminator in either string ends the comparison; true when equal over that range.
bool equal_prefix_ignore_case(const char16_t* s, const char16_t* prefix, u32 count);
// Whether s begins with prefix, compared case-insensitively over the prefix's length.
bool starts_with_ignore_case(const char16_t* s, const char16_t* prefix);

// Case-sensitive substring search within the first limit units of s (stops at a terminator).
bool contains(const char16_t* s, u32 limit, const char16_t* needle);

// Copies src after the terminated text in dest; dest holds units units in all. What does not fit is
// cut and dest is always terminated. Returns false when something was cut.
bool append(char16_t* dest, u32 units, const char16_t* src);

// Decimal parsing as the C runtime's _wtoi does it: optional leading white space and sign, then
// digits; 0 when there are none. Saturates instead of overflowing.
long long parse_decimal_loose(const char16_t* s);

// The numeric edit rule: after any leading spaces, one or more decimal digits and nothing else,
// at most 4294967295. Returns false for anything else (sign, empty, other characters, too large).
bool parse_unsigned_decimal(const char16_t* s, u32* value);

// Writes value as an unsigned decimal; buffer needs 11 units.
void format_unsigned_decimal(u32 value, char16_t (&buffer)[11]);

}  // namespace text
