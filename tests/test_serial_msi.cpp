// Tests of the virtio serial device's "MSISupported" lookup, read and write under Enum\PCI.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/boot_driver.h"
#include "store/serial_msi.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::op;

const std::u16string kPci = u"SYSTEM\\CurrentControlSet\\Enum\\PCI";
const std::u16string kDeviceName = u"VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
const std::u16string kDevice = kPci + u"\\" + kDeviceName;
const std::u16string kSuffix =
    u"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties";
constexpr const char16_t* kValue = u"MSISupported";
const std::u16string kFirst = u"3&267a616a&0&28";
const std::u16string kSecond = u"3&267a616a&0&30";

constexpr u32 kAccessDenied = 5;
constexpr u32 kNotEnoughMemory = 8;
constexpr u32 kUntouched = 0xA5A5A5A5u;

std::u16string msi_key(const std::u16string& device, const std::u16string& instance) {
  return device + u"\\" + instance + kSuffix;
}

// An instance of device; with msi, its MSI key holding that value.
void add_instance(const std::u16string& device, const std::u16string& instance,
                  std::optional<u32> msi) {
  standin::set_string(device + u"\\" + instance, u"DeviceDesc", u"VirtIO Serial Driver");
  if (msi) standin::set_dword(msi_key(device, instance), kValue, *msi);
}

class SerialMsiTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::reset(); }
  void TearDown() override {
    EXPECT_EQ(standin::open_key_count(), 0);
    EXPECT_EQ(standin::open_device_list_count(), 0);
  }

  static u32 read(u32* value) {
    *value = kUntouched;
    return store::read_serial_msi(value);
  }
  static std::vector<std::string> sets() { return standin::timeline_matching("set "); }
};

// ---- No device key

struct missing_case {
  const char* name;
  std::vector<std::u16string> pci_subkeys;  // each with one instance that has an MSI key
};

class SerialMsiMissingTest : public SerialMsiTest,
                             public ::testing::WithParamInterface<missing_case> {};

