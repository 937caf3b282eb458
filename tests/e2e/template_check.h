// Compares a live dialog of the program with its template in resources/vivediz.rc.
#pragma once

#include <windows.h>

#include "tests/e2e/checks.h"
#include "tests/standin/rc_script.h"

namespace e2e {

// Caption, style, client size, and every control in template order: identifier, window class,
// style, caption (edits excepted: they show values) and place, mapped from dialog units with
// MapDialogRect.
void check_against_template(location where, HWND dialog, const rc::dialog& expected);

}  // namespace e2e
