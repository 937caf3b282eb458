// The Windows entry point: the command line is ignored and the exit code comes from the program.
#include <windows.h>

#include "core/app.h"
#include "platform/win32_library_search.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  platform::load_libraries_from_system_folder_only();
  return app::run_application(reinterpret_cast<platform::module_handle>(instance));
}
