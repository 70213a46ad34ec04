#include <gtest/gtest.h>

#include "qninet/rtl/SysUtils.h"

using namespace qninet;

// Characters beyond the basic plane round-trip; malformed UTF-8 becomes replacement characters;
// bytes carry zero and high values one per unit, and only the low byte goes on the wire.
TEST(TextConversion, Utf8AndBytes) {
  const std::string text = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x82\xAC";
  EXPECT_EQ(FromUtf8(text), u"caf\u00E9 \U0001F600 \u20AC");
  EXPECT_EQ(ToUtf8(FromUtf8(text)), text);
  // cut short, overlong, an encoded surrogate
  for (const auto& [in, out] :
       {std::pair{"a\xC3", u"a\uFFFD"}, {"\xC0\xAF", u"\uFFFD"}, {"\xED\xA0\x80x", u"\uFFFDx"}})
    EXPECT_EQ(FromUtf8(in), out);
  EXPECT_EQ(ToUtf8(String(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  const std::string bytes("\x00\xFF\x80z", 4);
  EXPECT_EQ(FromBytes(bytes), String(u"\u0000\u00FF\u0080z", 4));
  EXPECT_EQ(ToBytes(FromBytes(bytes)), bytes);
  EXPECT_EQ(ToBytes(u"\u0141"), "\x41");
}

// Patterns replace in order and keep a literal percent; numbers refuse junk and overflow; a file
// name's extension comes from its last component only; case-blind comparison and search.
TEST(TextHelpers, FormatNumbersPathsAndSearch) {
  const std::pair<String, String> texts[] = {
      {Format(u"%s=%d", String(u"a"), Int64{-7}), u"a=-7"},
      {Format(u"%d and %d", 1), u"1 and %d"},
      {Format(u"100%"), u"100%"},
      {ExtractFileExt(u"/a.b/c.tar.gz"), u".gz"},
      {ExtractFileExt(u"/a.b/c"), u""},
      {ExtractFileName(u"/x/y/z.txt"), u"z.txt"},
      {ExtractFilePath(u"/x/y/z.txt"), u"/x/y/"},
      {ChangeFileExt(u"/opt/my.app/run.bin", u".sh"), u"/opt/my.app/run.sh"},
      {ChangeFileExt(u"/opt/my.app/run", u".sh"), u"/opt/my.app/run.sh"},
      {StringReplaceAll(u"a-b-c", u"-", u"+-"), u"a+-b+-c"},
      {Trim(u" \t x y \r\n"), u"x y"},
      {LowerCase(u"MiXed \u00C9"), u"mixed \u00C9"},
  };
  for (const auto& [got, expected] : texts) EXPECT_EQ(got, expected);
  const std::pair<Int64, Int64> numbers[] = {
      {StrToIntDef(u" 42 ", 0), 42},
      {StrToIntDef(u"-17", 0), -17},
      {StrToIntDef(u"4x2", -1), -1},
      {StrToIntDef(u"", -1), -1},
      {StrToIntDef(u"2147483648", -1), -1},
      {StrToIntDef(u"-2147483648", 0), -2147483647 - 1},
      {StrToInt64Def(u"9223372036854775808", 3), 3},
      {Pos(u"b", u"abcb"), 2},
      {Pos(u"b", u"abcb", 3), 4},
      {Pos(u"z", u"abc"), 0},
  };
  for (const auto& [got, expected] : numbers) EXPECT_EQ(got, expected);
  EXPECT_THROW(StrToInt(u"abc"), EConvertError);
  EXPECT_TRUE(SameText(u"Content-Type", u"content-TYPE"));
  EXPECT_FALSE(SameText(u"abc", u"abcd"));
  EXPECT_FALSE(SameText(u"\u00C9", u"\u00E9"));  // ASCII letters only
  // An exception's what() gives the UTF-8 form of its message.
  EXPECT_STREQ(ESocketError(u"Verbindung abgelehnt: \u00FC").what(), "Verbindung abgelehnt: \xC3\xBC");
}
