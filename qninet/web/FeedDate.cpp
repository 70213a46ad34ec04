#include "qninet/web/FeedDate.h"

#include <array>
#include <cstdint>

namespace qninet {

namespace {

/// A reader over the text that either takes what it expects or leaves the position as it was.
struct Cursor {
  StringView Text;
  std::size_t At = 0;

  bool End() const { return At >= Text.size(); }
  char16_t Peek() const { return End() ? u'\0' : Text[At]; }
  bool Take(char16_t c) {
    if (Peek() != c) return false;
    ++At;
    return true;
  }
  void SkipBlanks() {
    while (Peek() == u' ' || Peek() == u'\t') ++At;
  }
  /// Between `min` and `max` digits as a number.
  std::optional<int> Number(std::size_t min, std::size_t max) {
    int value = 0;
    std::size_t n = 0;
    while (n < max && Peek() >= u'0' && Peek() <= u'9') {
      value = value * 10 + (Peek() - u'0');
      ++At;
      ++n;
    }
    if (n < min) return std::nullopt;
    return value;
  }
  /// A run of ASCII letters, in upper case.
  std::string Word() {
    std::string word;
    for (char16_t c = Peek(); (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); c = Peek()) {
      word += static_cast<char>(c >= u'a' ? c - 32 : c);
      ++At;
    }
    return word;
  }
};

std::optional<TDateTime> moment(int year, int month, int day, int hour, int minute, int second,
                                int offsetMinutes) {
  TDateTime date = 0, time = 0;
  if (second == 60) second = 59;  // a leap second reads as the last one of its minute
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
    return std::nullopt;
  return date + time - offsetMinutes / 1440.0;
}

/// "+hhmm", "-hhmm" (RFC 822 writes no colon, RFC 3339 one) as minutes east of UTC.
std::optional<int> numeric_zone(Cursor& c, bool colon) {
  const int sign = c.Take(u'+') ? 1 : c.Take(u'-') ? -1 : 0;
  if (sign == 0) return std::nullopt;
  const auto hours = c.Number(2, 2);
  if (!hours || (colon && !c.Take(u':'))) return std::nullopt;
  const auto minutes = c.Number(2, 2);
  if (!minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  return sign * (*hours * 60 + *minutes);
}

std::optional<TDateTime> rfc822(Cursor c) {
  static constexpr std::array<const char*, 12> kMonths{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                       "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::size_t start = c.At;
  if (!c.Word().empty()) {  // the day name, which says nothing the date does not
    if (!c.Take(u',')) return std::nullopt;
  } else {
    c.At = start;
  }
  c.SkipBlanks();
  const auto day = c.Number(1, 2);
  c.SkipBlanks();
  const std::string name = c.Word();
  int month = 0;
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (name == kMonths[i]) month = static_cast<int>(i) + 1;
  c.SkipBlanks();
  const std::size_t yearAt = c.At;
  auto year = c.Number(2, 4);
  if (!day || month == 0 || !year) return std::nullopt;
  const std::size_t digits = c.At - yearAt;
  if (digits == 2) *year += *year < 50 ? 2000 : 1900;  // RFC 5322 section 4.3
  if (digits == 3) *year += 1900;
  c.SkipBlanks();
  const auto hour = c.Number(2, 2);
  if (!hour || !c.Take(u':')) return std::nullopt;
  const auto minute = c.Number(2, 2);
  if (!minute) return std::nullopt;
  int second = 0;
  if (c.Take(u':')) {
    const auto s = c.Number(2, 2);
    if (!s) return std::nullopt;
    second = *s;
  }
  c.SkipBlanks();
  std::optional<int> zone;
  if (c.Peek() == u'+' || c.Peek() == u'-') {
    zone = numeric_zone(c, false);
  } else {
    static constexpr std::array<std::pair<const char*, int>, 12> kZones{{{"UT", 0},
                                                                         {"UTC", 0},
                                                                         {"GMT", 0},
                                                                         {"Z", 0},
                                                                         {"EST", -300},
                                                                         {"EDT", -240},
                                                                         {"CST", -360},
                                                                         {"CDT", -300},
                                                                         {"MST", -420},
                                                                         {"MDT", -360},
                                                                         {"PST", -480},
                                                                         {"PDT", -420}}};
    const std::string word = c.Word();
    for (const auto& [text, minutes] : kZones)
      if (word == text) zone = minutes;
  }
  c.SkipBlanks();
  if (!zone || !c.End()) return std::nullopt;
  return moment(*year, month, *day, *hour, *minute, second, *zone);
}

std::optional<TDateTime> rfc3339(Cursor c) {
  const auto year = c.Number(4, 4);
  if (!year || !c.Take(u'-')) return std::nullopt;
  const auto month = c.Number(2, 2);
  if (!month || !c.Take(u'-')) return std::nullopt;
  const auto day = c.Number(2, 2);
  if (!day) return std::nullopt;
  if (c.End()) return moment(*year, *month, *day, 0, 0, 0, 0);
  if (!c.Take(u'T') && !c.Take(u't') && !c.Take(u' ')) return std::nullopt;
  const auto hour = c.Number(2, 2);
  if (!hour || !c.Take(u':')) return std::nullopt;
  const auto minute = c.Number(2, 2);
  if (!minute || !c.Take(u':')) return std::nullopt;
  const auto second = c.Number(2, 2);
  if (!second) return std::nullopt;
  if (c.Take(u'.')) {  // a fraction below the second: any number of digits, none kept
    if (!c.Number(1, 1)) return std::nullopt;
    while (c.Peek() >= u'0' && c.Peek() <= u'9') ++c.At;
  }
  const std::optional<int> zone = c.Take(u'Z') || c.Take(u'z') ? 0 : numeric_zone(c, true);
  if (!zone || !c.End()) return std::nullopt;
  return moment(*year, *month, *day, *hour, *minute, *second, *zone);
}

}  // namespace

std::optional<TDateTime> ParseFeedDate(StringView Text) {
  while (!Text.empty() &&
         (Text.front() == u' ' || Text.front() == u'\t' || Text.front() == u'\r' || Text.front() == u'\n'))
    Text.remove_prefix(1);
  while (!Text.empty() &&
         (Text.back() == u' ' || Text.back() == u'\t' || Text.back() == u'\r' || Text.back() == u'\n'))
    Text.remove_suffix(1);
  if (auto parsed = rfc3339(Cursor{Text})) return parsed;
  return rfc822(Cursor{Text});
}

std::optional<TDateTime> FeedItemDate(const TQNIRSSItem& Item) { return ParseFeedDate(Item.Date); }
std::optional<TDateTime> FeedPubDate(const TQNIRSSChannel& Channel) { return ParseFeedDate(Channel.PubDate); }
std::optional<TDateTime> FeedLastBuildDate(const TQNIRSSChannel& Channel) {
  return ParseFeedDate(Channel.LastBuildDate);
}

}  // namespace qninet
