#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "qninet/rtl/TypInfo.h"

using namespace qninet;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

enum TColorMode : std::uint8_t { cmMono, cmGray, cmColor };

std::vector<String>* g_log = nullptr;

class TProbe : public TComponent {
  QNINET_OBJECT(TProbe, TComponent)
public:
  explicit TProbe(TComponent* owner, String tag = u"") : TComponent(owner), FLabel(std::move(tag)) {}
  ~TProbe() override {
    if (g_log) g_log->push_back(u"destroy " + FLabel);
  }
  TComponent* Peer = nullptr;
  Integer Size() const { return FSize; }
  void SetSize(Integer v) { FSize = v; }
  const String& Label() const { return FLabel; }
  void SetLabel(const String& v) { FLabel = v; }

protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == opRemove && c == Peer) Peer = nullptr;
  }

private:
  Integer FSize = 8;
  String FLabel;
};

class TDerivedProbe : public TProbe {
  QNINET_OBJECT(TDerivedProbe, TProbe)
public:
  using TProbe::TProbe;
  bool Flag() const { return FFlag; }
  void SetFlag(bool v) { FFlag = v; }

private:
  bool FFlag = false;
};

class TOther : public TPersistent {
  QNINET_OBJECT(TOther, TPersistent)
};

}  // namespace

QNINET_CLASS_INFO(TProbe, Published("Size", &Self::Size, &Self::SetSize, 8),
                  Published("Label", &Self::Label, &Self::SetLabel))
QNINET_CLASS_INFO(TDerivedProbe, Published("Flag", &Self::Flag, &Self::SetFlag, false),
                  Published("Size", &Self::Size, &Self::SetSize, 16))
QNINET_CLASS_INFO(TOther)

// (A name that is no identifier, refused through a form: FormFile_test.)
TEST(ComponentOwnership, OwnerDestroysWhatItOwnsDeepestLastAndNamesEachOnce) {
  std::vector<String> log;
  g_log = &log;
  {
    TProbe root(nullptr, u"root");
    auto* a = new TProbe(&root, u"a");
    new TProbe(a, u"a1");
    auto* b = new TProbe(&root, u"b");
    delete new TProbe(&root, u"gone");
    a->SetName(u"Edit1");
    EXPECT_THROW(b->SetName(u"edit1"), EComponentError);  // unique within the owner, case ignored
    EXPECT_EQ(root.FindComponent(u"EDIT1"), a);
    EXPECT_EQ(root.ComponentCount(), 2);
    EXPECT_EQ(a->Owner(), &root);
    EXPECT_THROW(root.Components(2), EListError);
  }
  g_log = nullptr;
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[1], u"destroy root");  // the root's own destructor body runs first
  EXPECT_EQ(log.back(), u"destroy a1");
}

// Either side may go first: a holder destroyed before its target must not be called back.
TEST(ComponentNotification, FreeNotificationClearsReferences) {
  TProbe holder(nullptr);
  auto target = std::make_unique<TProbe>(nullptr);
  holder.Peer = target.get();
  target->FreeNotification(&holder);
  target.reset();
  EXPECT_EQ(holder.Peer, nullptr);
  auto early = std::make_unique<TProbe>(nullptr);
  TProbe later(nullptr);
  early->Peer = &later;
  later.FreeNotification(early.get());
  early.reset();
}

TEST(PersistentAssign, RefusesForeignClassesWithTheFrameworkMessage) {
  TProbe p(nullptr);
  TOther o;
  EXPECT_THAT([&] { p.Assign(&o); },
              ThrowsMessage<EConvertError>(StrEq("Cannot assign a TOther to a TProbe")));
  EXPECT_THAT([&] { o.Assign(nullptr); },
              ThrowsMessage<EConvertError>(StrEq("Cannot assign a nil to a TOther")));
}

// Names are found without regard to case; a derived class's default replaces the base's, and
// empty text is a default. (Every class's values through a form, and unknown names: the
// registration test and FormFile_test.)
TEST(PublishedProperties, ByNameWithTheirDefaults) {
  TDerivedProbe d(nullptr);
  SetPropValue(d, "size", Variant(Integer{12}));
  EXPECT_EQ(d.Size(), 12);
  const TPropInfo* size = FindPropInfo(d, "Size");
  EXPECT_TRUE(size->IsStored(d));
  SetPropValue(d, "Size", Variant(Integer{16}));
  EXPECT_FALSE(size->IsStored(d));
  EXPECT_FALSE(FindPropInfo(d, "Label")->IsStored(d));
}

TEST(ValueTypes, UnassignedDiffersFromEmptyTextAndSetAlgebra) {
  EXPECT_FALSE(Variant(String{}).IsUnassigned() || Variant() == Variant(String{}));
  EXPECT_EQ(Variant(String(u"42")).AsInteger(), 42);
  EXPECT_THROW(Variant(String(u"x")).AsInt64(), EConvertError);
  EXPECT_EQ(Variant(true).AsString(), u"True");
  TSet<TColorMode> s{cmMono};
  s.Include(cmColor);
  EXPECT_EQ((s - TSet<TColorMode>{cmMono}), TSet<TColorMode>{cmColor});
  EXPECT_TRUE((s * TSet<TColorMode>{cmGray}).Empty());
}
