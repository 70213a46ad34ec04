#include "qninet/core/TextEncoding.h"

#include <gtest/gtest.h>

using namespace qninet;

TEST(Base64Lines, SeventySixCharactersALineAndTheSameTextAsOneLine) {
  // 57 bytes fill one line exactly; the sizes around it catch an off-by-one in the cut
  for (const std::size_t size : {0u, 1u, 2u, 56u, 57u, 58u, 114u, 1000u}) {
    SCOPED_TRACE(size);
    std::string data;
    for (std::size_t i = 0; i < size; ++i) data += static_cast<char>((i * 7) & 0xFF);
    const auto lines = base64_lines(data);
    EXPECT_EQ(lines.size(), (size + 56) / 57);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(i + 1 < lines.size() ? lines[i].size() == 76u : lines[i].size() <= 76u) << i;
      joined += lines[i];
    }
    EXPECT_EQ(joined, base64_encode(data));
  }
  EXPECT_EQ(base64_encode("a") + base64_encode("ab") + base64_encode("foobar"), "YQ==YWI=Zm9vYmFy");
  EXPECT_EQ(base64_encode(std::string("\xff\xfe\0", 3)), "//4A");
}
