#include "qninet/xml/QNInetXML.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "qninet/sys/CodePage.h"
#include "support/Overrides.h"

using namespace qninet;

namespace {

// The whole tree in one line: `name="raw value"[raw attributes]{children}`, attribute items
// marked "@", comments "!".
std::string dump(const TQNXMLItem& item) {
  std::string out = item.Kind() == ikAttribute ? "@" : item.Kind() == ikComment ? "!" : "";
  out += ToUtf8(item.TagName());
  if (item.ValueAssigned()) out += "=\"" + ToUtf8(item.ValueText()) + "\"";
  if (!item.Attributes().empty()) out += "[" + ToUtf8(item.Attributes()) + "]";
  const TQNXMLItems& kids = *item.Items();
  for (int i = 0; i < kids.Count(); ++i) {
    out += i ? ',' : '{';
    out += dump(*kids[i]);
  }
  return kids.Count() ? out + "}" : out;
}

// `dump` from a walk over the node table, which makes no item.
std::string walk_dump(const TQNXMLItem& root) {
  std::string out;
  std::vector<char> hasKids{0};
  TQNXMLEngine::WalkTree(
      root,
      [&](const TQNXMLNodeView& v, std::size_t depth) {
        if (depth) out += std::exchange(hasKids.back(), char{1}) ? ',' : '{';
        out += v.Kind == ikAttribute ? "@" : v.Kind == ikComment ? "!" : "";
        out += ToUtf8(String(v.TagName));
        if (v.ValueAssigned) out += "=\"" + ToUtf8(String(v.Value)) + "\"";
        if (!v.Attributes.empty()) out += "[" + ToUtf8(String(v.Attributes)) + "]";
        hasKids.push_back(0);
      },
      [&] {
        if (hasKids.back()) out += '}';
        hasKids.pop_back();
      });
  return out;
}

// The loaded tree; a fresh engine's node table must walk as the items a handler's parse builds.
std::string load_bytes(std::string_view bytes, TQNXMLEngine& engine) {
  const TQNXMLItem& root = *engine.RootItem();
  const bool fresh = root.Items()->Count() == 0 && root.TagName().empty() && !root.ValueAssigned() &&
                     !engine.OnTag() && !engine.OnAfterTag();
  TStringStream stream(bytes);
  engine.LoadFromStream(0, &stream);
  if (!fresh) return dump(*engine.RootItem());
  const std::string walked = walk_dump(*engine.RootItem()), tree = dump(*engine.RootItem());
  TQNXMLEngine items(nullptr);
  items.SetOnAfterTag([](TObject*, TQNXMLItem*&, bool&) {});
  TStringStream again(bytes);
  items.LoadFromStream(0, &again);
  EXPECT_EQ(walked, dump(*items.RootItem()));
  EXPECT_EQ(tree, dump(*items.RootItem()));
  return tree;
}

// Without an engine given, the node table's walk and items must match the items built for
// a handler, and an ASCII document read as bytes (the byte scan) must give the same tree.
std::string parse(const String& text, TQNXMLEngine* engine = nullptr) {
  TQNXMLEngine local(nullptr);
  TQNXMLEngine& e = engine ? *engine : local;
  e.ParseXMLFromString(text, static_cast<Integer>(text.size()));
  if (!engine) {
    TQNXMLEngine items(nullptr), bytes(nullptr);
    items.SetOnAfterTag([](TObject*, TQNXMLItem*&, bool&) {});
    items.ParseXMLFromString(text, static_cast<Integer>(text.size()));
    EXPECT_EQ(walk_dump(*local.RootItem()), dump(*items.RootItem()));
    EXPECT_EQ(dump(*local.RootItem()), dump(*items.RootItem()));
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c > 0 && c < 0x80; })) {
      EXPECT_EQ(load_bytes(ToUtf8(text), bytes), dump(*items.RootItem()));
    }
  }
  return dump(*e.RootItem());
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

