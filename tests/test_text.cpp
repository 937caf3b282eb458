// Tests of the bounded string routines at a buffer's edge: append, contains, prefix compare.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/text.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;

// A heap buffer of exactly the given units, so that the sanitizers see any access beyond it.
std::unique_ptr<char16_t[]> exact_buffer(const std::u16string& units) {
  std::unique_ptr<char16_t[]> buffer(new char16_t[units.size() == 0 ? 1 : units.size()]);
  for (std::size_t i = 0; i < units.size(); ++i) buffer[i] = units[i];
  return buffer;
}

std::string narrow(const char16_t* s) {
  std::string out;
  for (; *s != 0; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
  return out;
}

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
  }
};

// ---- append

struct append_case {
  const char* name;
  std::u16string dest;  // every unit of the destination buffer, terminators included
  std::u16string src;
  std::string expected;
  bool complete;
};

class TextAppendTest : public TextTest, public ::testing::WithParamInterface<append_case> {};

TEST_P(TextAppendTest, CutsAndTerminates) {
  const append_case& c = GetParam();
  const u32 units = static_cast<u32>(c.dest.size());
  std::unique_ptr<char16_t[]> dest = exact_buffer(c.dest);
  EXPECT_EQ(text::append(dest.get(), units, c.src.c_str()), c.complete);
  EXPECT_EQ(narrow(dest.get()), c.expected);
  EXPECT_EQ(text::length(dest.get(), units), c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextAppendTest,
    ::testing::Values(
        append_case{"Fits", std::u16string(u"ab\0?????", 8), u"cd", "abcd", true},
        append_case{"FitsExactly", std::u16string(u"ab\0??", 5), u"cd", "abcd", true},
        append_case{"CutAtLastUnit", std::u16string(u"ab\0??", 5), u"cdef", "abcd", false},
        append_case{"FullDestination", std::u16string(u"abcd\0", 5), u"e", "abcd", false},
        append_case{"OneUnitTakesNothing", std::u16string(u"\0", 1), u"x", "", false},
        append_case{"EmptySource", std::u16string(u"ab\0?", 4), u"", "ab", true},
        append_case{"EmptyIntoEmpty", std::u16string(u"\0", 1), u"", "", true},
        // No terminator anywhere: the text is cut at the last unit.
        append_case{"DestinationWithoutTerminator", u"wxyz", u"q", "wxy", false},
        append_case{"OneUnitWithoutTerminator", u"w", u"q", "", false}),
    [](const ::testing::TestParamInfo<append_case>& info) { return std::string(info.param.name); });

TEST_F(TextTest, AppendIntoNoRoomTouchesNothing) {
  char16_t dest[1] = {u'w'};
  EXPECT_FALSE(text::append(dest, 0, u"q"));
  EXPECT_EQ(dest[0], u'w');
}

// ---- contains

struct contains_case {
  const char* name;
  std::u16string text;  // every unit of the buffer
  u32 limit;
  std::u16string needle;
  bool found;
};

class TextContainsTest : public TextTest, public ::testing::WithParamInterface<contains_case> {};

TEST_P(TextContainsTest, SearchesWithinTheLimit) {
  const contains_case& c = GetParam();
  std::unique_ptr<char16_t[]> s = exact_buffer(c.text);
  EXPECT_EQ(text::contains(s.get(), c.limit, c.needle.c_str()), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextContainsTest,
    ::testing::Values(
        contains_case{"Found", std::u16string(u"abQEMU\0", 7), 7, u"QEMU", true},
        contains_case{"AtStart", std::u16string(u"Xen\0", 4), 4, u"Xen", true},
        contains_case{"CaseSensitive", std::u16string(u"xen\0", 4), 4, u"Xen", false},
        contains_case{"BeyondTheLimit", std::u16string(u"abcQEMU\0", 8), 3, u"QEMU", false},
        contains_case{"StraddlingTheLimit", std::u16string(u"abQEMU\0", 7), 5, u"QEMU", false},
        contains_case{"EndingAtTheLimit", std::u16string(u"abQEMUxx\0", 9), 6, u"QEMU", true},
        contains_case{"AfterATerminator", std::u16string(u"ab\0QEMU\0", 8), 8, u"QEMU", false},
        contains_case{"NeedleLongerThanText", std::u16string(u"QEM\0", 4), 4, u"QEMU", false},
        // Buffers without a terminator, exactly limit units long.
        contains_case{"UnterminatedFound", u"ABCDEXen", 8, u"Xen", true},
        contains_case{"UnterminatedNotFound", u"ABCDEFGH", 8, u"Xen", false},
        contains_case{"UnterminatedPartialAtEnd", u"ABCDEFXe", 8, u"Xen", false}),
    [](const ::testing::TestParamInfo<contains_case>& info) {
      return std::string(info.param.name);
    });

// ---- starts_with_ignore_case

struct prefix_case {
  const char* name;
  std::u16string text;  // every unit of the buffer, terminator included
  std::u16string prefix;
  bool matches;
};

class TextPrefixTest : public TextTest, public ::testing::WithParamInterface<prefix_case> {};

TEST_P(TextPrefixTest, ComparesOverThePrefix) {
  const prefix_case& c = GetParam();
  std::unique_ptr<char16_t[]> s = exact_buffer(c.text);
  EXPECT_EQ(text::starts_with_ignore_case(s.get(), c.prefix.c_str()), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextPrefixTest,
    ::testing::Values(
        prefix_case{"SameCase", std::u16string(u"Windows 10 Pro\0", 15), u"Windows 10", true},
        prefix_case{"OtherCase", std::u16string(u"WINDOWS 10 PRO\0", 15), u"windows 10", true},
        prefix_case{"Equal", std::u16string(u"Windows 8\0", 10), u"WINDOWS 8", true},
        // The text ends inside the prefix: no match, and nothing past the terminator is read.
        prefix_case{"PrefixLongerThanText", std::u16string(u"Windows\0", 8), u"Windows 10", false},
        prefix_case{"EmptyText", std::u16string(u"\0", 1), u"W", false},
        prefix_case{"EmptyPrefix", std::u16string(u"abc\0", 4), u"", true},
        prefix_case{"DiffersInLastUnit", std::u16string(u"Windows 11\0", 11), u"Windows 10", false},
        // Only letters fold: '@' and '`' sit next to 'A' and 'a' but are not their other case.
        prefix_case{"OnlyLettersFold", std::u16string(u"@\0", 2), u"`", false}),
    [](const ::testing::TestParamInfo<prefix_case>& info) { return std::string(info.param.name); });

}  // namespace
