// The program's resources as windres compiles them (a .res file), decoded for the native tests
// and the stand-in's dialogs and string table.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/standin/dialog_template.h"

namespace res {

struct resource {
  std::string type, name;  // a number as its decimal value, e.g. type "5" for RT_DIALOG
  std::uint16_t language;
  std::vector<unsigned char> data;
  std::size_t header_at, data_at;  // where the entry and its data begin in the .res file
};

struct version_info {
  std::array<std::uint16_t, 4> file_version, product_version;  // from VS_FIXEDFILEINFO
  std::string string_block;                                    // e.g. "040904B0"
  std::map<std::string, std::string> strings;                  // that block's entries
  std::vector<std::uint16_t> translation;                      // VarFileInfo "Translation"
};

struct compiled {
  std::vector<resource> resources;  // in file order
  std::vector<dialog> dialogs;
  std::map<std::uint32_t, std::u16string> strings;
  version_info version;
};

// Decodes a .res file and each template, string block and version resource in it; false with
// "where ...: offset N: reason" in *error when the bytes do not decode.
bool decode(const std::vector<unsigned char>& bytes, const std::string& where, compiled* out,
            std::string* error);
bool load(const std::string& path, compiled* out, std::string* error);

// VIVEDIZ_COMPILED_RESOURCES, the build's compiled resources/vivediz.rc, loaded on first use;
// aborts with a message when it cannot be, since no test means anything without it.
const compiled& project_resources();

// Null when there is none; names compare without regard to case, as FindResourceW compares them.
const dialog* find_dialog(const compiled& c, const std::string& name);

}  // namespace res