struct RemovalCounter : TComponent {
  RemovalCounter() : TComponent(nullptr) {}
  int Removed = 0;
  void Notification(TComponent*, TOperation op) override { Removed += op == opRemove; }
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

TEST(XMLItemTree, ClearDestroysEveryDescendant) {
  RemovalCounter counter;
  {
    TQNXMLItem root(nullptr);
    auto add = [&](TQNXMLItem* parent) {
      TQNXMLItem* item = parent->Items()->AddItem(parent);
      item->FreeNotification(&counter);
      return item;
    };
    add(add(add(&root)));
    add(&root);
    root.Items()->Clear();
    EXPECT_EQ(counter.Removed, 4);
    EXPECT_EQ(root.Items()->Count(), 0);
    add(&root);
  }
  EXPECT_EQ(counter.Removed, 5);  // the item left in the list goes with its parent
}

// Items know their parent, level and owner; a destroyed one leaves its list; Assign copies a
// whole subtree, even an item's own ancestor list into it; GetChild's depth limit counts from
// the start item.
TEST(XMLItemTree, ParentsLevelsAssignAndChildSearch) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<r><a x=\"1\">v<b>w<c><d/></c></b></a></r>", 100);
  TQNXMLItem* r = engine.RootItem();
  TQNXMLItem* a1 = (*r->Items())[0]->Items()->AddItem((*r->Items())[0]);
  EXPECT_EQ(a1->Level() * 10 + (a1->ParentItem() == (*r->Items())[0]) + (a1->GetOwner() == a1->ParentItem()),
            22);
  delete a1;
  TQNXMLItem target(nullptr);
  target.Assign(r);
  EXPECT_EQ(dump(target), "r{a=\"v\"[ x=\"1\"]{b=\"w\"{c{d}}}}");
  (*target.Items())[0]->SetItems(target.Items());
  EXPECT_EQ(dump(target), "r{a=\"v\"[ x=\"1\"]{a=\"v\"[ x=\"1\"]{b=\"w\"{c{d}}}}}");
  EXPECT_TRUE(tree_is_consistent(target));
  EXPECT_THROW((*target.Items())[0]->Items()->Items(1), EListError);
  EXPECT_EQ(r->GetChild(u"r", false), r);
  EXPECT_EQ(r->GetChild(u"b", false)->Level(), 2);
  EXPECT_EQ(r->GetChild(u"c", false), nullptr);
  EXPECT_NE(r->GetChild(u"d", true), nullptr);
  EXPECT_EQ(r->GetChild(u"B", true), nullptr);
  EXPECT_NE(r->GetChild(u"a", false)->GetChild(u"c", false), nullptr);
}

TEST(XMLItemAttributes, SplittingRules) {
  TQNXMLItem item(nullptr);
  item.Items()->AddItem(&item)->SetTagName(u"child");
  item.SetAttributes(u" a=\"x y\" b=2");
  item.ProcessAttributes();
  EXPECT_EQ(dump(item), "{child,@a=\"\"x y\" \",@b=\"2\"}");
  EXPECT_EQ((*item.Items())[1]->GetTagXMLValue(), u"x y");
  EXPECT_TRUE(item.Attributes().empty());
  item.ProcessAttributes();
  EXPECT_EQ(item.Items()->Count(), 3);

  const std::pair<String, std::string> cases[] = {
      {u"a = \"1\"", ""},
      {u"a='x y'", "{@a=\"'x \"}"},
      {u" a=\"1", ""},
      {u" a=\"1\" b=\"2", "{@a=\"\"1\" \"}"},
      {u" version=\"1.0\" encoding=\"utf-8\"?", "{@version=\"\"1.0\" \",@encoding=\"\"utf-8\"?\"}"},
      {u"q=\"a=b/c\"", "{@q=\"\"a=b/c\"\"}"}};
  for (const auto& [in, tree] : cases) {
    TQNXMLItem it(nullptr);
    it.SetAttributes(in);
    it.ProcessAttributes();
    EXPECT_EQ(dump(it), tree) << ToUtf8(in);
  }
}

