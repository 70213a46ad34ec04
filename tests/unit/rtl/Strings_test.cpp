#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "harness/TempDir.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/Graphics.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/Strings.h"

using namespace qninet;
using testing::HasSubstr;
using testing::ThrowsMessage;

TEST(StringListText, SplitsAtCrLfAndCrlfMixes) {
  TStringList l;
  l.SetText(u"a\rb\nc\r\nd\n\ne");
  EXPECT_EQ(l.Count(), 6);
  EXPECT_EQ(l.Text(), u"a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
  l.SetText(u"x\r\n");
  EXPECT_EQ(l.Count(), 1);  // a final break adds no empty line
  l.SetText(u"\n\r");
  EXPECT_EQ(l.Count(), 2);  // LF then CR are two breaks, not one
}

TEST(StringListNames, NamesValuesAndIndexes) {
  TStringList l;
  l.Add(u"Host=example.org");
  l.Add(u"plain");
  l.Add(u"Port=43");
  l.Add(u"host=second");
  EXPECT_EQ(l.Names(0), u"Host");
  EXPECT_EQ(l.Names(1), u"");
  EXPECT_EQ(l.Values(u"HOST"), u"example.org");
  EXPECT_EQ(l.IndexOfName(u"port"), 2);
  EXPECT_EQ(l.IndexOf(u"PLAIN"), 1);
  l.SetValues(u"Port", u"80");
  EXPECT_EQ(l.Strings(2), u"Port=80");
  l.SetValues(u"Port", u"");
  EXPECT_EQ(l.IndexOfName(u"Port"), -1);
  l.SetValues(u"New", u"v=w");
  EXPECT_EQ(l.Values(u"New"), u"v=w");
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf(u"PLAIN"), -1);
}

TEST(StringListEdits, InsertDeleteClearBoundsAndOneChangePerUpdateBlock) {
  TStringList l;
  int changes = 0;
  l.SetOnChange([&](TObject*) { ++changes; });
  l.Add(u"b");
  EXPECT_EQ(changes, 1);
  l.BeginUpdate();
  l.Insert(0, u"a");
  l.Insert(2, u"c");
  l.EndUpdate();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(l.Text(), u"a\r\nb\r\nc\r\n");
  l.Delete(1);
  EXPECT_EQ(l.Strings(1), u"c");
  EXPECT_THROW(l.Strings(2), EStringListError);
  EXPECT_THROW(l.Insert(5, u"x"), EStringListError);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringListObjects, EachLineOwnsItsObject) {
  struct Tracked : TObject {
    explicit Tracked(int* c) : Counter(c) {}
    ~Tracked() override { ++*Counter; }
    int* Counter;
  };
  int destroyed = 0;
  {
    TStringList l;
    l.AddObject(u"a", std::make_unique<Tracked>(&destroyed));
    l.AddObject(u"b", std::make_unique<Tracked>(&destroyed));
    EXPECT_EQ(l.IndexOfObject(l.Objects(1)), 1);
    l.Delete(0);
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(StringListSorting, SortedListsFindRefuseDuplicatesAndAssign) {
  TStringList l;
  l.SetSorted(true);
  l.Add(u"pear");
  l.Add(u"apple");
  l.Add(u"fig");
  l.Add(u"APPLE");  // ignored: case-insensitive duplicate
  EXPECT_EQ(l.Text(), u"apple\r\nfig\r\npear\r\n");
  int i;
  EXPECT_TRUE(l.Find(u"FIG", i));
  EXPECT_EQ(i, 1);
  EXPECT_FALSE(l.Find(u"kiwi", i));
  EXPECT_EQ(i, 2);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add(u"fig"), EStringListError);
  TStringList copy;
  copy.Add(u"old");
  copy.Assign(&l);  // copies the lines, refuses other classes
  EXPECT_TRUE(copy.Equals(l));
  TPicture foreign;
  EXPECT_THROW(copy.Assign(&foreign), EConvertError);
}

TEST(StringListFiles, SaveAndLoadKeepTextAndDetectEncodings) {
  harness::TempDir dir;
  const String path = FromUtf8((dir.Path() / "list.txt").string());
  TStringList l;
  l.SetText(u"gr\u00FC\u00DF\nzwei");
  l.SaveToFile(path);
  TStringList back;
  back.LoadFromFile(path);
  EXPECT_TRUE(back.Equals(l));

  const std::pair<std::string, const char16_t*> files[] = {{std::string("\xFF\xFE"
                                                                        "a\0b\0\n\0",
                                                                        8),
                                                            u"ab"},
                                                           {"caf\xE9", u"caf\u00E9"}};
  for (const auto& [bytes, first] : files) {
    back.LoadFromFile(FromUtf8(dir.Write("encoded.txt", bytes).string()));
    EXPECT_EQ(back.Strings(0), first);
  }
  EXPECT_THROW(back.LoadFromFile(u"/nonexistent/file"), EFOpenError);
}

namespace {
class TItem : public TCollectionItem {
  QNINET_OBJECT(TItem, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  String Text;
  void Assign(const TPersistent* Source) override {
    if (auto* i = dynamic_cast<const TItem*>(Source)) {
      Text = i->Text;
      return;
    }
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

TEST(CollectionItems, AddDeleteIndexAndOwner) {
  TStringList owner;
  TCollectionOf<TItem> c(&owner);
  TItem* a = c.Add();
  TItem* b = c.Add();
  a->Text = u"a";
  b->Text = u"b";
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(c.GetOwner(), &owner);
  EXPECT_EQ(b->Collection(), &c);
  b->SetIndex(0);
  EXPECT_EQ(c.Items(0)->Text, u"b");
  c.Delete(0);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(c.Items(0)->Text, u"a");
  EXPECT_THROW(c.Items(1), EListError);
  delete c.Items(0);  // an item destroyed directly leaves its collection
  EXPECT_EQ(c.Count(), 0);
}

TEST(CollectionItems, AssignCopiesItemsAndUpdatesOnceInABlock) {
  TWatched src, dst;
  src.Add()->Text = u"x";
  src.Add()->Text = u"y";
  dst.Add()->Text = u"old";
  dst.Updates = 0;
  dst.Assign(&src);
  ASSERT_EQ(dst.Count(), 2);
  EXPECT_EQ(dst.Items(1)->Text, u"y");
  EXPECT_EQ(dst.Updates, 1);
  dst.BeginUpdate();
  dst.Add();
  dst.Clear();
  EXPECT_EQ(dst.Updates, 1);
  dst.EndUpdate();
  EXPECT_EQ(dst.Updates, 2);
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
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
}

TEST(Streams, FileStreamReportsTheSystemReasonAndCopiesEveryByte) {
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
  TMemoryStream m;
  m.LoadFromFile(path);
  EXPECT_EQ(m.Bytes(), std::string_view("abc\0def", 7));
}
