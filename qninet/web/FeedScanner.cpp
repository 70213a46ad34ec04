// The feed scanner: one pass over a feed's text (RSS 0.9x/2.0, RSS 1.0 and Atom 1.0) that fills
// the channels and items. Malformed input is never an error; it only ends the scan early.

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "qninet/core/Entities.h"
#include "qninet/sys/CodePage.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/sys/Utf8.h"
#include "qninet/web/FeedChannels.h"
#include "qninet/web/QNIRSS.h"

namespace qninet {

namespace {

// The scanner runs over UTF-8 bytes (most feeds, no copy) or over decoded text; every character
// it looks for is ASCII, which never occurs inside a UTF-8 sequence.
template <class Ch>
using View = std::basic_string_view<Ch>;

template <class Ch>
std::size_t find(View<Ch> s, std::string_view ascii, std::size_t from = 0) {
  const std::size_t n = ascii.size();
  for (std::size_t at = s.find(static_cast<Ch>(ascii[0]), from); at != View<Ch>::npos;
       at = s.find(static_cast<Ch>(ascii[0]), at + 1)) {
    if (s.size() - at < n) return View<Ch>::npos;
    std::size_t k = 1;
    while (k < n && s[at + k] == static_cast<Ch>(ascii[k])) ++k;
    if (k == n) return at;
  }
  return View<Ch>::npos;
}

template <class Ch>
bool contains(View<Ch> s, std::string_view ascii) {
  return find(s, ascii) != View<Ch>::npos;
}

template <class Ch>
bool starts_at(View<Ch> s, std::size_t at, std::string_view ascii) {
  if (s.size() - at < ascii.size()) return false;
  for (std::size_t k = 0; k < ascii.size(); ++k)
    if (s[at + k] != static_cast<Ch>(ascii[k])) return false;
  return true;
}

template <class Ch>
bool equals(View<Ch> s, std::string_view ascii) {
  return s.size() == ascii.size() && starts_at(s, 0, ascii);
}

// Blanks and control characters off both ends.
template <class Ch>
View<Ch> trimmed(View<Ch> s) {
  while (!s.empty() && static_cast<std::make_unsigned_t<Ch>>(s.front()) <= u' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<std::make_unsigned_t<Ch>>(s.back()) <= u' ') s.remove_suffix(1);
  return s;
}

String text_of(View<char> s) { return sys::utf8_to_utf16(s); }
String text_of(View<char16_t> s) { return String(s); }

// An element's name and the text field it fills.
template <class T>
struct NamedField {
  std::string_view Name;
  String T::*Field;
};
const NamedField<TQNIRSSItem> kItemFields[] = {{"title", &TQNIRSSItem::Title},
                                               {"link", &TQNIRSSItem::Link},
                                               {"description", &TQNIRSSItem::Description},
                                               {"dc:creator", &TQNIRSSItem::Creator},
                                               {"dc:date", &TQNIRSSItem::Date},
                                               // RSS 2.0's names, which yield to the Dublin Core ones
                                               {"author", &TQNIRSSItem::Creator},
                                               {"pubDate", &TQNIRSSItem::Date}};

// An element's name and the channel's text it fills.
struct ChannelField {
  std::string_view Name;
  feed_detail::ChannelText Field;
};
const ChannelField kChannelFields[] = {{"title", feed_detail::ctTitle},
                                       {"link", feed_detail::ctLink},
                                       {"description", feed_detail::ctDescription},
                                       {"language", feed_detail::ctLanguage},
                                       {"copyright", feed_detail::ctCopyright},
                                       {"managingEditor", feed_detail::ctManagingEditor},
                                       {"webMaster", feed_detail::ctWebMaster},
                                       {"rating", feed_detail::ctRating},
                                       {"pubDate", feed_detail::ctPubDate},
                                       {"lastBuildDate", feed_detail::ctLastBuildDate},
                                       {"category", feed_detail::ctCategory},
                                       {"generator", feed_detail::ctGenerator},
                                       {"docs", feed_detail::ctDocs},
                                       {"ttl", feed_detail::ctTtl}};

template <class Ch>
bool ends_with(View<Ch> s, std::string_view ascii) {
  return s.size() >= ascii.size() && starts_at(s, s.size() - ascii.size(), ascii);
}

// The value of attribute `name` in a tag's text (quoted either way); none when it is absent.
template <class Ch>
bool attribute(View<Ch> tag, std::string_view name, View<Ch>& value) {
  for (std::size_t at = qninet::find(tag, name); at != View<Ch>::npos; at = qninet::find(tag, name, at + 1)) {
    const Ch before = at ? tag[at - 1] : Ch('<');
    if (before != ' ' && before != '\t' && before != '\n' && before != '\r') continue;
    std::size_t p = at + name.size();
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\n' || tag[p] == '\r')) ++p;
    if (p >= tag.size() || tag[p] != '=') continue;
    ++p;
    while (p < tag.size() && (tag[p] == ' ' || tag[p] == '\t' || tag[p] == '\n' || tag[p] == '\r')) ++p;
    if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) continue;
    const std::size_t close = tag.find(tag[p], p + 1);
    if (close == View<Ch>::npos) return false;
    value = tag.substr(p + 1, close - p - 1);
    return true;
  }
  return false;
}

// Atom 1.0 (RFC 4287): which field an element's text fills.
struct AtomItemField {
  std::string_view Name;
  String TQNIRSSItem::*Field;
  int Rank;  // a lower rank is not overwritten by a higher one: summary over content
};
const AtomItemField kAtomItemFields[] = {{"title", &TQNIRSSItem::Title, 0},
                                         {"summary", &TQNIRSSItem::Description, 1},
                                         {"content", &TQNIRSSItem::Description, 2},
                                         {"updated", &TQNIRSSItem::Date, 1},
                                         {"published", &TQNIRSSItem::Date, 2}};
const ChannelField kAtomChannelFields[] = {{"title", feed_detail::ctTitle},
                                           {"subtitle", feed_detail::ctDescription},
                                           {"updated", feed_detail::ctLastBuildDate},
                                           {"rights", feed_detail::ctCopyright},
                                           {"generator", feed_detail::ctGenerator}};

// One pass over the text, alternating text runs and tags. P is the slash-separated path of open
// elements, T the name of the last tag and Q the path before it.
template <class Ch>
class FeedScanner {
public:
  FeedScanner(feed_detail::ChannelStore& channels, bool decode) : FChannels(channels), FDecode(decode) {}

