#include "qninet/rtl/SysUtils.h"
#include "qninet/sys/CodePage.h"

#include <tuple>

#include <gtest/gtest.h>

#include "support/Overrides.h"

using namespace qninet;
using namespace qninet::sys;

// Single-byte code pages map their own characters (0x81 is undefined in windows-1252); the
// Unicode forms and multi-byte code pages (through iconv) turn bad bytes into U+FFFD. (UTF-8:
// the text conversion rows.)
TEST(CodePageDecode, EveryFormAndBadBytes) {
  const std::tuple<std::string_view, const char*, std::u16string_view> cases[] = {
      {"a\x80\xE9", "windows-1252", u"a\u20AC\u00E9"},
      {"\xE9", "WINDOWS-1251", u"\u0439"},
      {"\xB0", "ISO-8859-5", u"\u0410"},
      {"\x80", "ISO-8859-1", u"\u0080"},
      {"x\x81y", "windows-1252", u"x\uFFFDy"},
      {{"A\0\x39\x04", 4}, "utf-16le", u"A\u0439"},
      {{"\0A\x04\x39", 4}, "UTF-16BE", u"A\u0439"},
      {{"A\0B", 3}, "UTF-16LE", u"A\uFFFD"},
      {"\x82\xA0z", "SHIFT_JIS", u"\u3042z"},
      {"z\x82", "SHIFT_JIS", u"z\uFFFD"},  // a lone lead byte
      {"ok\xE9", "no-such-charset", u"ok\uFFFD"}};
  for (const auto& [bytes, charset, text] : cases) EXPECT_EQ(decode_bytes(bytes, charset), text) << charset;
  EXPECT_FALSE(charset_known("no-such-charset"));
}

TEST(CodePageEncode, ReportsWhetherEveryCharacterFits) {
  const std::tuple<String, const char*, bool, std::string> cases[] = {
      {u"\u20ACuro", "windows-1252", true, "\x80uro"},
      {u"a\u0439b", "windows-1252", false, "a?b"},
      {u"\u0439", "windows-1251", true, "\xE9"},
      {u"\U0001F600", "utf-8", true, "\xF0\x9F\x98\x80"},
      {u"\u3042", "SHIFT_JIS", true, "\x82\xA0"},
      {u"\u0439x", "ISO-8859-1", false, "?x"},
      {u"A\u0439", "UTF-16BE", true, std::string("\0A\x04\x39", 4)}};
  std::string out;
  for (const auto& [text, charset, fits, bytes] : cases) {
    SCOPED_TRACE(charset);
    EXPECT_EQ(encode_text(text, charset, out), fits);
    EXPECT_EQ(out, bytes);
  }
  EXPECT_FALSE(encode_text(String(1, char16_t(0xD800)), "utf-8", out));
}

// (Which charsets are scanned in place through a table, windows-1252's among them, and which
// are decoded first, Shift JIS's: the XML engine's ANSI rows.)
TEST(CodePageAnsi, OverrideByNameOrNumber) {
  for (auto [value, name] : {std::pair{"ISO-8859-5", "ISO-8859-5"}, {"1251", "windows-1251"}}) {
    qninet::test_support::ScopedEnv ansi("QNINET_ANSI_CODEPAGE", value);
    EXPECT_EQ(ansi_code_page(), name);
  }
  EXPECT_EQ(code_page_name(28595), "ISO-8859-5");  // not every number names a windows-N
}
