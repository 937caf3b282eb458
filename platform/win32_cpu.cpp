// The seam's processor and token answers, from the CPUID instruction and the thread's token.
// The test build renames these (VIVEDIZ_REAL_ANSWERS) and puts its own answers in front of them.
#include <cpuid.h>
#include <windows.h>

#include "platform/platform.h"

#ifdef VIVEDIZ_REAL_ANSWERS
#define cpuid real_cpuid
#define check_administrators_membership real_check_administrators_membership
#endif

namespace platform {

void cpuid(u32 leaf, u32 subleaf, u32 regs[4]) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, subleaf, a, b, c, d);
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
}

bool check_administrators_membership(bool* member) {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL is_member = FALSE;
  const BOOL tested = CheckTokenMembership(nullptr, administrators, &is_member);
  FreeSid(administrators);
  if (!tested) return false;
  *member = is_member != FALSE;
  return true;
}

}  // namespace platform
