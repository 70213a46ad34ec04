// Registration, the editors and the about box, all read from the one palette table.
#include "qninet/design/QNIReg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qninet/design/QNInAbout.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

namespace {

// A design environment that keeps what is registered.
struct RecordingRegistrar : TDesignRegistrar {
  std::vector<TComponentClassRef> Classes;
  std::vector<TComponentEditorClass> Editors;
  std::vector<TPropertyEditorClass> PropertyEditors;

  RecordingRegistrar() { ::Register(this); }
  void RegisterComponents(const String&, const std::vector<TComponentClassRef>& classes) override {
    Classes.insert(Classes.end(), classes.begin(), classes.end());
  }
  void RegisterComponentEditor(const TClassInfo&, const TComponentEditorClass& e) override {
    Editors.push_back(e);
  }
  void RegisterPropertyEditor(const char*, const TClassInfo&, const String&,
                              const TPropertyEditorClass& e) override {
    PropertyEditors.push_back(e);
  }
};

}  // namespace

// Every verb, index or not, and the property editor's button show the about box: one
// information box, the same each time, that names every registered class. (The verbs and the
// editors' values as the package shows them: tests/program/palette_test.)
TEST(PackageEditors, VerbsAndTheButtonShowTheAboutBox) {
  RecordingRegistrar r;
  gui::TScriptedGui gui;
  TQNWhoIs whois(nullptr);
  auto editor = r.Editors.at(0).Create(&whois);
  for (int index : {0, 1, -1, 7}) editor->ExecuteVerb(index);
  r.PropertyEditors.at(0).Create(&whois, *FindPropInfo(whois, "About"))->Edit();
  EXPECT_EQ(GetPropValue(whois, "About").AsString(), u"");  // the property itself stays empty
  ASSERT_EQ(gui.Messages().size(), 5u);
  for (const auto& m : gui.Messages())
    EXPECT_EQ(
        std::tuple(m.Flags, m.Caption, m.Text),
        std::tuple(gui::mbOK | gui::mbIconInformation, String(u"About QNInternet"), gui.Messages()[0].Text));
  for (const TComponentClassRef& ref : r.Classes)
    EXPECT_NE(gui.Messages()[0].Text.find(FromUtf8(std::string("\n") + ref.Class->Name() + " - ")),
              String::npos)
        << ref.Class->Name();
}

namespace {

// Gives every writable published property of `o` (nested objects, string lists and collection
// items included) a value other than the one it starts with. Returns how many it set.
int fill(TPersistent& o, const std::string& path, std::vector<std::string>& refused) {
  if (auto* list = dynamic_cast<TStrings*>(&o)) return list->Add(FromUtf8(path + " line")), 1;
  if (auto* coll = dynamic_cast<TCollection*>(&o)) return fill(*coll->Add(), path + "[0]", refused);
  int set = 0;
  for (const TPropInfo& p : GetPropList(o)) {
    if (p.Kind == tkClass) {
      if (TPersistent* nested = p.GetObject(o)) set += fill(*nested, path + p.Name + ".", refused);
      continue;
    }
    if (!p.Set || p.Kind == tkMethod) continue;
    const Variant now = p.Get(o);
    const auto n = [&] { return now.AsInt64(); };  // read only for the ordinal kinds
    const Variant next = p.Kind == tkBoolean                        ? Variant(!now.AsBoolean())
                         : p.Kind == tkInteger || p.Kind == tkInt64 ? Variant(n() + 7)
                         : p.Kind == tkFloat                        ? Variant(now.AsFloat() + 1.5)
                         : p.Kind == tkEnumeration
                             ? Variant((n() + 1) % static_cast<Int64>(p.Enum->Values.size()))
                         : p.Kind == tkSet ? Variant(n() ^ 1)
                                           : Variant(FromUtf8("v_" + std::string(p.Name)));
    try {
      p.Set(o, next);
      ++set;
    } catch (const std::exception& e) {
      refused.push_back(path + p.Name + ": " + e.what());
    }
  }
  return set;
}

// Every published value of `o` as "Path=value", nested objects, lists and items included.
void dump(const TPersistent& o, const std::string& path, std::vector<std::string>& out) {
  if (const auto* list = dynamic_cast<const TStrings*>(&o))
    return out.push_back(path + "=" + ToUtf8(list->Text()));
  if (const auto* coll = dynamic_cast<const TCollection*>(&o)) {
    for (int i = 0; i < coll->Count(); ++i) dump(*coll->Items(i), path + "[" + std::to_string(i) + "]", out);
    return;
  }
  for (const TPropInfo& p : GetPropList(o)) {
    if (p.Kind == tkClass) {
      if (const TPersistent* nested = p.GetObject(o)) dump(*nested, path + p.Name + ".", out);
    } else if (p.Set && p.Kind != tkMethod) {  // events and read-only values are not stored
      out.push_back(path + p.Name + "=" + ToUtf8(p.Get(o).AsString()));
    }
  }
}

}  // namespace

// A host passing nothing survives. Each registered class is made by its factory with its owner,
// falls under a component editor, and stores all its published properties in a form file and gets
// them back from it. (The classes, pictures and editors as the package shows them through dlopen
// are read in tests/program/palette_test.cpp.)
TEST(PackageRegistration, EveryClassIsMadeByItsFactoryFallsUnderAnEditorAndRoundTripsItsProperties) {
  ::Register(nullptr);
  RecordingRegistrar r;
  ASSERT_FALSE(r.Classes.empty());
  TComponent owner(nullptr);
  for (const TComponentClassRef& ref : r.Classes) {
    SCOPED_TRACE(ref.Class->Name());
    TComponent* fresh = ref.Create(&owner);
    EXPECT_EQ(&fresh->ClassInfo(), ref.Class);
    EXPECT_EQ(fresh->Owner(), &owner);
    EXPECT_TRUE(fresh->InheritsFrom(TQNInetBase::StaticClassInfo()) ||
                fresh->InheritsFrom(TQNCustomWebComponent::StaticClassInfo()))
        << "falls under no component editor";
    std::unique_ptr<TComponent> saved(ref.Create(nullptr)), loaded(ref.Create(nullptr));
    std::vector<std::string> refused, before, written, read;
    EXPECT_GT(fill(*saved, "", refused), 3);
    EXPECT_EQ(refused, std::vector<std::string>{});
    const std::string json = WriteObjectToJSON(*saved);
    ReadObjectFromJSON(*loaded, json);
    dump(*fresh, "", before);
    dump(*saved, "", written);
    dump(*loaded, "", read);
    EXPECT_NE(before, written);
    EXPECT_EQ(read, written) << json;
  }
}