TEST_P(SerialMsiMissingTest, ReadAndWriteBothFail) {
  for (const std::u16string& name : GetParam().pci_subkeys) {
    add_instance(kPci + u"\\" + name, kFirst, 0);
  }
  u32 value = 0;
  EXPECT_NE(read(&value), 0u);
  EXPECT_NE(store::write_serial_msi(1), 0u);
  EXPECT_TRUE(sets().empty());
  for (const std::u16string& name : GetParam().pci_subkeys) {
    EXPECT_EQ(standin::get_dword(msi_key(kPci + u"\\" + name, kFirst), kValue), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SerialMsiMissingTest,
    ::testing::Values(
        missing_case{"NoPciKey", {}},
        missing_case{"OtherVendorsOnly",
                     {u"VEN_8086&DEV_7010&SUBSYS_00015853&REV_00", u"VEN_5853&DEV_0001"}},
        // Other virtio devices, and names that share all but the last character of the prefix.
        missing_case{"OtherVirtioDevices",
                     {u"VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00",
                      u"VEN_1AF4&DEV_1001&SUBSYS_00021AF4&REV_00", u"VEN_1AF4&DEV_1004",
                      u"VEN_1AF4&DEV_100"}},
        // Modern virtio devices beside the console: block (0x1042) and the next ID (0x1044).
        missing_case{"OtherModernVirtioDevices",
                     {u"VEN_1AF4&DEV_1042&SUBSYS_11001AF4&REV_01", u"VEN_1AF4&DEV_1044",
                      u"VEN_1AF4&DEV_104"}}),
    [](const ::testing::TestParamInfo<missing_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(SerialMsiTest, PciKeyWithoutSubkeysFails) {
  standin::create_key(kPci);
  u32 value = 0;
  EXPECT_EQ(read(&value), platform::error_no_more_items);
  EXPECT_EQ(store::write_serial_msi(1), platform::error_no_more_items);
}

TEST_F(SerialMsiTest, EnumerationFailureOfPciKeyIsReturned) {
  add_instance(kDevice, kFirst, 1);
  standin::fail(op::reg_enum_key, kNotEnoughMemory, kPci, 0, -1);
  u32 value = 0;
  EXPECT_EQ(read(&value), kNotEnoughMemory);
  EXPECT_EQ(store::write_serial_msi(0), kNotEnoughMemory);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 1u);
}

// ---- Which device key

struct device_name_case {
  const char* name;
  std::u16string device_name;
};

class SerialMsiDeviceNameTest : public SerialMsiTest,
                                public ::testing::WithParamInterface<device_name_case> {};

TEST_P(SerialMsiDeviceNameTest, PrefixMatchedCaseInsensitivelyAfterOtherDevices) {
  const std::u16string device = kPci + u"\\" + GetParam().device_name;
  // Sorts before the serial device and has an instance with an MSI key of its own.
  const std::u16string other = kPci + u"\\VEN_1AF4&DEV_1001&SUBSYS_00021AF4&REV_00";
  add_instance(other, kFirst, 1);
  add_instance(device, kFirst, 0);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(device, kFirst), kValue), 1u);
  EXPECT_EQ(standin::get_dword(msi_key(other, kFirst), kValue), 1u);
  EXPECT_EQ(sets().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, SerialMsiDeviceNameTest,
    ::testing::Values(device_name_case{"Capitals", u"VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00"},
                      device_name_case{"LowerCase", u"ven_1af4&dev_1003&subsys_00031af4&rev_00"},
                      device_name_case{"PrefixAlone", u"Ven_1AF4&Dev_1003"}),
    [](const ::testing::TestParamInfo<device_name_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(SerialMsiTest, OnlyFirstMatchingDeviceKeyIsUsed) {
  const std::u16string later = kPci + u"\\VEN_1AF4&DEV_1003&SUBSYS_11001AF4&REV_01";
  add_instance(kDevice, kFirst, 0);
  add_instance(later, kFirst, 1);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 1u);
  EXPECT_EQ(sets(), std::vector<std::string>{"set SYSTEM\\CurrentControlSet\\Enum\\PCI\\"
                                             "VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00\\"
                                             "3&267a616a&0&28\\Device Parameters\\Interrupt "
                                             "Management\\MessageSignaledInterruptProperties"
                                             "\\MSISupported=0x1"});
}

// ---- Which of several device keys: the one whose device is present

struct presence_case {
  const char* name;
  std::vector<std::u16string> keys;     // under PCI, each with one instance holding its index
  std::vector<std::u16string> present;  // instance ids of present devices, in list order
  std::vector<std::u16string> absent;   // instance ids of devices that are not present
  int chosen;                           // the key that is read and written
  bool list_asked;
  op fault = op::reg_open;  // made to fail fault_times times (< 0: for ever; 0: no fault)
  int fault_times = 0;
  std::u16string fault_match = u"";
};

const std::u16string kTransitional = u"VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
const std::u16string kModern = u"VEN_1AF4&DEV_1043&SUBSYS_11001AF4&REV_01";
std::u16string id_of(const std::u16string& key, const std::u16string& instance = u"3&2&0&28") {
  return u"PCI\\" + key + u"\\" + instance;
}
// An instance id of exactly units units (terminator not counted) for the modern key.
std::u16string modern_id_of_length(std::size_t units) {
  return id_of(kModern, std::u16string(units - 5 - kModern.size(), u'7'));
}

class SerialMsiPresenceTest : public SerialMsiTest,
                              public ::testing::WithParamInterface<presence_case> {};

TEST_P(SerialMsiPresenceTest, PresentDeviceKeyReadAndWritten) {
  const presence_case& c = GetParam();
  for (std::size_t i = 0; i < c.keys.size(); ++i) {
    add_instance(kPci + u"\\" + c.keys[i], kFirst, static_cast<u32>(i));
  }
  for (const std::u16string& id : c.present) standin::add_device_instance(id, true);
  for (const std::u16string& id : c.absent) standin::add_device_instance(id, false);
  if (c.fault_times != 0) standin::fail(c.fault, kNotEnoughMemory, c.fault_match, 0, c.fault_times);

  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, static_cast<u32>(c.chosen));
  ASSERT_EQ(store::write_serial_msi(7), 0u);
  for (std::size_t i = 0; i < c.keys.size(); ++i) {
    const u32 expected = static_cast<int>(i) == c.chosen ? 7u : static_cast<u32>(i);
    EXPECT_EQ(standin::get_dword(msi_key(kPci + u"\\" + c.keys[i], kFirst), kValue), expected)
        << standin::narrow(c.keys[i]);
  }
  EXPECT_EQ(sets().size(), 1u);
  // One list per operation, of present PCI devices, or none at all.
  const std::vector<standin::device_list_record>& lists = standin::device_lists_built();
  ASSERT_EQ(lists.size(), c.list_asked ? 2u : 0u);
  for (const standin::device_list_record& list : lists) {
    EXPECT_EQ(standin::narrow(list.enumerator), "PCI");
    EXPECT_EQ(list.flags, platform::digcf_allclasses | platform::digcf_present);
  }
}

const std::vector<std::u16string> kPair = {kTransitional, kModern};  // in enumeration order
const std::u16string kModernId = id_of(kModern);
const std::u16string kTransitionalId = id_of(kTransitional);

// Present devices of another kind, one per character: 'x' one whose record cannot be fetched,
// '.' one that can; then the modern device. The transitional key is stale.
presence_case flaky_fetches(const char* name, const std::string& fetches, int chosen) {
  std::vector<std::u16string> present;
  for (std::size_t i = 0; i < fetches.size(); ++i) {
    const std::string n = std::to_string(i) + (fetches[i] == 'x' ? "&FLAKY" : "");
    present.push_back(id_of(u"VEN_8086&DEV_100E", u"3&0&0&" + std::u16string(n.begin(), n.end())));
  }
  present.push_back(kModernId);
  return {name, kPair, present, {}, chosen, true, op::device_enum, -1, u"&FLAKY"};
}
const std::string kFlakyRun(store::device_walk_failure_limit - 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Machines, SerialMsiPresenceTest,
    ::testing::Values(
        // One key is the device, present or not: the device setup interface is not asked.
        presence_case{"ModernAlone", {kModern}, {kModernId}, {}, 0, false},
        presence_case{"ModernAloneNotPresent", {kModern}, {}, {kModernId}, 0, false},
        presence_case{"StaleTransitional", kPair, {kModernId}, {kTransitionalId}, 1, true},
        presence_case{"StaleModern", kPair, {kTransitionalId}, {kModernId}, 0, true},
        presence_case{"BothPresent", kPair, {kModernId, kTransitionalId}, {}, 0, true},
        presence_case{"NeitherPresent", kPair, {}, {kModernId}, 0, true},
        presence_case{"ListFails", kPair, {kModernId}, {}, 0, true, op::device_list, -1},
        // Present PCI devices that are not the serial device's, and a third key found last.
        presence_case{"ThirdKeyPresent",
                      {kTransitional, kTransitional + u"&X", kModern},
                      {id_of(u"VEN_1AF4&DEV_1042&SUBSYS_11001AF4&REV_01"), kModernId},
                      {},
                      2,
                      true},
        // "VEN_1AF4&DEV_1043" is a key of its own, not the beginning of the longer name.
        presence_case{
            "DeviceOfLongerKeyName", {u"VEN_1AF4&DEV_1043", kModern}, {kModernId}, {}, 1, true},
        presence_case{"InstanceIdInOtherCase",
                      {kTransitional, u"ven_1af4&dev_1043&subsys_11001af4&rev_01"},
                      {kModernId},
                      {},
                      1,
                      true},
        // Instance ids are shorter than 200 units: the longest fits, a longer one is no device.
        presence_case{"InstanceIdOf199Units", kPair, {modern_id_of_length(199)}, {}, 1, true},
        presence_case{"InstanceIdOf200Units", kPair, {modern_id_of_length(200)}, {}, 0, true},
        // A record that cannot be fetched is passed over (the first key's walk gets both failures);
        // a list that fails every fetch is no answer.
        presence_case{"FetchFailsTwice", kPair, {kModernId}, {}, 1, true, op::device_enum, 2},
        presence_case{"FetchFailsAlways", kPair, {kModernId}, {}, 0, true, op::device_enum, -1},
        // Failures that come and go, more in all than the limit but never as many in a row: the
        // device after them is found. A run as long as the limit ends the walk before it.
        flaky_fetches("FetchesFailNowAndThen", kFlakyRun + "." + kFlakyRun + ".", 1),
        flaky_fetches("FetchesFailLimitInARow", kFlakyRun + "x", 0)),
    [](const ::testing::TestParamInfo<presence_case>& info) {
      return std::string(info.param.name);
    });

// ---- Instances

TEST_F(SerialMsiTest, InstanceWithoutMsiKeyPassedOver) {
  add_instance(kDevice, kFirst, std::nullopt);
  standin::create_key(kDevice + u"\\" + kFirst + u"\\Device Parameters");  // but nothing below
  add_instance(kDevice, kSecond, 1);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 1u);

  EXPECT_EQ(store::write_serial_msi(0), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), 0u);
  EXPECT_FALSE(standin::key_exists(msi_key(kDevice, kFirst)));
  EXPECT_EQ(sets().size(), 1u);
}

