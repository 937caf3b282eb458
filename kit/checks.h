// Wine-style checks for the end-to-end driver: ok() names the caller's line, scenarios tally them.
#pragma once

#include <cstdio>
#include <string>

namespace e2e {

// Where a check was asked for: the line of an ok() or of the table row that a helper runs.
// Made without arguments, it names the line where it is made: as a default argument, the caller's.
struct location {
  location(const char* file_name = __builtin_FILE(), int line_number = __builtin_LINE())
      : file(file_name), line(line_number) {}
  const char* file;
  int line;
};

// The caller's file and line, for helpers and table rows that check on their caller's behalf.
#define E2E_HERE_DEFAULT ::e2e::location()

// Everything the kit prints goes to the console and, once set, to this report file as well.
void set_report_file(FILE* file);
void report(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

void begin_scenario(const std::string& name);
// Prints "PASS name" or "FAIL name" and returns whether every check of the scenario held.
bool end_scenario();
// Prints "SKIP name: reason".
void skip_scenario(const std::string& name, const std::string& reason);
bool scenario_failed();
// The scenario cannot go on here, for the reason given: unless a check failed before,
// end_scenario prints "SKIP name: reason" instead of PASS, and scenario_skipped() says so.
void skip_rest_of_scenario(const std::string& reason);
bool scenario_skipped();

// Records one check; on failure prints "file:line: Test failed: scenario: message".
void check(location where, bool condition, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));
// Prints a note that is not a check, e.g. why a scenario stops early.
void note(location where, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// UTF-8 of a wide string, for messages.
std::string narrow(const std::wstring& text);
// A wide string quoted with control characters escaped, for messages.
std::string quoted(const std::wstring& text);

}  // namespace e2e

#define ok_at(where, condition, ...) ::e2e::check((where), (condition), __VA_ARGS__)
#define ok(condition, ...) \
  ::e2e::check(::e2e::location{__FILE__, __LINE__}, (condition), __VA_ARGS__)
