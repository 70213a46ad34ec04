#include "qninet/socket/QNITime.h"

#include <array>
#include <vector>

#include "qninet/rtl/TypInfo.h"

namespace qninet {

const char16_t* const QNIDefaultDaytimeHost = u"time.nist.gov";

namespace {

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::vector<String> blank_fields(const String& text) {
  std::vector<String> fields;
  String current;
  for (char16_t c : text) {
    if (is_blank(c)) {
      if (!current.empty()) fields.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) fields.push_back(std::move(current));
  return fields;
}

bool all_digits(const String& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char16_t c : s)
    if (!is_digit(c)) return false;
  return true;
}

// 1..12 for an English month name or its three-letter abbreviation, any case; 0 otherwise.
int month_number(const String& name) {
  static const std::array<const char16_t*, 12> kMonths = {
      u"JANUARY", u"FEBRUARY", u"MARCH",     u"APRIL",   u"MAY",      u"JUNE",
      u"JULY",    u"AUGUST",   u"SEPTEMBER", u"OCTOBER", u"NOVEMBER", u"DECEMBER"};
  const String upper = UpperCase(name);
  if (upper.size() < 3) return 0;
  for (std::size_t m = 0; m < kMonths.size(); ++m) {
    const StringView full(kMonths[m]);
    if (upper.size() <= full.size() && full.substr(0, upper.size()) == upper &&
        (upper.size() == 3 || upper.size() == full.size()))
      return static_cast<int>(m) + 1;
  }
  return 0;
}

// Three digit runs joined by `separator`, the first of at most `first_digits` digits, the
// others of one or two.
bool three_numbers(const String& s, char16_t separator, std::size_t first_digits, std::array<int, 3>& out) {
  std::vector<String> parts{String()};
  for (char16_t c : s) {
    if (c == separator)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  if (parts.size() != 3) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!all_digits(parts[i]) || parts[i].size() > (i == 0 ? first_digits : 2)) return false;
    out[i] = StrToInt(parts[i]);
  }
  return true;
}

// "HH:MM:SS".
bool read_clock(const String& s, int& hour, int& minute, int& second) {
  std::array<int, 3> n{};
  if (!three_numbers(s, u':', 2, n)) return false;
  hour = n[0];
  minute = n[1];
  second = n[2];
  return true;
}

// "YY-MM-DD" (a year of one to four digits; shorter ones are in the 2000s).
bool read_nist_date(const String& s, int& year, int& month, int& day) {
  std::array<int, 3> n{};
  if (!three_numbers(s, u'-', 4, n)) return false;
  const std::size_t yearDigits = s.find(u'-');
  year = yearDigits < 4 ? n[0] + 2000 : n[0];
  month = n[1];
  day = n[2];
  return true;
}

TDateTime encode(int year, int month, int day, int hour, int minute, int second) {
  return ComposeDateTime(EncodeDate(year, month, day), EncodeTime(hour, minute, second, 0));
}

// The NIST form "JJJJJ YY-MM-DD HH:MM:SS ..." and the inetd forms "DD MON YYYY HH:MM:SS ZONE"
// (xinetd) and "Www Mon DD HH:MM:SS YYYY" (ctime), read from the answer's first whole line.
bool read_forms(const std::vector<String>& f, TDateTime& result) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (f.size() >= 3 && all_digits(f[0]) && read_nist_date(f[1], year, month, day) &&
      read_clock(f[2], hour, minute, second)) {
    result = encode(year, month, day, hour, minute, second);
    return true;
  }
  if (f.size() < 4 || (month = month_number(f[1])) == 0) return false;
  if (all_digits(f[0]) && all_digits(f[2]) && f[2].size() == 4 && read_clock(f[3], hour, minute, second)) {
    result = encode(StrToInt(f[2]), month, StrToInt(f[0]), hour, minute, second);
    return true;
  }
  if (f.size() >= 5 && all_digits(f[2]) && all_digits(f[4]) && f[4].size() == 4 &&
      read_clock(f[3], hour, minute, second)) {
    result = encode(StrToInt(f[4]), month, StrToInt(f[2]), hour, minute, second);
    return true;
  }
  return false;
}

// What arrived, for the error: the first 60 characters, controls shown as escapes.
String quoted(const String& answer) {
  String out = u"\"";
  for (std::size_t i = 0; i < answer.size() && i < 60; ++i) {
    const char16_t c = answer[i];
    if (c == u'\r')
      out += u"\\r";
    else if (c == u'\n')
      out += u"\\n";
    else if (c < 0x20 || c == 0x7F) {
      out += u"\\x";
      out += u"0123456789ABCDEF"[c >> 4];
      out += u"0123456789ABCDEF"[c & 15];
    } else
      out += c;
  }
  if (answer.size() > 60) out += u"...";
  return out + u"\"";
}

}  // namespace

TDateTime DaytimeToDateTime(const String& Answer) {
  // Servers frame the line with empty lines (NIST sends a line feed before it as well as
  // after), so those are skipped; only a whole line counts: a close in the middle of the line
  // must not become a time.
  const auto line_start = Answer.find_first_not_of(u"\r\n");
  const auto line_end = line_start == String::npos ? String::npos : Answer.find_first_of(u"\r\n", line_start);
  TDateTime result = 0;
  if (line_end != String::npos &&
      read_forms(blank_fields(Answer.substr(line_start, line_end - line_start)), result))
    return result;
  if (Answer.empty()) throw EConvertError(u"Not a daytime answer: the server sent nothing");
  throw EConvertError(u"Not a daytime answer: " + quoted(Answer));
}

QNINET_CLASS_INFO(TQNInetDateTime,
                  PublishedReadOnly("DateTime", &Self::DateTime).StoredWhen([](const TObject&) {
                    return false;
                  }))

TQNInetDateTime::TQNInetDateTime(TComponent* AOwner) : TQNInetBase(AOwner) {
  SetPort(13);
  SetHost(QNIDefaultDaytimeHost);
}

TQNInetDateTime::~TQNInetDateTime() { StopAsyncRun(); }

TDateTime TQNInetDateTime::GetDateTime() { return DaytimeToDateTime(Execute()); }

TDateTime TQNInetDateTime::DateTime() const {
  // Reading the property asks the server, as the published reader always has.
  return const_cast<TQNInetDateTime*>(this)->GetDateTime();
}

}  // namespace qninet
