// The translator's XML list is gathered compactly (each value's length in one byte or more)
// before the list is filled: values of every length come back whole and in order, from a small
// answer and from one large enough to let the parser's memory go first.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qninet/web/QNIMSTranslator.h"

using namespace qninet;

TEST(TranslatorListLengths, EveryLengthComesBackWholeAndInOrder) {
  // Lengths about the boundaries of one, two and three length bytes.
  const std::size_t lengths[] = {0, 1, 127, 128, 129, 16383, 16384, 70000, 0};
  for (const std::size_t copies : {std::size_t{1}, std::size_t{3}}) {  // 3: past 256 KiB
    SCOPED_TRACE(copies);
    std::string xml = "<ArrayOfstring>";
    std::vector<std::string> want;
    for (std::size_t c = 0; c < copies; ++c)
      for (const std::size_t n : lengths) {
        std::string text(n, static_cast<char>('a' + want.size() % 26));
        if (n) {
          text[0] = '<';
          xml.append("<string>&lt;").append(text, 1).append("</string>");
        } else {
          xml.append("<string/>");
        }
        want.push_back(text);
      }
    TStringList values;
    values.Add(u"kept");
    String why;
    ASSERT_TRUE(TQNMSTranslator::ReadAnswer(xml.append("</ArrayOfstring>"), u"ArrayOfstring", &values, why));
    ASSERT_EQ(values.Count(), static_cast<int>(want.size()) + 1);
    EXPECT_EQ(values.Strings(0), u"kept");
    for (std::size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(ToUtf8(values.Strings(static_cast<int>(i) + 1)), want[i]) << i;
  }
}
