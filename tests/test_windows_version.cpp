// Tests of Windows classification into os_code and of the version gates tested on it.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <tuple>

#include "core/app_state.h"
#include "probes/windows_version.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::op;

const std::u16string kVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

class WindowsVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
  }
  // The key is opened for one classification and closed before it returns, on every path.
  void TearDown() override { EXPECT_EQ(standin::open_key_count(), 0); }

  static void product(const std::u16string& name) {
    standin::set_string(kVersionKey, u"ProductName", name);
  }
  static void release(const std::u16string& id) {
    standin::set_string(kVersionKey, u"ReleaseId", id);
  }
};

std::u16string upper(std::u16string s) {
  for (char16_t& c : s) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return s;
}

std::u16string widen(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out += static_cast<char16_t>(static_cast<unsigned char>(*s));
  return out;
}

using standin::narrow;

// ---- Every product-table entry, both widths.

struct product_entry {
  const char* prefix;
  u32 code_32;
  u32 code_64;
};

constexpr product_entry kProducts[] = {
    {"Windows Server 2022", 0x80004000, 0x80004000},
    {"Windows Server 2019", 0x80002000, 0x80002000},
    {"Windows Server 2016", 0x80001000, 0x80001000},
    {"Windows Server 2012 R2", 0x80000200, 0x80000200},
    {"Windows Server 2012", 0x80000080, 0x80000080},
    {"Windows Multipoint Server 2012", 0x80000080, 0x80000080},
    {"Windows Server 2008 R2", 0x80000020, 0x80000020},
    {"Windows Web Server 2008 R2", 0x80000020, 0x80000020},
    {"Windows Multipoint Server 2011", 0x80000020, 0x80000020},
    {"Windows Server 2008", 0x00000008, 0x80000008},
    {"Windows Server (R) 2008", 0x00000008, 0x80000008},
    {"Microsoft Windows Server 2003", 0x00000004, 0x80000004},
    {"Windows Server", 0x80004000, 0x80004000},
    {"Windows 10", 0x00000400, 0x80000400},
    {"Windows 8.1", 0x00000100, 0x80000100},
    {"Windows 8", 0x00000040, 0x80000040},
    {"Windows 7", 0x00000010, 0x80000010},
    {"Windows Vista", 0x00000008, 0x80000008},
    {"Microsoft Windows XP", 0x00000002, 0x80000002},
    {"Microsoft Windows 2000", 0x00000001, 0x00000001},
};

class WindowsVersionProductTest
    : public WindowsVersionTest,
      public ::testing::WithParamInterface<std::tuple<product_entry, u32>> {};

