#include "qninet/web/QNIRSS.h"

#include "qninet/sys/TextDecoding.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_CLASS_INFO(TQNIRSSItem)
QNINET_CLASS_INFO(TQNIRSSItems)
QNINET_CLASS_INFO(TQNIRSSChannel)
QNINET_CLASS_INFO(TQNIRSSChannels)
QNINET_CLASS_INFO(TQNIRSSParser)

void TQNIRSSItem::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNIRSSItem*>(Source);
  if (!s) return;
  Title = s->Title;
  Link = s->Link;
  Description = s->Description;
  Creator = s->Creator;
  Date = s->Date;
}

TQNIRSSItems::~TQNIRSSItems() = default;

void TQNIRSSItems::AssignItems(const TObject* Source) {
  const auto* s = dynamic_cast<const TQNIRSSItems*>(Source);
  if (!s || s == this) return;
  ClearItems();
  for (int i = 0; i < s->Count(); ++i) Add()->Assign(s->GetItem(i));
}

TQNIRSSChannel::TQNIRSSChannel() : FItems(std::make_unique<TQNIRSSItems>()) {}

TQNIRSSChannel::~TQNIRSSChannel() = default;

void TQNIRSSChannel::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNIRSSChannel*>(Source);
  if (!s) return;
  for (String TQNIRSSChannel::*f :
       {&TQNIRSSChannel::Title, &TQNIRSSChannel::Link, &TQNIRSSChannel::Description,
        &TQNIRSSChannel::Language, &TQNIRSSChannel::Copyright, &TQNIRSSChannel::Rating,
        &TQNIRSSChannel::ManagingEditor, &TQNIRSSChannel::WebMaster, &TQNIRSSChannel::PubDate,
        &TQNIRSSChannel::LastBuildDate, &TQNIRSSChannel::Category, &TQNIRSSChannel::Generator,
        &TQNIRSSChannel::Docs, &TQNIRSSChannel::Ttl})
    this->*f = s->*f;
  FItems->AssignItems(s->Items());
}

TQNIRSSChannels::~TQNIRSSChannels() = default;

// ---------------------------------------------------------------------------------------------

namespace {

bool contains(StringView s, StringView part) { return s.find(part) != StringView::npos; }

// Blanks and control characters off both ends.
StringView trimmed(StringView s) {
  while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() <= u' ') s.remove_suffix(1);
  return s;
}

struct ItemField {
  StringView Name;
  String TQNIRSSItem::*Field;
};
const ItemField kItemFields[] = {{u"title", &TQNIRSSItem::Title},
                                 {u"link", &TQNIRSSItem::Link},
                                 {u"description", &TQNIRSSItem::Description},
                                 {u"dc:creator", &TQNIRSSItem::Creator},
                                 {u"dc:date", &TQNIRSSItem::Date}};

struct ChannelField {
  StringView Name;
  String TQNIRSSChannel::*Field;
};
const ChannelField kChannelFields[] = {{u"title", &TQNIRSSChannel::Title},
                                       {u"link", &TQNIRSSChannel::Link},
                                       {u"description", &TQNIRSSChannel::Description},
                                       {u"language", &TQNIRSSChannel::Language},
                                       {u"copyright", &TQNIRSSChannel::Copyright},
                                       {u"managingEditor", &TQNIRSSChannel::ManagingEditor},
                                       {u"webMaster", &TQNIRSSChannel::WebMaster},
                                       {u"rating", &TQNIRSSChannel::Rating},
                                       {u"pubDate", &TQNIRSSChannel::PubDate},
                                       {u"lastBuildDate", &TQNIRSSChannel::LastBuildDate},
                                       {u"category", &TQNIRSSChannel::Category},
                                       {u"generator", &TQNIRSSChannel::Generator},
                                       {u"docs", &TQNIRSSChannel::Docs},
                                       {u"ttl", &TQNIRSSChannel::Ttl}};

// One pass over the text, alternating text runs and tags. P is the slash-separated path of open
// elements, T the name of the last tag and Q the path before it.
class FeedScanner {
public:
  explicit FeedScanner(TQNIRSSChannels& channels) : FChannels(channels) {}