  void Run(View<Ch> s) {
    std::size_t i = 0;
    for (;;) {
      const std::size_t lt = ScanText(s, i);
      if (lt == npos) return;
      const std::size_t end = TagEnd(s, lt);
      if (end == npos) return;
      TagStep(s.substr(lt, end + 1 - lt));
      i = end + 1;
      if (FXhtml && !SkipXhtml(s, i)) return;
    }
  }

  // RFC 4287 section 4.2.1: the feed's author is the author of every entry without its own.
  void Finish() {
    if (!FAtom || FFeedAuthor.empty() || !FChannel || !FChannel->Items) return;
    const TQNIRSSItems& items = *FChannel->Items;
    for (int i = 0; i < items.Count(); ++i)
      if (items.GetItem(i)->Creator.empty()) items.GetItem(i)->Creator = FFeedAuthor;
  }

private:
  static constexpr std::size_t npos = View<Ch>::npos;

  // The text from `i` up to the next tag, handed to TextStep; the "<" that starts the tag, or
  // npos at the end of the feed (trailing text is dropped). A CDATA section is text, joined
  // with the text around it, so white space after a section cannot blank the field it filled.
  std::size_t ScanText(View<Ch> s, std::size_t i) {
    constexpr std::string_view kCData = "<![CDATA[";
    const std::size_t start = i;
    bool cdata = false;
    std::size_t lt;
    for (;;) {
      lt = s.find(static_cast<Ch>('<'), i);
      if (lt == npos) return npos;
      if (!starts_at(s, lt, kCData)) break;
      const std::size_t end = find(s, "]]>", lt + kCData.size());
      if (end == npos) return npos;  // as a tag without ">"
      if (!cdata) FJoined.clear();
      cdata = true;
      AppendText(FJoined, s.substr(i, lt - i));
      FJoined.append(s.substr(lt + kCData.size(), end - lt - kCData.size()));
      i = end + 3;
    }
    if (cdata) {
      AppendText(FJoined, s.substr(i, lt - i));
      TextStep(FJoined, true);
    } else if (lt > start) {
      TextStep(s.substr(start, lt - start), false);
    } else if (FTagSet && (equals(View<Ch>(FTag), "channel") || equals(View<Ch>(FTag), "item"))) {
      TextStep({}, false);  // a compact feed: <channel><title>...
    }
    return lt;
  }

