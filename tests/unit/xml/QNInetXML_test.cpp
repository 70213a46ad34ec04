#include "qninet/xml/QNInetXML.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "qninet/platform/CodePage.h"

using namespace qninet;

namespace {

// The whole tree in one line: `name="raw value"[raw attributes]{children}`, attribute items
// marked "@", comments "!".
void dump_into(const TQNXMLItem& item, String& out) {
  if (item.Kind() == ikAttribute) out += u"@";
  if (item.Kind() == ikComment) out += u"!";
  out += item.TagName();
  if (item.ValueAssigned()) out += u"=\"" + item.ValueText() + u"\"";
  if (!item.Attributes().empty()) out += u"[" + item.Attributes() + u"]";
  const TQNXMLItems& kids = *item.Items();
  if (kids.Count() == 0) return;
  out += u"{";
  for (int i = 0; i < kids.Count(); ++i) {
    if (i) out += u",";
    dump_into(*kids[i], out);
  }
  out += u"}";
}

std::string dump(const TQNXMLItem& item) {
  String out;
  dump_into(item, out);
  return ToUtf8(out);
}

std::string parse(const String& text, TQNXMLEngine* engine = nullptr) {
  TQNXMLEngine local(nullptr);
  TQNXMLEngine& e = engine ? *engine : local;
  e.ParseXMLFromString(text, static_cast<Integer>(text.size()));
  return dump(*e.RootItem());
}

std::string load_bytes(std::string_view bytes, TQNXMLEngine& engine) {
  TStringStream stream(bytes);
  engine.LoadFromStream(0, &stream);
  return dump(*engine.RootItem());
}

// Records the events in order: "tag:<parent>/<name>" and "after:<name>".
struct EventLog {
  std::vector<std::string> Events;
  void attach(TQNXMLEngine& e, std::function<bool(const String&)> refuse = nullptr,
              std::function<bool(const String&)> cancel = nullptr) {
    e.SetOnTag([this, refuse](TObject*, TQNXMLItem* parent, const String& name, const String&, const String&,
                              bool& accept) {
      Events.push_back("tag:" + ToUtf8(parent->TagName()) + "/" + ToUtf8(name));
      if (refuse && refuse(name)) accept = false;
    });
    e.SetOnAfterTag([this, cancel](TObject*, TQNXMLItem*& node, bool& stop) {
      Events.push_back("after:" + ToUtf8(node->TagName()));
      if (cancel && cancel(node->TagName())) stop = true;
    });
  }
};

struct AnsiOverride {
  explicit AnsiOverride(const char* value) { setenv("QNINET_ANSI_CODEPAGE", value, 1); }
  ~AnsiOverride() { unsetenv("QNINET_ANSI_CODEPAGE"); }
};

class RemovalCounter : public TComponent {
public:
  RemovalCounter() : TComponent(nullptr) {}
  int Removed = 0;

protected:
  void Notification(TComponent*, TOperation op) override {
    if (op == opRemove) ++Removed;
  }
};

// Every child names its holder as parent and lies one level deeper.
bool tree_is_consistent(const TQNXMLItem& root) {
  std::vector<const TQNXMLItem*> work{&root};
  while (!work.empty()) {
    const TQNXMLItem* item = work.back();
    work.pop_back();
    for (int i = 0; i < item->Items()->Count(); ++i) {
      const TQNXMLItem* kid = (*item->Items())[i];
      if (kid->ParentItem() != item || kid->Level() != item->Level() + 1) return false;
      work.push_back(kid);
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The node tree

TEST(XMLItemTree, AddItemSetsParentAndLevelAndDestroyUnhooks) {
  TQNXMLEngine engine(nullptr);
  TQNXMLItem* root = engine.RootItem();
  EXPECT_EQ(root->ParentItem(), nullptr);
  EXPECT_EQ(root->Owner(), &engine);
  TQNXMLItem* a = root->Items()->AddItem(root);
  TQNXMLItem* b = root->Items()->AddItem(root);
  TQNXMLItem* a1 = a->Items()->AddItem(a);
  EXPECT_EQ(a1->ParentItem(), a);
  EXPECT_EQ(a1->Level(), 2);
  EXPECT_EQ(a1->GetOwner(), a);
  delete a;
  ASSERT_EQ(root->Items()->Count(), 1);
  EXPECT_EQ((*root->Items())[0], b);
  EXPECT_THROW(root->Items()->Items(1), EListError);
}

TEST(XMLItemTree, ClearDestroysEveryDescendant) {
  RemovalCounter counter;
  {
    TQNXMLItem root(nullptr);
    TQNXMLItem* a = root.Items()->AddItem(&root);
    a->FreeNotification(&counter);
    TQNXMLItem* a1 = a->Items()->AddItem(a);
    a1->FreeNotification(&counter);
    a1->Items()->AddItem(a1)->FreeNotification(&counter);
    root.Items()->AddItem(&root)->FreeNotification(&counter);
    root.Items()->Clear();
    EXPECT_EQ(counter.Removed, 4);
    EXPECT_EQ(root.Items()->Count(), 0);
    root.Items()->AddItem(&root)->FreeNotification(&counter);
  }
  EXPECT_EQ(counter.Removed, 5);  // the item left in the list goes with its parent
}

TEST(XMLItemTree, AssignCopiesTheWholeSubtree) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<r><a x=\"1\">v<b>w</b></a></r>", 29);
  TQNXMLItem target(nullptr);
  target.Assign(engine.RootItem());
  EXPECT_EQ(dump(target), dump(*engine.RootItem()));
  EXPECT_TRUE(tree_is_consistent(target));
  // Copying an item's own ancestor list into it must not run away.
  TQNXMLItem* a = (*target.Items())[0];
  a->SetItems(target.Items());
  EXPECT_EQ(dump(target), "r{a=\"v\"[ x=\"1\"]{a=\"v\"[ x=\"1\"]{b=\"w\"}}}");
  EXPECT_TRUE(tree_is_consistent(target));
}

TEST(XMLItemChild, SearchDepthAndCase) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<r><a><b><c><d/></c></b></a></r>", 33);
  TQNXMLItem* r = engine.RootItem();
  EXPECT_EQ(r->GetChild(u"r", false), r);
  ASSERT_NE(r->GetChild(u"b", false), nullptr);
  EXPECT_EQ(r->GetChild(u"b", false)->Level(), 2);
  EXPECT_EQ(r->GetChild(u"c", false), nullptr);
  ASSERT_NE(r->GetChild(u"c", true), nullptr);
  EXPECT_NE(r->GetChild(u"d", true), nullptr);
  EXPECT_EQ(r->GetChild(u"B", true), nullptr);
  // The depth limit counts from the start item.
  EXPECT_NE(r->GetChild(u"a", false)->GetChild(u"c", false), nullptr);
}

TEST(XMLItemAttributes, SplittingRules) {
  TQNXMLItem item(nullptr);
  item.Items()->AddItem(&item)->SetTagName(u"child");
  item.SetAttributes(u" a=\"x y\" b=2");
  item.ProcessAttributes();
  EXPECT_EQ(dump(item), "{child,@a=\"\"x y\" \",@b=\"2\"}");
  EXPECT_EQ((*item.Items())[1]->GetTagXMLValue(), u"x y");
  EXPECT_EQ((*item.Items())[2]->GetTagXMLValue(), u"2");
  EXPECT_TRUE(item.Attributes().empty());
  item.ProcessAttributes();
  EXPECT_EQ(item.Items()->Count(), 3);

  auto split = [](const String& attrs) {
    TQNXMLItem it(nullptr);
    it.SetAttributes(attrs);
    it.ProcessAttributes();
    return dump(it);
  };
  EXPECT_EQ(split(u"a = \"1\""), "");
  EXPECT_EQ(split(u"a='x y'"), "{@a=\"'x \"}");
  EXPECT_EQ(split(u" a=\"1"), "");
  EXPECT_EQ(split(u" a=\"1\" b=\"2"), "{@a=\"\"1\" \"}");
  EXPECT_EQ(split(u" version=\"1.0\" encoding=\"utf-8\"?"),
            "{@version=\"\"1.0\" \",@encoding=\"\"utf-8\"?\"}");
  EXPECT_EQ(split(u"q=\"a=b/c\""), "{@q=\"\"a=b/c\"\"}");
}

TEST(XMLItemValue, QuoteStripping) {
  TQNXMLItem item(nullptr);
  EXPECT_TRUE(item.Value().IsUnassigned());
  EXPECT_EQ(item.GetTagXMLValue(), u"");
  auto xml = [&](const String& v) {
    item.SetValue(Variant(v));
    return item.GetTagXMLValue();
  };
  EXPECT_EQ(xml(u"\"1.0\" "), u"1.0");
  EXPECT_EQ(xml(u"\"utf-8\"?"), u"utf-8\"?");
  EXPECT_EQ(xml(u"\"quoted\" text"), u"quoted\" text");
  EXPECT_EQ(xml(u"\" \r\n\""), u"");
  EXPECT_EQ(xml(u"plain \"x\" "), u"plain \"x\" ");
  item.SetValue(Variant(String()));
  EXPECT_FALSE(item.Value().IsUnassigned());
  item.SetValue(Variant(Integer(42)));
  EXPECT_EQ(item.GetTagXMLValue(), u"42");
}

TEST(XMLItemValue, EntitiesDecodeOnceFromLeftToRight) {
  auto decoded = [](const String& v) {
    TQNXMLItem item(nullptr);
    item.SetValue(Variant(v));
    return item.GetTagValue();
  };
  EXPECT_EQ(decoded(u"a &lt b"), u"a < b");
  EXPECT_EQ(decoded(u"a&amp;amp;b"), u"a&amp;b");
  EXPECT_EQ(decoded(u"&amp;lt;"), u"&lt;");
  EXPECT_EQ(decoded(u"x&nbsp;y"), u"xy");
  EXPECT_EQ(decoded(u"&degree"), u"\u00B0ree");
  EXPECT_EQ(decoded(u"&brvbar;&plusmn;&para;&copy;&trade;&car;&ret;"), u"|+\u00B6cT\n\r");
  EXPECT_EQ(decoded(u"&quot;&apos;&gt;"), u"\"'>");
  // Numeric references, any case, beyond the basic plane as a pair.
  EXPECT_EQ(decoded(u"&#xA;&#Xa;&#65;&#x42;"), u"\n\nAB");
  EXPECT_EQ(decoded(u"&#x1F600;"), u"\U0001F600");
  EXPECT_EQ(decoded(u"&#1760;"), u"\u06E0");
  EXPECT_EQ(decoded(u"&#xD800;&#0;&#99999999999;"), u"\uFFFD\uFFFD\uFFFD");
  // Forgiving rows without ";" still apply; anything else keeps its "&".
  EXPECT_EQ(decoded(u"&#176 &#009&#39x"), u"\u00B0 \t'x");
  EXPECT_EQ(decoded(u"&unknown; & &#; &#x;"), u"&unknown; & &#; &#x;");
  EXPECT_EQ(decoded(u"\"&amp;\" "), u"&");
}

TEST(XMLHelpers, SameStringsAndPaths) {
  EXPECT_TRUE(SameStrings(true, u"Ab", u"Ab"));
  EXPECT_FALSE(SameStrings(true, u"Ab", u"ab"));
  EXPECT_TRUE(SameStrings(false, u"ShipMent", u"shipment"));
  EXPECT_FALSE(SameStrings(false, u"\u00C9", u"\u00E9"));
  EXPECT_FALSE(SameStrings(false, u"ab", u"abc"));

  TQNXMLEngine engine(nullptr);
  String path = u"a/b/c";
  EXPECT_EQ(engine.GetFirstTagName(path), u"a");
  EXPECT_EQ(path, u"b/c");
  path = u"a/b/c";
  EXPECT_EQ(engine.GetLastTagName(path), u"c");
  EXPECT_EQ(path, u"a/b");
  path = u"a/b/";
  EXPECT_EQ(engine.GetLastTagName(path), u"");
  EXPECT_EQ(path, u"a/b");
  path = u"single";
  EXPECT_EQ(engine.GetFirstTagName(path), u"single");
  EXPECT_EQ(path, u"");
  path = u"single";
  EXPECT_EQ(engine.GetLastTagName(path), u"single");
  EXPECT_EQ(path, u"");
}

TEST(XMLHelpers, DateTimeFromFixedPositions) {
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2012-05-17T14:03:09"),
                   EncodeDate(2012, 5, 17) + EncodeTime(14, 3, 9, 0));
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2012-05-17T14:03:09.5+02:00"),
                   EncodeDate(2012, 5, 17) + EncodeTime(14, 3, 9, 0));
  EXPECT_DOUBLE_EQ(XMLStringToDateTime(u"2012/05/17 14.03.09"),
                   EncodeDate(2012, 5, 17) + EncodeTime(14, 3, 9, 0));
  EXPECT_EQ(XMLStringToDateTime(u"2012-05-17"), 0);
  EXPECT_EQ(XMLStringToDateTime(u""), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2012-13-17T14:03:09"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"2012-05-17T25:03:09"), 0);
  EXPECT_EQ(XMLStringToDateTime(u"20x2-05-17T14:03:09"), 0);
}

