// Tests of the save-and-restore engine: every value shape and key state back byte for byte through
// the record file; refusals of a file that is not whole or not this guest's, and of a save that
// cannot read what it must; device flags; what reaches the disk before the file goes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "rollback/rollback.h"
#include "rollback/sha256.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using rollback::hive;
using rollback::view;
using standin::bytes;
using standin::op;

const std::u16string kFile = u"C:\\kit\\accept-restore.txt";
const std::u16string kValues = u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const std::u16string kTree = u"SYSTEM\\CurrentControlSet\\Services\\vdbus";
const std::u16string kInTree = kTree + u"\\Parameters\\Device";
const std::u16string kGuid = u"SOFTWARE\\Microsoft\\Cryptography";
const std::u16string kName = u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
const std::u16string kMarks = u"SOFTWARE\\vivediz\\Rollback";
constexpr u32 kAccessDenied = 5;

bytes units(const std::u16string& s) {
  bytes out;
  for (char16_t c : s) out.insert(out.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
  return out;
}

class RollbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    standin::set_string(kGuid, u"MachineGuid", u"cb8e23cc-0104-469c-97da-37712b1dc8a7");
    standin::set_string(kName, u"ComputerName", u"GUEST1");
    standin::create_key(u"SOFTWARE\\Microsoft");
  }
  void TearDown() override {
    EXPECT_EQ(standin::open_key_count(), 0);
    EXPECT_EQ(standin::open_device_list_count(), 0);
    EXPECT_EQ(standin::open_file_count(), 0);
  }
  static bool save(const rollback::plan& plan, std::string* refusal = nullptr) {
    rollback::record record;
    std::string why;
    const bool saved = rollback::save(plan, u"accept", kFile, &record, &why);
    if (refusal != nullptr) *refusal = why;
    EXPECT_TRUE(refusal != nullptr || saved) << why;
    return saved;
  }
  // As after a crash: from the file alone.
  static rollback::outcome restore_from_file() {
    rollback::record record;
    std::string why;
    EXPECT_TRUE(rollback::load(kFile, u"accept", &record, &why)) << why;
    return rollback::restore(record, kFile);
  }
  static void expect_finished() {
    EXPECT_FALSE(standin::file_content(kFile));
    EXPECT_FALSE(standin::key_exists(u"SOFTWARE\\vivediz"));
  }
};

// ---- Value shapes: each back with its type and bytes, whether in a tree or named alone.

struct shape {
  const char* label;
  std::u16string name;
  u32 type;
  bytes data;
  bool stored = true;
};

