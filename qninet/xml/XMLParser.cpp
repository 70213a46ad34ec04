// The parser: one left-to-right scan, over UTF-16 text or straight over the loaded bytes
// (UTF-8, or an ASCII-based single-byte code page), building the tree as it goes.

#include <string>

#include "qninet/core/qniutil.h"
#include "qninet/sys/CodePage.h"
#include "qninet/xml/QNInetXML.h"
#include "qninet/xml/XMLDocument.h"
#include "qninet/xml/XMLSource.h"

namespace qninet {

using namespace xml_source;

// Positions are 1-based as in the rules the parser follows; c(p) reads NUL outside the text.
// `Table`: the tree below the root goes into a compact node table (no handlers to serve);
// otherwise items are built as the handlers need them. Node 0 of the table is the root item,
// whose own name, kind, value and attribute text are written to the item itself.
template <class Source, bool Table>
class XMLParser {
public:
  XMLParser(TQNXMLEngine& engine, const Source& src, std::size_t length)
      : FEngine(engine), FSrc(src), L(length) {
    if constexpr (Table) {
      FDoc = std::make_shared<XMLDocument>();
      FDoc->add(XMLDocument::kNone);
    }
  }

  // Hands the finished table to the root's list.
  void attach_table() {
    FDoc->finish();
    FEngine.RootItem()->FItems.attach(std::move(FDoc), 0);
  }

  void run() {
    read_text(false);
    // Tokens start while a character follows the current one (counted in characters, not
    // in the bytes of a UTF-8 source).
    while (p <= L && !FSrc.last_char(p - 1, L) && c(p) != 0) {
      if (!token()) return;
    }
  }

private:
  char16_t c(std::size_t q) const { return q >= 1 && q <= FSrc.Size ? FSrc.at(q - 1) : char16_t(0); }

  // Up to the next "<", NUL or "/>", after any leading ">"; steps past the "<".
  String read_text(bool keep = true) {
    while (p <= L && c(p) == u'>') ++p;
    const std::size_t start = p;
    while (p <= L) {
      p = FSrc.find_stop(p - 1, L) + 1;
      if (p > L || FSrc.at(p - 1) != u'/' || c(p + 1) == u'>') break;
      ++p;
    }
    String result = keep ? FSrc.slice(start - 1, p - 1) : String();
    if (c(p) == u'<') ++p;
    return result;
  }

  String read_name() {
    const std::size_t start = p;
    while (p <= L && is_name_char(FSrc.at(p - 1))) ++p;
    return FSrc.slice(start - 1, p - 1);
  }

  // Up to the ">" or "/" that ends the start tag; neither ends it inside a quoted run (double
  // or single quotes). A "<", NUL or the end of the text inside a run means the quote was left
  // open: then the first ">" ends the tag, as does a "/" outside double quotes, so that a
  // broken document keeps its rest.
  String read_attributes() {
    const std::size_t start = p;
    char16_t quote = 0;
    for (; p <= L; ++p) {
      const char16_t ch = FSrc.at(p - 1);
      if (quote) {
        if (ch == quote) quote = 0;
        if (ch == u'<' || ch == 0) break;
      } else if (ch == 0 || ch == u'>' || ch == u'/') {
        return FSrc.slice(start - 1, p - 1);
      } else if (ch == u'"' || ch == u'\'') {
        quote = ch;
      }
    }
    if (!quote) return FSrc.slice(start - 1, p - 1);
    p = start;
    bool inQuote = false;
    while (p <= L) {
      const char16_t ch = FSrc.at(p - 1);
      if (ch == 0 || ch == u'>' || (ch == u'/' && !inQuote)) break;
      if (ch == u'"') inQuote = !inQuote;
      ++p;
    }
    return FSrc.slice(start - 1, p - 1);
  }

