// Reads resources/vivediz.rc and resource.h into a model for the native tests and the stand-in.
//
// Only the part of the resource language that vivediz.rc uses is understood; anything else makes
// load() fail with the file and line, so that a new kind of statement cannot slip past the tests.
// Styles are given as windres writes them into the binary: CONTROL statements get WS_CHILD and
// WS_VISIBLE, and a DIALOG gets WS_CAPTION for a CAPTION and DS_SETFONT for a FONT.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rc {

struct control {
  int id;
  std::u16string text;
  std::string class_name;  // as written, e.g. "Button"
  std::uint32_t style;
  int x, y, w, h;
};

struct dialog {
  std::string name;  // as written; a name that resource.h defines becomes its decimal value
  std::uint32_t style;
  int x, y, w, h;
  std::u16string caption;
  int font_points;
  std::string font_face;
  std::string language;  // the LANGUAGE in force, e.g. "LANG_ENGLISH, SUBLANG_ENGLISH_US"
  std::vector<control> controls;
};

struct resource_entry {
  std::string type;  // "DIALOG", "STRINGTABLE", "VERSIONINFO", or the type of a file resource
  std::string name;  // empty for STRINGTABLE
  std::string language;
};

struct script {
  std::vector<dialog> dialogs;
  std::map<std::uint32_t, std::u16string> strings;
  std::map<std::string, long> defines;      // from resource.h and any #define in the script
  std::vector<std::string> resource_types;  // in script order; a numeric type as its decimal value
  std::vector<resource_entry> resources;    // the same resources with their names and languages
  std::map<std::string, std::string> version_strings;  // StringFileInfo entries
  std::string version_string_block;                    // e.g. "040904B0"
  std::vector<std::uint32_t> version_translation;      // VarFileInfo "Translation" words
  std::map<std::string, std::uint32_t> version_fixed;  // FILEFLAGSMASK, FILEOS, FILETYPE, ...
  std::string file_version, product_version;           // e.g. "1,0,1,6"
};

// Parses rc_path and the quoted header it includes (looked up in the same folder). Returns false
// and sets *error to "file:line: reason" on failure; *out is then unspecified.
bool load(const std::string& rc_path, script* out, std::string* error);

// The project's own script, VIVEDIZ_RESOURCE_DIR "/vivediz.rc", loaded on first use; aborts with
// a message on stderr when it cannot be loaded, since no test means anything without it.
const script& project_script();

// Null when the script has no dialog of that name.
const dialog* find_dialog(const script& s, const std::string& name);

}  // namespace rc