// GetTagXMLValue strips a leading quote with the trailing blanks and quotes; GetTagValue also
// decodes entities once, from left to right.
TEST(XMLItemValue, QuotesAndEntities) {
  TQNXMLItem item(nullptr);
  EXPECT_TRUE(item.Value().IsUnassigned());
  const std::tuple<String, String, String> cases[] = {
      {u"\"1.0\" ", u"1.0", u"1.0"},
      {u"\"utf-8\"?", u"utf-8\"?", u"utf-8\"?"},
      {u"\"quoted\" text", u"quoted\" text", u"quoted\" text"},
      {u"\" \r\n\"", u"", u""},
      {u"plain \"x\" ", u"plain \"x\" ", u"plain \"x\" "},
      {u"\"&amp;\" ", u"&amp;", u"&"},
      {u"a &lt b", u"a &lt b", u"a < b"},
      {u"a&amp;amp;b", u"a&amp;amp;b", u"a&amp;b"},
      {u"&amp;lt;", u"&amp;lt;", u"&lt;"},
      {u"x&nbsp;y", u"x&nbsp;y", u"xy"},
      {u"&degree", u"&degree", u"\u00B0ree"},
      {u"&brvbar;&plusmn;&para;&copy;&trade;&car;&ret;", u"&brvbar;&plusmn;&para;&copy;&trade;&car;&ret;",
       u"|+\u00B6cT\n\r"},
      {u"&quot;&apos;&gt;", u"&quot;&apos;&gt;", u"\"'>"},
      // Numeric references, any case, beyond the basic plane as a pair.
      {u"&#xA;&#Xa;&#65;&#x42;", u"&#xA;&#Xa;&#65;&#x42;", u"\n\nAB"},
      {u"&#x1F600;&#1760;", u"&#x1F600;&#1760;", u"\U0001F600\u06E0"},
      {u"&#xD800;&#0;&#99999999999;", u"&#xD800;&#0;&#99999999999;", u"\uFFFD\uFFFD\uFFFD"},
      // Forgiving rows without ";" still apply; anything else keeps its "&".
      {u"&#176 &#009&#39x", u"&#176 &#009&#39x", u"\u00B0 \t'x"},
      {u"&unknown; & &#; &#x;", u"&unknown; & &#; &#x;", u"&unknown; & &#; &#x;"}};
  for (const auto& [in, xmlValue, tagValue] : cases) {
    item.SetValue(Variant(in));
    EXPECT_EQ(item.GetTagXMLValue(), xmlValue) << ToUtf8(in);
    EXPECT_EQ(item.GetTagValue(), tagValue) << ToUtf8(in);
  }
  item.SetValue(Variant(String()));
  EXPECT_FALSE(item.Value().IsUnassigned());
  item.SetValue(Variant(Integer(42)));
  EXPECT_EQ(item.GetTagXMLValue(), u"42");
}

// (SameStrings without Exact is SameText: SysUtils_test's case-blind rows.)
TEST(XMLHelpers, PathsAndDates) {
  TQNXMLEngine engine(nullptr);
  // path, first name, rest after it, last name, rest before it
  const String cases[][5] = {{u"a/b/c", u"a", u"b/c", u"c", u"a/b"},
                             {u"a/b/", u"a", u"b/", u"", u"a/b"},
                             {u"single", u"single", u"", u"single", u""}};
  for (const auto& c : cases) {
    String path = c[0];
    EXPECT_EQ(engine.GetFirstTagName(path), c[1]);
    EXPECT_EQ(path, c[2]);
    path = c[0];
    EXPECT_EQ(engine.GetLastTagName(path), c[3]);
    EXPECT_EQ(path, c[4]);
  }
  const TDateTime when = EncodeDate(2012, 5, 17) + EncodeTime(14, 3, 9, 0);
  for (const char16_t* s : {u"2012-05-17T14:03:09", u"2012-05-17T14:03:09.5+02:00", u"2012/05/17 14.03.09"})
    EXPECT_DOUBLE_EQ(XMLStringToDateTime(s), when) << ToUtf8(s);
  for (const char16_t* s :
       {u"2012-05-17", u"", u"2012-13-17T14:03:09", u"2012-05-17T25:03:09", u"20x2-05-17T14:03:09"})
    EXPECT_EQ(XMLStringToDateTime(s), 0) << ToUtf8(s);
}