// ---------------------------------------------------------------------------------------
// The parser: elements, text and end tags

TEST(XMLParserElements, SiblingsAndEventOrder) {
  TQNXMLEngine engine(nullptr);
  EventLog log;
  log.attach(engine);
  EXPECT_EQ(parse(u"<r><a>1</a><b x=\"2\"/><c>3</c></r>", &engine), "r{a=\"1\",b[ x=\"2\"],c=\"3\"}");
  EXPECT_EQ(log.Events, (std::vector<std::string>{"tag:r/a", "after:a", "tag:r/b", "after:b", "tag:r/c",
                                                  "after:c", "after:r"}));
  EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
}

TEST(XMLParserElements, TextRules) {
  EXPECT_EQ(parse(u"<r>t1<a>1</a>t2</r>"), "r=\"t1\"{a=\"1\"}");
  EXPECT_EQ(parse(u"<r>\n  <a>1</a>\n  <b>2</b>\n</r>\n"), "r=\"\n  \"{a=\"1\",b=\"2\"}");
  EXPECT_EQ(parse(u"<a>x</a><b>y</b>"), "b=\"xy\"");
  EXPECT_EQ(parse(u"lead <r> &amp; </r>"), "r=\" &amp; \"");
  EXPECT_EQ(parse(u"<a>>x</a>"), "a=\"x\"");
  // "/>" inside a text closes the element; the end tags after it close its ancestors.
  EXPECT_EQ(parse(u"<r><a>x/>y</a><b>2</b></r>"), "b=\"2\"{a=\"x\"}");
}