const std::vector<shape> kShapes = {
    {"string with terminator", u"s", 1, units(std::u16string(u"abc\0", 4))},
    {"string without terminator", u"s", 1, units(u"abc")},
    {"string of odd length", u"s", 1, {'a', 0, 'b', 0, 0}},
    {"empty string", u"s", 1, {}},
    {"expandable string without terminator", u"s", 2, units(u"%x%")},
    {"multi-string without final terminator", u"s", 7, units(std::u16string(u"a\0b", 3))},
    {"empty binary", u"b", 3, {}},
    {"binary of odd length", u"b", 3, {1, 0, 0}},
    {"binary over 64 KiB, odd", u"b", 3, bytes(70001, 0x5A)},
    {"dword", u"d", 4, {1, 2, 3, 4}},
    {"dword of three bytes", u"d", 4, {1, 2, 3}},
    {"qword", u"q", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
    {"REG_NONE", u"n", 0, {}},
    {"unknown type", u"n", 0x12345678, {0, 0}},
    {"name with spaces", u"Start Override 0", 4, {0, 0, 0, 0}},
    {"name with a backslash", u"a\\b", 4, {1, 0, 0, 0}},
    {"name with tab and percent", u"t\t%41", 4, {1, 0, 0, 0}},
    {"name with unpaired surrogates", std::u16string(u"s\xD800x\xDC00"), 4, {1, 0, 0, 0}},
    {"the default value", u"", 1, units(u"d")},
    {"255-unit name", std::u16string(255, u'n'), 4, {1, 0, 0, 0}},
    {"16383-unit name, the longest", std::u16string(16383, u'n'), 4, {1, 0, 0, 0}},
    {"value that was not there", u"new", 4, {}, false},
};

TEST_F(RollbackTest, EveryValueShapeComesBackByteForByte) {
  for (const shape& row : kShapes) {
    SCOPED_TRACE(row.label);
    SetUp();
    for (const std::u16string& key : {kValues, kInTree}) {
      standin::create_key(key);
      if (row.stored) standin::set_value(key, row.name, row.type, row.data);
    }
    rollback::plan plan;
    plan.values(hive::local_machine, view::registry64, kValues, {row.name});
    plan.tree(hive::local_machine, view::registry64, kTree);
    if (!save(plan)) continue;
    for (const std::u16string& key : {kValues, kInTree}) standin::set_dword(key, row.name, 7);

    const rollback::outcome done = restore_from_file();
    EXPECT_TRUE(done.whole()) << (done.failures.empty() ? "" : done.failures.front());
    for (const std::u16string& key : {kValues, kInTree}) {
      const std::optional<standin::value> now = standin::get_value(key, row.name);
      ASSERT_EQ(now.has_value(), row.stored) << standin::narrow(key);
      if (!row.stored) continue;
      EXPECT_EQ(now->type, row.type);
      EXPECT_EQ(now->data, row.data);
    }
    expect_finished();
  }
}

// ---- Keys: deleted where recorded absent or unrecorded within a tree; named, not touched,
// outside what was recorded.

struct key_case {
  const char* label;
  std::function<void(rollback::plan*)> plan;
  std::function<void()> before;  // the guest when it is saved
  std::function<void()> after;   // what changes after the save
  std::function<void()> check;   // after the restore
  std::string note = "";         // a key named, not touched
};

const std::u16string kLeft = kValues + u"\\Interfaces";
const std::u16string kSoftware = u"SOFTWARE\\Vendor\\Drivers";

const std::vector<key_case> kKeyCases = {
    {"tree absent, created with keys below",
     [](rollback::plan* p) { p->tree(hive::local_machine, view::registry64, kTree); }, [] {},
     [] { standin::set_dword(kInTree + u"\\Deeper", u"x", 1); },
     [] { EXPECT_FALSE(standin::key_exists(kTree)); }},
    {"tree present, deleted whole",
     [](rollback::plan* p) { p->tree(hive::local_machine, view::registry64, kTree); },
     [] { standin::set_dword(kInTree + u"\\Deeper", u"x", 1); },
     [] { standin::delete_tree(kTree); },
     [] { EXPECT_EQ(standin::get_dword(kInTree + u"\\Deeper", u"x"), 1u); }},
    {"tree present, a key created deeper than recorded",
     [](rollback::plan* p) { p->tree(hive::local_machine, view::registry64, kTree); },
     [] { standin::set_dword(kInTree, u"x", 1); },
     [] { standin::set_dword(kInTree + u"\\StartOverride\\Deeper", u"0", 3); },
     [] {
       EXPECT_FALSE(standin::key_exists(kInTree + u"\\StartOverride"));
       EXPECT_EQ(standin::get_dword(kInTree, u"x"), 1u);
     }},
    {"named values' key present, a key created below it",
     [](rollback::plan* p) { p->values(hive::local_machine, view::registry64, kValues, {u"x"}); },
     [] { standin::set_dword(kValues, u"x", 1); }, [] { standin::set_dword(kLeft, u"mine", 2); },
     [] { EXPECT_EQ(standin::get_dword(kLeft, u"mine"), 2u); },
     "Parameters\\Interfaces: not in the record; left as it is"},
    {"named values' key absent, created deeper",
     [](rollback::plan* p) {
       p->values(hive::local_machine, view::registry64, kTree + u"\\Parameters", {u"x"});
     },
     [] { standin::create_key(u"SYSTEM\\CurrentControlSet\\Services"); },
     [] { standin::set_dword(kInTree + u"\\Deeper", u"x", 1); },
     [] {
       EXPECT_FALSE(standin::key_exists(kTree));
       EXPECT_TRUE(standin::key_exists(u"SYSTEM\\CurrentControlSet\\Services"));
     }},
    {"32-bit view: its own key, the 64-bit one untouched",
     [](rollback::plan* p) { p->values(hive::local_machine, view::registry32, kSoftware, {u"x"}); },
     [] { standin::set_dword(u"SOFTWARE\\WOW6432Node\\Vendor\\Drivers", u"x", 1); },
     [] {
       standin::set_dword(u"SOFTWARE\\WOW6432Node\\Vendor\\Drivers", u"x", 2);
       standin::set_dword(kSoftware, u"x", 2);
     },
     [] {
       EXPECT_EQ(standin::get_dword(u"SOFTWARE\\WOW6432Node\\Vendor\\Drivers", u"x"), 1u);
       EXPECT_EQ(standin::get_dword(kSoftware, u"x"), 2u);
     }},
};

TEST_F(RollbackTest, KeysComeBackAndNothingOutsideTheRecordIsDeleted) {
  for (const key_case& row : kKeyCases) {
    SCOPED_TRACE(row.label);
    SetUp();
    row.before();
    rollback::plan plan;
    row.plan(&plan);
    if (!save(plan)) continue;
    row.after();
    const rollback::outcome done = restore_from_file();
    EXPECT_TRUE(done.whole()) << (done.failures.empty() ? "" : done.failures.front());
    row.check();
    ASSERT_EQ(done.notes.size(), row.note.empty() ? 0u : 1u);
    if (!row.note.empty()) {
      EXPECT_NE(done.notes.front().find(row.note), std::string::npos) << done.notes.front();
    }
    expect_finished();
  }
}

// ---- Record files that are not whole or not this guest's: one line, and nothing changes.

// The file's lines, edited, with its check line made to fit them again (a forged file).
void edit_file(const std::function<void(std::vector<std::string>*)>& edit, bool reseal) {
  const bytes content = *standin::file_content(kFile);
  std::vector<std::string> lines(1);
  for (std::uint8_t c : content) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(c);
    }
  }
  lines.pop_back();
  edit(&lines);
  std::string text;
  for (std::size_t i = 0; i + (reseal ? 1 : 0) < lines.size(); ++i) text += lines[i] + "\n";
  if (reseal) {
    rollback::sha256 digest;
    digest.add(text.data(), text.size());
    text += "sha256\t" + digest.hex() + "\n";
  }
  standin::set_file(kFile, bytes(text.begin(), text.end()));
}

