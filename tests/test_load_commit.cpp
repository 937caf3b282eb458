// Tests of loading the settings snapshot and committing the working copy's changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/load_commit.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using settings::ABSENT;
using settings::control_settings;
using settings::field_pointer;
using standin::op;

const std::u16string kBus = u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device";
const std::u16string kLegacyBus = u"SYSTEM\\CurrentControlSet\\Services\\ldbus\\Parameters\\Device";
const std::u16string kBlock = u"SYSTEM\\CurrentControlSet\\Services\\vdblk";
const std::u16string kScsi = u"SYSTEM\\CurrentControlSet\\Services\\vdscsi";
const std::u16string kAfd = u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
const std::u16string kTcpip = u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const std::u16string kSerialDevice =
    u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
const std::u16string kSerialMsiKey = kSerialDevice +
                                     u"\\3&267a616a&0&28\\Device Parameters\\Interrupt "
                                     u"Management\\MessageSignaledInterruptProperties";

constexpr u32 kWindows2000 = 0x1;
constexpr u32 kWindows7 = 0x10;
constexpr u32 kWindows10x64 = 0x80000800u;
constexpr u32 kAccessDenied = 5;
constexpr u32 kNotEnoughMemory = 8;
constexpr u32 kDisabled = 0x40;

struct named_field {
  const char16_t* value_name;
  field_pointer field;
};

// In the order the bus parameters key is read.
const named_field kXenLoadOrder[] = {
    {u"use_pv_drivers", &control_settings::use_pv_drivers},
    {u"timeout", &control_settings::timeout},
    {u"orvane_flags", &control_settings::orvane_flags},
    {u"shutdown_delay", &control_settings::shutdown_delay},
    {u"max_disks", &control_settings::max_disks},
    {u"grant_frames", &control_settings::grant_frames},
};

struct tcp_field {
  const std::u16string* key;
  const char16_t* value_name;
  field_pointer field;
};

// In the order they are read and written.
const tcp_field kTcp[] = {
    {&kAfd, u"DefaultSendWindow", &control_settings::default_send_window},
    {&kAfd, u"DefaultReceiveWindow", &control_settings::default_receive_window},
    {&kAfd, u"FastSendDatagramThreshold", &control_settings::fast_send_datagram_threshold},
    {&kTcpip, u"TcpWindowSize", &control_settings::tcp_window_size},
    {&kTcpip, u"Tcp1323Opts", &control_settings::tcp1323_opts},
};

using standin::narrow;

std::vector<std::u16string> message_texts() {
  std::vector<std::u16string> texts;
  for (const standin::message_record& m : standin::messages()) texts.push_back(m.text);
  return texts;
}

std::vector<std::u16string> texts_of(const std::vector<u32>& ids) {
  std::vector<std::u16string> texts;
  for (u32 id : ids) texts.push_back(standin::string_text(id));
  return texts;
}

class LoadCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
    app::state().drivers = app::current_generation;
    app::state().os_code = kWindows10x64;
  }
  void TearDown() override {
    EXPECT_EQ(standin::open_key_count(), 0);
    EXPECT_EQ(standin::open_device_list_count(), 0);
  }

  // A machine as installed: the bus key with its six values, both service keys with their start
  // overrides, one disabled PV disk and one disabled PV SCSI device; the snapshot as loaded.
  control_settings installed_xen() {
    control_settings s{};
    s.use_pv_drivers = 3;
    s.orvane_flags = 4;
    s.grant_frames = 10;
    s.max_disks = 32;
    s.shutdown_delay = 0;
    s.timeout = 0;
    for (const named_field& f : kXenLoadOrder) standin::set_dword(kBus, f.value_name, s.*f.field);
    for (const std::u16string& service : {kBlock, kScsi}) {
      standin::set_dword(service, u"Start", 0);
      standin::set_dword(service + u"\\StartOverride", u"0", 3);
    }
    disk_ = standin::add_device(u"XEN", {u"XEN\\TYPE_VBD\\768"}, kDisabled);
    scsi_ = standin::add_device(u"XEN", {u"XEN\\TYPE_VSCSI\\0"}, kDisabled);
    return s;
  }
  bool block_reenabled() const {
    return !standin::key_exists(kBlock + u"\\StartOverride") &&
           standin::device_at(disk_).config_flags == 0u;
  }
  bool scsi_reenabled() const {
    return !standin::key_exists(kScsi + u"\\StartOverride") &&
           standin::device_at(scsi_).config_flags == 0u;
  }
  std::optional<u32> bus(const char16_t* name) const { return standin::get_dword(kBus, name); }

  int disk_ = -1;
  int scsi_ = -1;
};

// ================================ Loads

