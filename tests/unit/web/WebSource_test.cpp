// The source seam on its own: what each service's look-up reports, and reading from an offset.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/web/WebSource.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;
using Kind = TQNIOutcomeKind;

namespace {

TQNWebConnection connection(TQNIService service, std::uint16_t port, const String& name) {
  TQNWebConnection c;
  c.Service = service;
  c.Target.SetHost("127.0.0.1");
  c.Target.SetPort(port);
  c.Timeout = 10000;
  SetRemoteName(c, name);
  return c;
}

std::string read_rest(TQNWebSource& s, TQNIOutcome& last) {
  std::string got;
  char block[1000];
  std::size_t n = 0;
  while ((last = s.Read(block, sizeof block, n)) && n > 0) got.append(block, n);
  return got;
}

}  // namespace

TEST(HttpSource, LookupMapsEachAnswer) {
  test_support::NoSystemProxy noProxy;
  const struct {
    std::string Reply;
    Kind Expected;
    std::uint64_t Size;
    const char16_t* Error;
  } cases[] = {
      {"200 OK\r\nContent-Length: 42\r\nLast-Modified: Sat, 01 Jun 2024 10:00:00 GMT", Kind::Found, 42, u""},
      {"200 OK\r\nContent-Length: 4x2", Kind::Found, kQNIUnknownSize, u""},
      {"404 Not Found", Kind::NotFound, 0, u"HTTP status 404"},
      {"410 Gone", Kind::NotFound, 0, u"HTTP status 410"},
      {"500 Oops", Kind::Failed, 0, u"HTTP status 500"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reply);
    ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 " + c.Reply + "\r\n\r\n").Close());
    TQNWebConnection e = connection(isHTTP, server.Port(), u"/f");
    auto source = MakeWebSource(e);
    ASSERT_TRUE(source->Connect());
    std::uint64_t size = 7;
    TFileTime time = 0;
    const TQNIOutcome found = source->Lookup(size, time);
    EXPECT_EQ(found.Kind(), c.Expected);
    EXPECT_EQ(size, c.Size);
    EXPECT_EQ(found.Text(), c.Error);
    EXPECT_EQ(time != 0, c.Reply.find("Last-Modified") != std::string::npos);
  }
}

TEST(FileSource, ReadsFromAnOffsetAndNoticesAFileThatShrank) {
  harness::TempDir dir{"qninet-source"};
  const auto path = dir.Write("s b.bin", std::string(3000, 'a') + std::string(2000, 'b'));
  std::uint64_t size = 0;
  TFileTime time = 0;
  for (const auto& absent : {dir.Path() / "absent", dir.Path()}) {  // a folder is no file either
    TQNWebConnection e = connection(isNetwork, 0, FromUtf8(absent.string()));
    EXPECT_EQ(MakeWebSource(e)->Lookup(size, time).Kind(), Kind::NotFound);
  }
  TQNWebConnection e = connection(isNetwork, 0, FromUtf8(path.string()));
  auto source = MakeWebSource(e);
  ASSERT_TRUE(source->Lookup(size, time));
  EXPECT_EQ(size, 5000u);
  EXPECT_NE(time, 0);
  TQNIOutcome last;
  ASSERT_TRUE(source->Open(3000));
  EXPECT_EQ(read_rest(*source, last), std::string(2000, 'b'));
  ASSERT_TRUE(source->Open(0));
  std::filesystem::resize_file(path, 1500);
  read_rest(*source, last);
  EXPECT_NE(last.Text().find(u"changed during the download"), String::npos);
  SetRemoteName(e, FromUtf8((dir.Path() / "absent").string()));
  EXPECT_THROW(static_cast<void>(source->Open(0)), EFOpenError);
}

// A line break in a path would add an FTP command of its own: refused, and nothing is removed.
TEST(FtpSource, PathsWithALineBreakAreRefused) {
  harness::FtpServer ftp;
  harness::WriteFileBytes(ftp.Root() / "a.txt", "a");
  TQNWebConnection e = connection(isFTP, ftp.Port(), u"/a.txt");
  auto source = MakeWebSource(e);
  ASSERT_TRUE(source->Connect());
  std::uint64_t size = 0;
  TFileTime time = 0;
  TQNWebFolder folder;
  const String refused = u"The path holds a line break; it was not sent";
  for (const char16_t* path : {u"/a.txt\r\nDELE /a.txt", u"/a.txt\nDELE /a.txt", u"/a.txt\r"}) {
    SetRemoteName(e, path);
    EXPECT_EQ(source->Lookup(size, time).Text(), refused);
    EXPECT_EQ(source->Open(0).Text(), refused);
    EXPECT_EQ(source->ListFolder(ToUtf8(path), folder).Text(), refused);
  }
  SetRemoteName(e, u"/a.txt");
  EXPECT_TRUE(source->Lookup(size, time));
  EXPECT_TRUE(std::filesystem::exists(ftp.Root() / "a.txt"));
}