TEST(XMLParserElements, NamesAndAttributeTexts) {
  EXPECT_EQ(parse(u"<x:a>1</x:a>"), "x:a=\"1\"");
  EXPECT_EQ(parse(u"<a.b>1</a.b>"), "a=\"1\"[.b]");
  EXPECT_EQ(parse(u"<a href=x/y>t</a>"), "a=\"/y>t\"[ href=x]");
  EXPECT_EQ(parse(u"<a href=\"x/y\">t</a>"), "a=\"t\"[ href=\"x/y\"]");
  EXPECT_EQ(parse(u"<!DOCTYPE r><r>1</r>"), "!DOCTYPE[ r]{r=\"1\"}");
  EXPECT_EQ(parse(u"<r><![CDATA[a<b]]></r>"), "r{![[CDATA[a<b]]]}");
  // A token with no name while an item is open lands on that item.
  EXPECT_EQ(parse(u"<r>< a>v</a></r>"), "=\"v\"[ a]");
}

TEST(XMLParserElements, DeclarationIsTheOpenRoot) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(parse(u"<?xml version=\"1.0\"?>\n<R><s>1</s></R>", &engine),
            "?xml=\"\n\"{@version=\"\"1.0\"?\",R{s=\"1\"}}");
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"VERSION")->GetTagValue(), u"1.0\"?");
}

