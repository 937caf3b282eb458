// The undo program through the stand-in: what it saves on each shape of guest covers everything
// vivediz can change there, and each refusal is one line that changes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "core/app_state.h"
#include "core/load_commit.h"
#include "core/settings.h"
#include "rollback/rollback.h"
#include "tests/standin/standin.h"
#include "undo/undo_commands.h"

namespace {

using platform::u32;
using settings::ABSENT;

const std::u16string kFile = u"C:\\undo\\before.undo";
const std::u16string kServices = u"SYSTEM\\CurrentControlSet\\Services\\";
const std::u16string kCurrentSettings = kServices + u"vdbus\\Parameters\\Device";
const std::u16string kOlderSettings = kServices + u"ldbus\\Parameters\\Device";
const std::u16string kPci = u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\";
const std::u16string kTransitional = kPci + u"VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
const std::u16string kModern = kPci + u"ven_1af4&dev_1043&SUBSYS_11001AF4&REV_01";
const std::u16string kMsi =
    u"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties";

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int undo_run(const std::vector<std::u16string>& arguments, std::vector<std::string>* said,
             bool x86_on_64bit = false) {
  said->clear();
  return undo::run(arguments, x86_on_64bit, said);
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

void add_override(const std::u16string& service) {
  standin::set_dword(kServices + service + u"\\StartOverride", u"0", 3);
}

void add_serial_instance(const std::u16string& device, const std::u16string& instance,
                         bool with_msi_key) {
  standin::set_string(device + u"\\" + instance, u"DeviceDesc", u"VirtIO Serial Driver");
  if (with_msi_key) standin::set_dword(device + u"\\" + instance + kMsi, u"MSISupported", 1);
}

// Every service, TCP key and XEN disk and SCSI device a guest of either generation has.
void common_guest() {
  for (const char16_t* service : {u"vdblk", u"vdscsi", u"ldblk", u"ldscsi"}) {
    standin::set_dword(kServices + service, u"Start", 0);
  }
  standin::set_dword(kServices + u"AFD\\Parameters", u"DefaultSendWindow", 65536);
  standin::create_key(kServices + u"Tcpip\\Parameters");
  standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, 0x400);
  standin::add_device(u"XEN", {u"XEN\\TYPE_VSCSI\\0"}, std::nullopt);
  add_serial_instance(kTransitional, u"3&13c0b0c5&0&28", true);
}

// vivediz's OK with every field changed, on Windows 10 so that the re-enable runs, once with each
// generation's keys: which one it takes depends on the guest, and the undo must cover either.
void program_changes_everything() {
  const settings::control_settings snapshot{3,     4,      10,     32,     0,      0, 1,
                                            65536, ABSENT, ABSENT, ABSENT, ABSENT, 1, 0};
  const settings::control_settings working{0x2003, 0xD, 16, 64, 5, 6, 1, ABSENT, 2, 3, 4, 5, 1, 1};
  for (const app::driver_set* drivers : {&app::current_generation, &app::legacy_generation}) {
    app::reset_state();
    app::state().drivers = *drivers;
    app::state().os_code = 0x80000800u;
    load_commit::commit_xen_settings(working, snapshot);
    load_commit::commit_serial_msi(working, snapshot);
    load_commit::commit_tcp_settings(working, snapshot);
  }
}

// The registry changes in the timeline from index first on, as (key, value name); a deleted key
// has an empty name.
std::vector<std::pair<std::u16string, std::u16string>> registry_changes(std::size_t first) {
  std::vector<std::pair<std::u16string, std::u16string>> found;
  const std::vector<std::string>& events = standin::timeline();
  for (std::size_t i = first; i < events.size(); ++i) {
    const std::string verb = events[i].substr(0, events[i].find(' '));
    std::string subject = events[i].substr(verb.size() + 1);
    if (verb == "set") subject = subject.substr(0, subject.rfind('='));
    if (verb != "set" && verb != "delete_value" && verb != "delete_key") continue;
    const std::size_t cut = subject.rfind('\\');
    if (verb == "delete_key") {
      found.push_back({widen(subject), u""});
    } else {
      found.push_back({widen(subject.substr(0, cut)), widen(subject.substr(cut + 1))});
    }
  }
  return found;
}

class UndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
  }
  void TearDown() override {
    EXPECT_EQ(standin::open_key_count(), 0);
    EXPECT_EQ(standin::open_device_list_count(), 0);
    EXPECT_EQ(standin::open_file_count(), 0);
  }
};

// ---- What it saves covers what vivediz changes, and the restore puts it back

