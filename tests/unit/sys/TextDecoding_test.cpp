#include "qninet/sys/TextDecoding.h"

#include <gtest/gtest.h>

#include "qninet/sys/PrivateTemp.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace qninet::sys;

TEST(TextDecoding, MarkThenDeclarationThenUtf8ForFeeds) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?>\xC3\xA9",
       u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\u00E9"},
      {std::string("\xFF\xFE<\0\xE9\0", 6), u"<\u00E9"},
      {std::string("\xFE\xFF\0<\x04\x10", 6), u"<\u0410"},
      {"<?xml version='1.0' encoding = 'ISO-8859-5'?><t>\xB0</t>",
       u"<?xml version='1.0' encoding = 'ISO-8859-5'?><t>\u0410</t>"},
      {"<?xml version=\"1.0\" encoding=\"no-such-set\"?>\xC3\xA9",
       u"<?xml version=\"1.0\" encoding=\"no-such-set\"?>\u00E9"},
      {"<t>caf\xC3\xA9 \xFF</t>", u"<t>caf\u00E9 \uFFFD</t>"},
      // A declaration that is not at the very start decides nothing.
      {" <?xml version=\"1.0\" encoding=\"windows-1252\"?>\xE9",
       u" <?xml version=\"1.0\" encoding=\"windows-1252\"?>\uFFFD"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(decode_xml_text(bytes), text) << bytes;
}

TEST(TextDecoding, PagesByMarkThenContentTypeCharsetThenBytes) {
  // The bytes of "é" in UTF-8 read as Latin-1 when the answer says so. (A plain charset
  // parameter: the extractor's rows.)
  const std::tuple<const char*, std::string, std::u16string> cases[] = {
      {"text/html;CHARSET=\"ISO-8859-1\" ; q=1", "\xC3\xA9", u"\u00C3\u00A9"},
      {"text/plain; format=flowed; charset = windows-1251", "\xC0", u"\u0410"},
      {"text/html; charset=iso-8859-1", std::string("\xFF\xFE\xE9\0", 4), u"\u00E9"},
      {"text/html; charset=no-such-set", "caf\xC3\xA9", u"caf\u00E9"},
      {"text/html; name=charset", "\xC3\xA9", u"\u00E9"}};
  for (const auto& [contentType, bytes, text] : cases)
    EXPECT_EQ(decode_page_text(bytes, content_type_charset(contentType)), text) << contentType;
}

// (What is no UTF-8 -- over-long, surrogates, beyond U+10FFFF, cut short: the XML encoding rows.)

TEST(PrivateTemp, OneFolderOfTheUserAlone) {
  const auto first = private_temp_folder();
  ASSERT_TRUE(first) << std::string(first.failure().Text.begin(), first.failure().Text.end());
  const auto second = private_temp_folder();
  ASSERT_TRUE(second);
  EXPECT_EQ(*first, *second);
  struct stat st {};
  ASSERT_EQ(::stat(first->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::getuid());
}
