// Tests of hypervisor detection from the CPUID signatures and the firmware manufacturer.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "probes/hypervisor.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::op;

const std::u16string kBiosKey = u"HARDWARE\\DESCRIPTION\\System\\BIOS";
constexpr u32 kBaseLeaf = 0x40000000;
constexpr u32 kBehindLeaf = 0x40000100;

class HypervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
  }
  void TearDown() override { EXPECT_EQ(standin::open_key_count(), 0); }

  static bool firmware_consulted() {
    for (const standin::open_record& r : standin::opens()) {
      if (r.path == kBiosKey) return true;
    }
    return false;
  }
};

// ---- detect_hypervisor

struct detect_case {
  const char* name;
  std::optional<std::string> base;    // signature at 0x40000000
  std::optional<std::string> behind;  // signature at 0x40000100
  std::optional<std::u16string> manufacturer;
  u32 expected;
  bool asks_behind;
  bool reads_firmware;
};

class HypervisorDetectTest : public HypervisorTest,
                             public ::testing::WithParamInterface<detect_case> {};

TEST_P(HypervisorDetectTest, Detects) {
  const detect_case& c = GetParam();
  if (c.base) standin::set_cpuid_signature(kBaseLeaf, *c.base);
  if (c.behind) standin::set_cpuid_signature(kBehindLeaf, *c.behind);
  if (c.manufacturer) standin::set_string(kBiosKey, u"SystemManufacturer", *c.manufacturer);

  EXPECT_EQ(hypervisor::detect_hypervisor(), c.expected);

  // Leaf 0x40000000 first and without any other leaf before it; 0x40000100 only behind Hyper-V.
  const std::vector<u32> expected_leaves =
      c.asks_behind ? std::vector<u32>{kBaseLeaf, kBehindLeaf} : std::vector<u32>{kBaseLeaf};
  EXPECT_EQ(standin::cpuid_leaves_asked(), expected_leaves);
  EXPECT_EQ(firmware_consulted(), c.reads_firmware);
}

const std::string kKvmPadded("KVMKVMKVM\0\0\0", 12);
const std::string kKvmTailAfterZero("KVMKVMKVM\0AB", 12);

INSTANTIATE_TEST_SUITE_P(
    Signatures, HypervisorDetectTest,
    ::testing::Values(
        detect_case{"Xen", "XenVMMXenVMM", {}, u"QEMU", 1, false, false},
        detect_case{"KvmWithTrailingZeros", kKvmPadded, {}, u"Xen", 2, false, false},
        // Ten bytes are compared: what follows the zero after the nine letters does not matter.
        detect_case{"KvmWithBytesAfterTheZero", kKvmTailAfterZero, {}, {}, 2, false, false},
        detect_case{"TwelveKvmLettersIsNotKvm", "KVMKVMKVMKVM", {}, u"QEMU", 0, false, false},
        detect_case{"XenLowerCaseIsNothing", "xenvmmxenvmm", {}, {}, 0, false, false},
        detect_case{"XenCutShortIsNothing", "XenVMMXenVM", {}, {}, 0, false, false},
        detect_case{"NoHypervisor", {}, {}, u"QEMU", 0, false, false},
        detect_case{"UnknownSignature", "VMwareVMware", {}, u"Xen", 0, false, false},
        detect_case{"ShimAtBaseLeafIsXen", "FenlowShimHv", {}, u"QEMU", 1, false, false},
        detect_case{"HyperVFrontWithXenBehind", "Microsoft Hv", "XenVMMXenVMM", u"QEMU", 1, true,
                    false},
        detect_case{"HyperVFrontWithKvmBehind", "Microsoft Hv", kKvmPadded, u"Xen", 2, true, false},
        detect_case{"HyperVFrontWithTwelveKvmLettersBehind",
                    "Microsoft Hv",
                    "KVMKVMKVMKVM",
                    {},
                    0,
                    true,
                    true},
        detect_case{
            "HyperVFrontNothingBehindQemuFirmware", "Microsoft Hv", {}, u"QEMU", 2, true, true},
        detect_case{
            "HyperVFrontNothingBehindXenFirmware", "Microsoft Hv", {}, u"Xen", 1, true, true},
        detect_case{
            "HyperVFrontNothingBehindOtherFirmware", "Microsoft Hv", {}, u"Dell", 0, true, true},
        detect_case{"HyperVFrontNothingBehindNoFirmwareKey", "Microsoft Hv", {}, {}, 0, true, true},
        // A manufacturer of 8 characters is 18 bytes with its terminator: too long for the buffer.
        detect_case{
            "HyperVFrontNothingBehindLongFirmware", "Microsoft Hv", {}, u"QEMU Inc", 0, true, true},
        // The shim is recognised only at the base leaf.
        detect_case{"ShimBehindHyperVGoesToFirmware", "Microsoft Hv", "FenlowShimHv", u"QEMU", 2,
                    true, true},
        detect_case{"ShimBehindHyperVWithoutFirmwareIsNothing",
                    "Microsoft Hv",
                    "FenlowShimHv",
                    {},
                    0,
                    true,
                    true},
        detect_case{"HyperVBehindHyperV", "Microsoft Hv", "Microsoft Hv", u"Xen", 1, true, true}),
    [](const ::testing::TestParamInfo<detect_case>& info) { return std::string(info.param.name); });

