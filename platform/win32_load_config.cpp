// The program's load configuration, for one flag: DependentLoadFlags =
// LOAD_LIBRARY_SEARCH_SYSTEM32, which makes Windows 10 version 1607 and later load the libraries
// for the program's imports from the system folder only, never from the program's own folder. Older
// systems do not know the field. GNU ld 2.40 links this table but leaves the PE header's load
// configuration entry empty, so tools/set_load_config.py fills it in after the link (see
// windows_program.cmake).
//
// Everything else is zero, which every loader reads as "nothing to change": no global flag, heap,
// time-out or affinity settings, no security cookie, no lock prefix table, and on x86 no SafeSEH
// table. A handler table address of 0 with a count of 0 is an image without the table, the same as
// one without a load configuration: every exception handler stays allowed (only a table that is
// present restricts them).
//
// The size is that of the table as the floors' own loaders define it at their latest service pack
// (through SEHandlerCount: 0x48 bytes on x86 as of XP SP2 / Server 2003, 0x70 on x64 as of XP x64 /
// Server 2003 x64), so no floor loader meets a size it does not know. Windows 2000 and XP before
// SP2 know the first 64 bytes only: the x86 header entry says 64, as Windows XP and earlier
// require, while newer loaders read the table's own Size field. Both sizes cover the flag.
#include <windows.h>

#include <cstddef>

namespace {

#ifdef _WIN64
using load_config = IMAGE_LOAD_CONFIG_DIRECTORY64;
constexpr std::size_t kDependentLoadFlagsOffset = 0x4E;
constexpr std::size_t kSize = 0x70;
#else
using load_config = IMAGE_LOAD_CONFIG_DIRECTORY32;
constexpr std::size_t kDependentLoadFlagsOffset = 0x36;
constexpr std::size_t kSize = 0x48;
#endif
// These headers still call DependentLoadFlags by its old name, Reserved1.
static_assert(offsetof(load_config, Reserved1) == kDependentLoadFlagsOffset, "layout");
static_assert(sizeof(load_config) == kSize, "layout");

constexpr load_config make_load_config() {
  load_config config{};
  config.Size = sizeof(load_config);
  config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;
}

}  // namespace

// The table's conventional name, from which MSVC's linker and newer GNU linkers fill in the header
// entry themselves (on x86 the compiler adds an underscore: __load_config_used).
extern "C" const load_config _load_config_used;
extern "C" const load_config _load_config_used = make_load_config();
