// The test build's processor and token answers: the environment may stand in for the hypervisor's
// CPUID signatures and for the token's membership; where it says nothing, the real ones answer.
// Linked only into build/e2e/<arch>/vivediz.exe, never into the shipped program.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

void real_cpuid(u32 leaf, u32 subleaf, u32 regs[4]);
bool real_check_administrators_membership(bool* member);

namespace {

// The 12 signature characters of a leaf from the environment, padded with zero bytes.
bool signature_from_environment(u32 leaf, u32 regs[4]) {
  const wchar_t* name = nullptr;
  if (leaf == 0x40000000) name = L"VIVEDIZ_TEST_CPUID_40000000";
  if (leaf == 0x40000100) name = L"VIVEDIZ_TEST_CPUID_40000100";
  if (name == nullptr) return false;
  wchar_t text[64];
  const DWORD length = GetEnvironmentVariableW(name, text, 64);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (length >= 64) return false;
  unsigned char bytes[12] = {};
  for (DWORD i = 0; i < length && i < 12; ++i) bytes[i] = static_cast<unsigned char>(text[i]);
  regs[0] = leaf;
  for (int r = 0; r < 3; ++r) {
    regs[r + 1] = static_cast<u32>(bytes[4 * r]) | static_cast<u32>(bytes[4 * r + 1]) << 8 |
                  static_cast<u32>(bytes[4 * r + 2]) << 16 |
                  static_cast<u32>(bytes[4 * r + 3]) << 24;
  }
  return true;
}

}  // namespace

void cpuid(u32 leaf, u32 subleaf, u32 regs[4]) {
  if (!signature_from_environment(leaf, regs)) real_cpuid(leaf, subleaf, regs);
}

bool check_administrators_membership(bool* member) {
  wchar_t text[8];
  const DWORD length = GetEnvironmentVariableW(L"VIVEDIZ_TEST_ADMIN", text, 8);
  if (length == 1 && text[0] == L'0') {
    *member = false;
    return true;
  }
  return real_check_administrators_membership(member);
}

}  // namespace platform
