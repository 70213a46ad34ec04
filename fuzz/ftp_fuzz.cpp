// FTP listing lines (MLSD and Unix-style LIST) and the search wildcards on arbitrary text: an
// entry's name comes from its line and can never name another folder, and the wildcard match
// agrees with a plain recursive matcher.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "qninet/sys/FtpListing.h"

using namespace qninet::sys;

namespace {

// 2026-12-07 00:00:00 UTC; the year-less LIST dates are read around it.
constexpr std::int64_t kNow = 1796601600;
constexpr std::int64_t kFileTimeOfYear10000 = 2650467744000000000;

void check_entry(const FtpEntry& entry, std::string_view line) {
  FUZZ_CHECK(!entry.Name.empty() && entry.Name != "." && entry.Name != "..");
  FUZZ_CHECK(entry.Name.find_first_of("\r\n/") == std::string::npos);
  FUZZ_CHECK(line.find(entry.Name) != std::string_view::npos);
  FUZZ_CHECK(entry.LastWriteTime >= 0 && entry.LastWriteTime < kFileTimeOfYear10000);
}

// "*" any run, "?" any one character; "*.*" stands for "*".
bool reference_match(std::string_view p, std::string_view n) {
  std::vector<std::vector<char>> m(p.size() + 1, std::vector<char>(n.size() + 1, 0));
  m[p.size()][n.size()] = 1;
  for (std::size_t i = p.size(); i-- > 0;)
    for (std::size_t j = n.size() + 1; j-- > 0;) {
      if (p[i] == '*')
        m[i][j] = m[i + 1][j] || (j < n.size() && m[i][j + 1]);
      else
        m[i][j] = j < n.size() && (p[i] == '?' || p[i] == n[j]) && m[i + 1][j + 1];
    }
  return m[0][0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes_of(data, size);
  const std::string_view line = bytes.substr(0, bytes.find('\n'));
  FtpEntry entry;
  if (parse_mlsd_line(line, entry)) check_entry(entry, line);
  FtpEntry listed;
  if (parse_list_line(line, listed, 2026, kNow)) {
    check_entry(listed, line);
    const std::size_t first = line.find_first_not_of(" \t\r");
    FUZZ_CHECK(listed.Directory == (first != std::string_view::npos && line[first] == 'd'));
  }
  // The rest: a pattern line and a name, kept short for the reference's table.
  if (line.size() < bytes.size() && size < 4096) {
    const std::string_view rest = bytes.substr(line.size() + 1);
    const std::string_view pattern = rest.substr(0, rest.find('\n'));
    const std::string_view name = pattern.size() < rest.size() ? rest.substr(pattern.size() + 1) : "";
    FUZZ_CHECK(ftp_wildcard_match(pattern, name) == reference_match(pattern == "*.*" ? "*" : pattern, name));
  }
  return 0;
}