TEST_F(SerialMsiTest, ReadTakesFirstInstanceAndWriteSetsEvery) {
  add_instance(kDevice, kFirst, 0);
  add_instance(kDevice, kSecond, 1);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 0u);

  ASSERT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 1u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), 1u);
  EXPECT_EQ(sets().size(), 2u);
}

TEST_F(SerialMsiTest, ReadStopsAtFirstMsiKeyEvenWithoutValue) {
  standin::create_key(msi_key(kDevice, kFirst));
  add_instance(kDevice, kSecond, 1);
  u32 value = 0;
  EXPECT_EQ(read(&value), platform::error_file_not_found);
}

TEST_F(SerialMsiTest, ReadReturnsQueryFailureOfFirstMsiKey) {
  add_instance(kDevice, kFirst, 1);
  add_instance(kDevice, kSecond, 1);
  standin::fail(op::reg_query, kNotEnoughMemory, u"\\MSISupported");
  u32 value = 0;
  EXPECT_EQ(read(&value), kNotEnoughMemory);
}

TEST_F(SerialMsiTest, ReadOfValueLongerThanFourBytesFails) {
  standin::set_value(msi_key(kDevice, kFirst), kValue, platform::reg_binary, {1, 0, 0, 0, 0, 0});
  u32 value = 0;
  EXPECT_NE(read(&value), 0u);
}

