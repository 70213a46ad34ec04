#pragma once
// Feed dates as moments: the records keep the text a feed wrote, and these read it on demand.

#include <optional>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/SysUtils.h"
#include "qninet/web/QNIRSS.h"

namespace qninet {

/// A feed's date text as a moment in UTC, or nothing when it is neither form:
/// - RFC 822 as RSS writes it: "Tue, 10 Jun 2003 04:00:00 GMT", the day name and the seconds
///   optional, a two-digit year (below 50: the 2000s), the zone "+hhmm"/"-hhmm", "UT", "GMT",
///   "Z" or a North American name ("EST", "PDT", ...);
/// - RFC 3339 as Atom and dc:date write it: "2003-06-10T04:00:00Z", "+02:00", a fraction of a
///   second, "t" or a blank for "T", and the date alone (midnight UTC).
/// Blanks around the text are ignored; anything after it, or an impossible date, gives nothing.
QNINET_API std::optional<TDateTime> ParseFeedDate(StringView Text);

/// An item's `Date` (dc:date, else pubDate), parsed.
QNINET_API std::optional<TDateTime> FeedItemDate(const TQNIRSSItem& Item);
/// A channel's `PubDate` and `LastBuildDate`, parsed.
QNINET_API std::optional<TDateTime> FeedPubDate(const TQNIRSSChannel& Channel);
QNINET_API std::optional<TDateTime> FeedLastBuildDate(const TQNIRSSChannel& Channel);

}  // namespace qninet
