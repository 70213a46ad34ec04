// The minisign readers never trust their input: each broken key or signature is refused by result.

#include <gtest/gtest.h>

#include "qninet/sys/Signature.h"

using namespace qninet::sys;

TEST(MinisignParse, RefusesWhatIsNotAKeyOrASignature) {
  const std::string sig =
      "RUQQ7elHpXf6vvcRYZyfN9G9TCGsrUfbTBnIU8JrTek+ASHwvLnbQh3Pe+oRFScMsLxWFMK8kCmv7Rset/ABJV/wejihsmO1Ugg=";
  const std::string global =
      "yGUWeX8WNoAWr8th9AHbw/srToxmBmZPBYKLXGD8WR/qfXgI94S4+EsC3A2qwfXAumo0/wf0vadE7z6X3dFlDA==";
  const auto file = [&](const std::string& s, const std::string& g) {
    return "untrusted comment: x\n" + s + "\ntrusted comment: app 1.1\n" + g + "\n";
  };
  ASSERT_TRUE(parse_minisign_signature(file(sig, global)));
  for (const std::string& bad : {file(sig.substr(4), global), file(sig, global.substr(0, 84) + "===="),
                                 file("RX" + sig.substr(2), global), file(sig, global) + "extra\n",
                                 file(sig, global).substr(1), std::string("untrusted comment: x\n")})
    EXPECT_FALSE(parse_minisign_signature(bad)) << bad;
  for (const char* bad :
       {"", "RWQQ7elHpXf6vkzcqLFYOAiAzK6XM6BvUnS0DiwNBa30NHkgZHOKVE/", "RWQQ7elH=pXf6",
        "RUQQ7elHpXf6vkzcqLFYOAiAzK6XM6BvUnS0DiwNBa30NHkgZHOKVE/J", "untrusted comment: only\n"})
    EXPECT_FALSE(parse_minisign_key(bad)) << bad;
}