// The front's maximum leaf (EAX) is not consulted: 0x40000100 is asked all the same.
TEST_F(HypervisorTest, LooksBehindHyperVWhateverItsMaximumLeaf) {
  u32 regs[3];
  std::memcpy(regs, "Microsoft Hv", 12);
  standin::set_cpuid(kBaseLeaf, 0x40000005, regs[0], regs[1], regs[2]);
  standin::set_cpuid_signature(kBehindLeaf, "XenVMMXenVMM");
  EXPECT_EQ(hypervisor::detect_hypervisor(), 1u);
  EXPECT_EQ(standin::cpuid_leaves_asked(), (std::vector<u32>{kBaseLeaf, kBehindLeaf}));
}

// ---- firmware_hypervisor_kind

struct firmware_case {
  const char* name;
  std::u16string manufacturer;
  bool terminated;
  u32 expected;
  std::size_t cut = 0;  // bytes dropped from the end of the stored data
};

class HypervisorFirmwareTest : public HypervisorTest,
                               public ::testing::WithParamInterface<firmware_case> {};

TEST_P(HypervisorFirmwareTest, Classifies) {
  const firmware_case& c = GetParam();
  standin::set_string(kBiosKey, u"SystemManufacturer", c.manufacturer, c.terminated);
  standin::value stored = *standin::get_value(kBiosKey, u"SystemManufacturer");
  stored.data.resize(stored.data.size() - c.cut);
  standin::set_value(kBiosKey, u"SystemManufacturer", stored.type, stored.data);
  EXPECT_EQ(hypervisor::firmware_hypervisor_kind(), c.expected);
  ASSERT_EQ(standin::opens().size(), 1u);
  EXPECT_EQ(standin::opens()[0].path, kBiosKey);
  EXPECT_EQ(standin::opens()[0].access, platform::key_all_access);
}

INSTANTIATE_TEST_SUITE_P(
    Manufacturers, HypervisorFirmwareTest,
    ::testing::Values(
        firmware_case{"Qemu", u"QEMU", true, 2}, firmware_case{"Xen", u"Xen", true, 1},
        firmware_case{"XenIsCaseSensitive", u"xen", true, 0},
        firmware_case{"QemuIsCaseSensitive", u"qemu", true, 0},
        firmware_case{"QemuWinsOverXen", u"XenQEMU", true, 2},
        firmware_case{"XenInsideSevenCharacters", u"HVM Xen", true, 1},
        firmware_case{"QemuInsideSevenCharacters", u"a QEMU.", true, 2},
        firmware_case{"XenWithoutTerminator", u"Xen", false, 1},
        firmware_case{"Other", u"Dell", true, 0}, firmware_case{"Empty", u"", true, 0},
        firmware_case{"EightCharactersWithTerminator", u"QEMUQEMU", true, 0},
        firmware_case{"EightCharactersWithTerminatorXen", u"Xen Corp", true, 0},
        firmware_case{"SixteenCharacters", u"QEMU Xen Project", true, 0},
        firmware_case{"SixteenCharactersWithoutTerminator", u"QEMU Xen Project", false, 0},
        // The buffer is zero-filled: an odd last byte is a character with the zero above it.
        firmware_case{"XenOfFiveBytes", u"Xen", false, 1, 1},
        firmware_case{"QemuOfSevenBytes", u"QEMU", false, 2, 1},
        firmware_case{"QemuEndingFifteenBytes", u"abcQEMU", false, 2, 1},
        firmware_case{"SeventeenBytesDoNotFit", u"QEMUQEMU", true, 0, 1}),
    [](const ::testing::TestParamInfo<firmware_case>& info) {
      return std::string(info.param.name);
    });

// Exactly 16 bytes and no terminator fill the buffer: the search may find the name in those bytes
// but must not look past them (the sanitizers watch the read).
TEST_F(HypervisorTest, FirmwareNameFillingTheBuffer) {
  struct fill_case {
    std::u16string text;
    u32 found;
  };
  for (const fill_case& c :
       {fill_case{u"QEMUQEMU", 2}, fill_case{u"ABCDEXen", 1}, fill_case{u"ABCDEFGH", 0}}) {
    standin::set_string(kBiosKey, u"SystemManufacturer", c.text, false);
    const u32 kind = hypervisor::firmware_hypervisor_kind();
    EXPECT_TRUE(kind == 0 || kind == c.found) << "kind " << kind;
  }
}

struct firmware_failure_case {
  const char* name;
  void (*arrange)();
};

class HypervisorFirmwareFailureTest : public HypervisorTest,
                                      public ::testing::WithParamInterface<firmware_failure_case> {
};

TEST_P(HypervisorFirmwareFailureTest, GivesNone) {
  GetParam().arrange();
  EXPECT_EQ(hypervisor::firmware_hypervisor_kind(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HypervisorFirmwareFailureTest,
    ::testing::Values(
        firmware_failure_case{"NoKey", [] {}},
        firmware_failure_case{"NoValue",
                              [] { standin::set_string(kBiosKey, u"BIOSVendor", u"QEMU"); }},
        firmware_failure_case{"OpenRefused",
                              [] {
                                standin::set_string(kBiosKey, u"SystemManufacturer", u"QEMU");
                                standin::fail(op::reg_open, 5, kBiosKey);
                              }},
        // The key is opened with full access, which a read-only key refuses.
        firmware_failure_case{"OnlyReadAccess",
                              [] {
                                standin::set_string(kBiosKey, u"SystemManufacturer", u"QEMU");
                                standin::deny_write_access(kBiosKey);
                              }},
        firmware_failure_case{"ReadFails",
                              [] {
                                standin::set_string(kBiosKey, u"SystemManufacturer", u"Xen");
                                standin::fail(op::reg_query, 5, u"\\SystemManufacturer");
                              }}),
    [](const ::testing::TestParamInfo<firmware_failure_case>& info) {
      return std::string(info.param.name);
    });

}  // namespace