  // The ">" that ends the tag starting at `lt`, or npos. A comment ends at "-->"; elsewhere a
  // quoted run may hold a ">".
  static std::size_t TagEnd(View<Ch> s, std::size_t lt) {
    if (starts_at(s, lt, "<!--")) {
      const std::size_t end = find(s, "-->", lt + 4);
      return end == npos ? npos : end + 2;
    }
    std::size_t end = lt + 1;
    while (end < s.size() && s[end] != '>') {
      if (s[end] == '"' || s[end] == '\'') {
        end = s.find(s[end], end + 1);
        if (end == npos) return npos;
      }
      ++end;
    }
    return end >= s.size() ? npos : end;
  }

  // Atom's xhtml text is markup: kept whole, up to the element's end tag, without its div.
  // Moves `i` to that end tag; false when there is none.
  bool SkipXhtml(View<Ch> s, std::size_t& i) {
    FXhtml = false;
    std::string close = "</";
    for (Ch c : FTag) close += static_cast<char>(c);
    const std::size_t endTag = find(s, close, i);
    if (endTag == npos) return false;
    AtomXhtml(s.substr(i, endTag - i));
    i = endTag;
    return true;
  }

  void TagStep(View<Ch> tag) {
    tag = trimmed(tag);
    std::size_t from = 0;
    while (from < tag.size() && (tag[from] == '\t' || tag[from] == ' ' || tag[from] == '<')) ++from;
    std::size_t to = from;
    while (to < tag.size() && tag[to] != 0 && tag[to] != '\n' && tag[to] != '\r' && tag[to] != ' ' &&
           tag[to] != '>')
      ++to;
    const View<Ch> name = tag.substr(from, to - from);
    // In an Atom feed every comment is ignored: its path tests look at the path's end, which a
    // comment pushed as an element would hide.
    if (equals(name, "?xml") || equals(name, "!--") || contains(name, "![CDATA[") ||
        (FAtom && starts_at(name, 0, "!--"))) {
      FTagSet = false;
      return;
    }
    FTag.assign(name);
    // What the text after this tag and an Atom tag ask of the path before it (Q), taken now.
    const View<Ch> path(FPath);
    FParentIs = {ends_with(path, "feed/"),
                 ends_with(path, "feed/entry/"),
                 ends_with(path, "feed/author/"),
                 ends_with(path, "feed/entry/author/"),
                 path_holds(kChannelItem) || path_holds(kRdfItem),
                 path_holds(kChannel)};
    FTagSet = true;
    const bool closing = contains(tag, "</");
    const bool empty = contains(tag, "/>");
    if (!closing && !empty && !FAtom && equals(name, "feed") && FChannels.Count() == 0 && !path_holds(kRss) &&
        !path_holds(kRdf)) {
      FAtom = true;
      FChannel = FChannels.Add();
    }
    if (FAtom) AtomTag(tag, name, closing, empty);
    if (!closing && !empty) {
      path_append(name);
    } else if (closing && !empty && FPath.size() > 2) {
      // The last segment goes, whatever the end tag names.
      const std::size_t slash = FPath.rfind('/', FPath.size() - 2);
      path_truncate(slash == View<Ch>::npos ? 0 : slash);
      path_append({});
    }
  }

  // P grows and shrinks at its end only. Where each text the scan looks for in it ends is kept
  // as P changes, so asking whether P holds one costs the same however long P is (a feed
  // nested a million deep, or one tag name of megabytes, made every tag cost a walk of P).
  enum PathMark : std::uint8_t { kRss, kRdf, kChannel, kChannelItem, kRdfItem };
  static constexpr std::string_view kMarks[] = {"rss/", "rdf:RDF/", "/channel/", "/channel/item/",
                                                "rdf:RDF/item/"};
  bool path_holds(PathMark mark) const { return !FMarkEnds[mark].empty(); }

