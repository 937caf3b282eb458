// System facts for the kit's header and its checks, each looked up where it is newer than 2000.
#include "kit/kit_host.h"

#include <windows.h>

#include <cstdio>

#include "kit/checks.h"
#include "rollback/rollback.h"

namespace e2e {
namespace {

FARPROC lookup(const wchar_t* library, const char* name) {
  HMODULE module = GetModuleHandleW(library);
  return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

template <typename F>
F function_of(const wchar_t* library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(lookup(library, name)));
}

}  // namespace

std::string wine_version() {
  typedef const char*(__cdecl * wine_get_version_fn)();
  const wine_get_version_fn get =
      function_of<wine_get_version_fn>(L"ntdll.dll", "wine_get_version");
  return get != nullptr ? std::string(get()) : std::string();
}

std::string true_windows_version() {
  typedef LONG(WINAPI * rtl_get_version_fn)(OSVERSIONINFOW*);
  const rtl_get_version_fn get = function_of<rtl_get_version_fn>(L"ntdll.dll", "RtlGetVersion");
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  const bool known = get != nullptr ? get(&info) == 0 : GetVersionExW(&info) != FALSE;
  if (!known) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion,
                info.dwBuildNumber);
  std::string out = text;
  if (info.szCSDVersion[0] != L'\0') out += " " + narrow(info.szCSDVersion);
  if (get == nullptr) out += " (GetVersionExW: no RtlGetVersion)";
  return out;
}

const char* kit_architecture() {
#if defined(_WIN64)
  return "x64";
#else
  return "x86";
#endif
}

std::string system_architecture() {
  typedef void(WINAPI * get_native_system_info_fn)(SYSTEM_INFO*);
  const get_native_system_info_fn get =
      function_of<get_native_system_info_fn>(L"kernel32.dll", "GetNativeSystemInfo");
  SYSTEM_INFO info = {};
  if (get != nullptr) {
    get(&info);
  } else {
    GetSystemInfo(&info);
  }
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return "x64";
    case PROCESSOR_ARCHITECTURE_INTEL:
      return "x86";
    default:
      return "processor architecture " + std::to_string(info.wProcessorArchitecture);
  }
}

bool token_elevated(std::string* how) { return rollback::elevated(how); }

}  // namespace e2e
