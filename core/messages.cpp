// The message box of every user-facing failure.
#include "core/messages.h"

#include "resource.h"

namespace messages {

void show_message(platform::u32 id) {
  constexpr int caption_units = 127;
  constexpr int text_units = 4097;
  char16_t caption[caption_units];
  char16_t text[text_units];
  caption[0] = 0;
  text[0] = 0;
  const platform::module_handle module = platform::own_module();
  platform::load_string(module, IDS_CAPTION, caption, caption_units);
  platform::load_string(module, id, text, text_units);
  // The box's answer is always OK; there is nothing to act on.
  platform::message_box(nullptr, text, caption, 0);
}

}  // namespace messages
