// Every program the kit starts runs in a job object that ends it when the kit ends, however the kit
// ends: the job's last handle is the kit's, and closing it ends the job's processes.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

// CreateProcessW(application, command_line, ..., flags | CREATE_SUSPENDED, environment) into the
// kit's job, then resumed. Where the kit itself runs in a job that takes no nested job (Windows
// before 8) the program breaks away from it when that job allows it; where it does not, the
// program runs outside any job of the kit's, and the kit ends it itself (and --restore ends what
// a killed kit left). The report says which, at the first start and when it changes. False, with
// the error, when the program did not start.
bool start_in_kit_job(const std::wstring& application, std::wstring command_line, DWORD flags,
                      void* environment, PROCESS_INFORMATION* info, DWORD* error);

}  // namespace e2e
