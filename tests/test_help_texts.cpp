// Tests of the help texts: which text each help kind gets, their paragraphs and line breaks.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "resources/help_texts.h"

namespace {

const std::u16string kBreak = u"\r\n\r\n";

std::vector<std::u16string> paragraphs(const std::u16string& text) {
  std::vector<std::u16string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = text.find(kBreak, start);
    out.push_back(text.substr(start, at == std::u16string::npos ? at : at - start));
    if (at == std::u16string::npos) return out;
    start = at + kBreak.size();
  }
}

const char16_t kXenFirst[] =
    u"Disk - can be All, xvd<x>, and None.  When set to All, the disk driver will control all "
    u"hard disks presented to the VM.  If set to xvd<x>, the disk driver will only control disk "
    u"that are specified as xvd<x> in the VM's config file.  <x> is a letter beginning with "
    u"'e'.  If set to None, the disk driver will not control any hard disks presented the the "
    u"VM.  The default is All.";
const char16_t kTcpFirst[] =
    u"TCP Options: Enable - When checked, the options are turned on and are allow to be "
    u"modified.  Unchecking the box will remove the options.";
const char16_t kSerialMsiFirst[] =
    u"Serial MSI - If checked, MSI interrupts will be used.  If not checked, regular interrupts "
    u"are used (default).  If there is a possiblity that the VM will hibernate, do not use MSI "
    u"interrupts.  MSI interrupts are not available after a hibernate.";

// Paragraphs 12 to 16 of the Xen text, which end all three texts.
const std::vector<std::u16string> kTcpValueParagraphs = {
    u"DefaultSendWindow - Number of bytes for the default send window.  When enabled, the "
    u"default is 1048576.",
    u"DefaultReceiveWindow - Number of bytes for the default receive window.  When enabled, the "
    u"default is 1048576.",
    u"TcpWindowSize - Number of bytes for the default tcp window.  When enabled, the default is "
    u"1048576.",
    u"Tcp1323Opts - Controls the tcp 1323 options.  When enabled, the default is 1.",
    u"FastSendDataThreshold - Number of bytes for the fast send data threshold.  When enabled, "
    u"the default is 16384.",
};

struct kind_case {
  platform::u32 kind;
  std::size_t paragraph_count;
  const char16_t* first_paragraph;
};

TEST(HelpTexts, EachKindGetsItsTextAndUnknownKindsGetTheXenText) {
  const kind_case cases[] = {
      {1, 16, kXenFirst}, {2, 6, kTcpFirst},  {3, 7, kSerialMsiFirst},
      {0, 16, kXenFirst}, {4, 16, kXenFirst}, {0xFFFFFFFFu, 16, kXenFirst},
  };
  for (const kind_case& c : cases) {
    SCOPED_TRACE("help kind " + std::to_string(c.kind));
    const char16_t* text = resources::help_text(c.kind);
    ASSERT_NE(text, nullptr);
    std::vector<std::u16string> parts = paragraphs(text);
    EXPECT_EQ(parts.size(), c.paragraph_count);
    EXPECT_EQ(parts.front(), c.first_paragraph);
  }
}

TEST(HelpTexts, LineBreaksOnlyJoinParagraphs) {
  for (platform::u32 kind : {1u, 2u, 3u}) {
    SCOPED_TRACE("help kind " + std::to_string(kind));
    std::u16string text = resources::help_text(kind);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), u'\r');
    EXPECT_NE(text.back(), u'\n');
    for (const std::u16string& part : paragraphs(text)) {
      EXPECT_FALSE(part.empty()) << "three or more line breaks in a row";
      EXPECT_EQ(part.find_first_of(u"\r\n"), std::u16string::npos)
          << "a line break inside: " << std::string(part.begin(), part.end());
    }
  }
}

TEST(HelpTexts, TcpParagraphsAreSharedByAllThreeTexts) {
  std::vector<std::u16string> xen = paragraphs(resources::help_text(1));
  std::vector<std::u16string> tcp = paragraphs(resources::help_text(2));
  std::vector<std::u16string> serial = paragraphs(resources::help_text(3));
  ASSERT_EQ(xen.size(), 16u);
  ASSERT_EQ(tcp.size(), 6u);
  ASSERT_EQ(serial.size(), 7u);

  EXPECT_EQ(std::vector<std::u16string>(xen.begin() + 11, xen.end()), kTcpValueParagraphs);
  EXPECT_EQ(std::vector<std::u16string>(tcp.begin() + 1, tcp.end()), kTcpValueParagraphs);
  EXPECT_EQ(std::vector<std::u16string>(serial.begin() + 1, serial.end()), tcp);
  // The Xen text words its Enable paragraph differently from the TCP text.
  EXPECT_NE(xen[10], tcp[0]);
}

}  // namespace
