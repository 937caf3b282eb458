// Prints the hypervisor signatures that a program of this architecture sees (leaves 0x40000000
// and 0x40000100, 12 bytes each, as 48 hex digits). Under emulation of Wine's x86 side they are
// the emulator's, not the host processor's, so the driver asks a program of each architecture.
#include <cpuid.h>

#include <cstdio>
#include <initializer_list>

int main() {
  for (unsigned leaf : {0x40000000u, 0x40000100u}) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(leaf, a, b, c, d);
    for (unsigned word : {b, c, d}) {
      for (int i = 0; i < 4; ++i) std::printf("%02x", (word >> (8 * i)) & 0xFF);
    }
  }
  std::printf("\n");
  return 0;
}