  // Appends `name` and the slash after it.
  void path_append(View<Ch> name) {
    const std::size_t from = FPath.size();
    FPath.append(name);
    FPath.push_back('/');
    const View<Ch> path(FPath);
    for (std::size_t end = from + 1; end <= path.size(); ++end) {
      if (path[end - 1] != '/') continue;  // every mark ends with a slash
      for (std::size_t m = 0; m < std::size(kMarks); ++m)
        if (end >= kMarks[m].size() && starts_at(path, end - kMarks[m].size(), kMarks[m]))
          FMarkEnds[m].push_back(end);
    }
  }

  void path_truncate(std::size_t size) {
    FPath.resize(size);
    for (auto& ends : FMarkEnds)
      while (!ends.empty() && ends.back() > size) ends.pop_back();
  }

  // An Atom feed's entries and links; `FParentIs` tells of the path before the tag.
  void AtomTag(View<Ch> tag, View<Ch> name, bool closing, bool empty) {
    feed_detail::ChannelRecord* channel = FChannel;
    if (closing) return;
    if (!empty && equals(name, "entry") && FParentIs.Feed) {
      channel->ItemList().Add();
      FAtomRanks = {};
      return;
    }
    TQNIRSSItem* item = FParentIs.FeedEntry ? channel->LastItem() : nullptr;
    if (equals(name, "link") || equals(name, "link/")) {
      // The page of the entry or the feed: the first link with rel "alternate" or none.
      String* link = item ? &item->Link : FParentIs.Feed ? &channel->Text(feed_detail::ctLink) : nullptr;
      View<Ch> rel, href;
      if (!link || !link->empty() || !attribute(tag, "href", href)) return;
      if (attribute(tag, "rel", rel) && !equals(rel, "alternate")) return;
      *link = FDecode ? text_of(View<Ch>(entities::decode_references(href))) : text_of(href);
      return;
    }
    View<Ch> type;
    FXhtml = !empty && attribute(tag, "type", type) && equals(type, "xhtml") &&
             (FParentIs.FeedEntry || FParentIs.Feed);
  }

  // The field that an Atom element's text fills: with `Rank`, a summary over a content and an
  // updated over a published, wherever they stand.
  String* AtomField(int& rank) {
    const View<Ch> tag(FTag);
    feed_detail::ChannelRecord* channel = FChannel;
    TQNIRSSItem* item = channel->LastItem();
    rank = 0;
    if (FParentIs.FeedAuthor && equals(tag, "name")) return FFeedAuthor.empty() ? &FFeedAuthor : nullptr;
    if (item && FParentIs.FeedEntryAuthor && equals(tag, "name"))
      return item->Creator.empty() ? &item->Creator : nullptr;
    if (item && FParentIs.FeedEntry) {
      for (const AtomItemField& f : kAtomItemFields)
        if (equals(tag, f.Name)) {
          int& held = f.Field == &TQNIRSSItem::Date ? FAtomRanks.Date : FAtomRanks.Description;
          if (f.Rank > 0 && held > 0 && held < f.Rank) return nullptr;
          if (f.Rank > 0) held = f.Rank;
          return &(item->*f.Field);
        }
    } else if (FParentIs.Feed) {
      for (const auto& f : kAtomChannelFields)
        if (equals(tag, f.Name)) return &channel->Text(f.Field);
    }
    return nullptr;
  }

  void AtomText(View<Ch> raw, bool decoded) {
    int rank = 0;
    if (String* field = AtomField(rank)) *field = Value(raw, decoded);
  }

  void AtomXhtml(View<Ch> inner) {
    int rank = 0;
    String* field = AtomField(rank);
    if (!field) return;
    inner = trimmed(inner);
    // The xhtml div that RFC 4287 section 3.1.1.3 wraps the markup in is not part of it.
    if (starts_at(inner, 0, "<div")) {
      const std::size_t open = inner.find(static_cast<Ch>('>'));
      const std::size_t close = inner.size() >= 6 ? inner.rfind(static_cast<Ch>('<')) : View<Ch>::npos;
      if (open != View<Ch>::npos && close != View<Ch>::npos && close > open &&
          starts_at(inner, close, "</div"))
        inner = trimmed(inner.substr(open + 1, close - open - 1));
    }
    *field = text_of(inner);
  }

  // Text outside a CDATA section joins the section's text decoded when decoding is on.
  void AppendText(std::basic_string<Ch>& joined, View<Ch> text) const {
    if (FDecode)
      joined.append(entities::decode_references(text));
    else
      joined.append(text);
  }

