// The end-to-end driver's check counting and reporting.
#include "kit/checks.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace e2e {
namespace {

std::string current_name;
int current_failures = 0;
std::string current_skip;  // why the rest of the scenario cannot run here, or empty
FILE* report_file = nullptr;

void emit(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  if (report_file != nullptr) {
    std::fputs(text, report_file);
    std::fflush(report_file);
  }
}

const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* backslash = std::strrchr(path, '\\');
  if (backslash != nullptr && (slash == nullptr || backslash > slash)) slash = backslash;
  return slash != nullptr ? slash + 1 : path;
}

void vprint(location where, const char* kind, const char* format, va_list arguments) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == '\n') text[--length] = '\0';
  report("%s:%d: %s%s: %s\n", base_name(where.file), where.line, kind, current_name.c_str(), text);
}

}  // namespace

void set_report_file(FILE* file) { report_file = file; }

void report(const char* format, ...) {
  char text[8192];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  emit(text);
}

void skip_scenario(const std::string& name, const std::string& reason) {
  report("SKIP %s: %s\n", name.c_str(), reason.c_str());
}

void begin_scenario(const std::string& name) {
  current_name = name;
  current_failures = 0;
  current_skip.clear();
}

void skip_rest_of_scenario(const std::string& reason) { current_skip = reason; }

bool scenario_skipped() { return current_failures == 0 && !current_skip.empty(); }

bool end_scenario() {
  const bool passed = current_failures == 0;
  if (scenario_skipped()) {
    skip_scenario(current_name, current_skip);
    return true;
  }
  report("%s %s\n", passed ? "PASS" : "FAIL", current_name.c_str());
  return passed;
}

bool scenario_failed() { return current_failures != 0; }

void check(location where, bool condition, const char* format, ...) {
  if (condition) return;
  ++current_failures;
  va_list arguments;
  va_start(arguments, format);
  vprint(where, "Test failed: ", format, arguments);
  va_end(arguments);
}

void note(location where, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprint(where, "note: ", format, arguments);
  va_end(arguments);
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::string quoted(const std::wstring& text) {
  std::wstring escaped = L"\"";
  for (wchar_t c : text) {
    if (c == L'\r') {
      escaped += L"\\r";
    } else if (c == L'\n') {
      escaped += L"\\n";
    } else if (c == L'\t') {
      escaped += L"\\t";
    } else if (c == L'"') {
      escaped += L"\\\"";
    } else {
      escaped += c;
    }
  }
  escaped += L"\"";
  return narrow(escaped);
}

}  // namespace e2e
