#include "qninet/design/QNIReg.h"

#include "qninet/design/QNInAbout.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNInBase.h"
#include "qninet/web/qniupdate.h"

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

// A palette tile: the entry's colour under its short label, 24 x 24.
std::string tile_svg(const TPaletteEntry& e) {
  const std::string label = e.Label;
  const char* size = label.size() > 3 ? "7" : "9";
  return std::string(
             R"(<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">)") +
         R"(<rect x="1" y="1" width="22" height="22" rx="4" fill=")" + e.Fill + R"(" stroke="#102a6e"/>)" +
         R"(<text x="12" y="15.5" font-family="sans-serif" font-weight="bold" font-size=")" + size +
         R"(" text-anchor="middle" fill="#ffffff">)" + label + "</text></svg>";
}

// A resource is named after its class in capital letters.
std::string resource_name(const TClassInfo& c) {
  std::string name = c.Name();
  for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return name;
}

}  // namespace

const std::vector<TPaletteResource>& QNInetPaletteResources() {
  struct Picture {
    std::string Name, Svg;
  };
  static const std::vector<Picture> pictures = [] {
    std::vector<Picture> v;
    for (const TPaletteEntry& e : QNInetPalette())
      if (e.Fill) v.push_back({resource_name(*e.Ref.Class), tile_svg(e)});
    return v;
  }();
  static const std::vector<TPaletteResource> resources = [] {
    std::vector<TPaletteResource> v;
    for (const Picture& p : pictures) v.push_back({p.Name.c_str(), p.Svg});
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
  std::vector<TComponentClassRef> classes;
  for (const TPaletteEntry& e : QNInetPalette())
    if (e.Registered) classes.push_back(e.Ref);
  Registrar.RegisterComponents(String(kQNInetPalettePage), classes);
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
  const String wanted = FromUtf8(std::string(Name));
  for (const TPaletteEntry& e : QNInetPalette())
    if (e.Registered && SameText(FromUtf8(e.Ref.Class->Name()), wanted)) return &e.Ref;
  return nullptr;
}

TComponent* CreateQNInetComponent(const std::string& ClassName) {
  const TComponentClassRef* ref = FindQNInetClass(ClassName);
  return ref ? ref->Create(nullptr) : nullptr;
}

}  // namespace qninet

extern "C" void Register(qninet::TDesignRegistrar* Registrar) {
  if (Registrar) qninet::RegisterQNInet(*Registrar);
}