TEST_P(WindowsVersionProductTest, PrefixGivesTheEntrysCode) {
  const product_entry& entry = std::get<0>(GetParam());
  const u32 bits = std::get<1>(GetParam());
  const u32 expected = bits == 32 ? entry.code_32 : entry.code_64;
  const std::u16string prefix = widen(entry.prefix);
  // The bare prefix, the prefix with an edition behind it, and the same in other letter case.
  for (const std::u16string& name : {prefix, prefix + u" Edition", upper(prefix + u" Edition")}) {
    product(name);
    EXPECT_EQ(windows_version::classify_windows(bits), expected)
        << "product name \"" << narrow(name) << "\"";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, WindowsVersionProductTest,
                         ::testing::Combine(::testing::ValuesIn(kProducts),
                                            ::testing::Values(32u, 64u)),
                         [](const auto& info) {
                           std::string name;
                           for (const char* p = std::get<0>(info.param).prefix; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name + "_" + std::to_string(std::get<1>(info.param));
                         });

// ---- Product names that a careless table order or comparison would misplace.

struct name_case {
  const char* name;
  std::u16string product;
  u32 bits;
  u32 expected;
};

class WindowsVersionNameTest : public WindowsVersionTest,
                               public ::testing::WithParamInterface<name_case> {};

TEST_P(WindowsVersionNameTest, Classifies) {
  const name_case& c = GetParam();
  product(c.product);
  EXPECT_EQ(windows_version::classify_windows(c.bits), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WindowsVersionNameTest,
    ::testing::Values(
        name_case{"Server2012R2Before2012", u"Windows Server 2012 R2 Datacenter", 64, 0x80000200},
        name_case{"Server2012R2Before2012On32", u"Windows Server 2012 R2 Standard", 32, 0x80000200},
        name_case{"Server2012", u"Windows Server 2012 Datacenter", 64, 0x80000080},
        name_case{"Server2008R2Before2008", u"Windows Server 2008 R2 Enterprise", 32, 0x80000020},
        name_case{"Server2008On32", u"Windows Server 2008 Standard", 32, 0x00000008},
        name_case{"Windows81Before8", u"Windows 8.1 Pro", 32, 0x00000100},
        name_case{"Windows81LowerCase", u"windows 8.1 pro", 32, 0x00000100},
        name_case{"Windows81UpperCase", u"WINDOWS 8.1 ENTERPRISE", 64, 0x80000100},
        name_case{"Windows8", u"Windows 8 Pro", 32, 0x00000040},
        name_case{"MultiPointMixedCase", u"Windows MultiPoint Server 2012", 64, 0x80000080},
        name_case{"UnnumberedServerIsBare", u"Windows Server Datacenter", 64, 0x80004000},
        name_case{"LaterServerIsBare", u"Windows Server 2025 Standard", 32, 0x80004000},
        name_case{"Server2003LowerCase", u"microsoft windows server 2003 r2", 64, 0x80000004},
        name_case{"Windows11IsFallback", u"Windows 11 Pro", 64, 0x80004000},
        name_case{"Windows11IsFallbackOn32", u"Windows 11 Pro", 32, 0x00000400},
        name_case{"XpWithoutMicrosoftIsFallback", u"Windows XP Professional", 64, 0x80004000},
        name_case{"ShorterThanBarePrefix", u"Windows Serve", 64, 0x80004000},
        name_case{"LeadingSpaceIsFallback", u" Windows 7", 64, 0x80004000},
        name_case{"OtherSystemIsFallback", u"ReactOS", 32, 0x00000400},
        name_case{"EmptyIsFallback", u"", 64, 0x80004000}),
    [](const ::testing::TestParamInfo<name_case>& info) { return std::string(info.param.name); });

// ---- Windows 10 and its release id.

struct release_case {
  const char* name;
  bool stored;
  std::u16string id;
  u32 expected_32;
  u32 expected_64;
};

class WindowsVersionReleaseTest : public WindowsVersionTest,
                                  public ::testing::WithParamInterface<release_case> {};

TEST_P(WindowsVersionReleaseTest, Windows10GenerationFollowsReleaseId) {
  const release_case& c = GetParam();
  product(u"Windows 10 Pro");
  if (c.stored) release(c.id);
  EXPECT_EQ(windows_version::classify_windows(32), c.expected_32);
  EXPECT_EQ(windows_version::classify_windows(64), c.expected_64);
}

INSTANTIATE_TEST_SUITE_P(
    Releases, WindowsVersionReleaseTest,
    ::testing::Values(release_case{"Release2003", true, u"2003", 0x400, 0x80000400},
                      release_case{"Release2004", true, u"2004", 0x800, 0x80000800},
                      release_case{"Release2009", true, u"2009", 0x800, 0x80000800},
                      release_case{"Missing", false, u"", 0x400, 0x80000400},
                      release_case{"LeadingSpace", true, u" 2004", 0x800, 0x80000800},
                      release_case{"PlusSign", true, u"+2004", 0x800, 0x80000800},
                      release_case{"Negative", true, u"-2004", 0x400, 0x80000400},
                      release_case{"Letters", true, u"abc", 0x400, 0x80000400},
                      release_case{"Empty", true, u"", 0x400, 0x80000400},
                      release_case{"DigitsThenLetters", true, u"2004abc", 0x800, 0x80000800},
                      release_case{"Huge", true, u"99999999999999999999", 0x800, 0x80000800},
                      release_case{"Release1909", true, u"1909", 0x400, 0x80000400}),
    [](const ::testing::TestParamInfo<release_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(WindowsVersionTest, ReleaseIdOnlyMattersForWindows10) {
  release(u"2004");
  product(u"Windows Server 2019 Standard");
  EXPECT_EQ(windows_version::classify_windows(64), 0x80002000u);
  product(u"Windows 8.1 Pro");
  EXPECT_EQ(windows_version::classify_windows(32), 0x100u);
  product(u"windows 10 enterprise");
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000800u);
}

TEST_F(WindowsVersionTest, UnreadableReleaseIdIsPlainWindows10) {
  product(u"Windows 10 Pro");
  release(u"2004");
  standin::fail(op::reg_query, 5, u"\\ReleaseId");
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000400u);
}

TEST_F(WindowsVersionTest, ReleaseIdOfFullBufferWithoutTerminator) {
  product(u"Windows 10 Pro");
  standin::set_string(kVersionKey, u"ReleaseId", u"2004" + std::u16string(256, u'0'), false);
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000800u);
}

TEST_F(WindowsVersionTest, ReleaseIdTooLongForTheBufferIsPlainWindows10) {
  product(u"Windows 10 Pro");
  standin::set_string(kVersionKey, u"ReleaseId", u"2004" + std::u16string(257, u' '), false);
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000400u);
}

// ---- What cannot be read gives the fallback: Windows 10 on 32 bits, the newest server on 64.

struct failure_case {
  const char* name;
  void (*arrange)();
};

class WindowsVersionFailureTest : public WindowsVersionTest,
                                  public ::testing::WithParamInterface<failure_case> {};

TEST_P(WindowsVersionFailureTest, GivesTheFallback) {
  GetParam().arrange();
  EXPECT_EQ(windows_version::classify_windows(32), 0x00000400u);
  EXPECT_EQ(windows_version::classify_windows(64), 0x80004000u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WindowsVersionFailureTest,
    ::testing::Values(
        failure_case{"NoKey", [] {}},
        failure_case{"NoProductName",
                     [] { standin::set_string(kVersionKey, u"ReleaseId", u"2004"); }},
        failure_case{"OpenRefused",
                     [] {
                       standin::set_string(kVersionKey, u"ProductName", u"Windows 7 Ultimate");
                       standin::fail(op::reg_open, 5, kVersionKey, 0, -1);
                     }},
        // Read access alone is not enough: the key is opened with full access.
        failure_case{"OnlyReadAccess",
                     [] {
                       standin::set_string(kVersionKey, u"ProductName", u"Windows 7 Ultimate");
                       standin::deny_write_access(kVersionKey);
                     }},
        failure_case{"ProductNameReadFails",
                     [] {
                       standin::set_string(kVersionKey, u"ProductName", u"Windows 7 Ultimate");
                       standin::fail(op::reg_query, 5, u"\\ProductName", 0, -1);
                     }},
        // 260 characters and a terminator are 522 bytes, more than the 520-byte buffer.
        failure_case{"ProductNameOf522Bytes",
                     [] {
                       standin::set_string(kVersionKey, u"ProductName",
                                           u"Windows 7 " + std::u16string(250, u'x'), true);
                     }},
        failure_case{"ProductNameOf522BytesWithoutTerminator",
                     [] {
                       standin::set_string(kVersionKey, u"ProductName",
                                           u"Windows 7 " + std::u16string(251, u'x'), false);
                     }}),
    [](const ::testing::TestParamInfo<failure_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(WindowsVersionTest, OpensTheKeyWithFullAccess) {
  product(u"Windows 7 Ultimate");
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000010u);
  ASSERT_EQ(standin::opens().size(), 1u);
  EXPECT_EQ(standin::opens()[0].path, kVersionKey);
  EXPECT_EQ(standin::opens()[0].access, platform::key_all_access);
}

// 520 bytes fill the buffer exactly with no terminator: the name is read and nothing past it.
TEST_F(WindowsVersionTest, ProductNameOf520BytesWithoutTerminator) {
  standin::set_string(kVersionKey, u"ProductName", u"Windows 7 " + std::u16string(250, u'x'),
                      false);
  EXPECT_EQ(windows_version::classify_windows(32), 0x00000010u);
  standin::set_string(kVersionKey, u"ProductName", std::u16string(260, u'W'), false);
  EXPECT_EQ(windows_version::classify_windows(32), 0x00000400u);
  EXPECT_EQ(windows_version::classify_windows(64), 0x80004000u);
}

TEST_F(WindowsVersionTest, ProductNameOf520BytesWithTerminator) {
  standin::set_string(kVersionKey, u"ProductName", u"Windows 7 " + std::u16string(249, u'x'), true);
  EXPECT_EQ(windows_version::classify_windows(64), 0x80000010u);
}

// ---- The gates on os_code.

struct gate_case {
  u32 os_code;
  bool windows_2000;
  bool windows_xp;
  bool windows_8_or_later;
  bool before_vista;
};

class WindowsVersionGateTest : public WindowsVersionTest,
                               public ::testing::WithParamInterface<gate_case> {};

TEST_P(WindowsVersionGateTest, Answers) {
  const gate_case& c = GetParam();
  EXPECT_EQ(windows_version::is_windows_2000(c.os_code), c.windows_2000);
  EXPECT_EQ(windows_version::is_windows_xp(c.os_code), c.windows_xp);
  EXPECT_EQ(windows_version::is_windows_8_or_later(c.os_code), c.windows_8_or_later);
  EXPECT_EQ(windows_version::is_before_vista(c.os_code), c.before_vista);
}

INSTANTIATE_TEST_SUITE_P(Codes, WindowsVersionGateTest,
                         ::testing::Values(gate_case{0x00000000, false, false, false, true},
                                           gate_case{0x80000000, false, false, false, true},
                                           gate_case{0x00000001, true, false, false, true},
                                           gate_case{0x80000001, false, false, false, true},
                                           gate_case{0x00000002, false, true, false, true},
                                           gate_case{0x80000002, false, true, false, true},
                                           gate_case{0x00000003, false, false, false, true},
                                           gate_case{0x80000004, false, false, false, true},
                                           gate_case{0x80000007, false, false, false, true},
                                           gate_case{0x00000008, false, false, false, false},
                                           gate_case{0x80000008, false, false, false, false},
                                           gate_case{0x80000020, false, false, false, false},
                                           gate_case{0x0000003F, false, false, false, false},
                                           gate_case{0x00000040, false, false, true, false},
                                           gate_case{0x80000040, false, false, true, false},
                                           gate_case{0x80000080, false, false, true, false},
                                           gate_case{0x00000800, false, false, true, false},
                                           gate_case{0x80004000, false, false, true, false},
                                           gate_case{0xFFFFFFFF, false, false, true, false}),
                         [](const ::testing::TestParamInfo<gate_case>& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Code%08X", info.param.os_code);
                           return std::string(name);
                         });

}  // namespace
