// The source seam on its own: a file that changes while read, and FTP paths that would add a
// command. (What HTTP answers mean, an absent file and a share read from an offset: the
// updater's table.)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/TempDir.h"
#include "qninet/web/WebSource.h"

using namespace qninet;

namespace {

TQNWebConnection connection(TQNIService service, std::uint16_t port, const String& name) {
  TQNWebConnection c;
  c.Service = service;
  c.Target.SetHost("127.0.0.1");
  c.Target.SetPort(port);
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

TEST(WebSource, AFileNoticesAShrinkAndFtpRefusesLineBreaks) {
  harness::TempDir dir{"qninet-source"};
  const auto path = dir.Write("s b.bin", std::string(3000, 'a') + std::string(2000, 'b'));
  std::uint64_t size = 0;
  TFileTime time = 0;
  TQNWebConnection e = connection(isNetwork, 0, FromUtf8(dir.Path().string()));  // a folder is no file
  EXPECT_EQ(MakeWebSource(e)->Lookup(size, time).Kind(), TQNIOutcomeKind::NotFound);
  SetRemoteName(e, FromUtf8(path.string()));
  auto source = MakeWebSource(e);
  ASSERT_TRUE(source->Lookup(size, time));
  EXPECT_EQ(size, 5000u);
  EXPECT_NE(time, 0);
  TQNIOutcome last;
  ASSERT_TRUE(source->Open(0));
  std::filesystem::resize_file(path, 1500);
  read_rest(*source, last);
  EXPECT_NE(last.Text().find(u"changed during the download"), String::npos);
  SetRemoteName(e, FromUtf8((dir.Path() / "absent").string()));
  EXPECT_THROW(static_cast<void>(source->Open(0)), EFOpenError);

  // A line break in a path would add an FTP command of its own: refused, and nothing removed.
  harness::FtpServer ftp;
  harness::WriteFileBytes(ftp.Root() / "a.txt", "a");
  TQNWebConnection f = connection(isFTP, ftp.Port(), u"/a.txt");
  source = MakeWebSource(f);
  ASSERT_TRUE(source->Connect());
  TQNWebFolder folder;
  const String refused = u"The path holds a line break; it was not sent";
  for (const char16_t* path : {u"/a.txt\r\nDELE /a.txt", u"/a.txt\nDELE /a.txt", u"/a.txt\r"}) {
    SetRemoteName(f, path);
    EXPECT_EQ(source->Lookup(size, time).Text(), refused);
    EXPECT_EQ(source->Open(0).Text(), refused);
    EXPECT_EQ(source->ListFolder(ToUtf8(path), folder).Text(), refused);
  }
  SetRemoteName(f, u"/a.txt");
  EXPECT_TRUE(source->Lookup(size, time));
  EXPECT_TRUE(std::filesystem::exists(ftp.Root() / "a.txt"));
}