TEST(XMLParserTrees, ForgivingTreesForMalformedInput) {
  const String cafe = u"caf\u00C3\u00A9";  // UTF-8 bytes read one per character
  const std::pair<String, std::string> cases[] = {
      {u"<r>t1<a>1</a>t2</r>", "r=\"t1\"{a=\"1\"}"},
      {u"<r>\n  <a>1</a>\n  <b>2</b>\n</r>\n", "r=\"\n  \"{a=\"1\",b=\"2\"}"},
      {u"<a>x</a><b>y</b>", "b=\"xy\""},
      {u"lead <r> &amp; </r>", "r=\" &amp; \""},
      {u"<a>>x</a>", "a=\"x\""},
      // "/>" inside a text closes the element; the end tags after it close its ancestors.
      {u"<r><a>x/>y</a><b>2</b></r>", "b=\"2\"{a=\"x\"}"},
      {u"<x:a>1</x:a>", "x:a=\"1\""},
      {u"<a.b>1</a.b>", "a=\"1\"[.b]"},
      {u"<a href=x/y>t</a>", "a=\"/y>t\"[ href=x]"},
      {u"<!DOCTYPE r><r>1</r>", "!DOCTYPE[ r]{r=\"1\"}"},
      // A nameless token lands on the open item.
      {u"<r>< a>v</a></r>", "=\"v\"[ a]"},
      // Stray end tags after the document end are stepped over.
      {u"<a></a></>", "a"},
      {u"<a></a>/> / <b>1</b>", "b=\"1\""},
      {u"< />", ""},
      {u"<!-- c --><r><a>1</a></r>", "r=\"Comment c --\"{a=\"1\"}"},
      {u"<r><!-- never closed <a>1</a>", "r{!Comment=\"Comment\"}"},
      {u"<r><!--x--><a>1</a><!-- y --><b>2</b></r>", "r{!Comment=\"Comment><a>1</a><!-- y --\",b=\"2\"}"},
      {u"<r><!--x y--><a>1</a></r>", "r{!Comment=\"Comment y--\",a=\"1\"}"},
      // Declared encodings: UTF-8 decodes values and attributes, not comments or the
      // declaration's own text; the "?" of "?>" is no part of the last attribute.
      {u"<?xml version=\"1.0\" encoding=\"utf-8\"?><r>" + cafe + u"</r>",
       ToUtf8(u"?xml{@version=\"\"1.0\" \",@encoding=\"\"utf-8\"\",r=\"caf\u00E9\"}")},
      {u"<?xml encoding=\"UTF-8\" ?>" + cafe + u"<r a=\"" + cafe + u"\">" + cafe + u"</r>",
       ToUtf8(u"?xml=\"" + cafe + u"\"{@encoding=\"\"UTF-8\" \",r=\"caf\u00E9\"[ a=\"caf\u00E9\"]}")},
      {u"<?xml encoding=\"utf-8\" ?><r><!-- " + cafe + u" --></r>",
       ToUtf8(u"?xml{@encoding=\"\"utf-8\" \",r{!Comment=\"Comment " + cafe + u" --\"}}")},
      {u"<?xml encoding=\"windows-1251\" ?><r>\u00E9</r>",
       ToUtf8(u"?xml{@encoding=\"\"windows-1251\" \",r=\"\u0439\"}")},
      {u"<?xml encoding=\"windows-1251\"?><r a=\"\u0439\">\u00E9</r>",
       ToUtf8(u"?xml{@encoding=\"\"windows-1251\"\",r=\"\u0439\"[ a=\"?\"]}")},
      // Well-formed documents read as written: CDATA sections are text; quotes protect ">" and
      // "/" in a start tag; a quote left open falls back to the first ">".
      {u"<r><y><![CDATA[plain]]></y><z>1</z></r>", "r{y=\"plain\",z=\"1\"}"},
      {u"<r><y><![CDATA[a &amp; <b>]]></y></r>", "r{y=\"a &amp;amp; <b>\"}"},
      {u"<r><y>a<![CDATA[</y>/>]]>b</y><z/></r>", "r{y=\"a</y>/>b\",z}"},
      {u"<r><y><![CDATA[x</y></r>", "r{y=\"x</y></r>\"}"},
      {u"<x a=\"1>2\">v</x>", "x=\"v\"[ a=\"1>2\"]"},
      {u"<r><y x='1/2' z=\"a/b>\">v</y><b/></r>", "r{y=\"v\"[ x='1/2' z=\"a/b>\"],b}"},
      {u"<r><y x='it\"s>'/><b/></r>", "r{y[ x='it\"s>'],b}"},
      {u"<r><y x=\"1>v</y><b>2</b></r>", "r{y=\"v\"[ x=\"1],b=\"2\"}"}};
  for (const auto& [in, tree] : cases) EXPECT_EQ(parse(in), tree) << ToUtf8(in);
  TQNXMLEngine processed(nullptr);
  processed.UTF8Processed = true;  // already decoded from a mark: no second decoding
  EXPECT_EQ(parse(u"<?xml encoding=\"utf-8\" ?><r>" + cafe + u"</r>", &processed),
            ToUtf8(u"?xml{@encoding=\"\"utf-8\" \",r=\"" + cafe + u"\"}"));
}

