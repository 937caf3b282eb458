// Live dialog against the program's own template: identifiers, classes, styles, captions, places.
#include "kit/template_check.h"

#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kit/remote_ui.h"
#include "tests/standin/dialog_template.h"

namespace e2e {
namespace {

INT_PTR CALLBACK reference_procedure(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Wine's MapDialogRect refuses a dialog of another process (ERROR_INVALID_WINDOW_HANDLE), so the
// mapping is taken from a hidden dialog of this process with the template's font: the dialog
// manager derives the base units from the font alone.
HWND reference_dialog(const res::dialog& font_source) {
  static std::map<std::string, HWND> references;
  const std::string key = font_source.font_face + "/" + std::to_string(font_source.font_points);
  HWND& reference = references[key];
  if (reference == nullptr) {
    // DLGTEMPLATE, then no menu, no class, no title, the point size and the face name.
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    words.insert(words.end(), {0, 0, 0, static_cast<WORD>(font_source.font_points)});
    for (char c : font_source.font_face) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    DLGTEMPLATE* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
    header->style = WS_POPUP | DS_SETFONT;
    reference = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), header, nullptr,
                                           reference_procedure, 0);
  }
  return reference;
}

RECT map_dialog_units(const res::dialog& font_source, RECT units) {
  HWND reference = reference_dialog(font_source);
  RECT mapped = units;
  if (reference == nullptr || !MapDialogRect(reference, &mapped)) return RECT{-1, -1, -1, -1};
  return mapped;
}

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string rect_text(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) +
         "x" + std::to_string(r.bottom);
}

bool is_radio(const res::control& c) {
  return _wcsicmp(wide(c.class_name).c_str(), L"Button") == 0 &&
         (c.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

bool is_edit(const res::control& c) { return _wcsicmp(wide(c.class_name).c_str(), L"Edit") == 0; }

// The template as the program file holds it; Windows finds and loads it, the bytes are decoded
// as the dialog manager reads them.
bool read_template(const std::wstring& program, const char* name, res::dialog* out,
                   std::string* error) {
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    *error = "LoadLibraryExW failed with error " + std::to_string(GetLastError());
    return false;
  }
  HRSRC found = FindResourceW(module, wide(std::string(name)).c_str(), RT_DIALOG);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  bool decoded = false;
  if (bytes == nullptr) {
    *error = "FindResourceW or LoadResource failed with error " + std::to_string(GetLastError());
  } else {
    out->name = name;
    decoded = res::decode_dialog(static_cast<const unsigned char*>(bytes),
                                 SizeofResource(module, found), out, error);
  }
  FreeLibrary(module);
  return decoded;
}

std::wstring without_mnemonics(const std::wstring& text) {
  std::wstring shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

// Whether the control's text fits, in the template's font (this process's reference dialog has
// it: a font of another process cannot be selected here): a button's text on one line in its
// width, less the glyph for check boxes and radio buttons; a static's wrapped text in its height.
void report_text_fit(const res::dialog& expected, const res::control& c, HWND child) {
  const std::wstring text = without_mnemonics(wide(c.text));
  if (text.empty()) return;
  HWND reference = reference_dialog(expected);
  HDC dc = GetDC(reference);
  if (dc == nullptr) return;
  HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(reference, WM_GETFONT, 0, 0)));
  RECT place;
  GetClientRect(child, &place);
  const bool button = _wcsicmp(wide(c.class_name).c_str(), L"Button") == 0;
  const DWORD type = c.style & BS_TYPEMASK;
  const bool glyph =
      button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                 type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE);
  long needed = 0, available = 0;
  const char* unit = "px wide";
  if (button) {
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    needed = extent.cx;
    available = place.right - (glyph ? GetSystemMetrics(SM_CXMENUCHECK) : 0);
  } else {
    RECT wrapped = {0, 0, place.right, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &wrapped,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    needed = wrapped.bottom;
    available = place.bottom;
    unit = "px high";
  }
  SelectObject(dc, old);
  ReleaseDC(reference, dc);
  report("info: text fit %s control %d %s: needs %ld of %ld %s%s: %s\n", expected.name.c_str(),
         c.id, quoted(text).c_str(), needed, available, unit,
         glyph ? " (the check glyph, SM_CXMENUCHECK, taken off)" : "",
         needed <= available ? "fits" : "cut");
}

}  // namespace