  String read_comment() {
    const std::size_t start = p;
    while (p <= L && c(p) != 0) {
      if (c(p) == u'-' && c(p + 1) == u'-' && c(p + 2) == u'>') {
        p += 3;
        String result = FSrc.slice(start - 1, p - 2);
        while (p <= L && is_blank(c(p))) ++p;
        if (c(p) == u'<') ++p;
        return result;
      }
      ++p;
    }
    return String();
  }

  // Whether "![CDATA[" starts at `q`.
  bool at_cdata(std::size_t q) const {
    static constexpr char16_t kOpen[] = u"![CDATA[";
    for (std::size_t k = 0; k < 8; ++k)
      if (q + k > L || c(q + k) != kOpen[k]) return false;
    return true;
  }

  // Steps over a CDATA section (p on its "!") and returns its characters; a section with no
  // "]]>" runs to the end of the text.
  String read_cdata() {
    p += 8;
    const std::size_t start = p;
    while (p + 2 <= L && !(c(p) == u']' && c(p + 1) == u']' && c(p + 2) == u'>')) ++p;
    const std::size_t end = p + 2 <= L ? p : L + 1;
    p = p + 2 <= L ? p + 3 : L + 1;
    return FSrc.slice(start - 1, end - 1);
  }

  void skip_tag(bool stepPast) {
    while (p <= L && c(p) != 0 && c(p) != u'<') ++p;
    if (stepPast && c(p) == u'<') ++p;
  }

  // Skips a refused element and its content, counting nested start and end tags.
  void skip_element(std::size_t tokenStart) {
    std::size_t depth = 1;
    if (!(c(p) == u'/' && c(p + 1) == u'>')) {
      // Back to the ">" that ends the refused start tag, but never before the tag itself:
      // going further would re-read earlier content, without end on a vetoing handler.
      --p;
      while (p > tokenStart && c(p) != 0 && c(p) != u'>') --p;
    }
    while (p <= L && depth > 0) {
      if (c(p) == u'<' && at_cdata(p + 1)) {
        ++p;
        (void)read_cdata();  // its "<" and "/>" are characters, not markup
      } else if (c(p) == u'/' && c(p + 1) == u'>') {
        --depth;
        p += 2;
      } else if (c(p) == u'<' && c(p + 1) == u'/') {
        --depth;
        p += 2;
        skip_tag(false);
      } else {
        if (c(p) == u'<') ++depth;
        ++p;
      }
    }
    skip_tag(true);
  }

  void convert(String& text) const {
    if (text.empty()) return;
    if (FUtf8) {
      if (!all_ascii(text)) text = Utf8Decode(text);
    } else if (FWindows) {
      if (FWindowsAsciiSafe && all_ascii(text)) return;
      std::string bytes;
      sys::encode_text(text, FAnsi, bytes);
      text = sys::decode_bytes(bytes, FWindowsCharset);
    }
  }

  void declare_encoding(const String& encoding) {
    FUtf8 = !FEngine.UTF8Processed && SameStrings(false, encoding, u"utf-8");
    FWindows = false;
    if (FUtf8) return;
    if (encoding.size() >= 8 && SameStrings(false, StringView(encoding).substr(0, 8), u"windows-")) {
      FWindows = true;
      FAnsi = sys::ansi_code_page();
      constexpr Integer kNoNumber = -2147483647 - 1;
      const Integer cp = StrToIntDef(StringView(encoding).substr(8), kNoNumber);
      FWindowsCharset = cp == kNoNumber ? FAnsi : sys::code_page_name(cp);
      auto ascii_identity = [](const std::string& cs) {
        if (SameText(FromUtf8(cs), u"utf-8")) return true;
        const char16_t* t = sys::single_byte_table(cs);
        if (!t) return false;
        for (char16_t b = 0; b < 0x80; ++b)
          if (t[b] != b) return false;
        return true;
      };
      FWindowsAsciiSafe = ascii_identity(FAnsi) && ascii_identity(FWindowsCharset);
    }
  }