// CDATA sections are text of the item they stand in, their "&" kept as "&amp;" so that
// GetTagValue gives the characters as written.
TEST(XMLParserWellFormed, CdataIsTextAsWritten) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"<r><y><![CDATA[a &amp; <b>]]></y></r>", u"a &amp; <b>"},
      {u"<r><y>a<![CDATA[</y>/>]]>b</y><z/></r>", u"a</y>/>b"}};
  for (const auto& [doc, value] : cases) {
    TQNXMLEngine engine(nullptr);
    parse(doc, &engine);
    EXPECT_EQ(engine.GetItemByTag(nullptr, u"y")->GetTagValue(), value);
  }
}

// Items are made from the node table when reached, once, with their parents; writes to them
// and to their lists work as on built items.
TEST(XMLParserTable, ItemsMadeOnceWhenReached) {
  TQNXMLEngine engine(nullptr);
  engine.ParseXMLFromString(u"<?xml version=\"1\"?><r><a>t<b>2</b></a><c/></r>", 100);
  TQNXMLItem* b = engine.GetItemByTag(nullptr, u"B");
  ASSERT_NE(b, nullptr);
  TQNXMLItem* r = engine.GetItemByTag(nullptr, u"r");
  EXPECT_EQ(b->ParentItem(), (*r->Items())[0]);
  EXPECT_EQ(b->ParentItem()->ParentItem(), r);
  EXPECT_EQ(b, engine.RootItem()->GetChild(u"b", true));
  EXPECT_EQ(b->Level(), 3);
  b->SetValue(u"x");
  r->Items()->AddItem(r)->SetTagName(u"d");
  delete (*r->Items())[1];
  EXPECT_EQ(dump(*engine.RootItem()), "?xml{@version=\"\"1\"\",r{a=\"t\"{b=\"x\"},d}}");
  EXPECT_EQ(walk_dump(*engine.RootItem()), dump(*engine.RootItem()));
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"d"), (*r->Items())[1]);
  EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
}

// Each row: the document, whether OnAfterTag stops at "a", the tree and the events.
TEST(XMLParserEvents, SiblingsCommentsClosingAndCancel) {
  const std::tuple<const char16_t*, bool, const char*, std::vector<std::string>> cases[] = {
      {u"<r><!-- c --><a>1</a><b x=\"2\"/><c>3</c></r>",
       false,
       "r{!Comment=\"Comment c --\",a=\"1\",b[ x=\"2\"],c=\"3\"}",
       {"tag:r/Comment", "tag:r/a", "after:a", "tag:r/b", "after:b", "tag:r/c", "after:c", "after:r"}},
      {u"<r><a/>", false, "r{a}", {"tag:r/a"}},
      {u"<r><a>1</a><b>2</b></r>", true, "r{a=\"1\"}", {"tag:r/a", "after:a"}}};
  for (const auto& [doc, cancel, tree, events] : cases) {
    TQNXMLEngine engine(nullptr);
    EventLog log;
    log.attach(engine, nullptr, [stop = cancel](const String& name) { return stop && name == u"a"; });
    EXPECT_EQ(parse(doc, &engine), tree);
    EXPECT_EQ(log.Events, events);
    EXPECT_TRUE(tree_is_consistent(*engine.RootItem()));
    if (std::string_view(tree).find('!') != std::string_view::npos) {
      EXPECT_EQ(engine.GetItemByTag(nullptr, u"comment")->Kind(), ikComment);
    }
  }
}

