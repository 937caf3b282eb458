// Tests of the registry value operations: 32-bit reads, writes, deletes and the start override.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "store/registry.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::bytes;
using standin::op;

constexpr const char16_t* kKey = u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device";
constexpr const char16_t* kService = u"SYSTEM\\CurrentControlSet\\Services\\vdblk";
const std::u16string kOverride = std::u16string(kService) + u"\\StartOverride";

constexpr u32 kAccessDenied = 5;
constexpr u32 kNotEnoughMemory = 8;
constexpr u32 kFileNotFound = 2;

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::reset(); }
  // Every operation closes what it opened, on every path.
  void TearDown() override { EXPECT_EQ(standin::open_key_count(), 0); }
};

// ---- read_dword

struct read_case {
  const char* name;
  u32 type;
  bytes data;
  bool succeeds;
  u32 expected;  // when it succeeds
};

class RegistryStoreReadTest : public RegistryStoreTest,
                              public ::testing::WithParamInterface<read_case> {};

TEST_P(RegistryStoreReadTest, TakesAnyDataThatFitsInFourBytes) {
  const read_case& c = GetParam();
  standin::set_value(kKey, u"max_disks", c.type, c.data);
  u32 out = 0xA5A5A5A5u;
  const u32 error = store::read_dword(kKey, u"max_disks", &out);
  if (c.succeeds) {
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(out, c.expected);
  } else {
    EXPECT_NE(error, 0u);
  }
  // Reading never changes what is stored.
  const auto stored = standin::get_value(kKey, u"max_disks");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, c.type);
  EXPECT_EQ(stored->data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RegistryStoreReadTest,
    ::testing::Values(
        read_case{
            "DwordOfFourBytes", platform::reg_dword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678u},
        read_case{"DwordAllOnes", platform::reg_dword, {0xFF, 0xFF, 0xFF, 0xFF}, true, 0xFFFFFFFFu},
        read_case{
            "ThreeBytesZeroExtended", platform::reg_dword, {0x01, 0x02, 0x03}, true, 0x00030201u},
        read_case{"ZeroBytesReadAsZero", platform::reg_dword, {}, true, 0},
        read_case{"FiveBytesFail", platform::reg_dword, {1, 0, 0, 0, 0}, false, 0},
        read_case{"BinaryOfFourBytes", platform::reg_binary, {0x20, 0, 0, 0}, true, 0x20},
        read_case{"NoneOfOneByte", platform::reg_none, {0x07}, true, 7},
        // "a" and its terminator: 4 bytes, taken as the number they spell.
        read_case{"StringOfFourBytes", platform::reg_sz, {0x61, 0x00, 0x00, 0x00}, true, 0x61},
        read_case{"StringOfTwoUnitsNoTerminator",
                  platform::reg_sz,
                  {0x61, 0x00, 0x62, 0x00},
                  true,
                  0x00620061u},
        read_case{"StringOfSixBytesFails", platform::reg_sz, {0x33, 0, 0x32, 0, 0, 0}, false, 0},
        read_case{
            "MultiStringTooLongFails", platform::reg_multi_sz, {0x31, 0, 0, 0, 0, 0}, false, 0}),
    [](const ::testing::TestParamInfo<read_case>& info) { return std::string(info.param.name); });

TEST_F(RegistryStoreTest, ReadOfMissingValueOrKeyFails) {
  u32 out = 0;
  EXPECT_EQ(store::read_dword(kKey, u"max_disks", &out), kFileNotFound);  // no key
  standin::set_dword(kKey, u"grant_frames", 16);
  EXPECT_EQ(store::read_dword(kKey, u"max_disks", &out), kFileNotFound);  // key, no value
}

// ---- write_dword

class RegistryStoreWriteTest : public RegistryStoreTest,
                               public ::testing::WithParamInterface<u32> {};

TEST_P(RegistryStoreWriteTest, StoresFourByteLittleEndianDword) {
  const u32 v = GetParam();
  standin::create_key(kKey);
  ASSERT_EQ(store::write_dword(kKey, u"timeout", v), 0u);
  const auto stored = standin::get_value(kKey, u"timeout");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, platform::reg_dword);
  const bytes expected = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  EXPECT_EQ(stored->data, expected);
}

INSTANTIATE_TEST_SUITE_P(Values, RegistryStoreWriteTest,
                         ::testing::Values(0u, 1u, 0x12345678u, 0x80000001u, 0xFFFFFFFFu));

TEST_F(RegistryStoreTest, WriteReplacesValueOfAnotherType) {
  standin::set_string(kKey, u"grant_frames", u"sixteen");
  ASSERT_EQ(store::write_dword(kKey, u"grant_frames", 16), 0u);
  EXPECT_EQ(standin::get_dword(kKey, u"grant_frames"), 16u);
}

