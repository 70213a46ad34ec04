// The source seam on its own: what each service's look-up reports, and reading from an offset.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/WebSource.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

using qninet::test_support::NoSystemProxy;

namespace {

std::string read_rest(TQNWebSource& s, bool* ok = nullptr) {
  std::string got;
  char block[1000];
  std::size_t n = 0;
  bool good = true;
  while ((good = s.Read(block, sizeof block, n)) && n > 0) got.append(block, n);
  if (ok) *ok = good;
  return got;
}

}  // namespace

TEST(HttpSource, LookupMapsEachAnswer) {
  NoSystemProxy noProxy;
  struct Case {
    std::string Reply;
    TQNWebLookup Expected;
    std::uint64_t Size;
    const char16_t* Error;
  } cases[] = {
      {"200 OK\r\nContent-Length: 42\r\nLast-Modified: Sat, 01 Jun 2024 10:00:00 GMT", wlFound, 42, u""},
      {"200 OK\r\nContent-Length: 4x2", wlFound, kQNIUnknownSize, u""},
      {"404 Not Found", wlNotFound, 0, u"HTTP status 404"},
      {"410 Gone", wlNotFound, 0, u"HTTP status 410"},
      {"500 Oops", wlFailed, 0, u"HTTP status 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reply);
    ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 " + c.Reply + "\r\n\r\n").Close());
    TQNWebEndpoint e;
    e.Host = u"127.0.0.1";
    e.Port = server.Port();
    e.Timeout = 5000;
    auto source = MakeWebSource(e);
    ASSERT_TRUE(source->Connect());
    std::uint64_t size = 7;
    TFileTime time = 0;
    EXPECT_EQ(source->Lookup(u"/f", size, time), c.Expected);
    EXPECT_EQ(size, c.Size);
    EXPECT_EQ(source->LastError(), c.Error);
    EXPECT_EQ(time != 0, c.Reply.find("Last-Modified") != std::string::npos);
  }
}

TEST(FileSource, ReadsFromAnOffsetAndNoticesAFileThatShrank) {
  harness::TempDir dir{"qninet-source"};
  const auto path = dir.Write("s.bin", std::string(3000, 'a') + std::string(2000, 'b'));
  TQNWebEndpoint e;
  e.Service = isNetwork;
  auto source = MakeWebSource(e);
  ASSERT_TRUE(source->Connect());
  std::uint64_t size = 0;
  TFileTime time = 0;
  EXPECT_EQ(source->Lookup(FromUtf8((dir.Path() / "absent").string()), size, time), wlNotFound);
  EXPECT_EQ(source->Lookup(FromUtf8(dir.Path().string()), size, time), wlNotFound);  // a folder
  ASSERT_EQ(source->Lookup(FromUtf8(path.string()), size, time), wlFound);
  EXPECT_EQ(size, 5000u);
  EXPECT_NE(time, 0);
  ASSERT_TRUE(source->Open(FromUtf8(path.string()), 3000));
  EXPECT_EQ(read_rest(*source), std::string(2000, 'b'));

  ASSERT_TRUE(source->Open(FromUtf8(path.string()), 0));
  std::filesystem::resize_file(path, 1500);
  bool ok = true;
  read_rest(*source, &ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(source->LastError().find(u"changed during the download"), String::npos);
  EXPECT_THROW(source->Open(FromUtf8((dir.Path() / "absent").string()), 0), EFOpenError);
}

// A line break in a path would add an FTP command of its own: refused, and nothing is removed.
TEST(FtpSource, PathsWithALineBreakAreRefused) {
  harness::FtpServer ftp;
  harness::WriteFileBytes(ftp.Root() / "a.txt", "a");
  TQNWebEndpoint e;
  e.Service = isFTP;
  e.Host = u"127.0.0.1";
  e.Port = ftp.Port();
  e.Timeout = 10000;
  auto source = MakeWebSource(e);
  ASSERT_TRUE(source->Connect()) << ToUtf8(source->LastError());
  std::uint64_t size = 0;
  TFileTime time = 0;
  TQNWebFolder folder;
  for (const char16_t* path : {u"/a.txt\r\nDELE /a.txt", u"/a.txt\nDELE /a.txt", u"/a.txt\r"}) {
    EXPECT_EQ(source->Lookup(path, size, time), wlFailed);
    EXPECT_EQ(source->LastError(), u"The path holds a line break; it was not sent");
    EXPECT_FALSE(source->Open(path, 0));
    EXPECT_FALSE(source->ListFolder(ToUtf8(path), folder));
    EXPECT_EQ(source->LastError(), u"The path holds a line break; it was not sent");
  }
  EXPECT_EQ(source->Lookup(u"/a.txt", size, time), wlFound) << ToUtf8(source->LastError());
  EXPECT_TRUE(std::filesystem::exists(ftp.Root() / "a.txt"));
}