TEST(XMLParserElements, DeclarationIsTheOpenRootSearchIgnoresCaseAndLengthLimits) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(parse(u"<?xml version=\"1.0\"?>\n<R><s>1</s></R>", &engine),
            "?xml=\"\n\"{@version=\"\"1.0\"\",R{s=\"1\"}}");
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"VERSION")->GetTagValue(), u"1.0");
  EXPECT_EQ(engine.GetItemByTag(nullptr, u"?XML"), engine.RootItem());
  TQNXMLItem* r = engine.GetItemByTag(nullptr, u"r");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(engine.GetItemByTag(r, u"S")->GetTagValue(), u"1");
  EXPECT_EQ(engine.GetItemByTag(r, u"version"), nullptr);  // nothing outside the given root
  // The length limits the scan; a negative one scans nothing and keeps the tree.
  TQNXMLEngine limited(nullptr);
  limited.ParseXMLFromString(u"<a>1</a><b>2</b>", 8);
  EXPECT_EQ(dump(*limited.RootItem()), "a=\"1\"");
  limited.ParseXMLFromString(u"<c>", -5);
  EXPECT_EQ(dump(*limited.RootItem()), "a=\"1\"");
}

TEST(XMLParserVeto, RefusedElementLeavesWithItsContentAndTheScanMovesOn) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"<r><a x=\"1\"><b>2</b></a><c>3</c></r>", "r{c=\"3\"}"},
      {u"<r>\n <a x=\"1\">\n  <b>2</b>\n </a>\n <c>3</c>\n</r>", "r=\"\n \"{c=\"3\"}"},
      {u"<r><a x=\"1\"/>  <c>3</c></r>", "r{c=\"3\"}"},
      {u"<r><a><a><a/></a></a><c>3</c></r>", "r{c=\"3\"}"}};
  for (const auto& [text, tree] : cases) {
    SCOPED_TRACE(ToUtf8(text));
    TQNXMLEngine engine(nullptr);
    EventLog log;
    log.attach(engine, [](const String& name) { return name == u"a"; });
    EXPECT_EQ(parse(text, &engine), tree);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"tag:r/a", "tag:r/c", "after:c", "after:r"}));
  }
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

namespace {
const String kDoc = u"<?xml version=\"1.0\" ?>\n<r a=\"\u00E9\">caf\u00E9 \u0439<!-- \U0001F600 --><b/></r>";

std::string utf16(const String& s, bool be) {
  std::string out;
  sys::encode_text(s, be ? "UTF-16BE" : "UTF-16LE", out);
  return (be ? "\xFE\xFF" : "\xFF\xFE") + out;
}
}  // namespace

TEST(XMLLoadMarks, EveryMarkGivesTheSameTree) {
  const std::string expected = parse(kDoc);
  for (const std::string& bytes : {utf16(kDoc, false), utf16(kDoc, true), "\xEF\xBB\xBF" + ToUtf8(kDoc)}) {
    TQNXMLEngine engine(nullptr);
    EXPECT_EQ(load_bytes(bytes, engine), expected);
    EXPECT_TRUE(engine.UTF8Processed);
  }
  // UTF-8 is scanned as bytes and decoded text by text: sequences cut short at a text's end
  // give U+FFFD, and a last character of several bytes counts as one, as in the decoded text.
  const std::string cut = "<r a=\"\xC3\">\xE2\x82<b>\xF0\x9F</b>\xC3<!--\xE2-->x\xC3</r><\xC4\x81";
  TQNXMLEngine engine(nullptr), text(nullptr);
  text.UTF8Processed = true;
  EXPECT_EQ(load_bytes("\xEF\xBB\xBF" + cut, engine), parse(FromUtf8(cut), &text));
  // A last character beyond U+FFFF is two units of the decoded text, the first of them not last.
  for (const std::string ending : {"<j><\xF0\x9F\x98\x80", "<j><\xF4\x8F\xBF\xBF", "<j><\xF4\x90\x80\x80"}) {
    TQNXMLEngine bytes(nullptr), decoded(nullptr);
    decoded.UTF8Processed = true;
    EXPECT_EQ(load_bytes("\xEF\xBB\xBF" + ending, bytes), parse(FromUtf8(ending), &decoded));
  }
}

