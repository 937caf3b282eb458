// The text the program sees in registry or device data: whole UTF-16 units up to the first NUL.
// A stray odd byte at the end is no character (the program terminates after the whole units read).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::u16string whole_units_text(const std::vector<std::uint8_t>& data) {
  std::u16string s;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (c == 0) break;
    s += c;
  }
  return s;
}
