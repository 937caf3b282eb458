// The job object that holds the programs the kit starts.
#include "kit/kit_job.h"

#include "kit/checks.h"

namespace e2e {
namespace {

enum class placement { unknown, in_job, broke_away, outside };
placement how_placed = placement::unknown;
DWORD job_error = 0;

// Made once, never closed: the kit's end closes it, and with it ends every program in it.
HANDLE kit_job() {
  static HANDLE job = nullptr;
  if (job != nullptr) return job;
  job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    job = nullptr;
  }
  return job;
}

bool create_suspended(const std::wstring& application, std::wstring command_line, DWORD flags,
                      void* environment, PROCESS_INFORMATION* info) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  return CreateProcessW(application.empty() ? nullptr : application.c_str(), &command_line[0],
                        nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED, environment, nullptr,
                        &startup, info) != FALSE;
}

std::string said(placement placed) {
  switch (placed) {
    case placement::in_job:
      return "the programs it starts run in a job object that ends them when the kit ends";
    case placement::broke_away:
      return "the programs it starts leave the job this kit runs in for one that ends them when "
             "the kit ends";
    default:
      return "the programs it starts run outside any job of the kit's (error " +
             std::to_string(job_error) +
             "): the kit ends them itself, and after a killed run --restore ends them";
  }
}

void discard(PROCESS_INFORMATION* info) {
  TerminateProcess(info->hProcess, 1);
  WaitForSingleObject(info->hProcess, 5000);
  CloseHandle(info->hProcess);
  CloseHandle(info->hThread);
  *info = PROCESS_INFORMATION();
}

}  // namespace

bool start_in_kit_job(const std::wstring& application, std::wstring command_line, DWORD flags,
                      void* environment, PROCESS_INFORMATION* info, DWORD* error) {
  HANDLE job = kit_job();
  if (job == nullptr) job_error = GetLastError();
  if (!create_suspended(application, command_line, flags, environment, info)) {
    *error = GetLastError();
    *info = PROCESS_INFORMATION();
    return false;
  }
  placement placed = placement::outside;
  if (job != nullptr && AssignProcessToJobObject(job, info->hProcess)) {
    placed = placement::in_job;
  } else if (job != nullptr) {
    // Before Windows 8 a process in a job joins no other one ("ERROR_ACCESS_DENIED"), and the
    // program was born into the kit's own job: start it again outside that job if it allows.
    job_error = GetLastError();
    discard(info);
    if (create_suspended(application, command_line, flags | CREATE_BREAKAWAY_FROM_JOB, environment,
                         info)) {
      placed = AssignProcessToJobObject(job, info->hProcess) ? placement::broke_away
                                                             : placement::outside;
    } else if (!create_suspended(application, command_line, flags, environment, info)) {
      *error = GetLastError();
      *info = PROCESS_INFORMATION();
      return false;
    }
  }
  if (placed != how_placed) report("accept: %s\n", said(placed).c_str());
  how_placed = placed;
  ResumeThread(info->hThread);
  return true;
}

}  // namespace e2e