// How unmarked bytes are read: UTF-8 when declared so (however written) or when they are
// valid UTF-8 without a declared encoding; otherwise the system code page, with a declared
// windows-N re-reading the texts.
TEST(XMLLoadEncodings, DeclaredOrDetectedUtf8AndLegacyCodePages) {
  const std::string cafe = "caf\xC3\xA9";
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><r a=\"" + cafe + "\">" + cafe + "</r>",
       "?xml{@version=\"\"1.0\" \",@encoding=\"\"utf-8\"\",r=\"caf\xC3\xA9\"[ a=\"caf\xC3\xA9\"]}", true},
      {"<?xml encoding=\"utf-8\" ?>" + cafe + "<r>" + cafe + "</r>",
       "?xml=\"caf\xC3\xA9\"{@encoding=\"\"utf-8\" \",r=\"caf\xC3\xA9\"}", true},
      {" \r\n\t<?xml encoding = 'UTF-8'?><r>\xE2\x82\xAC\xC3</r>", "?xml{r=\"\xE2\x82\xAC\xEF\xBF\xBD\"}",
       true},
      {"<r>" + cafe + " \xF0\x9F\x98\x80</r>", "r=\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", true},
      {"<?xml version=\"1.0\"?><r>\x93q\x94 \xE9</r>",
       "?xml{@version=\"\"1.0\"\",r=\"\xE2\x80\x9Cq\xE2\x80\x9D \xC3\xA9\"}", false},
      {"<?xml encoding=\"windows-1251\"?><r>\xE9</r>", "?xml{@encoding=\"\"windows-1251\"\",r=\"\xD0\xB9\"}",
       false},
      {"<?xml encoding=\"ISO-8859-1\"?><r>" + cafe + "</r>",
       "?xml{@encoding=\"\"ISO-8859-1\"\",r=\"caf\xC3\x83\xC2\xA9\"}", false},
      {"\xEF\xBB\xBF<?xml encoding=\"utf-8\" ?><r>" + cafe + "</r>",
       "?xml{@encoding=\"\"utf-8\" \",r=\"caf\xC3\xA9\"}", true},
      {"\xEF\xBB\xBF<?xml encoding=\"windows-1251\"?><r>" + cafe + "</r>",
       "?xml{@encoding=\"\"windows-1251\"\",r=\"caf\xD0\xB9\"}", true}};
  for (const auto& [bytes, tree, processed] : cases) {
    SCOPED_TRACE(bytes);
    TQNXMLEngine fromStream(nullptr);
    EXPECT_EQ(load_bytes(bytes, fromStream), tree);
    EXPECT_EQ(fromStream.UTF8Processed, processed);
  }
  // A file that cannot be opened leaves the tree as it was. (A file read whole, UTF-8 bytes
  // without a mark: the program's xml rows.)
  TQNXMLEngine file(nullptr);
  load_bytes(std::get<0>(cases[0]), file);
  EXPECT_THROW(file.LoadFromFile(u"/nonexistent/qninet.xml"), EFOpenError);
  EXPECT_EQ(dump(*file.RootItem()), std::get<1>(cases[0]));
  // Not UTF-8: over-long, surrogate, beyond U+10FFFF, cut short, a stray continuation, and a
  // declaration that does not open the document.
  for (const char* bytes : {"<r>\xC0\xAF</r>", "<r>\xED\xA0\x80</r>", "<r>\xF4\x90\x80\x80</r>",
                            "<r>\xE2\x82</r>", "<r>\x80</r>", "x<?xml encoding=\"utf-8\"?><r>\xE9</r>"}) {
    TQNXMLEngine engine(nullptr);
    load_bytes(bytes, engine);
    EXPECT_FALSE(engine.UTF8Processed) << bytes;
  }
}

TEST(XMLLoadAnsi, SystemCodePageAndBothParsePaths) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(load_bytes("<r a=\"\x80\">\xE9\x81</r>", engine), ToUtf8(u"r=\"\u00E9\uFFFD\"[ a=\"\u20AC\"]"));
  // A multi-byte code page (Shift JIS) is decoded to text first.
  for (const auto& [page, bytes, tree] : {std::tuple{"windows-1251", "<r>\xE9</r>", u"r=\"\u0439\""},
                                          std::tuple{"SHIFT_JIS", "<r>\x82\xA0</r>\x1B", u"r=\"\u3042\""}}) {
    test_support::ScopedEnv ansi("QNINET_ANSI_CODEPAGE", page);
    TQNXMLEngine fresh(nullptr);
    EXPECT_EQ(load_bytes(bytes, fresh), ToUtf8(tree));
  }
  // The in-place byte scan and the text scan give the same tree.
  const std::string bytes =
      "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\n<r x=\"\xC3\xA9\"><!-- \x80 -->\n<a>\xE2\x82\xAC "
      "&amp;</a><b/>t<c>\x93q\x94</c></r>";
  TQNXMLEngine fromBytes(nullptr);
  EXPECT_EQ(load_bytes(bytes, fromBytes), parse(sys::decode_bytes(bytes, "windows-1252")));
}

