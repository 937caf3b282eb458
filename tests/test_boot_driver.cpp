// Tests of the boot-start driver re-enable: start override removed, device config flags cleared.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/boot_driver.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::op;

constexpr const char16_t* kBlockService = u"SYSTEM\\CurrentControlSet\\Services\\vdblk";
constexpr const char16_t* kScsiService = u"SYSTEM\\CurrentControlSet\\Services\\vdscsi";
constexpr const char16_t* kDiskPrefix = u"xen\\type_vbd";
constexpr const char16_t* kScsiPrefix = u"xen\\type_vscsi";
constexpr u32 kDisabled = 0x40;  // CONFIGFLAG_DISABLED, as Windows leaves it
constexpr u32 kAccessDenied = 5;
constexpr u32 kInvalidHandle = 6;
constexpr u32 kNotEnoughMemory = 8;

std::u16string override_key(const char16_t* service) {
  return std::u16string(service) + u"\\StartOverride";
}

class BootDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::reset(); }
  void TearDown() override {
    EXPECT_EQ(standin::open_device_list_count(), 0);
    EXPECT_EQ(standin::open_key_count(), 0);
  }

  static void add_override(const char16_t* service) {
    standin::set_dword(service, u"Start", 0);
    standin::set_dword(override_key(service), u"0", 3);
  }
  static u32 flags(int device) { return standin::device_at(device).config_flags.value_or(0xBAD); }
  static platform::device_list xen_list() {
    return platform::setup_get_class_devs(u"XEN", platform::digcf_allclasses);
  }
};

TEST_F(BootDriverTest, OverrideRemovedThenMatchingDevicesCleared) {
  add_override(kBlockService);
  const int a = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  const int b = standin::add_device(u"XEN", {u"xen\\type_vbd\\832", u"xen\\type_vbd"}, 0x1);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);

  EXPECT_EQ(flags(a), 0u);
  EXPECT_EQ(flags(b), 0u);
  EXPECT_FALSE(standin::key_exists(override_key(kBlockService)));
  EXPECT_TRUE(standin::key_exists(kBlockService));
  const std::vector<std::string> expected = {
      "delete_key SYSTEM\\CurrentControlSet\\Services\\vdblk\\StartOverride",
      "config_flags XEN\\TYPE_VBD\\768=0x0",
      "config_flags xen\\type_vbd\\832=0x0",
  };
  EXPECT_EQ(standin::timeline(), expected);
}

TEST_F(BootDriverTest, ListTakesEveryXenDeviceIncludingAbsentOnes) {
  const int absent = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\5632"}, kDisabled, false);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  ASSERT_EQ(standin::device_lists_built().size(), 1u);
  EXPECT_EQ(standin::device_lists_built()[0].enumerator, u"XEN");
  EXPECT_EQ(standin::device_lists_built()[0].flags, platform::digcf_allclasses);
  EXPECT_EQ(flags(absent), 0u);
}

// ---- Which devices

struct selection_case {
  const char* name;
  const char16_t* service;
  const char16_t* prefix;
  std::vector<bool> touched;  // per device of add_selection_devices, in order
};

class BootDriverSelectionTest : public BootDriverTest,
                                public ::testing::WithParamInterface<selection_case> {};

TEST_P(BootDriverSelectionTest, OnlyXenDevicesWhoseFirstIdHasThePrefix) {
  const selection_case& c = GetParam();
  add_override(kBlockService);
  add_override(kScsiService);
  const std::vector<int> devices = {
      standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled),
      standin::add_device(u"XEN", {u"XEN\\TYPE_VSCSI\\0"}, kDisabled),
      standin::add_device(u"XEN", {u"Xen\\Type_Vscsi"}, kDisabled),
      // Only the first hardware id string counts.
      standin::add_device(u"XEN", {u"XEN\\TYPE_VIF\\0", u"XEN\\TYPE_VBD", u"XEN\\TYPE_VSCSI"},
                          kDisabled),
      // Shorter than either prefix.
      standin::add_device(u"XEN", {u"XEN\\TYPE_VB"}, kDisabled),
      // Matching ids under another enumerator are not in the list.
      standin::add_device(u"ROOT", {u"XEN\\TYPE_VBD\\999"}, kDisabled),
      standin::add_device(u"PCI", {u"XEN\\TYPE_VSCSI\\1"}, kDisabled),
      standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\832"}, kDisabled, false),
  };
  ASSERT_EQ(devices.size(), c.touched.size());
  store::reenable_boot_driver(c.service, c.prefix);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(flags(devices[i]), c.touched[i] ? 0u : kDisabled) << "device " << i;
  }
  // Only this driver's override goes.
  const char16_t* other = c.service == kBlockService ? kScsiService : kBlockService;
  EXPECT_FALSE(standin::key_exists(override_key(c.service)));
  EXPECT_TRUE(standin::key_exists(override_key(other)));
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, BootDriverSelectionTest,
    ::testing::Values(selection_case{"Disk",
                                     kBlockService,
                                     kDiskPrefix,
                                     {true, false, false, false, false, false, false, true}},
                      selection_case{"Scsi",
                                     kScsiService,
                                     kScsiPrefix,
                                     {false, true, true, false, false, false, false, false}}),
    [](const ::testing::TestParamInfo<selection_case>& info) {
      return std::string(info.param.name);
    });

