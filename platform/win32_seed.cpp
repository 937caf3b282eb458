// The seam's numbers that differ between two saves: time, counter, thread and ticks.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

void uniqueness_seed(u32 out[6]) {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  out[0] = now.dwLowDateTime;
  out[1] = now.dwHighDateTime;
  out[2] = static_cast<u32>(counter.LowPart);
  out[3] = static_cast<u32>(counter.HighPart);
  out[4] = GetCurrentThreadId();  // unique among the running threads, as a process id is
  out[5] = GetTickCount();
}

}  // namespace platform
