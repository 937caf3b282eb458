// The seam's question of the token's elevation (TokenElevation, Vista on).
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
// TokenElevation and its structure are Vista's: the older headers of the floor do not name them.
constexpr int kTokenElevation = 20;
struct token_elevation {
  DWORD elevated;
};
}  // namespace

bool query_token_elevation(bool* elevated) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  token_elevation answer = {};
  DWORD size = 0;
  // Before Vista the class is unknown and the call fails: the caller asks another way.
  const BOOL known = GetTokenInformation(
      token, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevation), &answer, sizeof answer, &size);
  CloseHandle(token);
  if (!known) return false;
  *elevated = answer.elevated != 0;
  return true;
}

}  // namespace platform