// ---- Surroundings

TEST_F(BootDriverTest, NoDevicesOnlyOverrideRemoved) {
  add_override(kBlockService);
  standin::add_device(u"PCI", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(standin::timeline(),
            std::vector<std::string>{
                "delete_key SYSTEM\\CurrentControlSet\\Services\\vdblk\\StartOverride"});
  EXPECT_EQ(standin::device_lists_built().size(), 1u);
}

TEST_F(BootDriverTest, MissingServiceKeyOrOverrideDoesNotStopDeviceWalk) {
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);  // no service key at all
  EXPECT_EQ(flags(disk), 0u);

  standin::device_at(disk).config_flags = kDisabled;
  standin::set_dword(kBlockService, u"Start", 0);  // service key without override
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(disk), 0u);
  EXPECT_TRUE(standin::key_exists(kBlockService));
}

TEST_F(BootDriverTest, OverrideDeletionFailureDoesNotStopDeviceWalk) {
  add_override(kBlockService);
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  standin::fail(op::reg_delete_key, kAccessDenied, u"\\StartOverride");
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_TRUE(standin::key_exists(override_key(kBlockService)));
  EXPECT_EQ(flags(disk), 0u);
}

TEST_F(BootDriverTest, ListThatCannotBeBuiltEndsReenable) {
  add_override(kBlockService);
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  standin::fail(op::device_list, kNotEnoughMemory, u"XEN");
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_FALSE(standin::key_exists(override_key(kBlockService)));
  EXPECT_EQ(flags(disk), kDisabled);
  EXPECT_TRUE(standin::timeline_matching("config_flags").empty());
}

// ---- Failures during the walk

TEST_F(BootDriverTest, RefusedWriteLeavesDeviceAndWalkGoesOn) {
  const int a = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  const int b = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\832"}, kDisabled);
  const int c = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\5632"}, kDisabled);
  standin::fail(op::device_set_property, kAccessDenied, u"XEN\\TYPE_VBD\\832");
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(a), 0u);
  EXPECT_EQ(flags(b), kDisabled);
  EXPECT_EQ(flags(c), 0u);
}

TEST_F(BootDriverTest, UnreadableHardwareIdSkipped) {
  const int a = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  const int b = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\832"}, kDisabled);
  const int none = standin::add_device(u"XEN", {}, kDisabled);  // no hardware id property
  const int c = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\5632"}, kDisabled);
  standin::fail(op::device_get_property, kNotEnoughMemory, u"XEN\\TYPE_VBD\\768");
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(a), kDisabled);
  EXPECT_EQ(flags(b), 0u);
  EXPECT_EQ(flags(none), kDisabled);
  EXPECT_EQ(flags(c), 0u);
}

// Only whole characters of a hardware id count: an odd byte at its end completes no prefix.
TEST_F(BootDriverTest, StrayOddByteCompletesNoPrefix) {
  const int odd = standin::add_device(u"XEN", {}, kDisabled);
  standin::bytes id;
  for (char16_t c : std::u16string(u"xen\\type_vb")) {
    id.push_back(static_cast<std::uint8_t>(c));
    id.push_back(0);
  }
  id.push_back('d');  // 23 bytes: "xen\type_vb" and half a character
  standin::device_at(odd).hardware_id = id;
  const int whole = standin::add_device(u"XEN", {u"xen\\type_vbd"}, kDisabled);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(odd), kDisabled);
  EXPECT_EQ(flags(whole), 0u);
}

struct id_length_case {
  const char* name;
  std::size_t characters;  // of the single hardware id; its multi-string takes 2 * (n + 2) bytes
  bool read;
};

class BootDriverIdLengthTest : public BootDriverTest,
                               public ::testing::WithParamInterface<id_length_case> {};

