// Tests of the numeric field rule, the Default button reset and the TCP Enable box on the record.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "core/app_state.h"
#include "core/settings.h"
#include "core/text.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using settings::ABSENT;
using settings::control_settings;

constexpr u32 kInvalid = 1011;
constexpr u32 kBelowMinimum = 1012;
constexpr u32 kAboveMaximum = 1013;
constexpr u32 kNoMessage = 0;
constexpr u32 kMax = 0xFFFFFFFFu;

class FieldRuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
  }
};

// ---- Typed text through the edit rule and the field rule together.

struct field_case {
  const char* name;
  std::u16string typed;
  u32 min;
  u32 max;
  u32 last_good;
  bool parsed;
  u32 value;
  bool accepted;
  u32 message;
};

class FieldRuleTypedTest : public FieldRuleTest,
                           public ::testing::WithParamInterface<field_case> {};

TEST_P(FieldRuleTypedTest, GivesValueAcceptanceAndMessage) {
  const field_case& c = GetParam();
  // Whatever the parser leaves behind on a refusal must not leak into the result.
  u32 number = 7;
  const bool parsed = text::parse_unsigned_decimal(c.typed.c_str(), &number);
  EXPECT_EQ(parsed, c.parsed);
  const settings::field_result r =
      settings::validate_field(parsed, number, c.min, c.max, c.last_good);
  EXPECT_EQ(r.value, c.value);
  EXPECT_EQ(r.accepted, c.accepted);
  EXPECT_EQ(r.message_id, c.message);
}

// Grant frames 4..32, max disks 1..256, shutdown delay and timeout 0..4294967295,
// TCP 1..4294967295.
INSTANTIATE_TEST_SUITE_P(
    Fields, FieldRuleTypedTest,
    ::testing::Values(
        field_case{"GrantFramesBelowMinimum", u"3", 4, 32, 10, true, 4, false, kBelowMinimum},
        field_case{"GrantFramesAboveMaximum", u"33", 4, 32, 10, true, 32, false, kAboveMaximum},
        field_case{"GrantFramesAtMaximum", u"32", 4, 32, 10, true, 32, true, kNoMessage},
        field_case{"GrantFramesAtMinimum", u"4", 4, 32, 10, true, 4, true, kNoMessage},
        field_case{"EmptyKeepsLastGood", u"", 4, 32, 17, false, 17, false, kInvalid},
        field_case{"LettersKeepLastGood", u"abc", 4, 32, 17, false, 17, false, kInvalid},
        field_case{"OnlySpacesKeepLastGood", u"   ", 4, 32, 17, false, 17, false, kInvalid},
        field_case{"LeadingSpacesAccepted", u" 12", 4, 32, 10, true, 12, true, kNoMessage},
        field_case{"TrailingSpaceRefused", u"12 ", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"DigitsThenLetterRefused", u"12a", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"PlusSignRefused", u"+5", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"MinusSignRefused", u"-5", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"HexRefused", u"0x10", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"LeadingTabRefused", u"\t5", 4, 32, 9, false, 9, false, kInvalid},
        field_case{"LeadingZerosAccepted", u"00000000000012", 4, 32, 10, true, 12, true,
                   kNoMessage},
        // last_good is whatever the field holds, even a value outside the bounds.
        field_case{"LastGoodOutOfBoundsKept", u"x", 4, 32, 99, false, 99, false, kInvalid},
        field_case{"MaxDisksZero", u"0", 1, 256, 32, true, 1, false, kBelowMinimum},
        field_case{"MaxDisksAboveMaximum", u"257", 1, 256, 32, true, 256, false, kAboveMaximum},
        field_case{"MaxDisksAtMaximum", u"256", 1, 256, 32, true, 256, true, kNoMessage},
        field_case{"ShutdownDelayZero", u"0", 0, kMax, 5, true, 0, true, kNoMessage},
        field_case{"ShutdownDelayLargest", u"4294967295", 0, kMax, 5, true, kMax, true, kNoMessage},
        field_case{"ShutdownDelayOneMoreIsNotANumber", u"4294967296", 0, kMax, 5, false, 5, false,
                   kInvalid},
        field_case{"ElevenDigitsIsNotANumber", u"99999999999", 0, kMax, 5, false, 5, false,
                   kInvalid},
        field_case{"TcpZeroBelowMinimum", u"0", 1, kMax, ABSENT, true, 1, false, kBelowMinimum},
        field_case{"TcpLargestIsAbsent", u"4294967295", 1, kMax, 65536, true, ABSENT, true,
                   kNoMessage},
        field_case{"TcpGarbageKeepsAbsent", u"big", 1, kMax, ABSENT, false, ABSENT, false,
                   kInvalid}),
    [](const ::testing::TestParamInfo<field_case>& info) { return std::string(info.param.name); });

// ---- The Default button.

std::array<u32, 14> fields_of(const control_settings& s) {
  return {s.use_pv_drivers,
          s.orvane_flags,
          s.grant_frames,
          s.max_disks,
          s.shutdown_delay,
          s.timeout,
          s.tcp_enabled,
          s.default_send_window,
          s.default_receive_window,
          s.fast_send_datagram_threshold,
          s.tcp_window_size,
          s.tcp1323_opts,
          s.hv_kind,
          s.msi_supported};
}

