// Reads the little-endian words, strings and names of Windows' binary resource formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace res {

// A cursor that stops at the first read past the end: later reads give 0 and ok() stays false,
// so a decoder checks once after a group of reads.
class byte_reader {
 public:
  byte_reader(const unsigned char* bytes, std::size_t size, std::size_t at = 0)
      : bytes_(bytes), size_(size), at_(at) {}

  std::uint32_t u16() { return take(2); }
  std::uint32_t u32() { return take(4); }
  int i16() { return static_cast<std::int16_t>(take(2)); }
  std::u16string text() {  // zero-terminated UTF-16
    std::u16string s;
    for (char16_t c = char16_t(u16()); c != 0; c = char16_t(u16())) s.push_back(c);
    return s;
  }
  // sz_Or_Ord: 0xFFFF and a number, which comes back as its decimal value (no string name that
  // windres writes can be one), or a zero-terminated string, which comes back as ASCII.
  bool at_number() const {
    return at_ + 2 <= size_ && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF;
  }
  std::string name() {
    if (at_number()) return std::to_string(take(4) >> 16);
    std::string s;
    for (char16_t c : text()) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
  }
  void align4() { at_ = (at_ + 3) & ~std::size_t{3}; }  // structures start on four-byte bounds
  void skip(std::size_t n) { at_ += n; }
  std::size_t at() const { return at_; }
  bool ok() const { return ok_ && at_ <= size_; }

 private:
  std::uint32_t take(std::size_t n) {
    ok_ = ok_ && at_ + n <= size_;
    if (!ok_) return 0;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint32_t{bytes_[at_ + i]} << (8 * i);
    at_ += n;
    return v;
  }

  const unsigned char* bytes_;
  std::size_t size_, at_;
  bool ok_ = true;
};

}  // namespace res
