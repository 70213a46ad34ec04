#include "qninet/web/QNIReg.h"

#include "qninet/core/QNInAbout.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNISMTP.h"
#include "qninet/socket/QNISNTP.h"
#include "qninet/socket/QNITime.h"
#include "qninet/socket/QNIWeath.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qniimage.h"
#include "qninet/web/qniupdate.h"
#include "qninet/web/qnixtract.h"

namespace qninet {

QNINET_CLASS_INFO(TComponentEditor)
QNINET_CLASS_INFO(TStringProperty)
QNINET_CLASS_INFO(TQNInetComponentEditor)
QNINET_CLASS_INFO(TQNInetAboutProperty)

String QNInetPackageDescription() { return u"Veltraxon Internet components"; }

void TComponentEditor::ExecuteVerb(int) {}
String TComponentEditor::GetVerb(int) { return {}; }
int TComponentEditor::GetVerbCount() { return 0; }

TPropertyAttributes TStringProperty::GetAttributes() { return {}; }
String TStringProperty::GetValue() { return FProp->Get(*FInstance).AsString(); }
void TStringProperty::SetValue(const String& Value) { SetPropValue(*FInstance, FProp->Name, Variant(Value)); }
void TStringProperty::Edit() {}

TDesignRegistrar::~TDesignRegistrar() = default;

void TQNInetComponentEditor::ExecuteVerb(int) { AboutQNInet(); }
String TQNInetComponentEditor::GetVerb(int Index) { return Index == 0 ? u"About QNInternet" : String(); }
int TQNInetComponentEditor::GetVerbCount() { return 1; }

TPropertyAttributes TQNInetAboutProperty::GetAttributes() { return {paDialog, paReadOnly}; }
String TQNInetAboutProperty::GetValue() { return u"About QNInternet..."; }
void TQNInetAboutProperty::Edit() { AboutQNInet(); }

namespace {

template <class C>
TComponentClassRef component_class() {
  return {&C::StaticClassInfo(), [](TComponent* owner) -> TComponent* { return new C(owner); }};
}

// A palette tile: the family's colour under a short label. The socket components are blue,
// the web components green, the mail sender and the translator each their own.
struct Tile {
  const char* Name;
  const char* Fill;
  const char* Label;
};
constexpr Tile kTiles[] = {
    {"TQNWHOIS", "#1f4e9c", "WHO"},
    {"TQNINETDATETIME", "#1f4e9c", "DT"},
    {"TQNUPSTRACKER", "#5b3a1a", "UPS"},
    {"TQNFEDEXTRACKER", "#4d148c", "FDX"},
    {"TQNIHTTPCLIENT", "#1f4e9c", "HTTP"},
    {"TQNWEBUPDATER", "#2e7d32", "UPD"},
    {"TQNWEBDIRECT", "#2e7d32", "NEWS"},
    {"TQNREMOTEIMAGE", "#2e7d32", "IMG"},
    {"TQNINFOEXTRACTOR", "#2e7d32", "@"},
    {"TQNWEATHERINFO", "#1f4e9c",
     "\xc2\xb0"
     "C"},
    {"TQNREMOTEFILES", "#2e7d32", "DIR"},
    {"TQNISMTP", "#b23c17", "MAIL"},
    {"TQNMSTRANSLATOR", "#00838f",
     "A\xe2\x86\x92"
     "B"},
    {"TQNIDNSRESOLVER", "#1f4e9c", "DNS"},
};

std::string tile_svg(const Tile& t) {
  const std::string label = t.Label;
  const char* size = label.size() > 3 ? "7" : "9";
  return std::string(
             R"(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">)") +
         R"(<rect x="1" y="1" width="22" height="22" rx="4" fill=")" + t.Fill + R"(" stroke="#102a6e"/>)" +
         R"(<text x="12" y="15.5" font-family="sans-serif" font-weight="bold" font-size=")" + size +
         R"(" text-anchor="middle" fill="#ffffff">)" + label + "</text></svg>";
}

}  // namespace

const std::vector<TPaletteResource>& QNInetPaletteResources() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> v;
    for (const Tile& t : kTiles) v.push_back(tile_svg(t));
    return v;
  }();
  static const std::vector<TPaletteResource> resources = [] {
    std::vector<TPaletteResource> v;
    for (std::size_t i = 0; i < std::size(kTiles); ++i) v.push_back({kTiles[i].Name, texts[i]});
    return v;
  }();
  return resources;
}

std::string_view FindPaletteResource(std::string_view Name) {
  for (const TPaletteResource& r : QNInetPaletteResources())
    if (Name == r.Name) return r.Svg;
  return {};
}

void RegisterQNInet(TDesignRegistrar& Registrar) {
  Registrar.RegisterComponents(
      u"QN-Internet",
      {component_class<TQNWhoIs>(), component_class<TQNInetDateTime>(), component_class<TQNUPSTracker>(),
       component_class<TQNFedExTracker>(), component_class<TQNIHTTPClient>(),
       component_class<TQNWebUpdater>(), component_class<TQNWebDirect>(), component_class<TQNRemoteImage>(),
       component_class<TQNInfoExtractor>(), component_class<TQNWeatherInfo>(),
       component_class<TQNRemoteFiles>(), component_class<TQNISMTP>(), component_class<TQNIRSSParser>(),
       component_class<TQNInetSNTP>(), component_class<TQNMSTranslator>()});
  static constexpr TComponentEditorClass editor{"TQNInetComponentEditor",
                                                [](TComponent* c) -> std::unique_ptr<TComponentEditor> {
                                                  return std::make_unique<TQNInetComponentEditor>(c);
                                                }};
  Registrar.RegisterComponentEditor(TQNInetBase::StaticClassInfo(), editor);
  Registrar.RegisterComponentEditor(TQNCustomWebComponent::StaticClassInfo(), editor);
  static constexpr TPropertyEditorClass about{
      "TQNInetAboutProperty",
      [](TPersistent* instance, const TPropInfo& prop) -> std::unique_ptr<TStringProperty> {
        return std::make_unique<TQNInetAboutProperty>(instance, prop);
      }};
  Registrar.RegisterPropertyEditor("String", TQNInetBase::StaticClassInfo(), u"About", about);
}

const TComponentClassRef* FindQNInetClass(std::string_view Name) {
  struct Collect : TDesignRegistrar {
    std::vector<TComponentClassRef> Classes;
    void RegisterComponents(const String&, const std::vector<TComponentClassRef>& c) override {
      Classes.insert(Classes.end(), c.begin(), c.end());
    }
    void RegisterComponentEditor(const TClassInfo&, const TComponentEditorClass&) override {}
    void RegisterPropertyEditor(const char*, const TClassInfo&, const String&,
                                const TPropertyEditorClass&) override {}
  };
  static const std::vector<TComponentClassRef> classes = [] {
    Collect c;
    RegisterQNInet(c);
    return c.Classes;
  }();
  for (const TComponentClassRef& ref : classes)
    if (SameText(FromUtf8(ref.Class->Name()), FromUtf8(std::string(Name)))) return &ref;
  return nullptr;
}

}  // namespace qninet

extern "C" void Register(qninet::TDesignRegistrar* Registrar) {
  if (Registrar) qninet::RegisterQNInet(*Registrar);
}