TEST_F(RegistryStoreTest, WriteToMissingKeyFailsAndCreatesNothing) {
  EXPECT_EQ(store::write_dword(kKey, u"timeout", 5), kFileNotFound);
  EXPECT_FALSE(standin::key_exists(kKey));
  EXPECT_TRUE(standin::timeline().empty());
}

// ---- delete_value

TEST_F(RegistryStoreTest, DeleteRemovesOnlyTheNamedValue) {
  standin::set_dword(kKey, u"TcpWindowSize", 65535);
  standin::set_dword(kKey, u"Tcp1323Opts", 1);
  ASSERT_EQ(store::delete_value(kKey, u"TcpWindowSize"), 0u);
  EXPECT_FALSE(standin::get_value(kKey, u"TcpWindowSize").has_value());
  EXPECT_EQ(standin::get_dword(kKey, u"Tcp1323Opts"), 1u);
}

TEST_F(RegistryStoreTest, DeleteOfMissingValueOrKeyFails) {
  EXPECT_NE(store::delete_value(kKey, u"TcpWindowSize"), 0u);  // no key
  standin::set_dword(kKey, u"Tcp1323Opts", 1);
  EXPECT_NE(store::delete_value(kKey, u"TcpWindowSize"), 0u);  // no value
  EXPECT_EQ(standin::get_dword(kKey, u"Tcp1323Opts"), 1u);
  EXPECT_TRUE(standin::timeline_matching("delete_value").empty());
}

// ---- delete_start_override

TEST_F(RegistryStoreTest, StartOverrideRemovedFromServiceKey) {
  standin::set_dword(kService, u"Start", 0);
  standin::set_dword(kOverride, u"0", 3);
  EXPECT_TRUE(store::delete_start_override(kService));
  EXPECT_FALSE(standin::key_exists(kOverride));
  EXPECT_TRUE(standin::key_exists(kService));
  EXPECT_EQ(standin::get_dword(kService, u"Start"), 0u);
  EXPECT_EQ(standin::timeline(),
            std::vector<std::string>{"delete_key SYSTEM\\CurrentControlSet\\Services\\vdblk"
                                     "\\StartOverride"});
}

TEST_F(RegistryStoreTest, StartOverrideAbsentStillCountsAsOpened) {
  standin::set_dword(kService, u"Start", 0);
  EXPECT_TRUE(store::delete_start_override(kService));
  EXPECT_TRUE(standin::key_exists(kService));
  EXPECT_TRUE(standin::timeline().empty());
}

TEST_F(RegistryStoreTest, StartOverrideOfMissingServiceKeyIsFalse) {
  EXPECT_FALSE(store::delete_start_override(kService));
  EXPECT_TRUE(standin::timeline().empty());
}

TEST_F(RegistryStoreTest, StartOverrideDeletionFailureIsIgnored) {
  standin::set_dword(kOverride, u"0", 3);
  standin::fail(op::reg_delete_key, kAccessDenied, u"\\StartOverride");
  EXPECT_TRUE(store::delete_start_override(kService));
  EXPECT_TRUE(standin::key_exists(kOverride));
}

// ---- Access and handles

struct operation_case {
  const char* name;
  std::function<void()> run;
  const char16_t* path;
};

class RegistryStoreAccessTest : public RegistryStoreTest,
                                public ::testing::WithParamInterface<operation_case> {};

TEST_P(RegistryStoreAccessTest, OpensItsKeyOnceWithFullAccess) {
  const operation_case& c = GetParam();
  standin::set_dword(kKey, u"timeout", 1);
  standin::set_dword(kOverride, u"0", 3);
  c.run();
  ASSERT_EQ(standin::opens().size(), 1u);
  EXPECT_EQ(standin::opens()[0].path, c.path);
  EXPECT_EQ(standin::opens()[0].access, platform::key_all_access);
  EXPECT_EQ(standin::opens()[0].result, 0u);
}

const operation_case kOperations[] = {
    {"Read",
     [] {
       u32 out = 0;
       store::read_dword(kKey, u"timeout", &out);
     },
     kKey},
    {"Write", [] { store::write_dword(kKey, u"timeout", 2); }, kKey},
    {"Delete", [] { store::delete_value(kKey, u"timeout"); }, kKey},
    {"StartOverride", [] { store::delete_start_override(kService); }, kService},
};

INSTANTIATE_TEST_SUITE_P(Operations, RegistryStoreAccessTest, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<operation_case>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RegistryStoreTest, KeyThatRefusesWritingCannotBeRead) {
  // Full access is asked for even to read, so a read-only key does not open.
  standin::set_dword(kKey, u"timeout", 1);
  standin::deny_write_access(kKey);
  u32 out = 0;
  EXPECT_EQ(store::read_dword(kKey, u"timeout", &out), kAccessDenied);
}

