// The undo program's three commands over the save-and-restore engine, and its refusals.
#include "undo/undo_commands.h"

#include <cstdio>

#include "platform/platform.h"
#include "rollback/rollback.h"
#include "undo/undo_plan.h"

namespace undo {

namespace {

const char16_t kOwner[] = u"undo";

std::string count(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// One line per saved item: what the file now holds.
void describe_saved(const rollback::record& r, std::vector<std::string>* said) {
  for (const rollback::registry_record& item : r.registry) {
    std::string line = "HKLM\\" + rollback::printable(item.path) + ": ";
    if (!item.existed) {
      line += "absent";
    } else if (item.what == rollback::registry_record::kind::tree) {
      line += "present, " + count(item.keys.size(), "key");
    } else {
      std::size_t stored = 0;
      for (const rollback::value_record& v : item.keys.front().values) stored += v.stored;
      line += count(item.keys.front().values.size(), "value") + ", " + std::to_string(stored) +
              " stored";
    }
    said->push_back(line);
  }
  for (const rollback::devices_record& group : r.devices) {
    for (const rollback::device_record& d : group.devices) {
      char flags[16] = "none";
      if (d.stored) std::snprintf(flags, sizeof flags, "0x%X", static_cast<unsigned>(d.flags));
      said->push_back("device " + rollback::printable(d.instance_id) + ": configuration flags " +
                      flags);
    }
  }
}

int save(const std::u16string& file, std::vector<std::string>* said) {
  rollback::plan plan;
  std::string refusal;
  rollback::record record;
  if (!plan_for_this_guest(&plan, &refusal) ||
      !rollback::save(plan, kOwner, file, &record, &refusal)) {
    said->push_back(refusal);
    return refused;
  }
  describe_saved(record, said);
  said->push_back("saved in " + rollback::printable(file));
  return done;
}

int show(const std::u16string& file, std::vector<std::string>* said) {
  rollback::record record;
  std::string refusal;
  if (!rollback::load(file, kOwner, &record, &refusal)) {
    said->push_back(refusal);
    return refused;
  }
  const std::vector<std::string> lines = rollback::changes(record);
  said->insert(said->end(), lines.begin(), lines.end());
  const std::vector<std::string> made = settings_keys_made_since(record);
  said->insert(said->end(), made.begin(), made.end());
  said->push_back(lines.empty() ? "this guest is as saved: a restore would change nothing"
                                : count(lines.size(), "difference") + "; nothing was changed");
  return done;
}

int restore(const std::u16string& file, std::vector<std::string>* said) {
  rollback::record record;
  std::string refusal;
  if (!rollback::load(file, kOwner, &record, &refusal)) {
    said->push_back(refusal);
    return refused;
  }
  // What it sets out to change, as show lists it; then what could not be done.
  const std::vector<std::string> before = rollback::changes(record);
  said->insert(said->end(), before.begin(), before.end());
  const std::vector<std::string> made = settings_keys_made_since(record);
  const rollback::outcome o = rollback::restore(record, file);
  said->insert(said->end(), o.notes.begin(), o.notes.end());
  said->insert(said->end(), made.begin(), made.end());
  if (!o.whole()) {
    said->insert(said->end(), o.failures.begin(), o.failures.end());
    said->push_back("not everything is back; " + rollback::printable(file) +
                    " is kept: restore again once the cause is removed");
    return incomplete;
  }
  said->push_back("everything is as saved; " + rollback::printable(file) + " was deleted");
  return done;
}

// Keeps the guest as it is: deletes the record, after checking it is this guest's, and the
// guest's mark of it. A record that is gone already needs only its mark removed.
int forget(const std::u16string& file, std::vector<std::string>* said) {
  std::string line;
  if (platform::file_exists(file.c_str()) == platform::error_success) {
    rollback::record record;
    if (!rollback::load(file, kOwner, &record, &line)) {
      said->push_back(line);
      return refused;
    }
    const platform::u32 error = platform::file_delete(file.c_str());
    if (error != platform::error_success ||
        platform::file_exists(file.c_str()) == platform::error_success) {
      said->push_back("cannot delete " + rollback::printable(file) + " (error " +
                      std::to_string(error) + "); nothing was changed");
      return refused;
    }
  }
  if (!rollback::forget_save(kOwner, file, &line)) {
    said->push_back(line);
    return refused;
  }
  said->push_back("the guest keeps its values; " + line);
  return done;
}

}  // namespace

int run(const std::vector<std::u16string>& arguments, bool x86_on_64bit,
        std::vector<std::string>* said) {
  const std::u16string command = arguments.empty() ? u"" : arguments[0];
  if (arguments.size() != 2 ||
      (command != u"save" && command != u"show" && command != u"restore" && command != u"forget")) {
    said->push_back("usage: vivediz-undo save FILE | show FILE | restore FILE | forget FILE");
    return refused;
  }
  if (x86_on_64bit) {
    said->push_back(
        "this is the 32-bit program; on 64-bit Windows run x64\\vivediz-undo.exe; "
        "nothing was changed");
    return refused;
  }
  std::string how;
  if (!rollback::elevated(&how)) {
    said->push_back("run it from an elevated command prompt (as administrator; " + how +
                    " said no); nothing was changed");
    return refused;
  }
  if (command == u"save") return save(arguments[1], said);
  if (command == u"show") return show(arguments[1], said);
  if (command == u"forget") return forget(arguments[1], said);
  return restore(arguments[1], said);
}

}  // namespace undo