TEST_F(LoadCommitTest, XenValuesLoadedAsStoredWithoutBoundsCheck) {
  standin::set_dword(kBus, u"use_pv_drivers", 0x2401);
  standin::set_dword(kBus, u"orvane_flags", 0x19);
  standin::set_dword(kBus, u"grant_frames", 2);  // below its minimum
  standin::set_dword(kBus, u"max_disks", 300);   // above its maximum
  standin::set_dword(kBus, u"shutdown_delay", 0xFFFFFFFFu);
  standin::set_dword(kBus, u"timeout", 45);
  control_settings s{};
  load_commit::load_xen_settings(s);
  EXPECT_EQ(s.use_pv_drivers, 0x2401u);
  EXPECT_EQ(s.orvane_flags, 0x19u);
  EXPECT_EQ(s.grant_frames, 2u);
  EXPECT_EQ(s.max_disks, 300u);
  EXPECT_EQ(s.shutdown_delay, 0xFFFFFFFFu);
  EXPECT_EQ(s.timeout, 45u);
  EXPECT_TRUE(standin::timeline().empty());
}

TEST_F(LoadCommitTest, XenValuesReadFromSelectedGeneration) {
  app::state().drivers = app::legacy_generation;
  standin::set_dword(kBus, u"max_disks", 64);
  standin::set_dword(kLegacyBus, u"max_disks", 128);
  control_settings s{};
  load_commit::load_xen_settings(s);
  EXPECT_EQ(s.max_disks, 128u);
}

struct xen_default_case {
  const char* name;
  void (*arrange)();
};

class LoadCommitXenDefaultTest : public LoadCommitTest,
                                 public ::testing::WithParamInterface<xen_default_case> {};