struct refused_file {
  const char* label;
  std::function<void()> spoil;
  std::string refusal;
};

const std::vector<refused_file> kRefusedFiles = {
    {"first line missing", [] { edit_file([](auto* l) { l->erase(l->begin()); }, false); },
     "a line is missing"},
    {"a middle line missing", [] { edit_file([](auto* l) { l->erase(l->begin() + 6); }, false); },
     "a line is missing"},
    {"last line missing", [] { edit_file([](auto* l) { l->pop_back(); }, false); },
     "not written whole"},
    {"another guest's machine GUID",
     [] { standin::set_string(kGuid, u"MachineGuid", u"0c1a5e00-0000-4000-8000-000000000000"); },
     "another guest (machine GUID"},
    {"another guest's computer name",
     [] { standin::set_string(kName, u"ComputerName", u"GUEST2"); },
     "another guest (computer name"},
    {"a copy of the guest made before the save",
     [] {
       platform::key_handle k = nullptr;
       platform::reg_open_key(platform::local_machine(), kMarks.c_str(), platform::key_all_access,
                              &k);
       char16_t name[64];
       u32 length = 64;
       platform::reg_enum_value_name(k, 0, name, &length);
       platform::reg_delete_value(k, name);
       platform::reg_close_key(k);
     },
     "holds no mark of its save"},
    {"forged for another guest, check line made to fit",
     [] { edit_file([](auto* l) { (*l)[2] = "guest\t1\tother\t1\tGUEST1"; }, true); },
     "another guest (machine GUID \"other\" there"},
    {"another program's record", [] { edit_file([](auto* l) { (*l)[1] = "owner\tundo"; }, true); },
     "a record of undo"},
    {"a tree that existed, its path emptied (the whole hive), check line made to fit",
     [] {
       edit_file(
           [](auto* l) {
             for (std::string& line : *l) {
               if (line.rfind("tree\t", 0) == 0) line = "tree\tHKLM\t64\t\t1";
             }
           },
           true);
     },
     "do not fit its record"},
};

TEST_F(RollbackTest, FileNotWholeOrNotThisGuestsIsRefusedChangingNothing) {
  for (const refused_file& row : kRefusedFiles) {
    SCOPED_TRACE(row.label);
    SetUp();
    standin::set_dword(kInTree, u"max_disks", 48);
    standin::set_dword(kValues, u"TcpWindowSize", 8192);  // line 6: invisible when missing
    rollback::plan plan;
    plan.tree(hive::local_machine, view::registry64, kTree);
    plan.values(hive::local_machine, view::registry64, kValues, {u"TcpWindowSize"});
    if (!save(plan)) continue;
    standin::set_dword(kInTree, u"max_disks", 64);
    standin::set_dword(kValues, u"TcpWindowSize", 65535);
    row.spoil();
    const std::string registry = standin::registry_text();
    rollback::record record;
    std::string refusal;
    EXPECT_FALSE(rollback::load(kFile, u"accept", &record, &refusal));
    EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
    EXPECT_EQ(refusal.find('\n'), std::string::npos);
    EXPECT_NE(refusal.find("nothing was changed"), std::string::npos) << refusal;
    EXPECT_EQ(standin::registry_text(), registry);
  }
}

