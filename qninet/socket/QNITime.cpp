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

// "HH:MM:SS" or "HH:MM".
bool read_clock(const String& s, int& hour, int& minute, int& second) {
  std::vector<String> parts{String()};
  for (char16_t c : s) {
    if (c == u':')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  if (parts.size() < 2 || parts.size() > 3) return false;
  for (const auto& p : parts)
    if (!all_digits(p)) return false;
  hour = StrToInt(parts[0]);
  minute = StrToInt(parts[1]);
  second = parts.size() == 3 ? StrToInt(parts[2]) : 0;
  return true;
}

// The inetd forms: "DD MON YYYY HH:MM:SS ZONE" (xinetd) and "Www Mon DD HH:MM:SS YYYY" (ctime).
bool read_named_month(const String& answer, TDateTime& result) {
  const auto f = blank_fields(answer);
  if (f.size() < 4) return false;
  const int month = month_number(f[1]);
  if (month == 0) return false;
  int year = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (all_digits(f[0]) && all_digits(f[2]) && read_clock(f[3], hour, minute, second)) {
    day = StrToInt(f[0]);
    year = StrToInt(f[2]);
  } else if (f.size() >= 5 && all_digits(f[2]) && all_digits(f[4]) &&
             read_clock(f[3], hour, minute, second)) {
    day = StrToInt(f[2]);
    year = StrToInt(f[4]);
  } else {
    return false;
  }
  result = EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
  return true;
}

}  // namespace

TDateTime DaytimeToDateTime(const String& Answer) {
  TDateTime named = 0;
  if (read_named_month(Answer, named)) return named;

  std::array<String, 7> field;  // 1..6: year, month, day, hour, minute, second
  std::size_t k = 0;
  // The last character is never examined: it is the line end of a well-formed answer.
  for (std::size_t i = 0; i + 1 < Answer.size() && k < 7; ++i) {
    const char16_t c = Answer[i];
    if (c == u' ' || c == u'-' || c == u':')
      ++k;
    else if (is_digit(c) && k > 0)
      field[k] += c;
  }
  for (std::size_t i = 1; i <= 6; ++i)
    if (field[i].empty()) field[i].assign(1, u'1');
  String& year = field[1];
  while (year.size() < 3) year.insert(year.begin(), u'0');
  if (year.size() < 4) year.insert(year.begin(), u'2');
  return EncodeDate(StrToInt(field[1]), StrToInt(field[2]), StrToInt(field[3])) +
         EncodeTime(StrToInt(field[4]), StrToInt(field[5]), StrToInt(field[6]), 0);
}

QNINET_CLASS_INFO(TQNInetDateTime,
                  PublishedReadOnly("DateTime", &Self::DateTime).StoredWhen([](const TObject&) {
                    return false;
                  }))

TQNInetDateTime::TQNInetDateTime(TComponent* AOwner) : TQNInetBase(AOwner) {
  SetPort(13);
  SetHost(QNIDefaultDaytimeHost);
}

TQNInetDateTime::~TQNInetDateTime() = default;

TDateTime TQNInetDateTime::GetDateTime() { return DaytimeToDateTime(Execute()); }

TDateTime TQNInetDateTime::DateTime() const {
  // Reading the property asks the server, as the published reader always has.
  return const_cast<TQNInetDateTime*>(this)->GetDateTime();
}

}  // namespace qninet
