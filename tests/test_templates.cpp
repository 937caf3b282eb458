// Tests of resources/vivediz.rc (dialog templates, string table, version) and of its parser.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/standin/rc_script.h"
#include "tests/standin/standin.h"

namespace {

// Windows header values, written out here rather than taken from the parser's own table.
constexpr std::uint32_t kChildVisible = 0x40000000u | 0x10000000u;  // WS_CHILD | WS_VISIBLE
constexpr std::uint32_t kBorder = 0x00800000u;
constexpr std::uint32_t kVScroll = 0x00200000u;
constexpr std::uint32_t kGroup = 0x00020000u;
constexpr std::uint32_t kTabStop = 0x00010000u;

struct control_kind {
  const char* class_name;
  std::uint32_t style;  // as in the binary, where every control is a visible child
};

constexpr control_kind kGroupBox{"Button", kChildVisible | 0x7};          // BS_GROUPBOX
constexpr control_kind kCheck{"Button", kChildVisible | 0x3 | kTabStop};  // BS_AUTOCHECKBOX
constexpr control_kind kRadio{"Button", kChildVisible | 0x9};             // BS_AUTORADIOBUTTON
constexpr control_kind kFirstRadio{"Button", kChildVisible | 0x9 | kTabStop};
constexpr control_kind kLabel{"Static", kChildVisible | kGroup};                  // SS_LEFT is 0
constexpr control_kind kEdit{"Edit", kChildVisible | kBorder | kTabStop | 0x80};  // ES_AUTOHSCROLL
constexpr control_kind kButton{"Button", kChildVisible | kTabStop};  // BS_PUSHBUTTON is 0
constexpr control_kind kDefaultButton{"Button", kChildVisible | kTabStop | 0x1};
// ES_MULTILINE, ES_AUTOVSCROLL, ES_READONLY.
constexpr control_kind kHelpEdit{
    "Edit", kChildVisible | 0x4 | 0x40 | 0x800 | kVScroll | kBorder | kTabStop};

struct expected_control {
  const char* name;  // the identifier's name in resource.h
  int id;
  control_kind kind;
  const char16_t* text;
  int x, y, w, h;
};

using control_table = std::vector<expected_control>;

const control_table kXenControls = {
    {"IDC_XEN_GROUP", 3132, kGroupBox, u"Xen Device Control", 5, 10, 75, 135},
    {"IDC_DISK_GROUP", 3133, kGroupBox, u"Disk", 15, 20, 55, 55},
    {"IDC_DISK_ALL", 3105, kFirstRadio, u"&All", 20, 34, 37, 10},
    {"IDC_DISK_XVD", 3106, kRadio, u"&xvd<x>", 20, 46, 37, 10},
    {"IDC_DISK_NONE", 3107, kRadio, u"&None", 20, 59, 37, 10},
    {"IDC_XEN_VARIABLES_GROUP", 3135, kGroupBox, u"Xen Variable Options", 95, 76, 120, 78},
    {"IDC_GRANT_FRAMES_LABEL", 3137, kLabel, u"&Grant Frames", 100, 88, 101, 10},
    {"IDC_GRANT_FRAMES", 3119, kEdit, u"", 165, 88, 40, 12},
    {"IDC_MAX_DISKS_LABEL", 3138, kLabel, u"&Max Disks", 100, 104, 97, 10},
    {"IDC_MAX_DISKS", 3120, kEdit, u"", 165, 104, 40, 12},
    {"IDC_SHUTDOWN_DELAY_LABEL", 3139, kLabel, u"&Shutdown Delay", 100, 120, 96, 10},
    {"IDC_SHUTDOWN_DELAY", 3121, kEdit, u"", 165, 120, 40, 12},
    {"IDC_RESOURCE_TIMEOUT_LABEL", 3140, kLabel, u"&Resource Timeout", 100, 136, 90, 10},
    {"IDC_RESOURCE_TIMEOUT", 3122, kEdit, u"", 165, 136, 40, 12},
    {"IDC_LAN_GROUP", 3134, kGroupBox, u"LAN", 15, 80, 55, 55},
    {"IDC_LAN_ALL", 3116, kRadio, u"A&ll", 20, 94, 37, 10},
    {"IDC_LAN_NETFRONT", 3117, kRadio, u"Ne&tfront", 20, 106, 37, 10},
    {"IDC_LAN_NONE", 3118, kRadio, u"N&one", 20, 120, 37, 10},
    {"IDC_XEN_FLAGS_GROUP", 3136, kGroupBox, u"Xen Flags", 95, 10, 120, 59},
    {"IDC_BALLOONING", 3110, kCheck, u"&Ballooning", 100, 20, 45, 10},
    {"IDC_INSTANCE_IDS", 3111, kCheck, u"&Instance IDs", 100, 32, 55, 10},
    {"IDC_BOOT_PV_SCSI", 3141, kCheck, u"Boot &PV SCSI", 100, 44, 65, 10},
    {"IDC_ONE_CONTROLLER", 3142, kCheck, u"&Use one controller", 100, 56, 75, 10},
    {"IDC_TCP_GROUP", 3126, kGroupBox, u"TCP Options", 230, 10, 155, 104},
    {"IDC_TCP_ENABLE", 3123, kCheck, u"&Enable", 235, 20, 45, 10},
    {"IDC_SEND_WINDOW_LABEL", 3127, kLabel, u"DefaultSend&Window", 240, 34, 95, 8},
    {"IDC_SEND_WINDOW", 3100, kEdit, u"", 335, 34, 40, 12},
    {"IDC_RECEIVE_WINDOW_LABEL", 3128, kLabel, u"DefaultRecei&veWindow", 240, 49, 95, 8},
    {"IDC_RECEIVE_WINDOW", 3101, kEdit, u"", 335, 49, 40, 12},
    {"IDC_TCP_WINDOW_SIZE_LABEL", 3129, kLabel, u"TcpWindowSi&ze", 240, 64, 95, 8},
    {"IDC_TCP_WINDOW_SIZE", 3102, kEdit, u"", 335, 64, 40, 12},
    {"IDC_TCP1323_OPTS_LABEL", 3130, kLabel, u"Tcp&1323Opts", 240, 79, 95, 8},
    {"IDC_TCP1323_OPTS", 3103, kEdit, u"", 335, 79, 40, 12},
    {"IDC_FAST_SEND_THRESHOLD_LABEL", 3131, kLabel, u"&FastSendDatagramThreshold", 240, 94, 95, 8},
    {"IDC_FAST_SEND_THRESHOLD", 3104, kEdit, u"", 335, 94, 40, 12},
    {"IDC_DEFAULTS", 3124, kButton, u"&Default", 250, 120, 50, 14},
    {"IDC_HELP_BUTTON", 3125, kButton, u"&Help", 315, 120, 50, 14},
    {"IDOK", 1, kDefaultButton, u"O&K", 250, 140, 50, 14},
    {"IDCANCEL", 2, kButton, u"&Cancel", 315, 140, 50, 14},
};

// The TCP block of the KVM and basic templates, x relative to the block's origin.
const control_table kTcpBlock = {
    {"IDC_TCP_GROUP", 3126, kGroupBox, u"TCP Options", 0, 10, 155, 104},
    {"IDC_TCP_ENABLE", 3123, kCheck, u"&Enable", 5, 20, 45, 10},
    {"IDC_SEND_WINDOW_LABEL", 3127, kLabel, u"DefaultSend&Window", 10, 34, 94, 8},
    {"IDC_SEND_WINDOW", 3100, kEdit, u"", 106, 34, 40, 12},
    {"IDC_RECEIVE_WINDOW_LABEL", 3128, kLabel, u"Defa&ultReceiveWindow", 10, 49, 94, 8},
    {"IDC_RECEIVE_WINDOW", 3101, kEdit, u"", 106, 49, 40, 12},
    {"IDC_TCP_WINDOW_SIZE_LABEL", 3129, kLabel, u"TcpWindowSi&ze", 10, 64, 94, 8},
    {"IDC_TCP_WINDOW_SIZE", 3102, kEdit, u"", 106, 64, 40, 12},
    {"IDC_TCP1323_OPTS_LABEL", 3130, kLabel, u"Tcp&1323Opts", 10, 79, 94, 8},
    {"IDC_TCP1323_OPTS", 3103, kEdit, u"", 106, 79, 40, 12},
    {"IDC_FAST_SEND_THRESHOLD_LABEL", 3131, kLabel, u"&FastSendDatagramThreshold", 10, 94, 94, 8},
    {"IDC_FAST_SEND_THRESHOLD", 3104, kEdit, u"", 106, 94, 40, 12},
    {"IDC_DEFAULTS", 3124, kButton, u"&Default", 20, 120, 50, 14},
    {"IDC_HELP_BUTTON", 3125, kButton, u"&Help", 85, 120, 50, 14},
    {"IDOK", 1, kDefaultButton, u"O&K", 20, 140, 50, 14},
    {"IDCANCEL", 2, kButton, u"&Cancel", 85, 140, 50, 14},
};

control_table with_tcp_block(control_table head, int origin) {
  for (expected_control c : kTcpBlock) {
    c.x += origin;
    head.push_back(c);
  }
  return head;
}

const control_table kKvmControls = with_tcp_block(
    {
        {"IDC_VIRTIO_GROUP", 3200, kGroupBox, u"Virtio Device Control", 5, 10, 76, 25},
        {"IDC_SERIAL_MSI", 3201, kCheck, u"&Serial MSI", 10, 20, 45, 10},
    },
    94);

const control_table kBasicControls = with_tcp_block({}, 5);

const control_table kHelpControls = {
    {"IDC_HELP_TEXT", 4000, kHelpEdit, u"", 5, 5, 290, 170},
    {"IDOK", 1, kDefaultButton, u"O&K", 130, 180, 50, 14},
};

const char kXen[] = "ORVANE_DLG_TEMPLATE";
const char kKvm[] = "ORVANE_DLG_KVM_TEMPLATE";
const char kBasic[] = "ORVANE_DLG_BASIC_TEMPLATE";
const char kHelp[] = "TARN_VIVEDIZ_DLG_TEMPLATE";
const char16_t kSettingsCaption[] = u"TARN Device Control Settings v1.0.1.0006";
const char kEnglishUs[] = "LANG_ENGLISH, SUBLANG_ENGLISH_US";

struct expected_template {
  const char* name;
  int w, h;
  const char16_t* caption;
  const control_table* controls;
};

const expected_template kTemplates[] = {
    {kXen, 390, 161, kSettingsCaption, &kXenControls},
    {kKvm, 255, 161, kSettingsCaption, &kKvmControls},
    {kBasic, 165, 161, kSettingsCaption, &kBasicControls},
    {kHelp, 300, 200, u"Vivediz Help", &kHelpControls},
};

const rc::dialog& template_named(const char* name) {
  const rc::dialog* d = rc::find_dialog(rc::project_script(), name);
  if (!d) {
    ADD_FAILURE() << "no template " << name;
    static const rc::dialog empty{};
    return empty;
  }
  return *d;
}

bool has_control(const rc::dialog& d, int id) {
  for (const rc::control& c : d.controls) {
    if (c.id == id) return true;
  }
  return false;
}

using standin::narrow;

TEST(Templates, ControlsMatchTheTablesInTemplateOrder) {
  for (const expected_template& t : kTemplates) {
    SCOPED_TRACE(t.name);
    const rc::dialog& d = template_named(t.name);
    const control_table& expected = *t.controls;
    ASSERT_EQ(d.controls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const expected_control& e = expected[i];
      const rc::control& c = d.controls[i];
      SCOPED_TRACE("control " + std::to_string(i) + " (" + e.name + ")");
      EXPECT_EQ(c.id, e.id);
      EXPECT_EQ(c.class_name, e.kind.class_name);
      EXPECT_EQ(c.style, e.kind.style) << std::hex << "0x" << c.style;
      EXPECT_EQ(c.text, e.text) << narrow(c.text);
      EXPECT_EQ(c.x, e.x);
      EXPECT_EQ(c.y, e.y);
      EXPECT_EQ(c.w, e.w);
      EXPECT_EQ(c.h, e.h);
    }
  }
}

// The program addresses the controls by these names; a swap in resource.h would go unnoticed
// by the numbers alone.
TEST(Templates, IdentifierNamesHaveTheTabledValues) {
  const std::map<std::string, long>& defines = rc::project_script().defines;
  for (const expected_template& t : kTemplates) {
    for (const expected_control& e : *t.controls) {
      if (std::string(e.name).rfind("IDC_", 0) != 0) continue;  // IDOK and IDCANCEL are Windows'
      auto it = defines.find(e.name);
      ASSERT_NE(it, defines.end()) << e.name;
      EXPECT_EQ(it->second, e.id) << e.name;
    }
  }
}

TEST(Templates, CommonAttributes) {
  EXPECT_EQ(rc::project_script().dialogs.size(), 4u);
  for (const expected_template& t : kTemplates) {
    SCOPED_TRACE(t.name);
    const rc::dialog& d = template_named(t.name);
    EXPECT_EQ(d.style, 0x80C000C0u) << std::hex << "0x" << d.style;
    EXPECT_EQ(d.x, 50);
    EXPECT_EQ(d.y, 50);
    EXPECT_EQ(d.w, t.w);
    EXPECT_EQ(d.h, t.h);
    EXPECT_EQ(d.caption, t.caption) << narrow(d.caption);
    EXPECT_EQ(d.font_points, 8);
    EXPECT_EQ(d.font_face, "MS Shell Dlg");
    EXPECT_EQ(d.language, kEnglishUs);
  }
}

TEST(Templates, SettingsTemplatesShareTheTcpBlockAndButtons) {
  const int shared[] = {3100, 3101, 3102, 3103, 3104, 3123, 3124, 3125,
                        3126, 3127, 3128, 3129, 3130, 3131, 1,    2};
  for (const char* name : {kXen, kKvm, kBasic}) {
    const rc::dialog& d = template_named(name);
    for (int id : shared) EXPECT_TRUE(has_control(d, id)) << name << " lacks " << id;
  }
}

TEST(Templates, VariantOnlyIdentifiersAppearOnlyInTheirTemplate) {
  std::vector<int> xen_only;
  for (int id = 3105; id <= 3122; ++id) xen_only.push_back(id);
  for (int id = 3132; id <= 3142; ++id) xen_only.push_back(id);
  const struct {
    const char* owner;
    std::vector<int> ids;
  } cases[] = {{kXen, xen_only}, {kKvm, {3200, 3201}}};
  for (const auto& c : cases) {
    for (const rc::dialog& d : rc::project_script().dialogs) {
      if (d.name == c.owner) continue;
      for (int id : c.ids) EXPECT_FALSE(has_control(d, id)) << d.name << " has " << id;
    }
  }
}

// Values are unique within each family, and each family is exactly what the resources use, so
// no name is left pointing at nothing.
TEST(ResourceHeader, IdentifierFamiliesAreUniqueAndMatchTheResources) {
  const rc::script& s = rc::project_script();
  std::set<long> used_controls;
  for (const rc::dialog& d : s.dialogs) {
    for (const rc::control& c : d.controls) {
      if (c.id != 1 && c.id != 2) used_controls.insert(c.id);
    }
  }
  std::set<long> used_strings;
  for (const auto& entry : s.strings) used_strings.insert(entry.first);

  const struct {
    const char* prefix;
    const std::set<long>* used;
  } families[] = {{"IDC_", &used_controls}, {"IDS_", &used_strings}};
  for (const auto& f : families) {
    SCOPED_TRACE(f.prefix);
    std::map<long, std::string> by_value;
    for (const auto& define : s.defines) {
      if (define.first.rfind(f.prefix, 0) != 0) continue;
      auto inserted = by_value.emplace(define.second, define.first);
      EXPECT_TRUE(inserted.second)
          << define.first << " and " << inserted.first->second << " share " << define.second;
    }
    std::set<long> defined;
    for (const auto& entry : by_value) defined.insert(entry.first);
    EXPECT_EQ(defined, *f.used);
  }
}

TEST(StringTable, HoldsExactlyTheMessageCatalogue) {
  const std::map<std::uint32_t, std::u16string> expected = {
      {1000, u"TARN Device Control Settings"},
      {1001, u"Failed to set Device Control options"},
      {1002, u"Failed to set Flags control option"},
      {1003, u"Failed to set Grant Frame control option"},
      {1004, u"Failed to set Max Disks control option"},
      {1005, u"Failed to set Shutdown Delay control option"},
      {1006, u"Failed to set Resource Timeout control option"},
      {1007, u"Failed to set TCP control options"},
      {1009, u"Failed to start TARN Device Controller"},
      {1011, u"Entered value is invalid, using last good value"},
      {1012, u"Entered value is less than minimum, using minimum value"},
      {1013, u"Entered value is greater than maximum, using maximum value"},
      {1014, u"Vivediz must be run with administrative permissions."},
      {1015, u"Vivediz must be 'Run as administrator'."},
      {1018, u"Failed to set virtio serial MSI value."},
  };
  EXPECT_EQ(rc::project_script().strings, expected);
}

TEST(VersionResource, NumbersStringsAndTranslation) {
  const rc::script& s = rc::project_script();
  EXPECT_EQ(s.file_version, "1,0,1,6");
  EXPECT_EQ(s.product_version, "2,5,4,0");
  EXPECT_EQ(s.version_string_block, "040904B0");
  const std::map<std::string, std::string> required = {
      {"FileVersion", "1.0.1.6"},
      {"ProductVersion", "2.5.4"},
      {"InternalName", "vivediz.exe"},
      {"OriginalFilename", "vivediz.exe"},
      {"FileDescription", "TARN Device Control Settings"},
  };
  for (const auto& r : required) {
    auto it = s.version_strings.find(r.first);
    ASSERT_NE(it, s.version_strings.end()) << r.first;
    EXPECT_EQ(it->second, r.second) << r.first;
  }
  EXPECT_EQ(s.version_translation, (std::vector<std::uint32_t>{0x409, 1200}));
}

TEST(Resources, OnlyTheExpectedKindsAllInEnglishUsAndNoManifest) {
  const rc::script& s = rc::project_script();
  std::multiset<std::string> types(s.resource_types.begin(), s.resource_types.end());
  for (const char* manifest : {"24", "RT_MANIFEST", "MANIFEST"}) {
    EXPECT_EQ(types.count(manifest), 0u) << manifest;
  }
  EXPECT_EQ(types, (std::multiset<std::string>{"DIALOG", "DIALOG", "DIALOG", "DIALOG",
                                               "STRINGTABLE", "VERSIONINFO"}));
  for (const rc::resource_entry& r : s.resources) {
    EXPECT_EQ(r.language, kEnglishUs) << r.type << " " << r.name;
  }
}

// --- the parser itself, on small scripts ---------------------------------------------------------

class script_files {
 public:
  script_files(const std::string& tag, const std::string& rc, const std::string* header) {
    dir_ = std::filesystem::path(testing::TempDir()) / ("rc_script_" + tag);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    write("t.rc", rc);
    if (header) write("resource.h", *header);
  }
  ~script_files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string rc_path() const { return (dir_ / "t.rc").string(); }