TEST(XMLParserElements, ClosingAndCancel) {
  TQNXMLEngine engine(nullptr);
  EventLog log;
  log.attach(engine);
  EXPECT_EQ(parse(u"<r><a/>", &engine), "r{a}");
  EXPECT_TRUE(log.Events == std::vector<std::string>{"tag:r/a"});

  TQNXMLEngine cancelling(nullptr);
  EventLog log2;
  log2.attach(cancelling, nullptr, [](const String& name) { return name == u"a"; });
  EXPECT_EQ(parse(u"<r><a>1</a><b>2</b></r>", &cancelling), "r{a=\"1\"}");
  EXPECT_EQ(log2.Events, (std::vector<std::string>{"tag:r/a", "after:a"}));
}

TEST(XMLParserElements, LengthLimitsTheScan) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<a>1</a><b>2</b>", 8);
  EXPECT_EQ(dump(*engine.RootItem()), "a=\"1\"");
  engine.ParseXMLFromString(u"<c>", -5);
  EXPECT_EQ(dump(*engine.RootItem()), "a=\"1\"");
}

TEST(XMLParserElements, StrayEndTagsAfterTheDocumentEnd) {
  EXPECT_EQ(parse(u"<a></a></>"), "a");
  EXPECT_EQ(parse(u"<a></a>/> / <b>1</b>"), "b=\"1\"");
  EXPECT_EQ(parse(u"< />"), "");
}

