// The Windows entry point: the command line is ignored and the exit code comes from the program.
#include <windows.h>

#include "core/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return app::run_application(reinterpret_cast<platform::module_handle>(instance));
}
