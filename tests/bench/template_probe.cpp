// The footprint benchmark's choice for template_dialog: prints the name of the settings dialog that
// vivediz shows on this machine, chosen by the program's own hypervisor detection and template
// choice.
#include <cstdio>

#include "core/app.h"
#include "probes/hypervisor.h"

int main() {
  for (const char16_t* name = app::settings_template_name(hypervisor::detect_hypervisor());
       *name != u'\0'; ++name) {
    std::putchar(static_cast<char>(*name));
  }
  std::putchar('\n');
  return 0;
}
