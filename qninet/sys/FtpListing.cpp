#include "qninet/sys/FtpListing.h"

#include "qninet/sys/Files.h"

#include "qninet/sys/AsciiText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace qninet::sys {
namespace {

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

int number(std::string_view s) { return std::atoi(std::string(s).c_str()); }

// A number of one or two digits (a day, an hour, a minute), or -1.
int small_number(std::string_view s) { return all_digits(s) && s.size() <= 2 ? number(s) : -1; }

// The file time of a UTC date; 0 (no time) before 1601, where file times begin.
std::int64_t file_time_of(std::tm& tm, std::int64_t ns = 0) {
  if (tm.tm_year < 1601 - 1900) return 0;
  return unix_to_file_time(timegm(&tm), ns);
}

// "YYYYMMDDHHMMSS[.sss]" in UTC (RFC 3659 2.3).
bool parse_mlsd_time(std::string_view text, std::int64_t& out) {
  if (text.size() < 14 || !all_digits(text.substr(0, 14))) return false;
  std::tm tm{};
  tm.tm_year = number(text.substr(0, 4)) - 1900;
  tm.tm_mon = number(text.substr(4, 2)) - 1;
  tm.tm_mday = number(text.substr(6, 2));
  tm.tm_hour = number(text.substr(8, 2));
  tm.tm_min = number(text.substr(10, 2));
  tm.tm_sec = number(text.substr(12, 2));
  // Fields out of range would roll over into another date, even past the year 9999.
  if (tm.tm_mon > 11 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60 ||
      tm.tm_mon < 0 || tm.tm_mday < 1)
    return false;
  std::int64_t ns = 0;
  if (text.size() > 15 && text[14] == '.') {
    std::string frac(text.substr(15, 9));
    while (frac.size() < 9) frac.push_back('0');
    if (all_digits(frac)) ns = std::atoll(frac.c_str());
  }
  out = file_time_of(tm, ns);
  return true;
}

// A name that could step outside its folder, or smuggle a command line when sent back.
bool unsafe_name(std::string_view name) { return name.find_first_of("\r\n/") != std::string_view::npos; }

}  // namespace

bool ftp_wildcard_match(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") pattern = "*";
  // Iterative glob with backtracking to the last '*'.
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    // A "*" is a wildcard even where the name holds a "*".
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool parse_mlsd_line(std::string_view raw, FtpEntry& entry) {
  const std::string_view line = trim_ascii(raw);
  const auto space = line.find(' ');
  if (space == std::string_view::npos || space + 1 >= line.size()) return false;
  std::string_view facts = line.substr(0, space);
  const std::string_view name = line.substr(space + 1);
  // "." and ".." name the folder itself and its parent whatever type the facts claim.
  if (unsafe_name(name) || name == "." || name == "..") return false;
  entry = FtpEntry{};
  entry.Name = std::string(name);
  while (!facts.empty()) {
    const auto end = std::min(facts.find(';'), facts.size());
    const std::string_view fact = facts.substr(0, end);
    facts.remove_prefix(std::min(end + 1, facts.size()));
    const auto eq = fact.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string key = lower_ascii(fact.substr(0, eq));
    const std::string_view value = fact.substr(eq + 1);
    if (key == "type") {
      const std::string v = lower_ascii(value);
      if (v == "cdir" || v == "pdir") return false;  // the listed folder and its parent
      entry.Directory = v == "dir";
    } else if (key == "size" || key == "sizd") {
      entry.Size = std::strtoull(std::string(value).c_str(), nullptr, 10);
    } else if (key == "modify") {
      parse_mlsd_time(value, entry.LastWriteTime);
    }
  }
  return true;
}

bool parse_list_line(std::string_view raw, FtpEntry& entry, int currentYear, std::int64_t now) {
  // "drwxr-xr-x 2 owner group 4096 Jan  1 12:00 name" or "... Jan  1  2023 name".
  const std::string_view line = trim_ascii(raw);
  if (line.size() < 10 || std::string_view("-dl").find(line[0]) == std::string_view::npos) return false;
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  for (int i = 0; i < 8 && pos < line.size(); ++i) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    const std::size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) return false;
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  while (pos < line.size() && line[pos] == ' ') ++pos;
  if (fields.size() != 8 || pos >= line.size()) return false;
  std::string_view name = line.substr(pos);
  if (line[0] == 'l') name = name.substr(0, name.find(" -> "));
  if (name == "." || name == ".." || unsafe_name(name)) return false;
  static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  int month = -1;
  for (int m = 0; m < 12; ++m)
    if (lower_ascii(fields[5]) == months[m]) month = m;
  if (month < 0) return false;
  entry = FtpEntry{};
  entry.Name = std::string(name);
  entry.Directory = line[0] == 'd';
  entry.Size = std::strtoull(std::string(fields[4]).c_str(), nullptr, 10);
  // The date: "Mon D HH:MM" or "Mon D YYYY"; any other text leaves the entry without a time.
  std::tm tm{};
  tm.tm_mon = month;
  tm.tm_mday = small_number(fields[6]);
  const std::string_view t = fields[7];
  const auto colon = t.find(':');
  if (colon != std::string_view::npos) {
    tm.tm_year = currentYear - 1900;
    tm.tm_hour = small_number(t.substr(0, colon));
    tm.tm_min = small_number(t.substr(colon + 1));
  } else {
    tm.tm_year = all_digits(t) && t.size() == 4 ? number(t) - 1900 : -1900;
  }
  if (tm.tm_mday < 1 || tm.tm_hour < 0 || tm.tm_min < 0) return true;
  // Without a year the date lies within the last six months: a "future" date is last year's.
  if (colon != std::string_view::npos) {
    std::tm probe = tm;
    if (timegm(&probe) > now + 86400) tm.tm_year -= 1;
  }
  entry.LastWriteTime = file_time_of(tm);
  return true;
}

}  // namespace qninet::sys
