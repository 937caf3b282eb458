// Compares a live dialog of the program with its template, read from the program file itself.
#pragma once

#include <windows.h>

#include <string>

#include "kit/checks.h"

namespace e2e {

// Reads the template named template_name from the program file through Win32 (LoadLibraryExW as
// a data file, FindResourceW, LoadResource) and checks the dialog against it: caption, style,
// client size, and every control in template order: identifier, window class, style, caption
// (edits excepted: they show values) and place, mapped from dialog units with MapDialogRect.
void check_against_template(location where, HWND dialog, const std::wstring& program,
                            const char* template_name);

}  // namespace e2e
