// DLGTEMPLATE and DLGITEMTEMPLATE, as documented for Win32 dialog box resources.
#include "tests/standin/dialog_template.h"

#include "tests/standin/byte_reader.h"

namespace res {

bool decode_dialog(const unsigned char* bytes, std::size_t size, dialog* out, std::string* error) {
  byte_reader r(bytes, size);
  auto fail = [&](const std::string& why) {
    *error = "offset " + std::to_string(r.at()) + ": " + why;
    return false;
  };
  if (size >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
    return fail("an extended dialog template (DLGTEMPLATEEX)");
  }
  out->style = r.u32();
  out->ex_style = r.u32();
  const std::uint32_t count = r.u16();
  out->x = r.i16(), out->y = r.i16(), out->w = r.i16(), out->h = r.i16();
  if (!r.name().empty()) return fail("a menu");
  if (!r.name().empty()) return fail("a window class of the dialog's own");
  out->caption = r.text();
  const bool font = (out->style & 0x40) != 0;  // DS_SETFONT: a point size and a face follow
  out->font_points = font ? static_cast<int>(r.u16()) : 0;
  out->font_face = font ? r.name() : "";
  out->controls.clear();
  for (std::uint32_t i = 0; i < count && r.ok(); ++i) {
    r.align4();
    control c;
    c.style = r.u32();
    c.ex_style = r.u32();
    c.x = r.i16(), c.y = r.i16(), c.w = r.i16(), c.h = r.i16();
    c.id = static_cast<int>(r.u16());
    const bool predefined = r.at_number();
    c.class_name = r.name();
    static const char* const classes[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar"};
    const int n = predefined ? std::stoi(c.class_name) - 0x80 : -1;
    if (n >= 0 && n < 5) c.class_name = classes[n];
    if (r.at_number()) return fail("control " + std::to_string(c.id) + " titled by number");
    c.text = r.text();
    r.skip(r.u16());  // creation data for the control's WM_CREATE
    out->controls.push_back(c);
  }
  if (!r.ok()) return fail("the template ends early");
  return true;
}

}  // namespace res