// ---- A save that cannot read what it must, or may not start: refused before any change.

struct refused_save {
  const char* label;
  std::function<void()> fault;
  std::string refusal;
  std::u16string tree = kTree;  // the plan's tree
};

const std::vector<refused_save> kRefusedSaves = {
    {"a key below the tree that may not be opened", [] { standin::deny_access(kInTree); },
     "cannot read HKLM\\" + standin::narrow(kInTree) + ": error 5 (access denied)"},
    {"the named values' key that may not be opened",
     [] { standin::fail(op::reg_open, kAccessDenied, kValues, 0, -1); },
     "cannot read HKLM\\" + standin::narrow(kValues) + ": error 5"},
    {"a value that cannot be read",
     [] { standin::fail(op::reg_query, kAccessDenied, u"\\TcpWindowSize", 0, -1); },
     "\"TcpWindowSize\": error 5"},
    {"the subkeys of a tree key", [] { standin::fail(op::reg_enum_key, kAccessDenied, kInTree); },
     "subkeys of HKLM\\" + standin::narrow(kInTree)},
    {"a device that cannot be fetched", [] { standin::fail(op::device_enum, 1784); },
     "device 0 of XEN"},
    {"a device's flags that cannot be read",
     [] { standin::fail(op::device_get_property, kAccessDenied, u"", 1); },
     "device XEN\\VBD\\768 of XEN: error 5"},
    {"a tree under Enum", [] {}, "with Enum in it is never saved whole",
     u"SYSTEM\\ControlSet001\\Enum\\XEN"},
    {"a tree that holds Enum", [] {}, "with Enum in it is never saved whole",
     u"SYSTEM\\CurrentControlSet"},
    {"the file exists", [] { standin::set_file(kFile, {}); }, "exists already"},
    {"an earlier save from another folder was never put back",
     [] {
       rollback::record r;
       std::string why;
       rollback::save({}, u"accept", u"D:\\copy\\accept-restore.txt", &r, &why);
     },
     "never put back: its record is D:\\copy\\accept-restore.txt"},
    {"the record cannot be flushed", [] { standin::fail(op::file_flush, 112); },
     "cannot flush C:\\kit\\accept-restore.txt.tmp: error 112"},
};

TEST_F(RollbackTest, SaveThatCannotReadOrStartChangesNothing) {
  for (const refused_save& row : kRefusedSaves) {
    SCOPED_TRACE(row.label);
    SetUp();
    standin::set_dword(kInTree + u"\\Deeper", u"x", 1);
    standin::set_dword(kValues, u"TcpWindowSize", 8192);
    const int device = standin::add_device(u"XEN", {u"XEN\\VBD"}, 0x400);
    standin::device_at(device).instance_id = u"XEN\\VBD\\768";
    row.fault();
    const std::string registry = standin::registry_text();
    const std::optional<bytes> file = standin::file_content(kFile);
    rollback::plan plan;
    plan.tree(hive::local_machine, view::registry64, row.tree);
    plan.values(hive::local_machine, view::registry64, kValues, {u"TcpWindowSize"});
    plan.devices(u"XEN", {});
    std::string refusal;
    EXPECT_FALSE(save(plan, &refusal));
    EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("nothing was changed"), std::string::npos) << refusal;
    EXPECT_EQ(standin::registry_text(), registry);
    EXPECT_EQ(standin::file_content(kFile), file);
    EXPECT_FALSE(standin::file_content(kFile + u".tmp"));
  }
}

// ---- Devices: configuration flags back through the device setup interface.