 private:
  void write(const char* name, const std::string& text) {
    std::FILE* f = std::fopen((dir_ / name).string().c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  std::filesystem::path dir_;
};

const char kDialogHead[] =
    "#include <winresrc.h>\n"
    "#include \"resource.h\"\n"
    "D DIALOG 0, 0, 10, 10\n"
    "STYLE WS_POPUP\n";

TEST(RcScript, UnsupportedInputFailsNamingTheFileAndLine) {
  const std::string plain_header = "#pragma once\n#define IDC_A 7\n";
  const struct {
    const char* tag;
    std::string rc;
    const char* header;  // null: no resource.h
    const char* where;   // file name and line the error must carry
    const char* why;     // part of the reason
  } cases[] = {
      {"missing_header", "#include \"resource.h\"\n", nullptr, "resource.h", "cannot be read"},
      {"statement", "// x\nM MENU\nBEGIN\nEND\n", nullptr, "t.rc:2:", "MENU"},
      {"dialog_statement", std::string(kDialogHead) + "EXSTYLE 0\nBEGIN\nEND\n",
       plain_header.c_str(), "t.rc:5:", "EXSTYLE"},
      {"control_statement",
       std::string(kDialogHead) + "BEGIN\n  PUSHBUTTON \"a\", IDC_A, 0, 0, 1, 1\nEND\n",
       plain_header.c_str(), "t.rc:6:", "PUSHBUTTON"},
      {"unknown_constant",
       std::string(kDialogHead) +
           "BEGIN\n  CONTROL \"a\", IDC_A, \"Button\", BS_NOPE, 0, 0, 1, 1\nEND\n",
       plain_header.c_str(), "t.rc:6:", "BS_NOPE"},
      {"unknown_id",
       std::string(kDialogHead) + "BEGIN\n  CONTROL \"a\", IDC_B, \"Button\", 0, 0, 0, 1, 1\nEND\n",
       plain_header.c_str(), "t.rc:6:", "IDC_B"},
      {"no_style", "D DIALOG 0, 0, 10, 10\nCAPTION \"c\"\nBEGIN\nEND\n", nullptr,
       "t.rc:3:", "STYLE"},
      {"unterminated_string", "STRINGTABLE\nBEGIN\n  1, \"abc\nEND\n", nullptr,
       "t.rc:3:", "unterminated"},
      {"header_directive", "#include \"resource.h\"\n", "#pragma once\n#ifndef X\n#endif\n",
       "resource.h:2:", "#ifndef"},
      {"header_text", "#include \"resource.h\"\n", "#define IDC_A 1\nint x;\n",
       "resource.h:2:", "header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    std::string header = c.header ? c.header : "";
    script_files files(c.tag, c.rc, c.header ? &header : nullptr);
    rc::script s;
    std::string error;
    EXPECT_FALSE(rc::load(files.rc_path(), &s, &error));
    EXPECT_NE(error.find(c.where), std::string::npos) << error;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
}

// The rules by which the model matches what windres writes into the binary.
TEST(RcScript, ModelsWhatWindresWrites) {
  const std::string header = "#pragma once\n#define IDC_A 7 // seven\n#define IDS_X 0x10\n";
  const std::string rc =
      "#include <winresrc.h>\n"
      "#include \"resource.h\"\n"
      "/* a comment\n   over two lines */\n"
      "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
      "D DIALOG 1, 2, 30, 40\n"
      "STYLE WS_POPUP | DS_MODALFRAME\n"
      "CAPTION \"say \"\"hi\"\"\"\n"
      "FONT 9, \"Face\"\n"
      "BEGIN\n"
      "  CONTROL \"\"\"\", IDC_A, \"Button\", BS_GROUPBOX | 0x100, 3, 4, 5, 6\n"
      "END\n"
      "STRINGTABLE\n"
      "BEGIN\n"
      "  IDS_X \"sixteen\"\n"
      "END\n"
      "1 24 \"app.manifest\"\n";
  script_files files("model", rc, &header);
  rc::script s;
  std::string error;
  ASSERT_TRUE(rc::load(files.rc_path(), &s, &error)) << error;

  const rc::dialog* d = rc::find_dialog(s, "D");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->style, 0x80000000u | 0x80 | 0x00C00000u | 0x40);  // CAPTION and FONT add theirs
  EXPECT_EQ(d->caption, u"say \"hi\"");
  EXPECT_EQ(d->font_points, 9);
  EXPECT_EQ(d->font_face, "Face");
  EXPECT_EQ(d->language, kEnglishUs);
  ASSERT_EQ(d->controls.size(), 1u);
  EXPECT_EQ(d->controls[0].id, 7);
  EXPECT_EQ(d->controls[0].text, u"\"");
  EXPECT_EQ(d->controls[0].style, kChildVisible | 0x7 | 0x100);
  EXPECT_EQ(s.strings, (std::map<std::uint32_t, std::u16string>{{16, u"sixteen"}}));
  EXPECT_EQ(s.resource_types, (std::vector<std::string>{"DIALOG", "STRINGTABLE", "24"}));
  EXPECT_EQ(rc::find_dialog(s, "E"), nullptr);
}

}  // namespace
