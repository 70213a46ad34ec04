#pragma once
// FTP directory listings read as entries: MLSD lines, Unix- and DOS-style LIST lines and the wildcards
// of a search pattern. Pure functions over plain text.

#include <cstdint>
#include <string>
#include <string_view>

namespace qninet::sys {

/// One entry of an FTP listing.
struct FtpEntry {
  std::string Name;  ///< as the server sent it (UTF-8 for RFC 3659 servers)
  bool Directory = false;
  std::uint64_t Size = 0;
  std::int64_t LastWriteTime = 0;  ///< 100-ns units since 1601 UTC; 0 when the server gave none
};

/// One line of an MLSD answer (RFC 3659 7): facts, "; ", the name with its blanks. False for the listed
/// folder itself, its parent, a name with CR, LF or "/" in it, or a line that is no entry.
bool parse_mlsd_line(std::string_view line, FtpEntry& entry);
/// One line of a LIST answer, Unix-style or DOS-style ("12-06-26  08:51PM  <DIR>  name"; false as
/// for MLSD); the name keeps its blanks. A Unix date without a year is taken in `currentYear`
/// (or the year before when it would lie more than a day ahead of `now`, seconds since 1970).
bool parse_list_line(std::string_view line, FtpEntry& entry, int currentYear, std::int64_t now);
/// Whether `name` matches a pattern with * and ? ("*.*" matches every name); case-sensitive.
bool ftp_wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace qninet::sys
