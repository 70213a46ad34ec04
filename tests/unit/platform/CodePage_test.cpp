#include "qninet/platform/CodePage.h"

#include <cstdlib>

#include <gtest/gtest.h>

using namespace qninet;
using namespace qninet::platform;

namespace {

struct AnsiOverride {
  explicit AnsiOverride(const char* value) {
    if (value)
      setenv("QNINET_ANSI_CODEPAGE", value, 1);
    else
      unsetenv("QNINET_ANSI_CODEPAGE");
  }
  ~AnsiOverride() { unsetenv("QNINET_ANSI_CODEPAGE"); }
};

}  // namespace

TEST(CodePageDecode, SingleByteCodePagesMapTheirOwnCharacters) {
  EXPECT_EQ(decode_bytes("a\x80\xE9", "windows-1252"), u"a\u20AC\u00E9");
  EXPECT_EQ(decode_bytes("\xE9", "WINDOWS-1251"), u"\u0439");
  EXPECT_EQ(decode_bytes("\xB0", "ISO-8859-5"), u"\u0410");
  EXPECT_EQ(decode_bytes("\x80", "ISO-8859-1"), u"\u0080");
  // 0x81 is undefined in windows-1252.
  EXPECT_EQ(decode_bytes("x\x81y", "windows-1252"), u"x\uFFFDy");
}

TEST(CodePageDecode, UnicodeFormsAndBadBytes) {
  EXPECT_EQ(decode_bytes("caf\xC3\xA9 \xF0\x9F\x98\x80", "utf-8"), u"caf\u00E9 \U0001F600");
  EXPECT_EQ(decode_bytes("a\xC3", "UTF-8"), u"a\uFFFD");
  EXPECT_EQ(decode_bytes(std::string_view("A\0\x39\x04", 4), "utf-16le"), u"A\u0439");
  EXPECT_EQ(decode_bytes(std::string_view("\0A\x04\x39", 4), "UTF-16BE"), u"A\u0439");
  EXPECT_EQ(decode_bytes(std::string_view("A\0B", 3), "UTF-16LE"), u"A\uFFFD");
  // Multi-byte code pages go through iconv; a lone lead byte is invalid.
  EXPECT_EQ(decode_bytes("\x82\xA0z", "SHIFT_JIS"), u"\u3042z");
  EXPECT_EQ(decode_bytes("z\x82", "SHIFT_JIS"), u"z\uFFFD");
  EXPECT_EQ(decode_bytes("ok\xE9", "no-such-charset"), u"ok\uFFFD");
  EXPECT_FALSE(charset_known("no-such-charset"));
}

TEST(CodePageEncode, ReportsWhetherEveryCharacterFits) {
  std::string out;
  EXPECT_TRUE(encode_text(u"\u20ACuro", "windows-1252", out));
  EXPECT_EQ(out, "\x80uro");
  EXPECT_FALSE(encode_text(u"a\u0439b", "windows-1252", out));
  EXPECT_EQ(out, "a?b");
  EXPECT_TRUE(encode_text(u"\u0439", "windows-1251", out));
  EXPECT_EQ(out, "\xE9");
  EXPECT_TRUE(encode_text(u"\U0001F600", "utf-8", out));
  EXPECT_EQ(out, "\xF0\x9F\x98\x80");
  EXPECT_FALSE(encode_text(String(1, char16_t(0xD800)), "utf-8", out));
  EXPECT_TRUE(encode_text(u"\u3042", "SHIFT_JIS", out));
  EXPECT_EQ(out, "\x82\xA0");
  EXPECT_FALSE(encode_text(u"\u0439x", "ISO-8859-1", out));
  EXPECT_EQ(out, "?x");
  EXPECT_TRUE(encode_text(u"A\u0439", "UTF-16BE", out));
  EXPECT_EQ(out, std::string("\0A\x04\x39", 4));
}

TEST(CodePageAnsi, DefaultAndOverride) {
  {
    AnsiOverride none(nullptr);
    EXPECT_EQ(ansi_code_page(), "windows-1252");
  }
  {
    AnsiOverride name("ISO-8859-5");
    EXPECT_EQ(ansi_code_page(), "ISO-8859-5");
  }
  {
    AnsiOverride number("1251");
    EXPECT_EQ(ansi_code_page(), "windows-1251");
  }
  EXPECT_EQ(code_page_name(65001), "UTF-8");
  EXPECT_EQ(code_page_name(28595), "ISO-8859-5");
  EXPECT_EQ(code_page_name(1250), "windows-1250");
}

TEST(CodePageTables, OnlySingleByteCharsetsHaveOne) {
  const char16_t* t = single_byte_table("windows-1252");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[0x80], u'\u20AC');
  EXPECT_EQ(t['<'], u'<');
  EXPECT_EQ(single_byte_table("UTF-8"), nullptr);
  EXPECT_EQ(single_byte_table("SHIFT_JIS"), nullptr);
  EXPECT_EQ(single_byte_table("bogus"), nullptr);
}
