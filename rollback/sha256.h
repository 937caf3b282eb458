// SHA-256 (FIPS 180-4), computed by the engine itself: Windows 2000 and XP before SP3 have none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rollback {

class sha256 {
 public:
  void add(const void* data, std::size_t size);
  // Lower-case hexadecimal digest of everything added; the object is spent afterwards.
  std::string hex();

 private:
  void block(const unsigned char* p);
  std::uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char held_[64] = {};
  std::size_t held_size_ = 0;
  unsigned long long total_ = 0;
};

}  // namespace rollback