TEST_F(SerialMsiTest, DeviceKeyWithoutInstances) {
  standin::create_key(kDevice);
  u32 value = 0;
  EXPECT_EQ(read(&value), 0u);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_TRUE(standin::timeline().empty());
}

TEST_F(SerialMsiTest, NoInstanceWithMsiKey) {
  add_instance(kDevice, kFirst, std::nullopt);
  add_instance(kDevice, kSecond, std::nullopt);
  u32 value = 0;
  EXPECT_EQ(read(&value), platform::error_file_not_found);  // the last failed open
  EXPECT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_TRUE(standin::timeline().empty());
}

// ---- Long instance names

// The composed path "<instance>\Device Parameters\...": what the walk opened below the device key.
std::vector<std::u16string> msi_opens() {
  std::vector<std::u16string> paths;
  const std::u16string below = kDevice + u"\\";
  for (const standin::open_record& r : standin::opens()) {
    if (r.path.size() > below.size() && r.path.compare(0, below.size(), below) == 0) {
      paths.push_back(r.path.substr(below.size()));
    }
  }
  return paths;
}

class SerialMsiLongNameTest : public SerialMsiTest, public ::testing::WithParamInterface<int> {};

TEST_P(SerialMsiLongNameTest, PathThatDoesNotFitIsNotOpened) {
  const int length = GetParam();
  const std::u16string name(static_cast<std::size_t>(length), u'0');  // sorts before kSecond
  add_instance(kDevice, name, 1);

  u32 value = 0;
  EXPECT_EQ(read(&value), platform::error_filename_exced_range);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(store::write_serial_msi(0), 0u);
  // Cut short, the path would name the instance key or a parent of the MSI key: none is opened,
  // nothing is written anywhere, and the real value stays as it was.
  EXPECT_TRUE(msi_opens().empty());
  EXPECT_TRUE(standin::timeline().empty());
  EXPECT_FALSE(standin::get_value(kDevice + u"\\" + name, kValue).has_value());
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, name), kValue), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SerialMsiLongNameTest, ::testing::Values(182, 200, 254, 255));

