// Decodes a dialog template as windres writes it and LoadResource returns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace res {

struct control {
  int id;
  std::string class_name;  // as written; a predefined class given by number by its name
  std::uint32_t style, ex_style;
  std::u16string text;
  int x, y, w, h;
};

struct dialog {
  std::string name;            // set by whoever found the template
  std::uint16_t language = 0;  // likewise
  std::uint32_t style, ex_style;
  int x, y, w, h;
  std::u16string caption;
  int font_points;  // 0 without DS_SETFONT
  std::string font_face;
  std::vector<control> controls;
};

// Decodes a DLGTEMPLATE and its DLGITEMTEMPLATEs into *out. Only what the program's templates use
// is accepted: an extended template, a menu, a class of the dialog's own, a control titled by
// number or too few bytes make it return false with the offset and the reason in *error.
bool decode_dialog(const unsigned char* bytes, std::size_t size, dialog* out, std::string* error);

}  // namespace res
