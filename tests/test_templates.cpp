// Tests of resources/vivediz.rc as windres compiles it (dialog templates, string table, version),
// and of the decoder that reads the compiled form.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/standin/compiled_resources.h"
#include "tests/standin/standin.h"

namespace {

// Windows header values, written out here rather than taken from the program's headers.
constexpr std::uint32_t kChildVisible = 0x40000000u | 0x10000000u;  // WS_CHILD | WS_VISIBLE
constexpr std::uint32_t kBorder = 0x00800000u;
constexpr std::uint32_t kVScroll = 0x00200000u;
constexpr std::uint32_t kGroup = 0x00020000u;
constexpr std::uint32_t kTabStop = 0x00010000u;

struct control_kind {
  const char* class_name;  // as windres writes a class that the script names: in capitals
  std::uint32_t style;     // as in the binary, where every control is a visible child
};

constexpr control_kind kGroupBox{"BUTTON", kChildVisible | 0x7};          // BS_GROUPBOX
constexpr control_kind kCheck{"BUTTON", kChildVisible | 0x3 | kTabStop};  // BS_AUTOCHECKBOX
constexpr control_kind kRadio{"BUTTON", kChildVisible | 0x9};             // BS_AUTORADIOBUTTON
constexpr control_kind kFirstRadio{"BUTTON", kChildVisible | 0x9 | kTabStop};
constexpr control_kind kLabel{"STATIC", kChildVisible | kGroup};                  // SS_LEFT is 0
constexpr control_kind kEdit{"EDIT", kChildVisible | kBorder | kTabStop | 0x80};  // ES_AUTOHSCROLL
constexpr control_kind kButton{"BUTTON", kChildVisible | kTabStop};  // BS_PUSHBUTTON is 0
constexpr control_kind kDefaultButton{"BUTTON", kChildVisible | kTabStop | 0x1};
// ES_MULTILINE, ES_AUTOVSCROLL, ES_READONLY.
constexpr control_kind kHelpEdit{
    "EDIT", kChildVisible | 0x4 | 0x40 | 0x800 | kVScroll | kBorder | kTabStop};

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
constexpr std::uint16_t kEnglishUs = 0x409;  // MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)

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

const res::dialog& template_named(const char* name) {
  const res::dialog* d = res::find_dialog(res::project_resources(), name);
  if (!d) {
    ADD_FAILURE() << "no template " << name;
    static const res::dialog empty{};
    return empty;
  }
  return *d;
}

bool has_control(const res::dialog& d, int id) {
  for (const res::control& c : d.controls) {
    if (c.id == id) return true;
  }
  return false;
}

using standin::narrow;

// The numeric macros of resources/resource.h as windres's preprocessor lists them (gcc -dM, in
// VIVEDIZ_RESOURCE_MACROS): one "#define NAME VALUE" a line.
const std::map<std::string, long>& project_macros() {
  static const std::map<std::string, long> macros = [] {
    std::map<std::string, long> found;
    std::ifstream file(VIVEDIZ_RESOURCE_MACROS);
    EXPECT_TRUE(file.good()) << VIVEDIZ_RESOURCE_MACROS;
    for (std::string define, name, value; file >> define >> name && std::getline(file, value);) {
      char* end = nullptr;
      const long number = std::strtol(value.c_str(), &end, 0);
      if (end != value.c_str() && *end == '\0') found[name] = number;
    }
    return found;
  }();
  return macros;
}

TEST(Templates, ControlsMatchTheTablesInTemplateOrder) {
  for (const expected_template& t : kTemplates) {
    SCOPED_TRACE(t.name);
    const res::dialog& d = template_named(t.name);
    const control_table& expected = *t.controls;
    ASSERT_EQ(d.controls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const expected_control& e = expected[i];
      const res::control& c = d.controls[i];
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
  const std::map<std::string, long>& defines = project_macros();
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
  EXPECT_EQ(res::project_resources().dialogs.size(), 4u);
  for (const expected_template& t : kTemplates) {
    SCOPED_TRACE(t.name);
    const res::dialog& d = template_named(t.name);
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
    const res::dialog& d = template_named(name);
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
    for (const res::dialog& d : res::project_resources().dialogs) {
      if (d.name == c.owner) continue;
      for (int id : c.ids) EXPECT_FALSE(has_control(d, id)) << d.name << " has " << id;
    }
  }
}

// Values are unique within each family, and each family is exactly what the resources use, so
// no name is left pointing at nothing.
TEST(ResourceHeader, IdentifierFamiliesAreUniqueAndMatchTheResources) {
  const res::compiled& s = res::project_resources();
  const std::map<std::string, long>& macros = project_macros();
  std::set<long> used_controls;
  for (const res::dialog& d : s.dialogs) {
    for (const res::control& c : d.controls) {
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
    for (const auto& define : macros) {
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
  EXPECT_EQ(res::project_resources().strings, expected);
}

TEST(VersionResource, NumbersStringsAndTranslation) {
  const res::version_info& v = res::project_resources().version;
  EXPECT_EQ(v.file_version, (std::array<std::uint16_t, 4>{1, 0, 1, 6}));
  EXPECT_EQ(v.product_version, (std::array<std::uint16_t, 4>{2, 5, 4, 0}));
  EXPECT_EQ(v.string_block, "040904B0");
  const std::map<std::string, std::string> required = {
      {"FileVersion", "1.0.1.6"},
      {"ProductVersion", "2.5.4"},
      {"InternalName", "vivediz.exe"},
      {"OriginalFilename", "vivediz.exe"},
      {"FileDescription", "TARN Device Control Settings"},
  };
  for (const auto& r : required) {
    auto it = v.strings.find(r.first);
    ASSERT_NE(it, v.strings.end()) << r.first;
    EXPECT_EQ(it->second, r.second) << r.first;
  }
  EXPECT_EQ(v.translation, (std::vector<std::uint16_t>{0x409, 1200}));
}

// Resource types by number: 5 RT_DIALOG, 6 RT_STRING (one block per sixteen identifiers: 1000 to
// 1018 span two), 16 RT_VERSION, 24 RT_MANIFEST.
TEST(Resources, OnlyTheExpectedKindsAllInEnglishUsAndNoManifest) {
  const res::compiled& s = res::project_resources();
  std::multiset<std::string> types;
  for (const res::resource& r : s.resources) types.insert(r.type);
  EXPECT_EQ(types.count("24"), 0u);
  EXPECT_EQ(types, (std::multiset<std::string>{"5", "5", "5", "5", "6", "6", "16"}));
  for (const res::resource& r : s.resources) {
    EXPECT_EQ(r.language, kEnglishUs) << r.type << " " << r.name;
  }
}

// --- the decoder itself
// ---------------------------------------------------------------------------

std::vector<unsigned char> compiled_bytes() {
  std::ifstream in(VIVEDIZ_COMPILED_RESOURCES, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

// The first resource of that type, with where it lies in the .res file.
const res::resource& first_of_type(const char* type) {
  for (const res::resource& r : res::project_resources().resources) {
    if (r.type == type) return r;
  }
  static const res::resource none{};
  ADD_FAILURE() << "no resource of type " << type;
  return none;
}

// Bytes that are not what the program's resources are fail loudly, naming where, instead of being
// read in part: so a new kind of resource statement cannot slip past the tests.
TEST(CompiledResources, UnsupportedInputFailsNamingTheOffset) {
  const std::vector<unsigned char> good = compiled_bytes();
  ASSERT_GT(good.size(), 64u);
  const std::size_t dialog = first_of_type("5").header_at, template_at = first_of_type("5").data_at,
                    strings = first_of_type("6").data_at, version = first_of_type("16").data_at;
  ASSERT_NE(dialog, 0u);
  ASSERT_NE(strings, 0u);
  ASSERT_NE(version, 0u);
  const struct {
    const char* tag;
    std::function<void(std::vector<unsigned char>&)> change;
    const char* why;  // part of the reason
  } cases[] = {
      {"cut", [](std::vector<unsigned char>& b) { b.resize(b.size() - 2); }, "past the end"},
      {"header_size", [&](std::vector<unsigned char>& b) { b[dialog + 4] += 4; }, "add up"},
      {"extended_template",
       [&](std::vector<unsigned char>& b) {
         b[template_at] = 1, b[template_at + 1] = 0, b[template_at + 2] = 0xFF,
         b[template_at + 3] = 0xFF;
       },
       "DLGTEMPLATEEX"},
      {"menu", [&](std::vector<unsigned char>& b) { b[template_at + 18] = 'M'; }, "a menu"},
      {"control_count", [&](std::vector<unsigned char>& b) { b[template_at + 8] = 0xFF; },
       "ends early"},
      {"string_length", [&](std::vector<unsigned char>& b) { b[strings] = 0x7F; }, "string block"},
      {"version_signature", [&](std::vector<unsigned char>& b) { b[version + 40] ^= 1; },
       "version resource"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    std::vector<unsigned char> bytes = good;
    c.change(bytes);
    res::compiled out;
    std::string error;
    EXPECT_FALSE(res::decode(bytes, "t.res", &out, &error));
    EXPECT_NE(error.find("t.res"), std::string::npos) << error;
    EXPECT_NE(error.find("offset"), std::string::npos) << error;
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
  }
}

// What windres writes for the statements vivediz.rc uses (tests/sample_resources.rc).
TEST(CompiledResources, ReadsWhatWindresWrites) {
  res::compiled s;
  std::string error;
  ASSERT_TRUE(res::load(VIVEDIZ_SAMPLE_RESOURCES, &s, &error)) << error;

  const res::dialog* d = res::find_dialog(s, "d");  // names compare as FindResourceW compares
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->name, "D");
  EXPECT_EQ(d->style, 0x80000000u | 0x80 | 0x00C00000u | 0x40);  // CAPTION and FONT add theirs
  EXPECT_EQ(d->caption, u"say \"hi\"");
  EXPECT_EQ(d->font_points, 9);
  EXPECT_EQ(d->font_face, "Face");
  EXPECT_EQ(d->language, kEnglishUs);
  ASSERT_EQ(d->controls.size(), 1u);
  EXPECT_EQ(d->controls[0].id, 7);
  EXPECT_EQ(d->controls[0].class_name, "BUTTON");
  EXPECT_EQ(d->controls[0].text, u"\"");
  EXPECT_EQ(d->controls[0].style, kChildVisible | 0x7 | 0x100);
  EXPECT_EQ(s.strings, (std::map<std::uint32_t, std::u16string>{{16, u"sixteen"}}));
  std::vector<std::string> types;
  for (const res::resource& r : s.resources) types.push_back(r.type);
  EXPECT_EQ(types, (std::vector<std::string>{"5", "6", "24"}));
  EXPECT_EQ(res::find_dialog(s, "E"), nullptr);
}

}  // namespace