// A working copy where every field holds something no rule would produce.
control_settings edited_record() {
  control_settings s{};
  s.use_pv_drivers = 0x2C01;
  s.orvane_flags = 0x8;
  s.grant_frames = 20;
  s.max_disks = 200;
  s.shutdown_delay = 30;
  s.timeout = 40;
  s.tcp_enabled = 1;
  s.default_send_window = 111;
  s.default_receive_window = 222;
  s.fast_send_datagram_threshold = 333;
  s.tcp_window_size = 444;
  s.tcp1323_opts = 3;
  s.hv_kind = 1;
  s.msi_supported = 1;
  return s;
}

struct defaults_case {
  const char* name;
  u32 snapshot_flags;
  u32 os_code;
  u32 expected_flags;
  bool tcp_reset;
};

class FieldRuleDefaultsTest : public FieldRuleTest,
                              public ::testing::WithParamInterface<defaults_case> {};

TEST_P(FieldRuleDefaultsTest, ResetsTheWorkingCopy) {
  const defaults_case& c = GetParam();
  control_settings snapshot = edited_record();
  snapshot.orvane_flags = c.snapshot_flags;
  const std::array<u32, 14> snapshot_before = fields_of(snapshot);
  control_settings working = edited_record();

  settings::apply_defaults(working, snapshot, c.os_code);

  control_settings expected = edited_record();
  expected.use_pv_drivers = 3;
  expected.orvane_flags = c.expected_flags;
  expected.grant_frames = 10;
  expected.max_disks = 32;
  expected.shutdown_delay = 0;
  expected.timeout = 0;
  expected.msi_supported = 0;
  if (c.tcp_reset) {
    expected.tcp_enabled = 0;
    expected.default_send_window = ABSENT;
    expected.default_receive_window = ABSENT;
    expected.fast_send_datagram_threshold = ABSENT;
    expected.tcp_window_size = ABSENT;
    expected.tcp1323_opts = ABSENT;
  }
  EXPECT_EQ(fields_of(working), fields_of(expected));
  EXPECT_EQ(fields_of(snapshot), snapshot_before);
}

// The flags come from the snapshot (the working copy holds 0x8 throughout).
INSTANTIATE_TEST_SUITE_P(
    Cases, FieldRuleDefaultsTest,
    ::testing::Values(defaults_case{"InstanceIdsAndOneController", 0x9, 0x80000800, 0x5, true},
                      defaults_case{"UnknownBitKept", 0x10, 0x80000800, 0x14, true},
                      defaults_case{"NoFlags", 0x0, 0x80000800, 0x4, true},
                      defaults_case{"BallooningAlreadyOn", 0x4, 0x10, 0x4, true},
                      defaults_case{"AllBits", 0xFFFFFFFF, 0x2, 0xFFFFFFF7, true},
                      defaults_case{"NotClassified", 0x1, 0, 0x5, true},
                      defaults_case{"Windows2000KeepsTcp", 0x9, 1, 0x5, false},
                      defaults_case{"Windows2000WithBit31IsNotWindows2000", 0x9, 0x80000001, 0x5,
                                    true}),
    [](const ::testing::TestParamInfo<defaults_case>& info) {
      return std::string(info.param.name);
    });

// ---- The TCP Enable box.

struct tcp_box_case {
  const char* name;
  u32 os_code;
  bool windows_2000;
};

class FieldRuleTcpBoxTest : public FieldRuleTest,
                            public ::testing::WithParamInterface<tcp_box_case> {};

TEST_P(FieldRuleTcpBoxTest, EnableInstallsTheTcpDefaults) {
  const tcp_box_case& c = GetParam();
  control_settings working = edited_record();
  working.tcp_enabled = 0;
  settings::enable_tcp(working, c.os_code);

  control_settings expected = edited_record();
  expected.tcp_enabled = 0;
  if (!c.windows_2000) {
    expected.tcp_enabled = 1;
    expected.default_send_window = 1048576;
    expected.default_receive_window = 1048576;
    expected.tcp_window_size = 1048576;
    expected.fast_send_datagram_threshold = 16384;
    expected.tcp1323_opts = 1;
  }
  EXPECT_EQ(fields_of(working), fields_of(expected));
}

TEST_P(FieldRuleTcpBoxTest, DisableClearsTheTcpFields) {
  const tcp_box_case& c = GetParam();
  control_settings working = edited_record();
  settings::disable_tcp(working, c.os_code);

  control_settings expected = edited_record();
  expected.tcp_enabled = 0;
  if (!c.windows_2000) {
    expected.default_send_window = ABSENT;
    expected.default_receive_window = ABSENT;
    expected.fast_send_datagram_threshold = ABSENT;
    expected.tcp_window_size = ABSENT;
    expected.tcp1323_opts = ABSENT;
  }
  EXPECT_EQ(fields_of(working), fields_of(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, FieldRuleTcpBoxTest,
    ::testing::Values(tcp_box_case{"Windows2000", 1, true},
                      tcp_box_case{"Bit31WithWindows2000Bit", 0x80000001, false},
                      tcp_box_case{"NotClassified", 0, false}, tcp_box_case{"WindowsXp", 2, false},
                      tcp_box_case{"Windows10Release2004", 0x80000800, false}),
    [](const ::testing::TestParamInfo<tcp_box_case>& info) {
      return std::string(info.param.name);
    });

}  // namespace
