// FTP listings read as entries: MLSD and Unix or DOS LIST lines, and search wildcards.

#include <gtest/gtest.h>

#include "qninet/sys/Files.h"
#include "qninet/sys/FtpListing.h"

using namespace qninet::sys;

// Each line's entry and its time in seconds since 1970 (0: a date that is no day with a time or
// a four-digit year, or before 1601, gives none rather than a made-up one). (Plain Unix, link
// and DOS lines: the peers' listings from vsftpd, proftpd, pure-ftpd and pyftpdlib.)
TEST(FtpListing, LinesGiveNameTypeSizeAndUtcTime) {
  const struct {
    bool Mlsd;
    const char* Line;
    const char* Name;
    bool Directory;
    std::uint64_t Size;
    double Unix;
  } cases[] = {
      {1, "type=file;size=5000000000;modify=20240601100000;perm=r; big file.bin\r", "big file.bin", 0,
       5000000000, 1717236000},
      {1, "Type=dir;Modify=20240601100000.5; sub", "sub", 1, 0, 1717236000.5},
      {1, "type=file;UNIX.owner=a b; x ; y \r\n", "x ; y ", 0, 0, 0},  // all after the first "; "
      {1, "type=file;modify=00010101000000; a", "a", 0, 0, 0},
      {1, "type=file;modify=16001231235959.5; a", "a", 0, 0, 0},
      {1, "type=file;modify=99999999999999; a", "a", 0, 0, 0},
      {1, "type=file;modify=20241301000000; a", "a", 0, 0, 0},
      {0, "-rw-r--r-- 1 o g 1 Dec 24 08:00 gift", "gift", 0, 1, 1703404800},  // ahead: last year's
      {0, "-rw-r--r--+ 1 1000 1000 3 Jan  1  2020 trail \r", "trail ", 0, 3, 1577836800},
      {0, "drwxr-xr-x. 2 0 0 6 Jan  1 12:30  lead", " lead", 1, 6, 1704112200},
      {0, "-rw-r--r-- 1 ftp 42 Jan  1  2020 nogroup", "nogroup", 0, 42, 1577836800},
      {0, "12-06-26  08:51PM       <DIR>          dos dir", "dos dir", 1, 0, 1796590260},
      {0, "06-26-2012  12:05AM            7 midnight", "midnight", 0, 7, 1340669100},
      {0,
       "-rw-r--r-- 1 o g 1 Jan  5  2\xBE\xBE"
       "023 a",
       "a", 0, 1, 0},
      {0, "-rw-r--r-- 1 o g 1 Jan x5  2020 a", "a", 0, 1, 0},
      {0, "-rw-r--r-- 1 o g 1 Jan  5 1:2x a", "a", 0, 1, 0},
      {0, "-rw-r--r-- 1 o g 1 Jan  5 -2147483648 a", "a", 0, 1, 0},
      {0, "-rw-r--r-- 1 o g 1 Jan  5  0001 a", "a", 0, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    FtpEntry d;
    ASSERT_TRUE(c.Mlsd ? parse_mlsd_line(c.Line, d) : parse_list_line(c.Line, d, 2024, 1718000000));
    const auto secs = static_cast<std::int64_t>(c.Unix);
    EXPECT_EQ(d.Name, c.Name);
    EXPECT_EQ(d.Directory, c.Directory);
    if (c.Size) {
      EXPECT_EQ(d.Size, c.Size);
    }
    EXPECT_EQ(d.LastWriteTime, c.Unix ? unix_to_file_time(secs, static_cast<int>((c.Unix - secs) * 1e9)) : 0);
  }
  // No entry: the folder itself and its parent, garbage, and names a client would send back as
  // a path or a command argument. A NUL byte is no blank, and no type letter either.
  FtpEntry d;
  for (const char* line :
       {"type=cdir;modify=20240601100000; /pub", "type=pdir; ..", "garbage", "type=file; a/b",
        "type=dir; ../up/x", "type=file; x\ry", "type=file; ..", "type=dir; ."})
    EXPECT_FALSE(parse_mlsd_line(line, d)) << line;
  for (const std::string& line :
       {std::string("total 12"), std::string(1, '\0') + "drwxr-xr-x 2 o g 4096 Jan  1 12:30 d",
        std::string("drwxr-xr-x 2 o g 4096 Jan  1 12:30 ."),
        std::string("-rw-r--r-- 1 o g 1 Jan  1 12:30 a/b"),
        std::string("-rw-r--r-- 1 o g 1 Jan  1 12:30 a\rb"),
        std::string("12-06-26  08:51PM       <DIR>          ..")})
    EXPECT_FALSE(parse_list_line(line, d, 2024, 1718000000)) << line;
}

// (Each match against a plain recursive matcher, "*.*" as "*": fuzz/ftp_fuzz.cpp on arbitrary
// patterns and names.) A "*" in the name is no wildcard, which once it was.
TEST(FtpListing, Wildcards) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*.*", "README", true}, {"*.TXT", "a.txt", false}, {"a*b*c", "a*b*xc", true}, {"*x", "*ax", true}};
  for (const auto& [pattern, name, match] : cases)
    EXPECT_EQ(ftp_wildcard_match(pattern, name), match) << pattern << " " << name;
}
