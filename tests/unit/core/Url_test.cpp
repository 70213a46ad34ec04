#include "qninet/core/Url.h"

#include <gtest/gtest.h>

using namespace qninet;

TEST(HostPort, ParsesEveryFormAndRefusesBrokenText) {
  const std::tuple<const char*, std::uint16_t, const char*, std::uint16_t, const char*> cases[] = {
      {"example.com", 43, "example.com", 43, "example.com:43"},
      {"example.com:8080", 43, "example.com", 8080, "example.com:8080"},
      {"127.0.0.1:3128", 0, "127.0.0.1", 3128, "127.0.0.1:3128"},
      {"[::1]:12300", 0, "::1", 12300, "[::1]:12300"},
      {"[::1]", 123, "::1", 123, "[::1]:123"},
      {"::1", 0, "::1", 0, "[::1]"},
      {"host", 0, "host", 0, "host"}};
  for (const auto& [text, defaultPort, host, port, rendered] : cases) {
    const auto hp = HostPort::Parse(text, defaultPort);
    ASSERT_TRUE(hp) << text;
    EXPECT_EQ(hp->Host, host) << text;
    EXPECT_EQ(hp->Port, port) << text;
    EXPECT_EQ(hp->ToString(), rendered) << text;
  }
  for (const char* text : {"", ":80", "host:", "host:0", "host:65536", "host:12x", "[::1", "[::1]x", "[]:80",
                           "a b:80", "[::1]:"}) {
    String error;
    EXPECT_FALSE(HostPort::Parse(text, 0, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

// (Url::Parse: through HTTPParseURL in the HTTP client's URL table, and through SetURL in the
// updater's, which splits an account, an explicit port and a decoded path.)