  // One markup token; false when a handler cancelled the parse.
  bool token() {
    if (at_cdata(p)) return cdata();
    const std::size_t tokenStart = p;
    String name = read_name();
    String attrs, value;
    const bool comment = name.size() >= 3 && name[0] == u'!' && name[1] == u'-' && name[2] == u'-';
    if (comment) {
      name = u"Comment";
      value = u"Comment" + read_comment();
    } else {
      attrs = read_attributes();
      // The "?" of a declaration's "?>" closes it; it is no part of the last attribute.
      if (!attrs.empty() && attrs.back() == u'?' && c(p) == u'>' && SameStrings(false, name, u"?xml"))
        attrs.pop_back();
      value = read_text();
      convert(attrs);
      convert(value);
    }

    if constexpr (Table) {
      place_node(std::move(name), std::move(value), std::move(attrs), comment);
      return close_items();
    }
    bool accept = true;
    if (!name.empty()) {
      if (!FCurrent) {
        FCurrent = FEngine.RootItem();
      } else {
        if (FEngine.OnTag()) FEngine.OnTag()(&FEngine, FCurrent, name, value, attrs, accept);
        if (accept) FCurrent = FCurrent->Items()->AddItem(FCurrent);
      }
    }

    if (accept) {
      // A nameless token with nothing open (a stray "/" or blank after the document) has
      // no item to go to and is dropped.
      if (TQNXMLItem* item = FCurrent) {
        item->FTagName = std::move(name);
        if (!value.empty()) item->append_value(std::move(value));
        if (comment) {
          item->FKind = ikComment;
          FCurrent = item->FParentItem;
        } else {
          item->FKind = ikProperty;
          if (!attrs.empty()) {
            item->FAttributes = std::move(attrs);
            if (SameStrings(false, item->FTagName, u"?xml")) process_declaration(*item);
          }
        }
      }
    } else {
      skip_element(tokenStart);
    }

    return close_items();
  }

  // A CDATA section is text of the item it stands in, like the text after it; it makes no
  // item. Its "&" is kept as "&amp;", so that GetTagValue gives the characters as written.
  bool cdata() {
    String text = read_cdata();
    convert(text);
    String value;
    value.reserve(text.size());
    for (const char16_t ch : text) {
      if (ch == u'&')
        value += u"&amp;";
      else
        value.push_back(ch);
    }
    String rest = read_text();
    convert(rest);
    value += rest;
    if (value.empty()) return close_items();
    if constexpr (Table) {
      if (FCur == 0)
        FEngine.RootItem()->append_value(std::move(value));
      else if (FCur != XMLDocument::kNone)
        FDoc->add_texts(FCur, StringView(), value);
    } else if (FCurrent) {
      FCurrent->append_value(std::move(value));
    }
    return close_items();
  }

  // The table's counterpart of the item code in `token`.
  void place_node(String name, String value, String attrs, bool comment) {
    XMLDocument& doc = *FDoc;
    if (!name.empty()) FCur = FCur == XMLDocument::kNone ? 0 : doc.add(FCur);
    const std::uint32_t n = FCur;
    if (n == XMLDocument::kNone) return;
    const bool declaration = !comment && !attrs.empty() && SameStrings(false, name, u"?xml");
    if (n == 0) {
      TQNXMLItem& root = *FEngine.RootItem();
      root.FTagName = std::move(name);
      if (!value.empty()) root.append_value(std::move(value));
      root.FKind = comment ? ikComment : ikProperty;
      if (!comment && !attrs.empty()) root.FAttributes = declaration ? String() : std::move(attrs);
    } else {
      doc.set_name(n, name);
      doc.set_kind(n, comment ? ikComment : ikProperty);
      doc.add_texts(n, comment || declaration ? StringView() : StringView(attrs), value);
    }
    if (comment) FCur = doc.node(n).Parent;
    if (declaration) {
      // As ProcessAttributes does for an item: attribute nodes, and the first "encoding".
      bool declared = false;
      SplitXMLAttributes(attrs, [&](String attrName, String attrValue) {
        const std::uint32_t a = doc.add(n);
        doc.set_name(a, attrName);
        doc.set_kind(a, ikAttribute);
        doc.add_texts(a, StringView(), attrValue);
        if (!declared && SameStrings(false, attrName, u"encoding")) {
          declared = true;
          declare_encoding(XMLTagValue(attrValue));
        }
      });
    }
  }

