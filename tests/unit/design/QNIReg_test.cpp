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

// A design environment that writes down every registration as one line.
struct RecordingRegistrar : TDesignRegistrar {
  std::vector<std::string> Lines;
  std::vector<TComponentClassRef> Classes;
  std::vector<TComponentEditorClass> Editors;
  std::vector<TPropertyEditorClass> PropertyEditors;

  RecordingRegistrar() { ::Register(this); }
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

// The page, the classes in their contracted order, then the editors; the pictures follow the
// same table: none for the RSS parser and the SNTP client, one for the unregistered resolver.
TEST(PackageRegistration, ClassesInPaletteOrderThenTheEditorsAndAPictureEach) {
  ::Register(nullptr);  // a host passing nothing registers nothing and survives
  RecordingRegistrar r;
  EXPECT_EQ(r.Lines, (std::vector<std::string>{
                         "page QN-Internet", "component editor TQNInetComponentEditor for TQNInetBase",
                         "component editor TQNInetComponentEditor for TQNCustomWebComponent",
                         "property editor TQNInetAboutProperty for String About of TQNInetBase"}));
  std::string order, unpictured;
  TComponent owner(nullptr);
  for (const TComponentClassRef& ref : r.Classes) {
    order += std::string(order.empty() ? "" : " ") + ref.Class->Name();
    TComponent* made = ref.Create(&owner);
    EXPECT_EQ(&made->ClassInfo(), ref.Class);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_TRUE(made->InheritsFrom(TQNInetBase::StaticClassInfo()) ||
                made->InheritsFrom(TQNCustomWebComponent::StaticClassInfo()))
        << ref.Class->Name() << " falls under no component editor";
    if (FindPaletteResource(upper(ref.Class->Name())).empty()) unpictured += ref.Class->Name();
  }
  EXPECT_EQ(
      order,
      "TQNWhoIs TQNInetDateTime TQNUPSTracker TQNFedExTracker TQNIHTTPClient TQNWebUpdater TQNWebDirect "
      "TQNRemoteImage TQNInfoExtractor TQNWeatherInfo TQNRemoteFiles TQNISMTP TQNIRSSParser TQNInetSNTP "
      "TQNMSTranslator TQNRdapClient");
  EXPECT_EQ(unpictured, "TQNIRSSParserTQNInetSNTP");
  EXPECT_EQ(QNInetPaletteResources().back().Name, std::string("TQNIDNSRESOLVER"));
  EXPECT_EQ(QNInetPaletteResources().size(), r.Classes.size() - 2 + 1);
  EXPECT_TRUE(FindPaletteResource("TQNWhoIs").empty());  // resource names are capitals
  for (const TPaletteResource& p : QNInetPaletteResources()) {
    EXPECT_TRUE(p.Svg.starts_with(R"(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24")"));
    EXPECT_TRUE(p.Svg.ends_with("</svg>")) << p.Name;
  }
  EXPECT_EQ(FindQNInetClass("tqnwhois"), FindQNInetClass("TQNWhoIs"));  // case ignored
  EXPECT_EQ(FindQNInetClass("TQNWhoIs")->Class, r.Classes.front().Class);
  EXPECT_EQ(FindQNInetClass("TQNIDNSResolver"), nullptr);  // not on the palette
}

// Every verb, index or not, and the property editor's button show the about box: one
// information box whose lines name the registered classes in palette order.
TEST(PackageEditors, VerbsValuesAndActionsShowTheAboutBox) {
  RecordingRegistrar r;
  ASSERT_EQ(r.Editors.size(), 2u);
  ASSERT_EQ(r.PropertyEditors.size(), 1u);
  gui::TScriptedGui gui;
  TQNWhoIs whois(nullptr);
  auto editor = r.Editors[0].Create(&whois);
  EXPECT_EQ(editor->Component(), &whois);
  EXPECT_EQ(editor->GetVerbCount(), 1);
  const std::pair<int, const char*> verbs[] = {{0, "About QNInternet"}, {1, ""}, {-1, ""}, {7, ""}};
  for (const auto& [index, verb] : verbs) {
    EXPECT_EQ(ToUtf8(editor->GetVerb(index)), verb) << index;
    editor->ExecuteVerb(index);
  }
  const TPropInfo* about = FindPropInfo(whois, "About");
  ASSERT_NE(about, nullptr);
  auto prop = r.PropertyEditors[0].Create(&whois, *about);
  EXPECT_EQ(prop->GetAttributes(), (TPropertyAttributes{paDialog, paReadOnly}));
  EXPECT_EQ(ToUtf8(prop->GetValue()), "About QNInternet...");
  EXPECT_EQ(ToUtf8(GetPropValue(whois, "About").AsString()), "");  // the property itself stays empty
  prop->Edit();

  ASSERT_EQ(gui.Messages().size(), std::size(verbs) + 1);
  for (const auto& m : gui.Messages()) {
    EXPECT_EQ(m.Flags, gui::mbOK | gui::mbIconInformation);
    EXPECT_EQ(m.Caption, u"About QNInternet");
    EXPECT_EQ(m.Text, gui.Messages()[0].Text);
  }
  const std::string text = ToUtf8(gui.Messages()[0].Text);
  std::size_t at = text.find('\n');
  EXPECT_FALSE(text.starts_with("TQN")) << "a heading comes first";
  for (const TComponentClassRef& ref : r.Classes) {
    const std::string head = std::string("\n") + ref.Class->Name() + " - ";
    ASSERT_EQ(text.compare(at, head.size(), head), 0) << text.substr(at);
    at = text.find('\n', at + 1);
    EXPECT_GT(std::min(at, text.size()), text.find(head) + head.size()) << "says what it does";
  }
  EXPECT_EQ(at, std::string::npos) << "one line per registered class";

  // The base editors: a string property reads and writes its value, an editor has no verb.
  TStringProperty plain(&whois, *FindPropInfo(whois, "Host"));
  plain.SetValue(u"whois.example");
  EXPECT_EQ(ToUtf8(plain.GetValue()), "whois.example");
  EXPECT_TRUE(plain.GetAttributes().Empty());
  EXPECT_EQ(TComponentEditor(&whois).GetVerbCount(), 0);
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

// Every palette class stores all its published properties in a form file and gets them back
// from it through the registered factory.
TEST(PackageForms, EveryRegisteredClassRoundTripsItsPublishedProperties) {
  for (const TComponentClassRef& ref : RecordingRegistrar().Classes) {
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