// Each injected failure is returned as it came, changes nothing, and leaves no key open.
struct fault_case {
  const char* name;
  op operation;
  u32 error;
  std::function<u32()> run;  // the operation's result; for the start override, 1 when true
  u32 expected;
};

class RegistryStoreFaultTest : public RegistryStoreTest,
                               public ::testing::WithParamInterface<fault_case> {};

TEST_P(RegistryStoreFaultTest, FailureReturnedAndNothingChanged) {
  const fault_case& c = GetParam();
  standin::set_dword(kKey, u"timeout", 7);
  standin::set_dword(kOverride, u"0", 3);
  standin::fail(c.operation, c.error);
  EXPECT_EQ(c.run(), c.expected);
  EXPECT_EQ(standin::get_dword(kKey, u"timeout"), 7u);
  EXPECT_TRUE(standin::key_exists(kOverride));
  EXPECT_TRUE(standin::timeline().empty());
}

u32 read_timeout() {
  u32 out = 0;
  return store::read_dword(kKey, u"timeout", &out);
}

const fault_case kFaults[] = {
    {"ReadOpen", op::reg_open, kAccessDenied, read_timeout, kAccessDenied},
    {"ReadQuery", op::reg_query, kNotEnoughMemory, read_timeout, kNotEnoughMemory},
    {"WriteOpen", op::reg_open, kAccessDenied,
     [] { return store::write_dword(kKey, u"timeout", 9); }, kAccessDenied},
    {"WriteSet", op::reg_set, kNotEnoughMemory,
     [] { return store::write_dword(kKey, u"timeout", 9); }, kNotEnoughMemory},
    {"DeleteOpen", op::reg_open, kAccessDenied,
     [] { return store::delete_value(kKey, u"timeout"); }, kAccessDenied},
    {"DeleteValue", op::reg_delete_value, kAccessDenied,
     [] { return store::delete_value(kKey, u"timeout"); }, kAccessDenied},
    {"StartOverrideOpen", op::reg_open, kAccessDenied,
     [] { return store::delete_start_override(kService) ? 1u : 0u; }, 0},
    {"StartOverrideDelete", op::reg_delete_key, kAccessDenied,
     [] { return store::delete_start_override(kService) ? 1u : 0u; }, 1},
};

INSTANTIATE_TEST_SUITE_P(Faults, RegistryStoreFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<fault_case>& info) {
                           return std::string(info.param.name);
                         });

// ---- query_string_value

class RegistryStoreStringTest : public RegistryStoreTest {
 protected:
  // Reads name from kKey into the first units of a larger buffer whose tail must stay untouched.
  u32 read(const char16_t* name, u32 units) {
    buffer_.assign(units + 8, u'#');
    platform::key_handle key = nullptr;
    EXPECT_EQ(platform::reg_open_key(platform::local_machine(), kKey, platform::key_read, &key),
              0u);
    const u32 error = store::query_string_value(key, name, buffer_.data(), units);
    platform::reg_close_key(key);
    for (u32 i = units; i < buffer_.size(); ++i) EXPECT_EQ(buffer_[i], u'#') << "unit " << i;
    return error;
  }
  std::u16string text() const { return std::u16string(buffer_.data()); }
  std::vector<char16_t> buffer_;
};

TEST_F(RegistryStoreStringTest, TerminatedValueReadWhole) {
  standin::set_string(kKey, u"ProductName", u"Windows 10 Pro");
  ASSERT_EQ(read(u"ProductName", 260), 0u);
  EXPECT_EQ(text(), u"Windows 10 Pro");
}

TEST_F(RegistryStoreStringTest, UnterminatedValueFillingBufferIsTerminatedAfterItsData) {
  standin::set_string(kKey, u"SystemManufacturer", u"QEMUQEMU", false);  // 16 bytes, no terminator
  ASSERT_EQ(read(u"SystemManufacturer", 9), 0u);
  EXPECT_EQ(text(), u"QEMUQEMU");
}

TEST_F(RegistryStoreStringTest, UnterminatedShortValueEndsAtItsData) {
  standin::set_string(kKey, u"ReleaseId", u"2004", false);
  ASSERT_EQ(read(u"ReleaseId", 32), 0u);
  EXPECT_EQ(text(), u"2004");
}

TEST_F(RegistryStoreStringTest, ValueLongerThanBufferFailsWithEmptyText) {
  standin::set_string(kKey, u"SystemManufacturer", u"Xen HVM domU");  // 26 bytes
  EXPECT_NE(read(u"SystemManufacturer", 9), 0u);
  EXPECT_EQ(buffer_[0], u'\0');
}

TEST_F(RegistryStoreStringTest, MissingValueFailsWithEmptyText) {
  standin::create_key(kKey);
  EXPECT_EQ(read(u"ReleaseId", 16), kFileNotFound);
  EXPECT_EQ(buffer_[0], u'\0');
}

}  // namespace