TEST_F(RollbackTest, DeviceFlagsComeBackThroughTheDeviceSetupInterface) {
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD"}, 0x400, false);
  const int scsi = standin::add_device(u"XEN", {u"XEN\\TYPE_VSCSI"}, std::nullopt);
  const int net = standin::add_device(u"XEN", {u"XEN\\TYPE_VIF"}, 0x1);
  rollback::plan plan;
  plan.devices(u"XEN", {u"XEN\\TYPE_VBD", u"XEN\\TYPE_VSCSI"});
  ASSERT_TRUE(save(plan));
  standin::device_at(disk).config_flags = 0;
  standin::device_at(scsi).config_flags = 0x40;
  standin::device_at(net).config_flags = 0;

  rollback::record record;
  std::string why;
  ASSERT_TRUE(rollback::load(kFile, u"accept", &record, &why)) << why;
  EXPECT_EQ(rollback::changes(record).size(), 2u);
  const rollback::outcome done = rollback::restore(record, kFile);
  EXPECT_TRUE(done.whole());
  EXPECT_EQ(standin::device_at(disk).config_flags, 0x400u);
  EXPECT_FALSE(standin::device_at(scsi).config_flags);
  EXPECT_EQ(standin::device_at(net).config_flags, 0u);  // not recorded: not touched
  EXPECT_EQ(standin::timeline_matching("config_flags"),
            (std::vector<std::string>{"config_flags XEN\\TYPE_VBD=0x400",
                                      "config_flags XEN\\TYPE_VSCSI=none"}));
  expect_finished();
}

// ---- What cannot be put back is named; the file and the mark stay until all is on disk.

TEST_F(RollbackTest, RestoreThatCannotPutBackKeepsFileAndMark) {
  standin::set_dword(kInTree, u"max_disks", 48);
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD"}, 0x400);
  rollback::plan plan;
  plan.tree(hive::local_machine, view::registry64, kTree);
  plan.devices(u"XEN", {});
  ASSERT_TRUE(save(plan));
  standin::lose_unflushed_data();  // the record was on disk before the first change
  standin::set_dword(kInTree, u"max_disks", 64);
  standin::device_at(disk).instance_id = u"XEN\\TYPE_VBD\\GONE";
  standin::fail(op::reg_set, kAccessDenied, u"\\max_disks");

  rollback::outcome done = restore_from_file();
  ASSERT_EQ(done.failures.size(), 3u);
  EXPECT_NE(done.failures[0].find("cannot write HKLM\\" + standin::narrow(kInTree) +
                                  " \"max_disks\": error 5"),
            std::string::npos);
  EXPECT_NE(done.failures[1].find("\"max_disks\": REG_DWORD 0x40 now"), std::string::npos);
  EXPECT_NE(done.failures[2].find("device XEN\\DEVICE\\0: not found"), std::string::npos);
  EXPECT_TRUE(standin::file_content(kFile));
  EXPECT_TRUE(standin::key_exists(kMarks));

  standin::device_at(disk).instance_id.clear();
  standin::fail(op::file_delete, kAccessDenied);
  EXPECT_EQ(restore_from_file().failures,
            std::vector<std::string>{"cannot delete C:\\kit\\accept-restore.txt: error 5 (access "
                                     "denied)"});
  EXPECT_TRUE(standin::key_exists(kMarks));

  const std::size_t start = standin::timeline().size();
  EXPECT_TRUE(restore_from_file().whole());
  EXPECT_EQ(standin::get_dword(kInTree, u"max_disks"), 48u);
  // The hive goes to disk before the file that could put it back goes, and the mark last.
  std::vector<std::string> order;
  for (std::size_t i = start; i < standin::timeline().size(); ++i) {
    const std::string& e = standin::timeline()[i];
    if (e.rfind("flush_key SYSTEM", 0) == 0 || e.rfind("delete_file", 0) == 0 ||
        e.rfind("delete_value SOFTWARE", 0) == 0) {
      order.push_back(e.substr(0, e.find(' ')));
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"flush_key", "delete_file", "delete_value"}));
  expect_finished();
}

// ---- Elevation: TokenElevation where the system knows it, else membership of Administrators.

TEST_F(RollbackTest, ElevationFromTheTokenOrTheAdministratorsGroup) {
  struct row {
    std::optional<bool> elevation;
    bool administrator;
    bool elevated;
    const char* how;
  };
  const row rows[] = {{true, false, true, "TokenElevation"},
                      {false, true, false, "TokenElevation"},
                      {std::nullopt, true, true, "membership of Administrators"},
                      {std::nullopt, false, false, "membership of Administrators"}};
  for (const row& r : rows) {
    standin::set_elevation(r.elevation);
    standin::set_administrator(r.administrator);
    std::string how;
    EXPECT_EQ(rollback::elevated(&how), r.elevated) << r.how;
    EXPECT_EQ(how, r.how);
  }
}

}  // namespace