TEST(XMLLoadStream, EscSizesPositionAndMissingStreams) {
  TQNXMLEngine engine(nullptr);
  EXPECT_EQ(load_bytes("<r>1\x1B", engine), "r=\"1\"");
  TQNXMLEngine wide(nullptr);
  EXPECT_EQ(load_bytes(utf16(u"<r>1\x1B", false), wide), "r=\"1\"");
  // Two documents: the second's children, both root texts.
  EXPECT_EQ(load_bytes("<s>B<y/></s>", engine), "s=\"1B\"{y}");
  engine.LoadFromStream(0, nullptr);
  EXPECT_EQ(engine.RootItem()->Items()->Count(), 0);
  load_bytes("<s><y/></s>", engine);
  EXPECT_EQ(load_bytes("\xFF\xFE", engine), "s=\"1B\"");
  EXPECT_FALSE(engine.UTF8Processed);

  // A given size reads that many bytes and probes no mark; reading starts at the position.
  auto load_sized = [](std::string_view bytes, Integer size, std::int64_t position = 0) {
    TStringStream stream(bytes);
    stream.SetPosition(position);
    TQNXMLEngine e(nullptr);
    e.LoadFromStream(size, &stream);
    return dump(*e.RootItem()) + (e.UTF8Processed ? " (UTF8Processed)" : "");
  };
  EXPECT_EQ(load_sized("<a>1</a><b>2</b>", 8), "a=\"1\" (UTF8Processed)");
  // A mark met in a sized read counts as a probed one: a declaration naming UTF-8 decodes nothing
  // a second time.
  const std::string marked = utf16(u"<?xml encoding=\"utf-8\"?><a>\u00C3\u00A9</a>", false);
  EXPECT_EQ(load_sized(marked, static_cast<Integer>(marked.size())), load_sized(marked, 0));
  EXPECT_EQ(load_sized(marked, 0),
            ToUtf8(u"?xml{@encoding=\"\"utf-8\"\",a=\"\u00C3\u00A9\"} (UTF8Processed)"));
  EXPECT_EQ(load_sized("junk<a>2</a>", 0, 4), "a=\"2\" (UTF8Processed)");
}

// Bad input: sizes (random bytes are fuzz/xml_fuzz.cpp's)

TEST(XMLBadInput, MillionOpenElementsHugeTextAndAttributeLists) {
  String text;
  for (int i = 0; i < 1000000; ++i) text += u"<a>";
  auto engine = std::make_unique<TQNXMLEngine>(nullptr);
  engine->ParseXMLFromString(text, static_cast<Integer>(text.size()));
  const TQNXMLItem* item = engine->RootItem();
  int depth = 0;
  for (; item->Items()->Count() == 1; ++depth) item = (*item->Items())[0];
  EXPECT_EQ(depth, 999999);
  EXPECT_EQ(item->Level(), 999999);
  EXPECT_EQ(engine->GetItemByTag(nullptr, u"missing"), nullptr);
  EXPECT_EQ(engine->RootItem()->GetChild(u"missing", true), nullptr);
  TQNXMLItem copy(nullptr);
  copy.Assign((*engine->RootItem()->Items())[0]);
  engine.reset();  // destroying the deep tree must not recurse

  std::string big = "<r>";
  big.append(100u << 20, 'x');
  TQNXMLEngine huge(nullptr);
  load_bytes(big + "</r>", huge);
  EXPECT_EQ(huge.RootItem()->ValueText().size(), 100u << 20);

  String attrs;
  for (int i = 0; i < 1000000; ++i) attrs += u" a=\"1\"";
  TQNXMLEngine tag(nullptr);
  parse(u"<r" + attrs + u">t</r>", &tag);
  EXPECT_EQ(tag.RootItem()->Attributes().size(), attrs.size());
  TQNXMLEngine decl(nullptr);
  parse(u"<?xml" + attrs + u" encoding=\"utf-8\" ?><r/>", &decl);
  EXPECT_EQ(decl.RootItem()->Items()->Count(), 1000002);

  String comment = u"<r><!--";
  comment.append(10u << 20, u'-');
  EXPECT_EQ(parse(comment), "r{!Comment=\"Comment\"}");
}