struct shape_case {
  const char* name;
  std::function<void()> prepare;  // on top of common_guest()
  // Values (key, name) beyond what the program changes, and whether the save must cover them.
  std::vector<std::tuple<std::u16string, std::u16string, bool>> covered;
};

void PrintTo(const shape_case& c, std::ostream* os) { *os << c.name; }

class UndoShapeTest : public UndoTest, public ::testing::WithParamInterface<shape_case> {};

TEST_P(UndoShapeTest, SavesWhatTheProgramChangesAndPutsItBack) {
  const shape_case& c = GetParam();
  common_guest();
  c.prepare();
  std::vector<std::string> said;
  ASSERT_EQ(undo_run({u"save", kFile}, &said), undo::done) << joined(said);
  rollback::record record;
  std::string why;
  ASSERT_TRUE(rollback::load(kFile, u"undo", &record, &why)) << why;
  std::vector<std::optional<u32>> flags;
  for (int i = 0; i < 2; ++i) flags.push_back(standin::device_at(i).config_flags);

  const std::size_t before_program = standin::timeline().size();
  program_changes_everything();
  const auto changed = registry_changes(before_program);
  ASSERT_FALSE(changed.empty());
  for (const auto& [key, name] : changed) {
    EXPECT_TRUE(rollback::covers(record, rollback::hive::local_machine, key, name))
        << "not saved: " << standin::narrow(key) << " \"" << standin::narrow(name) << "\"";
  }
  for (const auto& [key, name, wanted] : c.covered) {
    EXPECT_EQ(rollback::covers(record, rollback::hive::local_machine, key, name), wanted)
        << standin::narrow(key);
  }

  // Show lists what the restore changes and changes nothing itself.
  const std::size_t before_show = standin::timeline().size();
  ASSERT_EQ(undo_run({u"show", kFile}, &said), undo::done) << joined(said);
  EXPECT_EQ(standin::timeline().size(), before_show) << joined(said);
  const std::vector<std::string> shown(said.begin(), said.end() - 1);
  EXPECT_FALSE(shown.empty());

  ASSERT_EQ(undo_run({u"restore", kFile}, &said), undo::done) << joined(said);
  EXPECT_EQ(std::vector<std::string>(said.begin(), said.end() - 1), shown);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(standin::device_at(i).config_flags, flags[i]) << i;
  EXPECT_TRUE(rollback::changes(record).empty()) << joined(rollback::changes(record));
  EXPECT_FALSE(standin::file_content(kFile));
  EXPECT_FALSE(standin::key_exists(u"SOFTWARE\\vivediz"));
}

// An earlier save that was never put back does not stop a save under a new name.
TEST_F(UndoTest, ANewNameSavesAgain) {
  common_guest();
  const std::u16string second = u"C:\\undo\\after.undo";
  std::vector<std::string> said;
  ASSERT_EQ(undo_run({u"save", kFile}, &said), undo::done) << joined(said);
  ASSERT_EQ(undo_run({u"save", second}, &said), undo::done) << joined(said);
  EXPECT_EQ(undo_run({u"restore", second}, &said), undo::done) << joined(said);
  EXPECT_EQ(undo_run({u"restore", kFile}, &said), undo::done) << joined(said);
  EXPECT_FALSE(standin::key_exists(u"SOFTWARE\\vivediz"));
}

// A settings key made after the save (a reg add on a guest of the other generation) is named by
// show and restore and left: it may be the drivers' own. Forget keeps the guest as it is.
TEST_F(UndoTest, AKeyMadeSinceIsNamedAndForgetKeepsTheValues) {
  common_guest();
  standin::set_dword(kOlderSettings, u"max_disks", 32);
  std::vector<std::string> said;
  ASSERT_EQ(undo_run({u"save", kFile}, &said), undo::done) << joined(said);
  standin::set_dword(kCurrentSettings, u"max_disks", 64);
  standin::set_dword(kOlderSettings, u"max_disks", 64);
  for (const char16_t* command : {u"show", u"restore"}) {
    ASSERT_EQ(undo_run({command, kFile}, &said), undo::done) << joined(said);
    EXPECT_NE(joined(said).find("vdbus\\Parameters\\Device was absent"), std::string::npos)
        << joined(said);
  }
  EXPECT_EQ(standin::get_dword(kCurrentSettings, u"max_disks"), 64u);
  EXPECT_EQ(standin::get_dword(kOlderSettings, u"max_disks"), 32u);

  ASSERT_EQ(undo_run({u"save", kFile}, &said), undo::done) << joined(said);
  standin::set_dword(kOlderSettings, u"max_disks", 64);
  ASSERT_EQ(undo_run({u"forget", kFile}, &said), undo::done) << joined(said);
  EXPECT_EQ(standin::get_dword(kOlderSettings, u"max_disks"), 64u);
  EXPECT_FALSE(standin::file_content(kFile));
  EXPECT_FALSE(standin::key_exists(u"SOFTWARE\\vivediz"));
}