  // Closes an item for every end tag that follows; false when a handler cancelled the parse.
  bool close_items() {
    while (p < L && c(p) != 0 && c(p) == u'/') {
      if constexpr (Table) {
        if (FCur == XMLDocument::kNone) {
          skip_tag(true);
          break;
        }
        if (c(p + 1) == u'>' && p + 1 == L) {
          ++p;
          break;
        }
        FCur = FDoc->node(FCur).Parent;
        skip_tag(true);
        continue;
      }
      if (!FCurrent) {
        // Nothing left to close: step over the stray end tag so the scan moves on.
        skip_tag(true);
        break;
      }
      if (c(p + 1) == u'>' && p + 1 == L) {
        ++p;
        break;
      }
      TQNXMLItem* closed = FCurrent;
      FCurrent = closed->FParentItem;
      bool cancel = false;
      if (FEngine.OnAfterTag()) {
        TQNXMLItem* node = closed;
        FEngine.OnAfterTag()(&FEngine, node, cancel);
        if (cancel) return false;
      }
      skip_tag(true);
    }
    return true;
  }

  void process_declaration(TQNXMLItem& item) {
    const int before = item.Items()->Count();
    item.ProcessAttributes();
    // Only the attributes this declaration produced: the root may still hold the items of
    // an earlier document, and searching them again for every declaration would be
    // quadratic.
    const TQNXMLItems& kids = *item.Items();
    for (int i = before; i < kids.Count(); ++i) {
      if (SameStrings(false, kids[i]->TagName(), u"encoding")) {
        declare_encoding(kids[i]->GetTagValue());
        return;
      }
    }
  }

  TQNXMLEngine& FEngine;
  const Source& FSrc;
  std::size_t L;
  std::size_t p = 1;
  TQNXMLItem* FCurrent = nullptr;
  std::shared_ptr<XMLDocument> FDoc;
  std::uint32_t FCur = XMLDocument::kNone;
  bool FUtf8 = false;
  bool FWindows = false;
  bool FWindowsAsciiSafe = false;
  std::string FAnsi, FWindowsCharset;
};

namespace {

// Below this length every offset and length of the table fits its 30 bits, even when CDATA
// sections grow by their "&amp;"s.
constexpr std::size_t kTableLimit = std::size_t{1} << 27;

template <class Source>
void parse_source(TQNXMLEngine& engine, TQNXMLItem& root, const Source& src, std::size_t length) {
  if (!engine.OnTag() && !engine.OnAfterTag() && length < kTableLimit && root.Items()->Count() == 0) {
    XMLParser<Source, true> parser(engine, src, length);
    parser.run();
    parser.attach_table();
    return;
  }
  XMLParser<Source, false>(engine, src, length).run();
}

}  // namespace

void TQNXMLEngine::ParseXMLFromString(const String& AText, Integer ALength) {
  if (!FRootItem) FRootItem = new TQNXMLItem(this);
  const std::size_t length =
      ALength <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(ALength), AText.size());
  const WideSource src{AText.data(), AText.size()};
  parse_source(*this, *FRootItem, src, length);
}

void TQNXMLEngine::parse_bytes(std::string_view bytes, const char16_t* codePage) {
  if (!FRootItem) FRootItem = new TQNXMLItem(this);
  const ByteSource src{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), codePage};
  parse_source(*this, *FRootItem, src, bytes.size());
}

}  // namespace qninet
