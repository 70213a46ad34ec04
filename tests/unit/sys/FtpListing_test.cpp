// FTP listings read as entries: MLSD and Unix LIST lines, and search wildcards.

#include <gtest/gtest.h>

#include "qninet/sys/FtpListing.h"
#include "qninet/sys/Files.h"

using namespace qninet::sys;

TEST(FtpListing, MlsdLinesGiveNameTypeSizeAndUtcTime) {
  FtpEntry d;
  ASSERT_TRUE(parse_mlsd_line("type=file;size=5000000000;modify=20240601100000;perm=r; big file.bin\r", d));
  EXPECT_EQ(d.Name, "big file.bin");
  EXPECT_EQ(d.Size, 5000000000u);
  EXPECT_FALSE(d.Directory);
  EXPECT_EQ(d.LastWriteTime, unix_to_file_time(1717236000));
  ASSERT_TRUE(parse_mlsd_line("Type=dir;Modify=20240601100000.5; sub", d));
  EXPECT_TRUE(d.Directory);
  EXPECT_EQ(d.LastWriteTime, unix_to_file_time(1717236000, 500000000));
  EXPECT_FALSE(parse_mlsd_line("type=cdir;modify=20240601100000; /pub", d));
  EXPECT_FALSE(parse_mlsd_line("type=pdir; ..", d));
  EXPECT_FALSE(parse_mlsd_line("garbage", d));
  // Names a client would send back as a path or a command argument.
  // The name is all that follows the first "; ", blanks and "; " too.
  ASSERT_TRUE(parse_mlsd_line("type=file;UNIX.owner=a b; x ; y \r\n", d));
  EXPECT_EQ(d.Name, "x ; y ");
  for (const char* line :
       {"type=file; a/b", "type=dir; ../up/x", "type=file; x\ry", "type=file; ..", "type=dir; ."})
    EXPECT_FALSE(parse_mlsd_line(line, d)) << line;
}

TEST(FtpListing, ListLinesOfUnixAndDosServers) {
  const std::int64_t now = 1718000000;  // June 2024
  const struct {
    const char* Line;
    const char* Name;  // nullptr: no entry
    bool Directory;
    std::uint64_t Size;
    std::int64_t Unix;  // the last-write time in seconds since 1970
  } cases[] = {
      {"-rw-r--r--   1 owner group     12345 Mar  5  2021 notes.txt", "notes.txt", false, 12345, 1614902400},
      {"drwxr-xr-x 2 o g 4096 Jan  1 12:30 my dir", "my dir", true, 4096, 1704112200},
      // A date without a year that would lie ahead is last year's.
      {"-rw-r--r-- 1 o g 1 Dec 24 08:00 gift", "gift", false, 1, 1703404800},
      {"lrwxrwxrwx 1 o g 7 Jan  1  2020 link -> target", "link", false, 7, 1577836800},
      // Blanks at either end of a name, numeric owners, ACL marks, no group column.
      {"-rw-r--r--+ 1 1000 1000 3 Jan  1  2020 trail \r", "trail ", false, 3, 1577836800},
      {"drwxr-xr-x. 2 0 0 6 Jan  1 12:30  lead", " lead", true, 6, 1704112200},
      {"-rw-r--r-- 1 ftp 42 Jan  1  2020 nogroup", "nogroup", false, 42, 1577836800},
      // DOS and IIS.
      {"12-06-26  08:51PM       <DIR>          dos dir", "dos dir", true, 0, 1796590260},
      {"12-06-26  08:51AM            123456 dos file.txt", "dos file.txt", false, 123456, 1796547060},
      {"06-26-2012  12:05AM            7 midnight", "midnight", false, 7, 1340669100},
      {"total 12", nullptr, false, 0, 0},
      // A NUL byte is no blank, and no type letter either.
      {"\0drwxr-xr-x 2 o g 4096 Jan  1 12:30 d", nullptr, false, 0, 0},
      {"drwxr-xr-x 2 o g 4096 Jan  1 12:30 .", nullptr, false, 0, 0},
      {"-rw-r--r-- 1 o g 1 Jan  1 12:30 a/b", nullptr, false, 0, 0},
      {"-rw-r--r-- 1 o g 1 Jan  1 12:30 a\rb", nullptr, false, 0, 0},
      {"12-06-26  08:51PM       <DIR>          ..", nullptr, false, 0, 0},
  };
  for (const auto& c : cases) {
    FtpEntry d;
    const std::string line = c.Line[0] ? c.Line : std::string(1, '\0') + (c.Line + 1);
    ASSERT_EQ(parse_list_line(line, d, 2024, now), c.Name != nullptr) << c.Line;
    if (!c.Name) continue;
    EXPECT_EQ(d.Name, c.Name);
    EXPECT_EQ(d.Directory, c.Directory) << c.Line;
    EXPECT_EQ(d.Size, c.Size) << c.Line;
    EXPECT_EQ(d.LastWriteTime, unix_to_file_time(c.Unix)) << c.Line;
  }
}

// A date that is no day with a time or a four-digit year, or that lies before 1601 where file
// times begin, leaves the entry without a time rather than a made-up one.
TEST(FtpListing, UnreadableDatesGiveNoTime) {
  const char* const lists[] = {
      "-rw-r--r-- 1 o g 1 Jan  5  2\xBE\xBE"
      "023 a",
      "-rw-r--r-- 1 o g 1 Jan x5  2020 a", "-rw-r--r-- 1 o g 1 Jan  5 1:2x a",
      "-rw-r--r-- 1 o g 1 Jan  5 -2147483648 a", "-rw-r--r-- 1 o g 1 Jan  5  0001 a"};
  for (const char* line : lists) {
    FtpEntry d;
    ASSERT_TRUE(parse_list_line(line, d, 2024, 1718000000)) << line;
    EXPECT_EQ(d.Name, "a");
    EXPECT_EQ(d.LastWriteTime, 0) << line;
  }
  for (const char* line : {"type=file;modify=00010101000000; a", "type=file;modify=16001231235959.5; a",
                           "type=file;modify=99999999999999; a", "type=file;modify=20241301000000; a"}) {
    FtpEntry d;
    ASSERT_TRUE(parse_mlsd_line(line, d)) << line;
    EXPECT_EQ(d.LastWriteTime, 0) << line;
  }
}

TEST(FtpListing, Wildcards) {
  struct {
    const char* Pattern;
    const char* Name;
    bool Match;
  } cases[] = {{"*.*", "README", true},   {"*.txt", "a.b.txt", true}, {"*.txt", "a.txt.bak", false},
               {"f?le*", "file-1", true}, {"file", "File", false},    {"*a*b", "xaxxb", true},
               {"?", "ab", false},        {"*.*", ".", true},         {"*.TXT", "a.txt", false},
               {"a*b*c", "a*b*xc", true}, {"*x", "*ax", true}};  // a "*" in the name is no wildcard
  for (const auto& c : cases)
    EXPECT_EQ(ftp_wildcard_match(c.Pattern, c.Name), c.Match) << c.Pattern << " " << c.Name;
}
