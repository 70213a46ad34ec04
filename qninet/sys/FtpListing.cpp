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

// A listing line without its line break: blanks at its end belong to the name.
std::string_view without_line_end(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

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
  // The name runs from after the first "; " to the line's end, blanks included (RFC 3659 7.2);
  // a line without facts starts with the blank.
  std::string_view line = without_line_end(raw);
  if (line.empty()) return false;
  const auto split = line.front() == ' ' ? 0 : line.find("; ");
  if (split == std::string_view::npos) return false;
  const std::size_t nameAt = split == 0 ? 1 : split + 2;
  if (nameAt >= line.size()) return false;
  std::string_view facts = line.substr(0, split);
  const std::string_view name = line.substr(nameAt);
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

namespace {

// Blank-separated fields from `pos` on; each field's start is kept so the name can be cut
// from the line whole.
std::vector<std::pair<std::size_t, std::string_view>> fields_of(std::string_view line, std::size_t count) {
  std::vector<std::pair<std::size_t, std::string_view>> out;
  std::size_t pos = 0;
  while (out.size() < count) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) break;
    const std::size_t end = std::min(line.find(' ', pos), line.size());
    out.emplace_back(pos, line.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

int month_of(std::string_view s) {
  static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string m = lower_ascii(s);
  for (int i = 0; i < 12; ++i)
    if (m == months[i]) return i;
  return -1;
}

// "MM-DD-YY  HH:MMxM  <DIR>|size  name", as IIS and DOS-style servers write; the year may have
// four digits and the time 24 hours.
bool parse_dos_line(std::string_view line, FtpEntry& entry) {
  const auto f = fields_of(line, 4);
  if (f.size() < 4) return false;
  const std::string_view date = f[0].second, time = f[1].second, what = f[2].second;
  if (date.size() < 8 || date[2] != '-' || date[5] != '-') return false;
  const int month = small_number(date.substr(0, 2)), day = small_number(date.substr(3, 2));
  const std::string_view y = date.substr(6);
  if (month < 1 || month > 12 || day < 1 || !all_digits(y) || (y.size() != 2 && y.size() != 4)) return false;
  const bool dir = what == "<DIR>";
  if (!dir && !all_digits(what)) return false;
  const std::string_view name = line.substr(f[3].first);
  if (name == "." || name == ".." || unsafe_name(name)) return false;
  entry = FtpEntry{};
  entry.Name = std::string(name);
  entry.Directory = dir;
  if (!dir) entry.Size = std::strtoull(std::string(what).c_str(), nullptr, 10);
  std::tm tm{};
  tm.tm_year = y.size() == 2 ? (number(y) < 70 ? 100 : 0) + number(y) : number(y) - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  const auto colon = time.find(':');
  if (colon == std::string_view::npos) return true;
  tm.tm_hour = small_number(time.substr(0, colon));
  std::string_view rest = time.substr(colon + 1);
  const bool pm = rest.size() == 4 && (rest.substr(2) == "PM" || rest.substr(2) == "pm");
  if (rest.size() == 4 && (pm || rest.substr(2) == "AM" || rest.substr(2) == "am")) {
    rest = rest.substr(0, 2);
    if (tm.tm_hour == 12) tm.tm_hour = 0;
    if (pm) tm.tm_hour += 12;
  }
  tm.tm_min = small_number(rest);
  if (tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59) return true;
  entry.LastWriteTime = file_time_of(tm);
  return true;
}

}  // namespace

bool parse_list_line(std::string_view raw, FtpEntry& entry, int currentYear, std::int64_t now) {
  // Unix: "drwxr-xr-x 2 owner group 4096 Jan  1 12:00 name" or "... Jan  1  2023 name"; the
  // group may be missing, the mode may carry an ACL mark ("+", "."), owners may be numbers.
  const std::string_view line = without_line_end(raw);
  if (line.size() < 10) return false;
  if (line[0] >= '0' && line[0] <= '9') return parse_dos_line(line, entry);
  if (std::string_view("-dl").find(line[0]) == std::string_view::npos) return false;
  const auto f = fields_of(line, 10);
  // The date is the month name after the size, then the day, then a time or a year; the
  // name follows the blank after it, leading blanks included.
  std::size_t m = 3;
  while (m + 2 < f.size() && !(month_of(f[m].second) >= 0 && all_digits(f[m - 1].second))) ++m;
  if (m + 2 >= f.size()) return false;
  const int month = month_of(f[m].second);
  const std::size_t nameAt = f[m + 2].first + f[m + 2].second.size() + 1;
  if (nameAt >= line.size()) return false;
  std::string_view name = line.substr(nameAt);
  if (line[0] == 'l') name = name.substr(0, name.find(" -> "));
  if (name.empty() || name == "." || name == ".." || unsafe_name(name)) return false;
  entry = FtpEntry{};
  entry.Name = std::string(name);
  entry.Directory = line[0] == 'd';
  entry.Size = std::strtoull(std::string(f[m - 1].second).c_str(), nullptr, 10);
  // The date: "Mon D HH:MM" or "Mon D YYYY"; any other text leaves the entry without a time.
  std::tm tm{};
  tm.tm_mon = month;
  tm.tm_mday = small_number(f[m + 1].second);
  const std::string_view t = f[m + 2].second;
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
