// The translator's XML list is gathered with each value's length in one byte or more: values of
// every length come back whole and in order, from an answer past 256 KiB (the parser's memory let
// go before the list is filled) too.

#include <gtest/gtest.h>

#include <string>

#include "qninet/web/QNIMSTranslator.h"

using namespace qninet;

TEST(TranslatorListLengths, EveryLengthComesBackWholeAndInOrder) {
  const std::size_t lengths[] = {0, 127, 128, 16383, 16384, 70000};
  std::string xml = "<ArrayOfstring>";
  for (int copy = 0; copy < 4; ++copy)
    for (const std::size_t n : lengths) xml.append("<string>").append(n, 'a').append("</string>");
  TStringList values;
  String why;
  ASSERT_TRUE(TQNMSTranslator::ReadAnswer(xml.append("</ArrayOfstring>"), u"ArrayOfstring", &values, why));
  ASSERT_EQ(values.Count(), 24);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(values.Strings(i).size(), lengths[i % 6]) << i;
}