  // The trimmed text as stored: decoded when decoding is on and the text is not decoded yet.
  String Value(View<Ch> raw, bool decoded) const {
    const View<Ch> v = trimmed(raw);
    return FDecode && !decoded ? text_of(View<Ch>(entities::decode_references(v))) : text_of(v);
  }

  void TextStep(View<Ch> raw, bool decoded) {
    if (FAtom) {
      AtomText(raw, decoded);
      return;
    }
    const View<Ch> tag(FTag);
    if (equals(tag, "channel")) {
      FChannel = FChannels.Add();
      return;
    }
    feed_detail::ChannelRecord* channel = FChannel;
    if (!channel) return;
    if (equals(tag, "item")) {
      channel->ItemList().Add();
      return;
    }
    if (FParentIs.InItem) {
      TQNIRSSItem* item = channel->LastItem();
      if (!item) return;
      if (item != FDublinCoreOf) {
        FDublinCoreOf = item;
        FDublinCoreDate = FDublinCoreCreator = false;
      }
      for (const auto& f : kItemFields)
        if (equals(tag, f.Name)) {
          String value = Value(raw, decoded);
          // A non-empty dc:date or dc:creator wins over pubDate or author, wherever it stands;
          // an empty one does not blank what they gave.
          for (auto [dc, rss, seen] : {std::tuple{"dc:date", "pubDate", &FDublinCoreDate},
                                       std::tuple{"dc:creator", "author", &FDublinCoreCreator}}) {
            if (equals(tag, dc) && value.empty() && !*seen) return;
            if (equals(tag, dc)) *seen = true;
            if (equals(tag, rss) && *seen) return;
          }
          item->*f.Field = std::move(value);
          return;
        }
    } else if (FParentIs.InChannel) {
      for (const auto& f : kChannelFields)
        if (equals(tag, f.Name)) {
          channel->SetText(f.Field, Value(raw, decoded));
          return;
        }
    }
  }

  feed_detail::ChannelStore& FChannels;
  feed_detail::ChannelRecord* FChannel = nullptr;  // the last channel
  const bool FDecode;
  std::basic_string<Ch> FPath, FTag;
  std::basic_string<Ch> FJoined;                          // the text around and in CDATA sections, joined
  std::vector<std::size_t> FMarkEnds[std::size(kMarks)];  // where each mark ends in P, ascending
  struct {
    bool Feed = false, FeedEntry = false, FeedAuthor = false, FeedEntryAuthor = false;  // Q ends so
    bool InItem = false, InChannel = false;  // Q holds "/channel/item/" or "rdf:RDF/item/"; "/channel/"
  } FParentIs;
  // Whether the item being filled had a non-empty dc:date or dc:creator.
  const TQNIRSSItem* FDublinCoreOf = nullptr;
  bool FDublinCoreDate = false, FDublinCoreCreator = false;
  bool FAtom = false;   // the root is an Atom feed
  String FFeedAuthor;   // the Atom feed's own author
  bool FXhtml = false;  // the last tag starts an Atom text of type xhtml
  struct {
    int Description = 0, Date = 0;  // which Atom element filled the entry's field (0: none)
  } FAtomRanks;
  bool FTagSet = false;  // the last tag set T: the compact-feed rule follows only such a tag
};

}  // namespace

void ParseRSSText(StringView Text, TQNIRSSChannels& Channels, bool DecodeEntities) {
  Channels.ClearItems();
  FeedScanner<char16_t> scanner(feed_detail::store_of(Channels), DecodeEntities);
  scanner.Run(Text);
  scanner.Finish();
}

void ParseRSSBytes(std::string_view Bytes, TQNIRSSChannels& Channels, bool DecodeEntities,
                   std::string_view Charset) {
  Channels.ClearItems();
  std::size_t mark = 0;
  const std::string charset = sys::feed_text_charset(Bytes, Charset, mark);
  if (charset == "UTF-8") {
    FeedScanner<char> scanner(feed_detail::store_of(Channels), DecodeEntities);
    scanner.Run(Bytes.substr(mark));
    scanner.Finish();
  } else {
    FeedScanner<char16_t> scanner(feed_detail::store_of(Channels), DecodeEntities);
    scanner.Run(sys::decode_bytes(Bytes.substr(mark), charset));
    scanner.Finish();
  }
}

}  // namespace qninet
