#include <gtest/gtest.h>

#include "qninet/rtl/SysUtils.h"

using namespace qninet;

// Characters beyond the basic plane round-trip; malformed UTF-8 becomes replacement characters;
// bytes carry zero and high values one per unit, and only the low byte goes on the wire.
TEST(TextConversion, Utf8AndBytes) {
  const std::string text = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC";
  EXPECT_EQ(FromUtf8(text), u"caf\u00E9 \U0001F600 \u20AC");
  EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
  EXPECT_EQ(FromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD");        // overlong
  EXPECT_EQ(FromUtf8("\xED\xA0\x80x"), u"\uFFFDx");  // encoded surrogate
  EXPECT_EQ(ToUtf8(String(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  const std::string bytes("\x00\xFF\x80z", 4);
  EXPECT_EQ(FromBytes(bytes), String(u"\u0000\u00FF\u0080z", 4));
  EXPECT_EQ(ToBytes(FromBytes(bytes)), bytes);
  EXPECT_EQ(ToBytes(u"\u0141"), "\x41");
}

TEST(FormatPatterns, ReplacesInOrderAndKeepsLiteralPercent) {
  EXPECT_EQ(Format(u"Downloaded %d of %d bytes (%d%%)", 5, 10, 50), u"Downloaded 5 of 10 bytes (50%)");
  EXPECT_EQ(Format(u"%s=%d", String(u"a"), Int64{-7}), u"a=-7");
  EXPECT_EQ(Format(u"%d and %d", 1), u"1 and %d");
  EXPECT_EQ(Format(u"100%"), u"100%");
}

TEST(NumberReading, StrToIntDefRejectsJunkAndOverflow) {
  EXPECT_EQ(StrToIntDef(u" 42 ", 0), 42);
  EXPECT_EQ(StrToIntDef(u"-17", 0), -17);
  EXPECT_EQ(StrToIntDef(u"4x2", -1), -1);
  EXPECT_EQ(StrToIntDef(u"", -1), -1);
  EXPECT_EQ(StrToIntDef(u"2147483648", -1), -1);
  EXPECT_EQ(StrToIntDef(u"-2147483648", 0), -2147483647 - 1);
  EXPECT_EQ(StrToInt64Def(u"9223372036854775808", 3), 3);
  EXPECT_THROW(StrToInt(u"abc"), EConvertError);
}

TEST(PathParts, ExtensionComesFromTheLastComponentOnly) {
  EXPECT_EQ(ExtractFileExt(u"/a.b/c.tar.gz"), u".gz");
  EXPECT_EQ(ExtractFileExt(u"/a.b/c"), u"");
  EXPECT_EQ(ExtractFileName(u"/x/y/z.txt"), u"z.txt");
  EXPECT_EQ(ExtractFilePath(u"/x/y/z.txt"), u"/x/y/");
  EXPECT_EQ(ChangeFileExt(u"/opt/my.app/run.bin", u".sh"), u"/opt/my.app/run.sh");
  EXPECT_EQ(ChangeFileExt(u"/opt/my.app/run", u".sh"), u"/opt/my.app/run.sh");
}

TEST(TextHelpers, CaseAndSearch) {
  EXPECT_TRUE(SameText(u"Content-Type", u"content-TYPE"));
  EXPECT_FALSE(SameText(u"abc", u"abcd"));
  EXPECT_EQ(Pos(u"b", u"abcb"), 2u);
  EXPECT_EQ(Pos(u"b", u"abcb", 3), 4u);
  EXPECT_EQ(Pos(u"z", u"abc"), 0u);
  EXPECT_EQ(StringReplaceAll(u"a-b-c", u"-", u"+-"), u"a+-b+-c");
  EXPECT_EQ(Trim(u" \t x y \r\n"), u"x y");
}

TEST(Exceptions, WhatGivesTheUtf8FormOfTheMessage) {
  try {
    throw ESocketError(u"Verbindung abgelehnt: \u00FC");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Verbindung abgelehnt: \xC3\xBC");
    EXPECT_EQ(e.Message(), u"Verbindung abgelehnt: \u00FC");
  }
}
