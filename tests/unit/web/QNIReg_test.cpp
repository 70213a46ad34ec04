#include "qninet/web/QNIReg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qninet/core/QNInAbout.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

namespace {

// A design environment that writes down every registration as one line.
struct RecordingRegistrar : TDesignRegistrar {
  std::vector<std::string> Lines;
  std::vector<TComponentClassRef> Classes;
  std::vector<TComponentEditorClass> Editors;
  std::vector<TPropertyEditorClass> PropertyEditors;

  void RegisterComponents(const String& Page, const std::vector<TComponentClassRef>& classes) override {
    Lines.push_back("page " + ToUtf8(Page));
    Classes.insert(Classes.end(), classes.begin(), classes.end());
  }
  void RegisterComponentEditor(const TClassInfo& c, const TComponentEditorClass& e) override {
    Lines.push_back(std::string("component editor ") + e.Name + " for " + c.Name());
    Editors.push_back(e);
  }
  void RegisterPropertyEditor(const char* type, const TClassInfo& c, const String& name,
                              const TPropertyEditorClass& e) override {
    Lines.push_back(std::string("property editor ") + e.Name + " for " + type + " " + ToUtf8(name) + " of " +
                    c.Name());
    PropertyEditors.push_back(e);
  }
};

std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

// The exported C entry, the page, the fifteen classes in palette order, then the editors.
TEST(PackageRegistration, RegistersTheClassesInOrderThenTheEditors) {
  RecordingRegistrar r;
  ::Register(&r);
  ::Register(nullptr);  // a host passing nothing registers nothing and survives
  EXPECT_EQ(r.Lines, (std::vector<std::string>{
                         "page QN-Internet",
                         "component editor TQNInetComponentEditor for TQNInetBase",
                         "component editor TQNInetComponentEditor for TQNCustomWebComponent",
                         "property editor TQNInetAboutProperty for String About of TQNInetBase",
                     }));
  const char* const order[] = {"TQNWhoIs",         "TQNInetDateTime", "TQNUPSTracker",  "TQNFedExTracker",
                               "TQNIHTTPClient",   "TQNWebUpdater",   "TQNWebDirect",   "TQNRemoteImage",
                               "TQNInfoExtractor", "TQNWeatherInfo",  "TQNRemoteFiles", "TQNISMTP",
                               "TQNIRSSParser",    "TQNInetSNTP",     "TQNMSTranslator"};
  ASSERT_EQ(r.Classes.size(), std::size(order));
  TComponent owner(nullptr);
  std::vector<std::string> pictured;
  for (std::size_t i = 0; i < r.Classes.size(); ++i) {
    const TComponentClassRef& ref = r.Classes[i];
    EXPECT_STREQ(ref.Class->Name(), order[i]);
    TComponent* made = ref.Create(&owner);
    EXPECT_EQ(&made->ClassInfo(), ref.Class) << order[i];
    EXPECT_EQ(made->Owner(), &owner);
    // Every palette component falls under one of the two component editors.
    EXPECT_TRUE(made->InheritsFrom(TQNInetBase::StaticClassInfo()) ||
                made->InheritsFrom(TQNCustomWebComponent::StaticClassInfo()))
        << order[i];
    if (!FindPaletteResource(upper(order[i])).empty()) pictured.push_back(order[i]);
  }
  EXPECT_EQ(owner.ComponentCount(), static_cast<int>(std::size(order)));
  // Every class has a picture but the RSS parser and the SNTP client; the DNS resolver has one.
  EXPECT_EQ(pictured.size(), std::size(order) - 2);
  EXPECT_TRUE(FindPaletteResource("TQNIRSSPARSER").empty());
  EXPECT_TRUE(FindPaletteResource("TQNINETSNTP").empty());
  EXPECT_FALSE(FindPaletteResource("TQNIDNSRESOLVER").empty());
  EXPECT_TRUE(FindPaletteResource("TQNWhoIs").empty());  // resource names are capitals
  EXPECT_EQ(QNInetPaletteResources().size(), pictured.size() + 1);
  for (const TPaletteResource& p : QNInetPaletteResources()) {
    EXPECT_EQ(p.Svg.rfind(R"(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24")", 0), 0u)
        << p.Name;
    EXPECT_TRUE(p.Svg.ends_with("</svg>")) << p.Name;
  }
  EXPECT_EQ(ToUtf8(QNInetPackageDescription()), "Veltraxon Internet components");
}

// The verbs and values an environment shows, and that each action opens the about box.
TEST(PackageEditors, VerbsValuesAndActionsShowTheAboutBox) {
  RecordingRegistrar r;
  ::Register(&r);
  ASSERT_EQ(r.Editors.size(), 2u);
  ASSERT_EQ(r.PropertyEditors.size(), 1u);
  gui::TScriptedGui gui;
  TQNWhoIs whois(nullptr);
  auto editor = r.Editors[0].Create(&whois);
  EXPECT_EQ(editor->Component(), &whois);
  EXPECT_EQ(editor->GetVerbCount(), 1);
  const struct {
    int Index;
    const char* Verb;
  } verbs[] = {{0, "About QNInternet"}, {1, ""}, {-1, ""}, {7, ""}};
  for (const auto& v : verbs) {
    EXPECT_EQ(ToUtf8(editor->GetVerb(v.Index)), v.Verb) << v.Index;
    editor->ExecuteVerb(v.Index);  // whatever the index
  }
  ASSERT_EQ(gui.Messages().size(), std::size(verbs));
  for (const auto& m : gui.Messages()) EXPECT_EQ(m.Text, AboutQNInetText());

  const TPropInfo* about = FindPropInfo(whois, "About");
  ASSERT_NE(about, nullptr);
  auto prop = r.PropertyEditors[0].Create(&whois, *about);
  EXPECT_EQ(prop->GetAttributes(), (TPropertyAttributes{paDialog, paReadOnly}));
  EXPECT_EQ(ToUtf8(prop->GetValue()), "About QNInternet...");
  EXPECT_EQ(ToUtf8(GetPropValue(whois, "About").AsString()), "");  // the property itself stays empty
  prop->Edit();
  ASSERT_EQ(gui.Messages().size(), std::size(verbs) + 1);
  EXPECT_EQ(gui.Messages().back().Text, AboutQNInetText());

  // The base editors: a string property reads and writes its value, an editor has no verb.
  const TPropInfo* host = FindPropInfo(whois, "Host");
  ASSERT_NE(host, nullptr);
  TStringProperty plain(&whois, *host);
  plain.SetValue(u"whois.example");
  EXPECT_EQ(ToUtf8(plain.GetValue()), "whois.example");
  EXPECT_TRUE(plain.GetAttributes().Empty());
  EXPECT_EQ(TComponentEditor(&whois).GetVerbCount(), 0);
}

namespace {

// Gives every writable published property of `o` (nested objects, string lists and collection
// items included) a value other than the one it starts with. Returns how many it set.
int fill(TPersistent& o, const std::string& path, std::vector<std::string>& refused) {
  int set = 0;
  if (auto* list = dynamic_cast<TStrings*>(&o)) {
    list->Add(FromUtf8(path + " line"));
    return 1;
  }
  if (auto* coll = dynamic_cast<TCollection*>(&o)) return fill(*coll->Add(), path + "[0]", refused);
  for (const TPropInfo& p : GetPropList(o)) {
    const std::string name = path + p.Name;
    if (p.Kind == tkClass) {
      if (TPersistent* nested = p.GetObject(o)) set += fill(*nested, name + ".", refused);
      continue;
    }
    if (!p.Set || p.Kind == tkMethod) continue;
    const Variant now = p.Get(o);
    Variant next;
    switch (p.Kind) {
      case tkBoolean:
        next = Variant(!now.AsBoolean());
        break;
      case tkInteger:
      case tkInt64:
        next = Variant(now.AsInt64() + 7);
        break;
      case tkFloat:
        next = Variant(now.AsFloat() + 1.5);
        break;
      case tkEnumeration:
        next = Variant(static_cast<Int64>((now.AsInt64() + 1) % static_cast<Int64>(p.Enum->Values.size())));
        break;
      case tkSet:
        next = Variant(static_cast<Int64>(now.AsInt64() ^ 1));
        break;
      default:
        next = Variant(FromUtf8("v_" + std::string(p.Name)));
        break;
    }
    try {
      p.Set(o, next);
      ++set;
    } catch (const std::exception& e) {
      refused.push_back(name + ": " + e.what());
    }
  }
  return set;
}

// Every published value of `o` as "Path=value", nested objects, lists and items included.
void dump(const TPersistent& o, const std::string& path, std::vector<std::string>& out) {
  if (const auto* list = dynamic_cast<const TStrings*>(&o)) {
    out.push_back(path + "=" + ToUtf8(list->Text()));
    return;
  }
  if (const auto* coll = dynamic_cast<const TCollection*>(&o)) {
    for (int i = 0; i < coll->Count(); ++i) dump(*coll->Items(i), path + "[" + std::to_string(i) + "]", out);
    return;
  }
  for (const TPropInfo& p : GetPropList(o)) {
    if (p.Kind == tkClass) {
      if (const TPersistent* nested = p.GetObject(o)) dump(*nested, path + p.Name + ".", out);
      continue;
    }
    // Events and read-only values (reading a time client's DateTime runs a query) are not stored.
    if (p.Set && p.Kind != tkMethod) out.push_back(path + p.Name + "=" + ToUtf8(p.Get(o).AsString()));
  }
}

}  // namespace

// Every palette class stores all its published properties in a form file and gets them back
// from it through the registered factory.
TEST(PackageForms, EveryRegisteredClassRoundTripsItsPublishedProperties) {
  RecordingRegistrar r;
  ::Register(&r);
  for (const TComponentClassRef& ref : r.Classes) {
    SCOPED_TRACE(ref.Class->Name());
    std::unique_ptr<TComponent> fresh(ref.Create(nullptr)), saved(ref.Create(nullptr)),
        loaded(ref.Create(nullptr));
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