TEST(XMLParserSearch, GetItemByTagIgnoresCase) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<Shipments><shipment><Weight>1</Weight></shipment></Shipments>", 62);
  TQNXMLItem* s = engine.GetItemByTag(nullptr, u"Shipment");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->TagName(), u"shipment");
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"SHIPMENTS"), engine.RootItem());
  EXPECT_EQ(engine.GetItemByTag(s, u"weight")->GetTagValue(), u"1");
  EXPECT_EQ(engine.GetItemByTag(s, u"Shipments"), nullptr);
}

// ---------------------------------------------------------------------------------------
// The parser: vetoes

TEST(XMLParserVeto, RefusedElementLeavesWithItsContent) {
  auto refuse_a = [](const String& text) {
    TQNXMLEngine engine(nullptr);
    EventLog log;
    log.attach(engine, [](const String& name) { return name == u"a"; });
    std::string tree = parse(text, &engine);
    std::string events;
    for (const auto& e : log.Events) events += e + " ";
    return tree + " | " + events;
  };
  EXPECT_EQ(refuse_a(u"<r><a x=\"1\"><b>2</b></a><c>3</c></r>"),
            "r{c=\"3\"} | tag:r/a tag:r/c after:c after:r ");
  EXPECT_EQ(refuse_a(u"<r>\n <a x=\"1\">\n  <b>2</b>\n </a>\n <c>3</c>\n</r>"),
            "r=\"\n \"{c=\"3\"} | tag:r/a tag:r/c after:c after:r ");
  EXPECT_EQ(refuse_a(u"<r><a x=\"1\"/>  <c>3</c></r>"), "r{c=\"3\"} | tag:r/a tag:r/c after:c after:r ");
  EXPECT_EQ(refuse_a(u"<r><a><a><a/></a></a><c>3</c></r>"), "r{c=\"3\"} | tag:r/a tag:r/c after:c after:r ");
}

TEST(XMLParserVeto, RefusalWithoutStartTagEndStillMovesOn) {
  // The start tag has no ">": the skipper must not go back into earlier content, which
  // would re-read the same element again and again.
  String text = u"<r>";
  for (int i = 0; i < 2000; ++i) text += u"<a/z</q</q";
  TQNXMLEngine engine(nullptr);
  int asked = 0;
  engine.SetOnTag([&](TObject*, TQNXMLItem*, const String& name, const String&, const String&, bool& accept) {
    ++asked;
    if (name == u"a") accept = false;
  });
  engine.ParseXMLFromString(text, static_cast<Integer>(text.size()));
  EXPECT_LE(asked, 2000);
  EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
}

// ---------------------------------------------------------------------------------------
// The parser: comments

TEST(XMLParserComments, Placement) {
  TQNXMLEngine engine(nullptr);
  EventLog log;
  log.attach(engine);
  EXPECT_EQ(parse(u"<r><!-- c --><a>1</a></r>", &engine), "r{!Comment=\"Comment c --\",a=\"1\"}");
  EXPECT_EQ(log.Events, (std::vector<std::string>{"tag:r/Comment", "tag:r/a", "after:a", "after:r"}));
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"comment")->Kind(), ikComment);

  TQNXMLEngine before(nullptr);
  EXPECT_EQ(parse(u"<!-- c --><r><a>1</a></r>", &before), "r=\"Comment c --\"{a=\"1\"}");
  EXPECT_EQ(before.RootItem()->Kind(), ikProperty);
}