TEST_F(SerialMsiTest, LongestNameThatFitsIsNotCut) {
  const std::u16string name(255 - kSuffix.size(), u'0');
  add_instance(kDevice, name, 1);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 1u);
}

TEST_F(SerialMsiTest, WalkGoesOnAfterCutPath) {
  add_instance(kDevice, std::u16string(240, u'0'), 1);
  add_instance(kDevice, kSecond, 1);
  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(store::write_serial_msi(0), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), 0u);
  EXPECT_EQ(sets().size(), 1u);
}

// ---- Access

TEST_F(SerialMsiTest, PciAndDeviceKeysOpenedForReadingMsiKeysWithFullAccess) {
  add_instance(kDevice, kFirst, 0);
  add_instance(kDevice, kSecond, 0);
  standin::deny_write_access(kPci);
  standin::deny_write_access(kDevice);

  u32 value = 0;
  ASSERT_EQ(read(&value), 0u);
  ASSERT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 1u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), 1u);

  ASSERT_FALSE(standin::opens().empty());
  for (const standin::open_record& r : standin::opens()) {
    const u32 expected =
        r.path.size() > kDevice.size() ? platform::key_all_access : platform::key_read;
    EXPECT_EQ(r.access, expected) << std::string(r.path.begin(), r.path.end());
    EXPECT_EQ(r.result, 0u);
  }
}

TEST_F(SerialMsiTest, MsiKeyThatRefusesWritingCountsAsMissing) {
  add_instance(kDevice, kFirst, 0);
  add_instance(kDevice, kSecond, 0);
  standin::deny_write_access(msi_key(kDevice, kFirst));
  u32 value = kUntouched;
  ASSERT_EQ(read(&value), 0u);  // from the second instance
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), 1u);
}

TEST_F(SerialMsiTest, OpenSerialDeviceKeyGivesReadableDeviceKey) {
  add_instance(kDevice, kFirst, 0);
  platform::key_handle key = nullptr;
  ASSERT_EQ(store::open_serial_device_key(&key), 0u);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(standin::open_key_count(), 1);  // the PCI key is closed already
  char16_t name[256];
  u32 units = 256;
  EXPECT_EQ(platform::reg_enum_key(key, 0, name, &units), 0u);
  EXPECT_EQ(std::u16string(name), kFirst);
  platform::reg_close_key(key);
}

// ---- Write results

struct set_failure_case {
  const char* name;
  int skip;           // set calls let through before the failing one
  u32 expected;       // any refused set fails the write
  u32 first, second;  // stored afterwards
};

class SerialMsiSetFailureTest : public SerialMsiTest,
                                public ::testing::WithParamInterface<set_failure_case> {};

TEST_P(SerialMsiSetFailureTest, RefusedSetReportedAndEveryInstanceTried) {
  const set_failure_case& c = GetParam();
  add_instance(kDevice, kFirst, 0);
  add_instance(kDevice, kSecond, 0);
  standin::fail(op::reg_set, kAccessDenied, u"\\MSISupported", c.skip, 1);
  EXPECT_EQ(store::write_serial_msi(1), c.expected);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), c.first);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kSecond), kValue), c.second);
}

INSTANTIATE_TEST_SUITE_P(Failures, SerialMsiSetFailureTest,
                         ::testing::Values(set_failure_case{"FirstFails", 0, kAccessDenied, 0, 1},
                                           set_failure_case{"LastFails", 1, kAccessDenied, 1, 0}),
                         [](const ::testing::TestParamInfo<set_failure_case>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SerialMsiTest, SingleInstanceSetFailureReturned) {
  add_instance(kDevice, kFirst, 0);
  standin::fail(op::reg_set, kNotEnoughMemory, u"\\MSISupported");
  EXPECT_EQ(store::write_serial_msi(1), kNotEnoughMemory);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 0u);
}

TEST_F(SerialMsiTest, WriteStoresFourByteDword) {
  standin::set_string(msi_key(kDevice, kFirst), kValue, u"1");
  ASSERT_EQ(store::write_serial_msi(1), 0u);
  EXPECT_EQ(standin::get_dword(msi_key(kDevice, kFirst), kValue), 1u);
}

}  // namespace