TEST_P(BootDriverIdLengthTest, HardwareIdReadInto520Bytes) {
  const id_length_case& c = GetParam();
  std::u16string id = u"XEN\\TYPE_VBD\\";
  id.resize(c.characters, u'7');
  const int long_id = standin::add_device(u"XEN", {id}, kDisabled);
  const int after = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(long_id), c.read ? 0u : kDisabled);
  EXPECT_EQ(flags(after), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BootDriverIdLengthTest,
                         ::testing::Values(id_length_case{"Exactly520Bytes", 258, true},
                                           id_length_case{"Over520Bytes", 259, false},
                                           id_length_case{"FarOver", 600, false}),
                         [](const ::testing::TestParamInfo<id_length_case>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(BootDriverTest, FailedFetchSkipsOnlyItsIndex) {
  const int a = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  const int b = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\832"}, kDisabled);
  const int c = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\5632"}, kDisabled);
  standin::fail(op::device_enum, kInvalidHandle, u"", 1, 1);  // the second fetch
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(a), 0u);
  EXPECT_EQ(flags(b), kDisabled);
  EXPECT_EQ(flags(c), 0u);
}

// Fetches that fail now and then: per device in list order, 'x' one whose record cannot be
// fetched, '.' one that can. Only a run of failed fetches as long as the limit ends the walk.
struct flaky_case {
  const char* name;
  std::string fetches;
  std::size_t walked = std::string::npos;  // devices the walk reaches
};

constexpr u32 kLimit = store::device_walk_failure_limit;
std::string repeated(const std::string& part, u32 times) {
  std::string out;
  for (u32 i = 0; i < times; ++i) out += part;
  return out;
}

class BootDriverFlakyFetchTest : public BootDriverTest,
                                 public ::testing::WithParamInterface<flaky_case> {};

TEST_P(BootDriverFlakyFetchTest, FailedFetchSkipsItsDevice) {
  const flaky_case& c = GetParam();
  for (std::size_t i = 0; i < c.fetches.size(); ++i) {
    const int d = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
    const std::string n = std::to_string(i);
    standin::device_at(d).instance_id = u"XEN\\VBD\\" + std::u16string(n.begin(), n.end()) +
                                        (c.fetches[i] == 'x' ? u"&FLAKY" : u"");
  }
  standin::fail(op::device_enum, kInvalidHandle, u"&FLAKY", 0, -1);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  for (std::size_t i = 0; i < c.fetches.size(); ++i) {
    const bool cleared = i < c.walked && c.fetches[i] == '.';
    EXPECT_EQ(flags(static_cast<int>(i)), cleared ? 0u : kDisabled) << "device " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, BootDriverFlakyFetchTest,
    ::testing::Values(flaky_case{"RunShorterThanLimit", repeated("x", kLimit - 1) + ".."},
                      flaky_case{"RunAsLongAsLimit", repeated("x", kLimit) + ".", kLimit},
                      flaky_case{"RunsAddingUpPastLimit",
                                 repeated(repeated("x", kLimit - 1) + ".", 3)},
                      flaky_case{"EveryOther", repeated("x.", kLimit + 1)}),
    [](const ::testing::TestParamInfo<flaky_case>& info) { return std::string(info.param.name); });

TEST_F(BootDriverTest, BrokenListEndsAndIsDestroyed) {
  add_override(kBlockService);
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
  standin::fail(op::device_enum, kInvalidHandle, u"", 0, -1);
  store::reenable_boot_driver(kBlockService, kDiskPrefix);
  EXPECT_EQ(flags(disk), kDisabled);
  EXPECT_FALSE(standin::key_exists(override_key(kBlockService)));
  EXPECT_EQ(standin::open_device_list_count(), 0);

  EXPECT_EQ(store::reset_config_flags(xen_list(), kDiskPrefix, 0), 0);
  EXPECT_EQ(standin::open_device_list_count(), 0);
}

// ---- reset_config_flags

struct result_case {
  const char* name;
  std::vector<const char16_t*> ids;
  std::vector<const char16_t*> refused;  // ids whose property write fails
  bool succeeded;                        // the last set result
};

class BootDriverResultTest : public BootDriverTest,
                             public ::testing::WithParamInterface<result_case> {};

TEST_P(BootDriverResultTest, ReturnsLastSetResultAndDestroysList) {
  const result_case& c = GetParam();
  for (const char16_t* id : c.ids) standin::add_device(u"XEN", {id}, kDisabled);
  for (const char16_t* id : c.refused) standin::fail(op::device_set_property, kAccessDenied, id);
  const platform::device_list list = xen_list();
  ASSERT_NE(list, nullptr);
  const int result = store::reset_config_flags(list, kDiskPrefix, 0);
  if (c.succeeded) {
    EXPECT_NE(result, 0);
  } else {
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(standin::open_device_list_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Results, BootDriverResultTest,
    ::testing::Values(
        result_case{"NoDevices", {}, {}, false},
        result_case{"NothingMatched", {u"XEN\\TYPE_VSCSI\\0", u"XEN\\TYPE_VIF\\0"}, {}, false},
        result_case{"OneSet", {u"XEN\\TYPE_VBD\\768"}, {}, true},
        result_case{"LastRefused",
                    {u"XEN\\TYPE_VBD\\768", u"XEN\\TYPE_VBD\\832"},
                    {u"XEN\\TYPE_VBD\\832"},
                    false},
        result_case{"FirstRefusedLastSet",
                    {u"XEN\\TYPE_VBD\\768", u"XEN\\TYPE_VBD\\832"},
                    {u"XEN\\TYPE_VBD\\768"},
                    true},
        result_case{
            "LastMatchSetThenNonMatching", {u"XEN\\TYPE_VBD\\768", u"XEN\\TYPE_VIF\\0"}, {}, true}),
    [](const ::testing::TestParamInfo<result_case>& info) { return std::string(info.param.name); });

TEST_F(BootDriverTest, ResetWritesTheGivenValue) {
  const int disk = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, 0);
  store::reset_config_flags(xen_list(), kDiskPrefix, 0x12345640u);
  EXPECT_EQ(flags(disk), 0x12345640u);
}

}  // namespace