  void Run(StringView s) {
    constexpr StringView kCData = u"<![CDATA[";
    const std::size_t npos = StringView::npos;
    std::size_t i = 0;
    String joined;
    for (;;) {
      // The text up to the next tag; a CDATA section is text, joined with the text around it,
      // so white space after a section cannot blank the field it filled.
      const std::size_t start = i;
      bool cdata = false;
      std::size_t lt;
      for (;;) {
        lt = s.find(u'<', i);
        if (lt == npos) return;  // trailing text is dropped
        if (s.substr(lt, kCData.size()) != kCData) break;
        const std::size_t end = s.find(u"]]>", lt + kCData.size());
        if (end == npos) return;  // as a tag without ">"
        if (!cdata) joined.clear();
        cdata = true;
        joined.append(s.substr(i, lt - i));
        joined.append(s.substr(lt + kCData.size(), end - lt - kCData.size()));
        i = end + 3;
      }
      if (cdata) {
        joined.append(s.substr(i, lt - i));
        TextStep(joined);
      } else if (lt > start) {
        TextStep(s.substr(start, lt - start));
      } else if (FTagSet && (FTag == u"channel" || FTag == u"item")) {
        TextStep({});  // a compact feed: <channel><title>...
      }
      // The tag: a comment ends at "-->"; elsewhere a quoted run may hold a ">".
      std::size_t end;
      if (s.substr(lt, 4) == u"<!--") {
        end = s.find(u"-->", lt + 4);
        if (end == npos) return;
        end += 2;
      } else {
        end = lt + 1;
        while (end < s.size() && s[end] != u'>') {
          if (s[end] == u'"' || s[end] == u'\'') {
            end = s.find(s[end], end + 1);
            if (end == npos) return;
          }
          ++end;
        }
        if (end >= s.size()) return;
      }
      TagStep(s.substr(lt, end + 1 - lt));
      i = end + 1;
    }
  }

private:
  void TagStep(StringView tag) {
    tag = trimmed(tag);
    std::size_t from = 0;
    while (from < tag.size() && (tag[from] == u'\t' || tag[from] == u' ' || tag[from] == u'<')) ++from;
    std::size_t to = from;
    while (to < tag.size() && tag[to] != 0 && tag[to] != u'\n' && tag[to] != u'\r' && tag[to] != u' ' &&
           tag[to] != u'>')
      ++to;
    const StringView name = tag.substr(from, to - from);
    if (name == u"?xml" || name == u"!--" || contains(name, u"![CDATA[")) {
      FTagSet = false;
      return;
    }
    FTag.assign(name);
    FParent = FPath;
    FTagSet = true;
    const bool closing = contains(tag, u"</");
    const bool empty = contains(tag, u"/>");
    if (!closing && !empty) {
      FPath.append(name);
      FPath.push_back(u'/');
    } else if (closing && !empty && FPath.size() > 2) {
      // The last segment goes, whatever the end tag names.
      const std::size_t slash = FPath.rfind(u'/', FPath.size() - 2);
      FPath.resize(slash == StringView::npos ? 0 : slash);
      FPath.push_back(u'/');
    }
  }

  void TextStep(StringView raw) {
    const StringView value = trimmed(raw);
    if (FTag == u"channel") {
      FChannels.Add();
      return;
    }
    TQNIRSSChannel* channel = FChannels.Last();
    if (!channel) return;
    if (FTag == u"item") {
      channel->Items()->Add();
      return;
    }
    if (contains(FParent, u"/channel/item/") || contains(FParent, u"rdf:RDF/item/")) {
      TQNIRSSItem* item = channel->Items()->Last();
      if (!item) return;
      for (const ItemField& f : kItemFields)
        if (FTag == f.Name) {
          (item->*f.Field).assign(value);
          return;
        }
    } else if (contains(FParent, u"/channel/")) {
      for (const ChannelField& f : kChannelFields)
        if (FTag == f.Name) {
          (channel->*f.Field).assign(value);
          return;
        }
    }
  }

  TQNIRSSChannels& FChannels;
  String FPath, FTag, FParent;
  bool FTagSet = false;  // the last tag set T: the compact-feed rule follows only such a tag
};

}  // namespace

void ParseRSSText(StringView Text, TQNIRSSChannels& Channels) {
  Channels.ClearItems();
  FeedScanner(Channels).Run(Text);
}

// ---------------------------------------------------------------------------------------------

TQNIRSSParser::TQNIRSSParser(TComponent* AOwner)
    : TQNCustomWebUpdater(AOwner),
      FChannels(std::make_unique<TQNIRSSChannels>()),
      FTempSlot(NewTempFileSlot()) {}

TQNIRSSParser::~TQNIRSSParser() = default;

bool TQNIRSSParser::Execute() {
  if (FLocalFileName.empty()) FLocalFileName = PrivateTempFileName(FTempSlot, FRemoteFileName);
  struct Remove {
    const String& Name;
    ~Remove() { DeleteLocalFile(Name); }
  } const remove{FLocalFileName};
  const bool result = TQNCustomWebUpdater::Execute();
  if (result && Status() == isFinished)
    ParseRSS();
  else if (Status() == isNotFound)
    FChannels->ClearItems();  // a feed that is gone has no channels
  return result;
}

void TQNIRSSParser::ParseRSS() {
  FChannels->ClearItems();
  String text = sys::decode_xml_text(ReadLocalBytes(FLocalFileName));
  ParseRSSText(text, *FChannels);
}

}  // namespace qninet