const std::u16string kLongInstance(255, u'7');  // a key name of the most units Windows allows

INSTANTIATE_TEST_SUITE_P(
    UndoGuests, UndoShapeTest,
    ::testing::Values(
        shape_case{"CurrentDriversOnly",
                   [] {
                     standin::set_dword(kCurrentSettings, u"max_disks", 64);
                     add_override(u"vdblk");
                   },
                   {}},
        shape_case{"OlderDriversOnly",
                   [] {
                     standin::set_dword(kOlderSettings, u"use_pv_drivers", 0x2003);
                     add_override(u"ldscsi");
                   },
                   // A settings key that appears after the save is no change the restore undoes.
                   {{kCurrentSettings, u"max_disks", false}}},
        shape_case{"BothGenerations",
                   [] {
                     standin::create_key(kCurrentSettings);
                     standin::set_dword(kOlderSettings, u"grant_frames", 16);
                     add_override(u"vdscsi");
                     add_override(u"ldblk");
                   },
                   {}},
        shape_case{"NeitherSettingsKey", [] { add_override(u"ldblk"); }, {}},
        shape_case{"SerialInstances",
                   [] {
                     add_serial_instance(kTransitional, u"3&13c0b0c5&0&30", false);
                     add_serial_instance(kModern, kLongInstance, true);
                   },
                   {{kModern + u"\\" + kLongInstance + kMsi, u"MSISupported", true},
                    {kTransitional + u"\\3&13c0b0c5&0&30" + kMsi, u"MSISupported", false}}}),
    [](const ::testing::TestParamInfo<shape_case>& info) { return info.param.name; });

// ---- Refusals: one line, status 1, nothing changed

struct refusal_case {
  const char* name;
  std::function<void()> prepare;  // on top of common_guest()
  std::vector<std::u16string> arguments;
  bool x86_on_64bit;
  const char* said;  // in the one line
};

void PrintTo(const refusal_case& c, std::ostream* os) { *os << c.name; }

class UndoRefusalTest : public UndoTest, public ::testing::WithParamInterface<refusal_case> {};

TEST_P(UndoRefusalTest, OneLineAndNothingChanged) {
  const refusal_case& c = GetParam();
  common_guest();
  c.prepare();
  const std::optional<standin::bytes> file_before = standin::file_content(kFile);
  const std::size_t before = standin::timeline().size();
  std::vector<std::string> said;
  EXPECT_EQ(undo_run(c.arguments, &said, c.x86_on_64bit), undo::refused);
  ASSERT_EQ(said.size(), 1u) << joined(said);
  EXPECT_NE(said[0].find(c.said), std::string::npos) << said[0];
  EXPECT_TRUE(registry_changes(before).empty());
  EXPECT_EQ(standin::file_content(kFile), file_before);
  EXPECT_FALSE(standin::key_exists(u"SOFTWARE\\vivediz"));
}

INSTANTIATE_TEST_SUITE_P(
    UndoRefusals, UndoRefusalTest,
    ::testing::Values(
        refusal_case{"NotElevated",
                     [] { standin::set_elevation(false); },
                     {u"save", kFile},
                     false,
                     "elevated"},
        refusal_case{"X86On64BitWindows", [] {}, {u"save", kFile}, true, "x64\\vivediz-undo.exe"},
        refusal_case{"FileExists",
                     [] {
                       standin::set_file(kFile, {'o', 'l', 'd'});
                     },
                     {u"save", kFile},
                     false,
                     "exists already"},
        // A serial device key that may not be read is not taken for one without instances.
        refusal_case{"SerialDeviceUnreadable",
                     [] { standin::deny_access(kTransitional); },
                     {u"save", kFile},
                     false,
                     "VEN_1AF4&DEV_1003"},
        refusal_case{"UnknownCommand", [] {}, {u"backup", kFile}, false, "usage"},
        refusal_case{"ForgetWithoutASave", [] {}, {u"forget", kFile}, false, "no mark"}),
    [](const ::testing::TestParamInfo<refusal_case>& info) { return info.param.name; });

}  // namespace