TEST(XMLParserComments, MarkersThatGoAstray) {
  EXPECT_EQ(parse(u"<r><!-- never closed <a>1</a>"), "r{!Comment=\"Comment\"}");
  EXPECT_EQ(parse(u"<r><!--x--><a>1</a><!-- y --><b>2</b></r>"),
            "r{!Comment=\"Comment><a>1</a><!-- y --\",b=\"2\"}");
  EXPECT_EQ(parse(u"<r><!--x y--><a>1</a></r>"), "r{!Comment=\"Comment y--\",a=\"1\"}");
}

// ---------------------------------------------------------------------------------------
// The parser: declared encodings

TEST(XMLParserEncoding, DeclaredUtf8) {
  const String cafe = u"caf\u00C3\u00A9";  // UTF-8 bytes read one per character
  EXPECT_EQ(parse(u"<?xml version=\"1.0\" encoding=\"utf-8\"?><r>" + cafe + u"</r>"),
            ToUtf8(u"?xml{@version=\"\"1.0\" \",@encoding=\"\"utf-8\"?\",r=\"" + cafe + u"\"}"));
  EXPECT_EQ(parse(u"<?xml encoding=\"UTF-8\" ?>" + cafe + u"<r a=\"" + cafe + u"\">" + cafe + u"</r>"),
            ToUtf8(u"?xml=\"" + cafe + u"\"{@encoding=\"\"UTF-8\" \",r=\"caf\u00E9\"[ a=\"caf\u00E9\"]}"));
  TQNXMLEngine processed(nullptr);
  processed.UTF8Processed = true;
  EXPECT_EQ(parse(u"<?xml encoding=\"utf-8\" ?><r>" + cafe + u"</r>", &processed),
            ToUtf8(u"?xml{@encoding=\"\"utf-8\" \",r=\"" + cafe + u"\"}"));
  // Comments keep their text as it is.
  EXPECT_EQ(parse(u"<?xml encoding=\"utf-8\" ?><r><!-- " + cafe + u" --></r>"),
            ToUtf8(u"?xml{@encoding=\"\"utf-8\" \",r{!Comment=\"Comment " + cafe + u" --\"}}"));
}

TEST(XMLParserEncoding, DeclaredWindowsCodePage) {
  EXPECT_EQ(parse(u"<?xml encoding=\"windows-1251\" ?><r>\u00E9</r>"),
            ToUtf8(u"?xml{@encoding=\"\"windows-1251\" \",r=\"\u0439\"}"));
  // "1251\"?" is no number: the system code page both ways, which cannot hold U+0439.
  EXPECT_EQ(parse(u"<?xml encoding=\"windows-1251\"?><r a=\"\u0439\">\u00E9</r>"),
            ToUtf8(u"?xml{@encoding=\"\"windows-1251\"?\",r=\"\u00E9\"[ a=\"?\"]}"));
}

// ---------------------------------------------------------------------------------------
// Loading from bytes

namespace {
const String kDoc = u"<?xml version=\"1.0\" ?>\n<r a=\"\u00E9\">caf\u00E9 \u0439<!-- \U0001F600 --><b/></r>";

std::string with_mark(std::string_view mark, const std::string& body) { return std::string(mark) + body; }
std::string utf16(const String& s, bool be) {
  std::string out;
  platform::encode_text(s, be ? "UTF-16BE" : "UTF-16LE", out);
  return out;
}
}  // namespace

TEST(XMLLoadMarks, EveryMarkGivesTheSameTree) {
  TQNXMLEngine reference(nullptr);
  const std::string expected = parse(kDoc, &reference);
  for (const std::string& bytes :
       {with_mark("\xFF\xFE", utf16(kDoc, false)), with_mark("\xFE\xFF", utf16(kDoc, true)),
        with_mark("\xEF\xBB\xBF", ToUtf8(kDoc))}) {
    TQNXMLEngine engine(nullptr);
    EXPECT_EQ(load_bytes(bytes, engine), expected);
    EXPECT_TRUE(engine.UTF8Processed);
  }
}

