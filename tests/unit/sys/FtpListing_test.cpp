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
  for (const char* line :
       {"type=file; a/b", "type=dir; ../up/x", "type=file; x\ry", "type=file; ..", "type=dir; ."})
    EXPECT_FALSE(parse_mlsd_line(line, d)) << line;
}

TEST(FtpListing, UnixListLines) {
  const std::int64_t now = 1718000000;  // June 2024
  FtpEntry d;
  ASSERT_TRUE(parse_list_line("-rw-r--r--   1 owner group     12345 Mar  5  2021 notes.txt", d, 2024, now));
  EXPECT_EQ(d.Name, "notes.txt");
  EXPECT_EQ(d.Size, 12345u);
  EXPECT_EQ(d.LastWriteTime, unix_to_file_time(1614902400));
  ASSERT_TRUE(parse_list_line("drwxr-xr-x 2 o g 4096 Jan  1 12:30 my dir", d, 2024, now));
  EXPECT_EQ(d.Name, "my dir");
  EXPECT_TRUE(d.Directory);
  EXPECT_EQ(d.LastWriteTime, unix_to_file_time(1704112200));
  // A date without a year that would lie ahead is last year's.
  ASSERT_TRUE(parse_list_line("-rw-r--r-- 1 o g 1 Dec 24 08:00 gift", d, 2024, now));
  EXPECT_EQ(d.LastWriteTime, unix_to_file_time(1703404800));
  ASSERT_TRUE(parse_list_line("lrwxrwxrwx 1 o g 7 Jan  1  2020 link -> target", d, 2024, now));
  EXPECT_EQ(d.Name, "link");
  EXPECT_FALSE(parse_list_line("total 12", d, 2024, now));
  // A NUL byte is no blank, and no type letter either.
  EXPECT_FALSE(parse_list_line(std::string(1, '\0') + "drwxr-xr-x 2 o g 4096 Jan  1 12:30 d", d, 2024, now));
  EXPECT_FALSE(parse_list_line("drwxr-xr-x 2 o g 4096 Jan  1 12:30 .", d, 2024, now));
  EXPECT_FALSE(parse_list_line("-rw-r--r-- 1 o g 1 Jan  1 12:30 a/b", d, 2024, now));
  EXPECT_FALSE(parse_list_line("-rw-r--r-- 1 o g 1 Jan  1 12:30 a\rb", d, 2024, now));
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
