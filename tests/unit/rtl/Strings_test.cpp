#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness/TempDir.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/Strings.h"

using namespace qninet;
using testing::HasSubstr;
using testing::ThrowsMessage;

// Breaks are CR, LF or CRLF (LF then CR is two); a final break adds no empty line; names and
// values compare without regard to case until the list is made case-sensitive.
TEST(StringList, TextNamesAndValues) {
  TStringList l;
  for (const auto& [text, count] : {std::pair{u"a\rb\nc\r\nd\n\ne", 6}, {u"x\r\n", 1}, {u"\n\r", 2}}) {
    l.SetText(text);
    EXPECT_EQ(l.Count(), count) << ToUtf8(text);
  }
  l.SetText(u"a\rb\nc\r\nd\n\ne");
  EXPECT_EQ(l.Text(), u"a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
  l.SetText(u"Host=example.org\nplain\nPort=43\nhost=second");
  EXPECT_EQ(l.Names(0) + u"|" + l.Names(1) + u"|" + l.Values(u"HOST"), u"Host||example.org");
  EXPECT_EQ(l.IndexOfName(u"port") * 10 + l.IndexOf(u"PLAIN"), 21);
  l.SetValues(u"Port", u"80");
  EXPECT_EQ(l.Strings(2), u"Port=80");
  l.SetValues(u"Port", u"");  // an empty value removes the line
  EXPECT_EQ(l.IndexOfName(u"Port"), -1);
  l.SetValues(u"New", u"v=w");
  EXPECT_EQ(l.Values(u"New"), u"v=w");
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf(u"PLAIN"), -1);
}

TEST(StringList, EditsBoundsObjectsAndOneChangePerUpdateBlock) {
  struct Tracked : TObject {
    explicit Tracked(int* c) : Counter(c) {}
    ~Tracked() override { ++*Counter; }
    int* Counter;
  };
  int changes = 0, destroyed = 0;
  {
    TStringList l;
    l.SetOnChange([&](TObject*) { ++changes; });
    l.Add(u"b");
    EXPECT_EQ(changes, 1);
    l.BeginUpdate();
    l.Insert(0, u"a");
    l.AddObject(u"c", std::make_unique<Tracked>(&destroyed));
    l.AddObject(u"d", std::make_unique<Tracked>(&destroyed));
    l.EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(l.Text(), u"a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(l.IndexOfObject(l.Objects(3)), 3);
    l.Delete(2);  // each line owns its object
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(l.Strings(2), u"d");
    EXPECT_THROW(l.Strings(3), EStringListError);
    EXPECT_THROW(l.Insert(5, u"x"), EStringListError);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(StringList, SortedListsFindRefuseDuplicatesAndAssign) {
  TStringList l;
  l.SetSorted(true);
  for (const char16_t* s : {u"pear", u"apple", u"fig", u"APPLE"}) l.Add(s);  // a duplicate is ignored
  EXPECT_EQ(l.Text(), u"apple\r\nfig\r\npear\r\n");
  int i;
  EXPECT_TRUE(l.Find(u"FIG", i) && i == 1);
  EXPECT_FALSE(l.Find(u"kiwi", i));
  EXPECT_EQ(i, 2);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add(u"fig"), EStringListError);
  TStringList copy;
  copy.Add(u"old");
  copy.Assign(&l);  // copies the lines
  EXPECT_TRUE(copy.Equals(l));
}

TEST(StringList, SaveAndLoadKeepTextAndDetectEncodings) {
  harness::TempDir dir;
  const String path = FromUtf8(dir.File("list.txt").string());
  TStringList l, back;
  l.SetText(u"gr\u00FC\u00DF\nzwei");
  l.SaveToFile(path);
  back.LoadFromFile(path);
  EXPECT_TRUE(back.Equals(l));
  back.LoadFromFile(FromUtf8(dir.Write("wide.txt", "\xFF\xFE" + std::string("a\0b\0\n\0", 6)).string()));
  EXPECT_EQ(back.Strings(0), u"ab");
  back.LoadFromFile(FromUtf8(dir.Write("ansi.txt", "caf\xE9").string()));
  EXPECT_EQ(back.Strings(0), u"caf\u00E9");
  EXPECT_THROW(back.LoadFromFile(u"/nonexistent/file"), EFOpenError);
}

namespace {
class TItem : public TCollectionItem {
  QNINET_OBJECT(TItem, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  String Text;
  void Assign(const TPersistent* Source) override {
    if (auto* i = dynamic_cast<const TItem*>(Source)) return void(Text = i->Text);
    TCollectionItem::Assign(Source);
  }
};

class TWatched : public TCollectionOf<TItem> {
public:
  using TCollectionOf<TItem>::TCollectionOf;
  int Updates = 0;

protected:
  void Update(TCollectionItem*) override { ++Updates; }
};
}  // namespace
QNINET_CLASS_INFO(TItem)

// Items keep their index and owner; an item destroyed directly leaves its collection; Assign
// copies the items and updates once, as does a block.
TEST(CollectionItems, IndexOwnerAssignAndUpdates) {
  TStringList owner;
  TWatched c(&owner), src;
  c.Add()->Text = u"a";
  TItem* b = c.Add();
  b->Text = u"b";
  EXPECT_EQ(c.GetOwner(), &owner);
  b->SetIndex(0);
  EXPECT_EQ(c.Items(0)->Text + c.Items(1)->Text, u"ba");
  c.Delete(0);
  EXPECT_THROW(c.Items(1), EListError);
  delete c.Items(0);
  EXPECT_EQ(c.Count(), 0);
  src.Add()->Text = u"x";
  src.Add()->Text = u"y";
  c.Add()->Text = u"old";
  c.Updates = 0;
  c.Assign(&src);
  EXPECT_EQ(c.Count() * 10 + c.Updates, 21);
  EXPECT_EQ(c.Items(1)->Text, u"y");
  c.BeginUpdate();
  c.Add();
  c.Clear();
  EXPECT_EQ(c.Updates, 1);
  c.EndUpdate();
  EXPECT_EQ(c.Updates, 2);
}

TEST(Streams, MemoryAndFileStreams) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  m.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  m.SetSize(2);
  EXPECT_EQ(m.Bytes(), "he");
  EXPECT_EQ(m.Position(), 2);
  // A file stream reports the system's reason and copies every byte, a zero among them.
  EXPECT_THAT([] { TFileStream f(u"/nonexistent/dir/file", fmCreate); },
              ThrowsMessage<EFCreateError>(HasSubstr("No such file or directory")));
  harness::TempDir dir;
  const String path = FromUtf8(dir.File("data.bin").string());
  {
    TFileStream f(path, fmCreate);
    TStringStream s(std::string_view("abc\0def", 7));
    f.CopyFrom(s, 0);
    f.Flush();
    EXPECT_EQ(f.Size(), 7);
  }
  m.LoadFromFile(path);
  EXPECT_EQ(m.Bytes(), std::string_view("abc\0def", 7));
}