TEST(XMLLoadMarks, Utf8IsDecodedOnce) {
  const std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<r>caf\xC3\xA9</r>";
  TQNXMLEngine marked(nullptr);
  load_bytes("\xEF\xBB\xBF" + body, marked);
  EXPECT_TRUE(marked.UTF8Processed);
  EXPECT_EQ(marked.GetItemByTag(nullptr, u"r")->ValueText(), u"caf\u00E9");
  TQNXMLEngine plain(nullptr);
  load_bytes(body, plain);
  EXPECT_FALSE(plain.UTF8Processed);
  EXPECT_EQ(plain.GetItemByTag(nullptr, u"r")->ValueText(), u"caf\u00E9");
  // The declaration's own text comes before the encoding applies.
  TQNXMLEngine own(nullptr);
  load_bytes("<?xml encoding=\"utf-8\" ?>\xC3\xA9<r/>", own);
  EXPECT_EQ(own.RootItem()->ValueText(), u"\u00C3\u00A9");
}

TEST(XMLLoadAnsi, SystemCodePageAndBothParsePaths) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(load_bytes("<r a=\"\x80\">\xE9\x81</r>", engine), ToUtf8(u"r=\"\u00E9\uFFFD\"[ a=\"\u20AC\"]"));
  {
    AnsiOverride cyrillic("windows-1251");
    TQNXMLEngine fresh(nullptr);
    EXPECT_EQ(load_bytes("<r>\xE9</r>", fresh), ToUtf8(u"r=\"\u0439\""));
  }
  {
    AnsiOverride japanese("SHIFT_JIS");  // multi-byte: decoded to text first
    TQNXMLEngine fresh(nullptr);
    EXPECT_EQ(load_bytes("<r>\x82\xA0</r>\x1B", fresh), ToUtf8(u"r=\"\u3042\""));
  }
  // The in-place byte scan and the text scan give the same tree.
  const std::string bytes =
      "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<r x=\"\xC3\xA9\"><!-- \x80 -->\n<a>\xE2\x82\xAC "
      "&amp;</a>"
      "<b/>t<c>\x93q\x94</c></r>";
  TQNXMLEngine fromBytes(nullptr), fromText(nullptr);
  const String text = platform::decode_bytes(bytes, "windows-1252");
  EXPECT_EQ(load_bytes(bytes, fromBytes), parse(text, &fromText));
}

TEST(XMLLoadStream, EscSizesAndMissingStreams) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(load_bytes("<r>1\x1B", engine), "r=\"1\"");
  TQNXMLEngine wide(nullptr);
  EXPECT_EQ(load_bytes(with_mark("\xFF\xFE", utf16(u"<r>1\x1B", false)), wide), "r=\"1\"");
  // Two documents: the second's children, both root texts.
  EXPECT_EQ(load_bytes("<s>B<y/></s>", engine), "s=\"1B\"{y}");
  engine.LoadFromStream(0, nullptr);
  EXPECT_EQ(engine.RootItem()->Items()->Count(), 0);
  load_bytes("<s><y/></s>", engine);
  EXPECT_EQ(load_bytes("\xFF\xFE", engine), "s=\"1B\"");
  EXPECT_FALSE(engine.UTF8Processed);

  // A given size reads that many bytes and probes no mark.
  TQNXMLEngine sized(nullptr);
  TStringStream s1(std::string_view("<a>1</a><b>2</b>"));
  sized.LoadFromStream(8, &s1);
  EXPECT_EQ(dump(*sized.RootItem()), "a=\"1\"");
  const std::string marked = with_mark("\xFF\xFE", utf16(u"<a>\u0439</a>", false));
  TStringStream s2{std::string_view(marked)};
  TQNXMLEngine sized2(nullptr);
  sized2.LoadFromStream(static_cast<Integer>(marked.size()), &s2);
  EXPECT_EQ(dump(*sized2.RootItem()), ToUtf8(u"a=\"\u0439\""));
  EXPECT_FALSE(sized2.UTF8Processed);
  // Reading starts at the stream's position.
  TStringStream s3(std::string_view("junk<a>2</a>"));
  s3.SetPosition(4);
  TQNXMLEngine positioned(nullptr);
  positioned.LoadFromStream(0, &s3);
  EXPECT_EQ(dump(*positioned.RootItem()), "a=\"2\"");
}