TEST_P(LoadCommitXenDefaultTest, UnreadableValuesGetDefaults) {
  GetParam().arrange();
  control_settings s{};
  s.shutdown_delay = 77;  // a failed read overwrites whatever was there
  s.timeout = 88;
  load_commit::load_xen_settings(s);
  EXPECT_EQ(s.use_pv_drivers, 3u);
  EXPECT_EQ(s.orvane_flags, 4u);
  EXPECT_EQ(s.grant_frames, 10u);
  EXPECT_EQ(s.max_disks, 32u);
  EXPECT_EQ(s.shutdown_delay, 0u);
  EXPECT_EQ(s.timeout, 0u);
  EXPECT_TRUE(standin::messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, LoadCommitXenDefaultTest,
    ::testing::Values(xen_default_case{"NoKey", [] {}},
                      xen_default_case{"EmptyKey", [] { standin::create_key(kBus); }},
                      xen_default_case{"DataLongerThanFourBytes",
                                       [] {
                                         for (const named_field& f : kXenLoadOrder) {
                                           standin::set_value(kBus, f.value_name,
                                                              platform::reg_binary,
                                                              {9, 0, 0, 0, 0, 0, 0, 0});
                                         }
                                       }},
                      xen_default_case{"KeyReadOnly",
                                       [] {
                                         for (const named_field& f : kXenLoadOrder) {
                                           standin::set_dword(kBus, f.value_name, 9);
                                         }
                                         standin::deny_write_access(kBus);
                                       }}),
    [](const ::testing::TestParamInfo<xen_default_case>& info) {
      return std::string(info.param.name);
    });

class LoadCommitXenOrderTest : public LoadCommitTest, public ::testing::WithParamInterface<int> {};

// The n-th query fails: the value read n-th gets its default and only that one.
TEST_P(LoadCommitXenOrderTest, ValuesReadInTheirOrder) {
  const int failing = GetParam();
  for (const named_field& f : kXenLoadOrder) standin::set_dword(kBus, f.value_name, 200);
  standin::fail(op::reg_query, kNotEnoughMemory, u"", failing, 1);
  control_settings s{};
  load_commit::load_xen_settings(s);
  const std::map<std::u16string, u32> defaults = {{u"use_pv_drivers", 3}, {u"timeout", 0},
                                                  {u"orvane_flags", 4},   {u"shutdown_delay", 0},
                                                  {u"max_disks", 32},     {u"grant_frames", 10}};
  for (int i = 0; i < 6; ++i) {
    const named_field& f = kXenLoadOrder[i];
    EXPECT_EQ(s.*f.field, i == failing ? defaults.at(f.value_name) : 200u) << narrow(f.value_name);
  }
}

INSTANTIATE_TEST_SUITE_P(Positions, LoadCommitXenOrderTest, ::testing::Range(0, 6));

struct tcp_load_case {
  const char* name;
  std::vector<std::pair<int, u32>> stored;  // index into kTcp, value
  u32 tcp_enabled;
};

class LoadCommitTcpLoadTest : public LoadCommitTest,
                              public ::testing::WithParamInterface<tcp_load_case> {};

TEST_P(LoadCommitTcpLoadTest, MissingValuesAbsentAndEnabledWhenAnyStored) {
  const tcp_load_case& c = GetParam();
  standin::create_key(kAfd);
  standin::create_key(kTcpip);
  std::map<int, u32> expected;
  for (int i = 0; i < 5; ++i) expected[i] = ABSENT;
  for (const auto& [index, value] : c.stored) {
    standin::set_dword(*kTcp[index].key, kTcp[index].value_name, value);
    expected[index] = value;
  }
  control_settings s{};
  load_commit::load_tcp_settings(s);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(s.*kTcp[i].field, expected[i]) << narrow(kTcp[i].value_name);
  EXPECT_EQ(s.tcp_enabled, c.tcp_enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, LoadCommitTcpLoadTest,
    ::testing::Values(
        tcp_load_case{"NoneStored", {}, 0}, tcp_load_case{"OnlyLastStored", {{4, 1}}, 1},
        tcp_load_case{"OnlyFirstStored", {{0, 65536}}, 1},
        tcp_load_case{"AllStored", {{0, 1048576}, {1, 524288}, {2, 16384}, {3, 262144}, {4, 3}}, 1},
        tcp_load_case{"ZeroIsAValue", {{2, 0}}, 1},
        // A stored 0xFFFFFFFF cannot be told from a missing value.
        tcp_load_case{"AllOnesCountsAsAbsent", {{3, 0xFFFFFFFFu}}, 0}),
    [](const ::testing::TestParamInfo<tcp_load_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(LoadCommitTest, TcpValuesTakenOnlyFromTheirOwnKeys) {
  // Each value stored under the other key only.
  for (const tcp_field& f : kTcp) {
    standin::set_dword(f.key == &kAfd ? kTcpip : kAfd, f.value_name, 1000);
  }
  control_settings s{};
  load_commit::load_tcp_settings(s);
  for (const tcp_field& f : kTcp) EXPECT_EQ(s.*f.field, ABSENT) << narrow(f.value_name);
  EXPECT_EQ(s.tcp_enabled, 0u);
}

class LoadCommitTcpOrderTest : public LoadCommitTest, public ::testing::WithParamInterface<int> {};

TEST_P(LoadCommitTcpOrderTest, ValuesReadInTheirOrder) {
  const int failing = GetParam();
  for (const tcp_field& f : kTcp) standin::set_dword(*f.key, f.value_name, 4096);
  standin::fail(op::reg_query, kNotEnoughMemory, u"", failing, 1);
  control_settings s{};
  load_commit::load_tcp_settings(s);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(s.*kTcp[i].field, i == failing ? ABSENT : 4096u) << narrow(kTcp[i].value_name);
  }
  EXPECT_EQ(s.tcp_enabled, 1u);
}

INSTANTIATE_TEST_SUITE_P(Positions, LoadCommitTcpOrderTest, ::testing::Range(0, 5));

TEST_F(LoadCommitTest, TcpNotLoadedOnWindows2000) {
  app::state().os_code = kWindows2000;
  for (const tcp_field& f : kTcp) standin::set_dword(*f.key, f.value_name, 4096);
  control_settings s{};
  load_commit::load_tcp_settings(s);
  for (const tcp_field& f : kTcp) EXPECT_EQ(s.*f.field, 0u) << narrow(f.value_name);
  EXPECT_EQ(s.tcp_enabled, 0u);
  EXPECT_TRUE(standin::opens().empty());
}

struct msi_load_case {
  const char* name;
  void (*arrange)();
  bool available;
  u32 msi_supported;
};

class LoadCommitMsiLoadTest : public LoadCommitTest,
                              public ::testing::WithParamInterface<msi_load_case> {};

TEST_P(LoadCommitMsiLoadTest, AvailabilityAndValue) {
  const msi_load_case& c = GetParam();
  c.arrange();
  control_settings s{};
  EXPECT_EQ(load_commit::load_serial_msi(s), c.available);
  EXPECT_EQ(s.msi_supported, c.msi_supported);
  EXPECT_TRUE(standin::messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LoadCommitMsiLoadTest,
    ::testing::Values(
        msi_load_case{"Enabled", [] { standin::set_dword(kSerialMsiKey, u"MSISupported", 1); },
                      true, 1},
        msi_load_case{"Disabled", [] { standin::set_dword(kSerialMsiKey, u"MSISupported", 0); },
                      true, 0},
        msi_load_case{"NoSerialDevice",
                      [] {
                        standin::create_key(
                            u"SYSTEM\\CurrentControlSet"
                            u"\\Enum\\PCI\\VEN_8086&DEV_7010");
                      },
                      false, 0},
        msi_load_case{"QueryFails",
                      [] {
                        standin::set_dword(kSerialMsiKey, u"MSISupported", 1);
                        standin::fail(op::reg_query, kNotEnoughMemory, u"\\MSISupported");
                      },
                      false, 0},
        msi_load_case{"NoInstances", [] { standin::create_key(kSerialDevice); }, true, 0}),
    [](const ::testing::TestParamInfo<msi_load_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(LoadCommitTest, MsiReadFailureClearsPreviousValue) {
  control_settings s{};
  s.msi_supported = 1;
  EXPECT_FALSE(load_commit::load_serial_msi(s));
  EXPECT_EQ(s.msi_supported, 0u);
}

// ================================ Xen commit

TEST_F(LoadCommitTest, XenCommitOfUnchangedCopyWritesNothing) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.tcp_enabled = 1;  // fields of other groups do not count here
  working.default_send_window = 1048576;
  working.msi_supported = 1;
  EXPECT_FALSE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_TRUE(standin::timeline().empty());
  EXPECT_TRUE(standin::device_lists_built().empty());
  EXPECT_EQ(standin::reboot_prompts(), 0);
}

TEST_F(LoadCommitTest, XenChangesWrittenInOrder) {
  const control_settings snapshot = installed_xen();
  app::state().os_code = kWindows7;
  control_settings working = snapshot;
  working.use_pv_drivers = 0x403;
  working.orvane_flags = 0x5;
  working.grant_frames = 32;
  working.max_disks = 64;
  working.shutdown_delay = 30;
  working.timeout = 120;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  const std::string b = "set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device\\";
  const std::vector<std::string> expected = {
      b + "use_pv_drivers=0x403", b + "orvane_flags=0x5",    b + "grant_frames=0x20",
      b + "max_disks=0x40",       b + "shutdown_delay=0x1E", b + "timeout=0x78",
  };
  EXPECT_EQ(standin::timeline(), expected);
  EXPECT_TRUE(standin::messages().empty());
}

TEST_F(LoadCommitTest, XenCommitWritesOnlyChangedValues) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.max_disks = 64;
  standin::set_dword(kBus, u"grant_frames", 16);  // changed behind our back: not rewritten
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(standin::timeline(),
            std::vector<std::string>{
                "set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device\\max_disks="
                "0x40"});
  EXPECT_EQ(bus(u"grant_frames"), 16u);
  EXPECT_TRUE(standin::device_lists_built().empty());
}

struct gate_case {
  u32 os_code;
  bool reenables;
};

class LoadCommitGateTest : public LoadCommitTest,
                           public ::testing::WithParamInterface<gate_case> {};

TEST_P(LoadCommitGateTest, ReenableFromWindows8On) {
  const gate_case& c = GetParam();
  const control_settings snapshot = installed_xen();
  app::state().os_code = c.os_code;
  control_settings working = snapshot;
  working.use_pv_drivers = 0x2001;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(block_reenabled(), c.reenables);
  EXPECT_EQ(scsi_reenabled(), c.reenables);
  EXPECT_EQ(standin::device_lists_built().size(), c.reenables ? 2u : 0u);
  EXPECT_EQ(bus(u"use_pv_drivers"), 0x2001u);
}

INSTANTIATE_TEST_SUITE_P(OsCodes, LoadCommitGateTest,
                         ::testing::Values(gate_case{0x40, true}, gate_case{0x20, false},
                                           gate_case{0x80000040u, true},
                                           gate_case{0x80000020u, false}, gate_case{0x80, true},
                                           gate_case{0x80004000u, true},
                                           gate_case{0x80000010u, false}, gate_case{0x8, false},
                                           gate_case{0x1, false}, gate_case{0, false}),
                         [](const ::testing::TestParamInfo<gate_case>& info) {
                           char name[32];
                           snprintf(name, sizeof name, "Os%08X", info.param.os_code);
                           return std::string(name);
                         });

struct bits_case {
  u32 new_value;
  bool block;
  bool scsi;
};

class LoadCommitBitsTest : public LoadCommitTest,
                           public ::testing::WithParamInterface<bits_case> {};

TEST_P(LoadCommitBitsTest, NewValueBitsChooseTheDrivers) {
  const bits_case& c = GetParam();
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.use_pv_drivers = c.new_value;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(block_reenabled(), c.block);
  EXPECT_EQ(scsi_reenabled(), c.scsi);
  EXPECT_EQ(bus(u"use_pv_drivers"), c.new_value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, LoadCommitBitsTest,
    ::testing::Values(bits_case{0x0001, true, false}, bits_case{0x0401, true, false},
                      bits_case{0x0803, true, false}, bits_case{0x2001, true, true},
                      bits_case{0x2000, false, true}, bits_case{0x0002, false, false},
                      bits_case{0x0802, false, false}, bits_case{0x0000, false, false}),
    [](const ::testing::TestParamInfo<bits_case>& info) {
      char name[32];
      snprintf(name, sizeof name, "To%04X", info.param.new_value);
      return std::string(name);
    });

TEST_F(LoadCommitTest, BootScsiChangeReenablesBlockThenScsiBeforeWriting) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.use_pv_drivers = 0x2001;
  ASSERT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  const std::vector<std::string> expected = {
      "delete_key SYSTEM\\CurrentControlSet\\Services\\vdblk\\StartOverride",
      "config_flags XEN\\TYPE_VBD\\768=0x0",
      "delete_key SYSTEM\\CurrentControlSet\\Services\\vdscsi\\StartOverride",
      "config_flags XEN\\TYPE_VSCSI\\0=0x0",
      "set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device\\use_pv_drivers=0x2001",
  };
  EXPECT_EQ(standin::timeline(), expected);
}

TEST_F(LoadCommitTest, ReenableUsesSelectedGenerationsServiceKeys) {
  app::state().drivers = app::legacy_generation;
  const std::u16string legacy_block = u"SYSTEM\\CurrentControlSet\\Services\\ldblk";
  const std::u16string legacy_scsi = u"SYSTEM\\CurrentControlSet\\Services\\ldscsi";
  standin::set_dword(legacy_block + u"\\StartOverride", u"0", 3);
  standin::set_dword(legacy_scsi + u"\\StartOverride", u"0", 3);
  standin::set_dword(kBlock + u"\\StartOverride", u"0", 3);
  standin::set_dword(kLegacyBus, u"use_pv_drivers", 3);
  control_settings snapshot{};
  snapshot.use_pv_drivers = 3;
  control_settings working = snapshot;
  working.use_pv_drivers = 0x2001;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_FALSE(standin::key_exists(legacy_block + u"\\StartOverride"));
  EXPECT_FALSE(standin::key_exists(legacy_scsi + u"\\StartOverride"));
  EXPECT_TRUE(standin::key_exists(kBlock + u"\\StartOverride"));
  EXPECT_EQ(standin::get_dword(kLegacyBus, u"use_pv_drivers"), 0x2001u);
}

TEST_F(LoadCommitTest, LanNetfrontOnWindows10ReenablesBlockDriverOnly) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.use_pv_drivers = 0x803;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  const std::vector<std::string> expected = {
      "delete_key SYSTEM\\CurrentControlSet\\Services\\vdblk\\StartOverride",
      "config_flags XEN\\TYPE_VBD\\768=0x0",
      "set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device\\use_pv_drivers=0x803",
  };
  EXPECT_EQ(standin::timeline(), expected);
  EXPECT_EQ(standin::device_at(scsi_).config_flags, kDisabled);
  EXPECT_TRUE(standin::key_exists(kScsi + u"\\StartOverride"));
}

TEST_F(LoadCommitTest, LanNetfrontOnWindows7OnlyWrites) {
  const control_settings snapshot = installed_xen();
  app::state().os_code = kWindows7;
  control_settings working = snapshot;
  working.use_pv_drivers = 0x803;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(standin::timeline(),
            std::vector<std::string>{"set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters"
                                     "\\Device\\use_pv_drivers=0x803"});
  EXPECT_TRUE(standin::device_lists_built().empty());
}

TEST_F(LoadCommitTest, FailedDriverControlWriteStillReenablesAndShowsMessage) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.use_pv_drivers = 0x2001;
  standin::fail(op::reg_set, kAccessDenied, u"\\use_pv_drivers");
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_TRUE(block_reenabled());
  EXPECT_TRUE(scsi_reenabled());
  EXPECT_EQ(bus(u"use_pv_drivers"), 3u);
  EXPECT_EQ(message_texts(), texts_of({1001}));
}

TEST_F(LoadCommitTest, FailedReenableStepsAreNotReported) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.use_pv_drivers = 0x2001;
  standin::fail(op::reg_open, kAccessDenied, u"\\vdblk");
  standin::fail(op::device_list, kNotEnoughMemory, u"XEN", 0, -1);
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_TRUE(standin::messages().empty());
  EXPECT_EQ(bus(u"use_pv_drivers"), 0x2001u);
}

struct xen_fault_case {
  const char16_t* value_name;
  u32 message;
};

class LoadCommitXenFaultTest : public LoadCommitTest,
                               public ::testing::WithParamInterface<xen_fault_case> {};

TEST_P(LoadCommitXenFaultTest, FailedWriteShowsItsMessageAndOthersStillWritten) {
  const xen_fault_case& c = GetParam();
  const control_settings snapshot = installed_xen();
  app::state().os_code = kWindows7;
  control_settings working = snapshot;
  working.use_pv_drivers = 0x803;
  working.orvane_flags = 0x5;
  working.grant_frames = 32;
  working.max_disks = 64;
  working.shutdown_delay = 30;
  working.timeout = 120;
  standin::fail(op::reg_set, kAccessDenied, std::u16string(u"\\") + c.value_name);

  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  for (const named_field& f : kXenLoadOrder) {
    const u32 expected =
        f.value_name == std::u16string(c.value_name) ? snapshot.*f.field : working.*f.field;
    EXPECT_EQ(bus(f.value_name), expected) << narrow(f.value_name);
  }
  EXPECT_EQ(standin::timeline_matching("set ").size(), 5u);
  ASSERT_EQ(message_texts(), texts_of({c.message}));
  const standin::message_record& m = standin::messages()[0];
  EXPECT_EQ(m.caption, standin::string_text(1000));
  EXPECT_EQ(m.flags, 0u);
  EXPECT_FALSE(m.owned);
}

INSTANTIATE_TEST_SUITE_P(Values, LoadCommitXenFaultTest,
                         ::testing::Values(xen_fault_case{u"use_pv_drivers", 1001},
                                           xen_fault_case{u"orvane_flags", 1002},
                                           xen_fault_case{u"grant_frames", 1003},
                                           xen_fault_case{u"max_disks", 1004},
                                           xen_fault_case{u"shutdown_delay", 1005},
                                           xen_fault_case{u"timeout", 1006}),
                         [](const ::testing::TestParamInfo<xen_fault_case>& info) {
                           return narrow(info.param.value_name);
                         });

TEST_F(LoadCommitTest, SeveralXenFailuresShowOneMessageEachInOrder) {
  const control_settings snapshot = installed_xen();
  control_settings working = snapshot;
  working.orvane_flags = 0x5;
  working.grant_frames = 32;
  working.max_disks = 64;
  working.timeout = 120;
  standin::fail(op::reg_set, kAccessDenied, u"\\timeout");
  standin::fail(op::reg_set, kAccessDenied, u"\\orvane_flags");
  standin::fail(op::reg_set, kAccessDenied, u"\\grant_frames");
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(message_texts(), texts_of({1002, 1003, 1006}));
  EXPECT_EQ(bus(u"max_disks"), 64u);
  // Each message comes right after its failed write, before the later writes.
  const std::string b = "set SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device\\";
  const std::vector<std::string> expected = {
      "message " + narrow(standin::string_text(1002)),
      "message " + narrow(standin::string_text(1003)),
      b + "max_disks=0x40",
      "message " + narrow(standin::string_text(1006)),
  };
  EXPECT_EQ(standin::timeline(), expected);
}

TEST_F(LoadCommitTest, XenCommitWithoutBusKeyFailsEveryWriteButCountsAsChanged) {
  control_settings snapshot{};
  snapshot.use_pv_drivers = 3;
  snapshot.orvane_flags = 4;
  snapshot.grant_frames = 10;
  snapshot.max_disks = 32;
  app::state().os_code = kWindows7;
  control_settings working = snapshot;
  working.use_pv_drivers = 1;
  working.orvane_flags = 5;
  working.grant_frames = 11;
  working.max_disks = 33;
  working.shutdown_delay = 1;
  working.timeout = 1;
  EXPECT_TRUE(load_commit::commit_xen_settings(working, snapshot));
  EXPECT_EQ(message_texts(), texts_of({1001, 1002, 1003, 1004, 1005, 1006}));
  EXPECT_FALSE(standin::key_exists(kBus));
}

// ================================ Serial MSI commit

TEST_F(LoadCommitTest, MsiCommitUnchangedWritesNothing) {
  standin::set_dword(kSerialMsiKey, u"MSISupported", 1);
  control_settings snapshot{};
  snapshot.msi_supported = 1;
  control_settings working = snapshot;
  working.max_disks = 64;
  EXPECT_FALSE(load_commit::commit_serial_msi(working, snapshot));
  EXPECT_TRUE(standin::timeline().empty());
}

struct msi_commit_case {
  const char* name;
  void (*arrange)();
  std::vector<u32> messages;
  std::optional<u32> stored;  // afterwards
};

class LoadCommitMsiCommitTest : public LoadCommitTest,
                                public ::testing::WithParamInterface<msi_commit_case> {};

TEST_P(LoadCommitMsiCommitTest, ChangeCountsWhateverTheWriteDid) {
  const msi_commit_case& c = GetParam();
  c.arrange();
  control_settings snapshot{};
  control_settings working = snapshot;
  working.msi_supported = 1;
  EXPECT_TRUE(load_commit::commit_serial_msi(working, snapshot));
  EXPECT_EQ(message_texts(), texts_of(c.messages));
  EXPECT_EQ(standin::get_dword(kSerialMsiKey, u"MSISupported"), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, LoadCommitMsiCommitTest,
    ::testing::Values(
        msi_commit_case{
            "Written", [] { standin::set_dword(kSerialMsiKey, u"MSISupported", 0); }, {}, 1u},
        msi_commit_case{"SetFails",
                        [] {
                          standin::set_dword(kSerialMsiKey, u"MSISupported", 0);
                          standin::fail(op::reg_set, kAccessDenied, u"\\MSISupported");
                        },
                        {1018},
                        0u},
        msi_commit_case{"NoSerialDevice", [] {}, {1018}, std::nullopt},
        msi_commit_case{
            "NoInstances", [] { standin::create_key(kSerialDevice); }, {}, std::nullopt}),
    [](const ::testing::TestParamInfo<msi_commit_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(LoadCommitTest, MsiCommitWithoutInstancesWritesNothing) {
  standin::create_key(kSerialDevice);
  control_settings snapshot{};
  control_settings working = snapshot;
  working.msi_supported = 1;
  EXPECT_TRUE(load_commit::commit_serial_msi(working, snapshot));
  EXPECT_TRUE(standin::timeline().empty());
}

// ================================ TCP commit

class LoadCommitTcpTest : public LoadCommitTest {
 protected:
  void SetUp() override {
    LoadCommitTest::SetUp();
    standin::create_key(kAfd);
    standin::create_key(kTcpip);
  }
  static control_settings all_absent() {
    control_settings s{};
    for (const tcp_field& f : kTcp) s.*f.field = ABSENT;
    return s;
  }
  static std::optional<u32> stored(const tcp_field& f) {
    return standin::get_dword(*f.key, f.value_name);
  }
};

TEST_F(LoadCommitTcpTest, TurningOnWritesAllFiveInOrder) {
  const control_settings snapshot = all_absent();
  control_settings working = snapshot;
  working.tcp_enabled = 1;
  working.default_send_window = 1048576;
  working.default_receive_window = 1048576;
  working.fast_send_datagram_threshold = 16384;
  working.tcp_window_size = 1048576;
  working.tcp1323_opts = 1;
  EXPECT_TRUE(load_commit::commit_tcp_settings(working, snapshot));
  const std::vector<std::string> expected = {
      "set SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\DefaultSendWindow=0x100000",
      "set SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\DefaultReceiveWindow=0x100000",
      "set SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\FastSendDatagramThreshold=0x4000",
      "set SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\TcpWindowSize=0x100000",
      "set SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Tcp1323Opts=0x1",
  };
  EXPECT_EQ(standin::timeline(), expected);
  EXPECT_TRUE(standin::messages().empty());
}

TEST_F(LoadCommitTcpTest, TurningOffDeletesOnlyStoredValues) {
  control_settings snapshot = all_absent();
  snapshot.tcp_enabled = 1;
  snapshot.default_send_window = 65536;
  snapshot.fast_send_datagram_threshold = 1024;
  snapshot.tcp1323_opts = 3;
  standin::set_dword(kAfd, u"DefaultSendWindow", 65536);
  standin::set_dword(kAfd, u"FastSendDatagramThreshold", 1024);
  standin::set_dword(kTcpip, u"Tcp1323Opts", 3);
  standin::set_dword(kTcpip, u"DisableTaskOffload", 1);  // not ours
  control_settings working = all_absent();
  EXPECT_TRUE(load_commit::commit_tcp_settings(working, snapshot));
  const std::vector<std::string> expected = {
      "delete_value SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\DefaultSendWindow",
      "delete_value SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\"
      "FastSendDatagramThreshold",
      "delete_value SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Tcp1323Opts",
  };
  EXPECT_EQ(standin::timeline(), expected);
  for (const tcp_field& f : kTcp) EXPECT_FALSE(stored(f).has_value()) << narrow(f.value_name);
  EXPECT_EQ(standin::get_dword(kTcpip, u"DisableTaskOffload"), 1u);
  EXPECT_TRUE(standin::messages().empty());
}

TEST_F(LoadCommitTcpTest, AbsentOverStoredValueDeletesIt) {
  control_settings snapshot = all_absent();
  snapshot.tcp_window_size = 262144;
  standin::set_dword(kTcpip, u"TcpWindowSize", 262144);
  control_settings working = snapshot;
  working.tcp_window_size = 0xFFFFFFFFu;
  EXPECT_TRUE(load_commit::commit_tcp_settings(working, snapshot));
  EXPECT_FALSE(standin::get_value(kTcpip, u"TcpWindowSize").has_value());
  EXPECT_TRUE(standin::timeline_matching("set ").empty());
}

TEST_F(LoadCommitTcpTest, UnchangedWritesNothing) {
  control_settings snapshot = all_absent();
  snapshot.default_receive_window = 8192;
  control_settings working = snapshot;
  working.tcp_enabled = 1;  // not stored, so not a change
  working.max_disks = 64;
  EXPECT_FALSE(load_commit::commit_tcp_settings(working, snapshot));
  EXPECT_TRUE(standin::timeline().empty());
}

TEST_F(LoadCommitTcpTest, NothingCommittedOnWindows2000) {
  app::state().os_code = kWindows2000;
  control_settings snapshot{};
  control_settings working = snapshot;
  working.default_send_window = 1048576;
  working.tcp1323_opts = ABSENT;
  EXPECT_FALSE(load_commit::commit_tcp_settings(working, snapshot));
  EXPECT_TRUE(standin::timeline().empty());
  EXPECT_TRUE(standin::opens().empty());
}

struct tcp_fault {
  op operation;
  const char16_t* match;
  int times;
};

struct tcp_fault_case {
  const char* name;
  std::vector<tcp_fault> faults;
  std::vector<int> failing;  // indexes into kTcp whose operation fails
};

class LoadCommitTcpFaultTest : public LoadCommitTcpTest,
                               public ::testing::WithParamInterface<tcp_fault_case> {};

// All five stored; the commit writes three and deletes two.
TEST_P(LoadCommitTcpFaultTest, OneMessageAfterAllFiveTried) {
  const tcp_fault_case& c = GetParam();
  control_settings snapshot{};
  u32 old_value = 1000;
  for (const tcp_field& f : kTcp) {
    snapshot.*f.field = old_value;
    standin::set_dword(*f.key, f.value_name, old_value++);
  }
  snapshot.tcp_enabled = 1;
  control_settings working = snapshot;
  working.default_send_window = 2000;
  working.default_receive_window = ABSENT;
  working.fast_send_datagram_threshold = 2002;
  working.tcp_window_size = 2003;
  working.tcp1323_opts = ABSENT;
  for (const tcp_fault& f : c.faults)
    standin::fail(f.operation, kAccessDenied, f.match, 0, f.times);

  EXPECT_TRUE(load_commit::commit_tcp_settings(working, snapshot));
  for (int i = 0; i < 5; ++i) {
    const tcp_field& f = kTcp[i];
    const bool failed = std::find(c.failing.begin(), c.failing.end(), i) != c.failing.end();
    std::optional<u32> expected = snapshot.*f.field;
    if (!failed) {
      expected = working.*f.field == ABSENT ? std::nullopt : std::optional<u32>(working.*f.field);
    }
    EXPECT_EQ(stored(f), expected) << narrow(f.value_name);
  }
  ASSERT_EQ(message_texts(), texts_of({1007}));
  EXPECT_EQ(standin::timeline().back(), "message " + narrow(standin::string_text(1007)));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LoadCommitTcpFaultTest,
    ::testing::Values(
        tcp_fault_case{"FirstWrite", {{op::reg_set, u"\\DefaultSendWindow", 1}}, {0}},
        tcp_fault_case{"LastDelete", {{op::reg_delete_value, u"\\Tcp1323Opts", 1}}, {4}},
        tcp_fault_case{"SeveralMixed",
                       {{op::reg_delete_value, u"\\DefaultReceiveWindow", 1},
                        {op::reg_set, u"\\FastSendDatagramThreshold", 1},
                        {op::reg_set, u"\\TcpWindowSize", 1}},
                       {1, 2, 3}},
        tcp_fault_case{"AfdKeyDoesNotOpen", {{op::reg_open, u"\\AFD\\Parameters", -1}}, {0, 1, 2}},
        tcp_fault_case{"EveryOperation",
                       {{op::reg_set, u"", -1}, {op::reg_delete_value, u"", -1}},
                       {0, 1, 2, 3, 4}}),
    [](const ::testing::TestParamInfo<tcp_fault_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(LoadCommitTcpTest, DeletingValueThatIsNoLongerStoredFails) {
  control_settings snapshot = all_absent();
  snapshot.default_send_window = 65536;  // loaded, but gone since
  control_settings working = snapshot;
  working.default_send_window = ABSENT;
  working.tcp1323_opts = 1;
  EXPECT_TRUE(load_commit::commit_tcp_settings(working, snapshot));
  EXPECT_EQ(standin::get_dword(kTcpip, u"Tcp1323Opts"), 1u);
  EXPECT_EQ(message_texts(), texts_of({1007}));
}

// ================================ Reboot

TEST_F(LoadCommitTest, OfferRebootPromptsOnce) {
  load_commit::offer_reboot();
  EXPECT_EQ(standin::reboot_prompts(), 1);
  EXPECT_EQ(standin::timeline(), std::vector<std::string>{"reboot"});
}

}  // namespace
