// The administrator's guide stays true: its table of registry values names exactly the values and
// keys that a commit changing every field writes or deletes on Windows 10.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/load_commit.h"
#include "core/settings.h"
#include "tests/standin/standin.h"

namespace {

using settings::ABSENT;
using settings::control_settings;

struct entry {
  std::string key;
  std::string name;
};

// What the program wrote or deleted, as (key, name): "set K\N=..", "delete_value K\N",
// "delete_key K\N". Configuration flags live in the value "ConfigFlags" of the device's key under
// Enum; the stand-in names a device by its hardware id, which stands for that key here.
std::vector<entry> changed_in_registry() {
  std::vector<entry> found;
  for (std::string line : standin::timeline()) {
    const std::string verb = line.substr(0, line.find(' '));
    std::string subject = line.substr(verb.size() + 1);
    if (verb == "set" || verb == "config_flags") subject = subject.substr(0, subject.rfind('='));
    if (verb == "config_flags") {
      found.push_back({"SYSTEM\\CurrentControlSet\\Enum\\" + subject, "ConfigFlags"});
    } else if (verb == "set" || verb == "delete_value" || verb == "delete_key") {
      const size_t cut = subject.rfind('\\');
      found.push_back({subject.substr(0, cut), subject.substr(cut + 1)});
    }
  }
  return found;
}

// The rows of the checked table in docs/administrators.md: key and name, backticks removed.
std::vector<entry> guide_table() {
  std::ifstream in(VIVEDIZ_RESOURCE_DIR "/../docs/administrators.md");
  std::vector<entry> rows;
  std::string line;
  bool in_table = false;
  while (std::getline(in, line)) {
    if (line.find("<!-- The rows of this table are checked") == 0) in_table = true;
    if (!in_table || line.empty() || line[0] != '|') {
      if (!rows.empty()) break;  // the table's end
      continue;
    }
    std::vector<std::string> cells;
    for (size_t at = 1, end; (end = line.find('|', at)) != std::string::npos; at = end + 1) {
      std::string cell;
      for (char c : line.substr(at, end - at)) {
        if (c != '`') cell += c;
      }
      cells.push_back(cell.substr(cell.find_first_not_of(' '),
                                  cell.find_last_not_of(' ') + 1 - cell.find_first_not_of(' ')));
    }
    if (cells.size() >= 2 && cells[0] != "Key" && cells[0].find("---") == std::string::npos) {
      rows.push_back({cells[0], cells[1]});
    }
  }
  return rows;
}

// A guide key matches case-insensitively; "<...>" stands for one key name of any spelling.
bool key_matches(const std::string& pattern, const std::string& key) {
  size_t p = 0, k = 0;
  while (p < pattern.size() && k < key.size()) {
    if (pattern[p] == '<') {
      p = pattern.find('>', p) + 1;
      const size_t before = k;
      while (k < key.size() && key[k] != '\\') ++k;
      if (k == before) return false;
    } else if (std::tolower(static_cast<unsigned char>(pattern[p++])) !=
               std::tolower(static_cast<unsigned char>(key[k++]))) {
      return false;
    }
  }
  return p == pattern.size() && k == key.size();
}

bool matches(const entry& row, const entry& e) {
  return row.name == e.name && key_matches(row.key, e.key);
}

TEST(AdminGuide, TableNamesExactlyWhatTheProgramWritesAndDeletes) {
  standin::reset();
  app::reset_state();
  app::state().drivers = app::current_generation;
  app::state().os_code = 0x80000800u;  // 64-bit Windows 10: the boot-start re-enable runs too
  const std::u16string afd = u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
  standin::create_key(app::current_generation.bus_parameters_key);
  standin::set_dword(afd, u"DefaultSendWindow", 65536);  // to be deleted
  standin::create_key(u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters");
  standin::create_key(
      u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00\\3&2&0&28"
      u"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties");
  for (const char16_t* service :
       {app::current_generation.block_service_key, app::current_generation.scsi_service_key}) {
    standin::create_key(std::u16string(service) + u"\\StartOverride");
  }
  standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, 1);
  standin::add_device(u"XEN", {u"XEN\\TYPE_VSCSI\\0"}, 1);

  control_settings snapshot{3, 4, 10, 32, 0, 0, 1, 65536, ABSENT, ABSENT, ABSENT, ABSENT, 1, 0};
  control_settings working{0x2003, 0xD, 16, 64, 5, 6, 1, ABSENT, 2, 3, 4, 5, 1, 1};
  load_commit::commit_xen_settings(working, snapshot);
  load_commit::commit_serial_msi(working, snapshot);
  load_commit::commit_tcp_settings(working, snapshot);

  const std::vector<entry> changed = changed_in_registry();
  const std::vector<entry> table = guide_table();
  ASSERT_FALSE(changed.empty());
  for (const entry& e : changed) {
    EXPECT_TRUE(
        std::any_of(table.begin(), table.end(), [&](const entry& row) { return matches(row, e); }))
        << "docs/administrators.md: the table lacks " << e.key << " " << e.name;
  }
  for (const entry& row : table) {
    EXPECT_TRUE(std::any_of(changed.begin(), changed.end(),
                            [&](const entry& e) { return matches(row, e); }))
        << "docs/administrators.md: the table names " << row.key << " " << row.name
        << ", which the program neither writes nor deletes";
  }
}

}  // namespace