TEST(XMLLoadFile, SameTreeAsFromAStream) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "qninet_xml_load_test.xml";
  const std::string bytes = with_mark("\xFE\xFF", utf16(kDoc, true));
  {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
  }
  TQNXMLEngine fromFile(nullptr), fromStream(nullptr);
  fromFile.LoadFromFile(FromUtf8(path.string()));
  std::filesystem::remove(path);
  EXPECT_EQ(dump(*fromFile.RootItem()), load_bytes(bytes, fromStream));
  EXPECT_TRUE(fromFile.UTF8Processed);
  const std::string before = dump(*fromFile.RootItem());
  EXPECT_THROW(fromFile.LoadFromFile(FromUtf8(path.string())), EFOpenError);
  EXPECT_EQ(dump(*fromFile.RootItem()), before);
}

// ---------------------------------------------------------------------------------------
// Bad input: sizes and random bytes

TEST(XMLBadInput, MillionOpenElements) {
  String text;
  for (int i = 0; i < 1000000; ++i) text += u"<a>";
  auto engine = std::make_unique<TQNXMLEngine>(nullptr);
  engine->ParseXMLFromString(text, static_cast<Integer>(text.size()));
  const TQNXMLItem* item = engine->RootItem();
  int depth = 0;
  while (item->Items()->Count() == 1) {
    item = (*item->Items())[0];
    ++depth;
  }
  EXPECT_EQ(depth, 999999);
  EXPECT_EQ(item->Level(), 999999);
  EXPECT_EQ(engine->GetItemByTag(nullptr, u"missing"), nullptr);
  EXPECT_EQ(engine->RootItem()->GetChild(u"missing", true), nullptr);
  TQNXMLItem copy(nullptr);
  copy.Assign((*engine->RootItem()->Items())[0]);
  engine.reset();  // destroying the deep tree must not recurse
}

TEST(XMLBadInput, HugeTextAndAttributeLists) {
  std::string big = "<r>";
  big.append(100u << 20, 'x');
  big += "</r>";
  TQNXMLEngine engine(nullptr);
  load_bytes(big, engine);
  EXPECT_EQ(engine.RootItem()->ValueText().size(), 100u << 20);

  String attrs;
  for (int i = 0; i < 1000000; ++i) attrs += u" a=\"1\"";
  TQNXMLEngine tag(nullptr);
  tag.ParseXMLFromString(u"<r" + attrs + u">t</r>", static_cast<Integer>(attrs.size() + 9));
  EXPECT_EQ(tag.RootItem()->Attributes().size(), attrs.size());
  TQNXMLEngine decl(nullptr);
  const String d = u"<?xml" + attrs + u" encoding=\"utf-8\" ?><r/>";
  decl.ParseXMLFromString(d, static_cast<Integer>(d.size()));
  EXPECT_EQ(decl.RootItem()->Items()->Count(), 1000002);

  String comment = u"<r><!--";
  comment.append(10u << 20, u'-');
  TQNXMLEngine c(nullptr);
  c.ParseXMLFromString(comment, static_cast<Integer>(comment.size()));
  EXPECT_EQ(dump(*c.RootItem()), "r{!Comment=\"Comment\"}");
}

TEST(XMLBadInput, RandomBytesNeverRaise) {
  std::mt19937 rng(20240601);
  const std::string alphabet = "<<>>//!--?\"= \n&;#xa:.";
  for (int round = 0; round < 300; ++round) {
    std::string bytes(static_cast<std::size_t>(rng() % 3000), '\0');
    for (char& b : bytes)
      b = (rng() % 4) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() & 0xFF);
    if (round % 3 == 0) bytes = "\xFF\xFE" + bytes;
    TQNXMLEngine engine(nullptr);
    EventLog log;
    if (round % 2)
      log.attach(
          engine, [&](const String&) { return rng() % 3 == 0; },
          [&](const String&) { return rng() % 50 == 0; });
    EXPECT_NO_THROW(load_bytes(bytes, engine));
    EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
    const String text = FromBytes(bytes);
    EXPECT_NO_THROW(engine.ParseXMLFromString(text, static_cast<Integer>(text.size())));
    EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
  }
}