void check_against_template(location where, HWND dialog, const std::wstring& program,
                            const char* template_name) {
  res::dialog expected;
  std::string error;
  const bool read = read_template(program, template_name, &expected, &error);
  ok_at(where, read, "template %s of %s: expected it read, got %s", template_name,
        narrow(program).c_str(), error.c_str());
  if (!read) return;
  wchar_t caption[512] = L"";
  GetWindowTextW(dialog, caption, 512);
  ok_at(where, wide(expected.caption) == caption, "%s caption: expected %s, got %s",
        expected.name.c_str(), quoted(wide(expected.caption)).c_str(), quoted(caption).c_str());

  // The dialog manager adds WS_CLIPSIBLINGS to every top-level window and, for programs made for
  // Windows 4.0 and later, DS_3DLOOK; neither is part of the template.
  const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  const DWORD allowed_extra = WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK;
  ok_at(where,
        (style & expected.style) == expected.style &&
            (style & ~(expected.style | allowed_extra)) == 0,
        "%s style: expected 0x%08x (plus WS_VISIBLE, WS_CLIPSIBLINGS, DS_3DLOOK), got 0x%08lx",
        expected.name.c_str(), expected.style, style);
  ok_at(where, (style & WS_SYSMENU) == 0, "%s: expected no system menu, got style 0x%08lx",
        expected.name.c_str(), style);
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
  ok_at(where, (ex_style & WS_EX_DLGMODALFRAME) != 0,
        "%s extended style: expected WS_EX_DLGMODALFRAME, got 0x%08lx", expected.name.c_str(),
        ex_style);

  RECT client;
  GetClientRect(dialog, &client);
  const RECT size = map_dialog_units(expected, RECT{0, 0, expected.w, expected.h});
  ok_at(where, client.right == size.right && client.bottom == size.bottom,
        "%s client size: expected %ldx%ld (%dx%d dialog units), got %ldx%ld", expected.name.c_str(),
        size.right, size.bottom, expected.w, expected.h, client.right, client.bottom);

  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  // The identifiers in template order first: when they differ, this is another dialog (or a
  // broken one), and one line says so better than a line for every control.
  std::string wanted_ids, got_ids;
  for (const res::control& c : expected.controls) wanted_ids += " " + std::to_string(c.id);
  for (HWND child : children) got_ids += " " + std::to_string(GetDlgCtrlID(child));
  ok_at(where, wanted_ids == got_ids, "%s controls: expected%s, got%s", expected.name.c_str(),
        wanted_ids.c_str(), got_ids.c_str());
  if (wanted_ids != got_ids) return;

  for (std::size_t i = 0; i < children.size(); ++i) {
    const res::control& c = expected.controls[i];
    HWND child = children[i];
    const std::wstring klass = class_name(child);
    ok_at(where, _wcsicmp(klass.c_str(), wide(c.class_name).c_str()) == 0,
          "%s control %d class: expected %s, got %s", expected.name.c_str(), c.id,
          c.class_name.c_str(), narrow(klass).c_str());

    // Enabled state is the scenario's business; radio buttons carry WS_TABSTOP exactly while
    // checked (BM_SETCHECK moves it); an edit's border may move to WS_EX_CLIENTEDGE, which Wine's
    // edit control does when it is created with WS_BORDER.
    DWORD live = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & ~WS_DISABLED;
    DWORD wanted = c.style;
    if (is_radio(c)) {
      wanted &= ~WS_TABSTOP;
      if (check_state(child) == BST_CHECKED) wanted |= WS_TABSTOP;
    }
    if (is_edit(c) && (wanted & WS_BORDER) != 0 &&
        (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) {
      live |= WS_BORDER;
    }
    ok_at(where, live == wanted, "%s control %d style: expected 0x%08lx, got 0x%08lx",
          expected.name.c_str(), c.id, wanted, live);

    static std::set<std::string> fits_reported;
    if (!is_edit(c) && fits_reported.insert(expected.name + "/" + std::to_string(i)).second) {
      report_text_fit(expected, c, child);
    }
    if (!is_edit(c)) {
      const std::wstring text = window_text(child);
      ok_at(where, text == wide(c.text), "%s control %d text: expected %s, got %s",
            expected.name.c_str(), c.id, quoted(wide(c.text)).c_str(), quoted(text).c_str());
    }

    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    const RECT got{place.left, place.top, place.right - place.left, place.bottom - place.top};
    const RECT want = map_dialog_units(expected, RECT{c.x, c.y, c.w, c.h});
    ok_at(where,
          got.left == want.left && got.top == want.top && got.right == want.right &&
              got.bottom == want.bottom,
          "%s control %d place: expected %s (%d,%d %dx%d dialog units), got %s",
          expected.name.c_str(), c.id, rect_text(want).c_str(), c.x, c.y, c.w, c.h,
          rect_text(got).c_str());
  }
}

}  // namespace e2e
