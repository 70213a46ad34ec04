#pragma once
// The package's design-time side: what a design environment implements to install the
// components (`TDesignRegistrar`, the editor bases), the package's own editors, its palette
// pictures and `Register`, which a host finds by name after loading the package.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/design/Palette.h"
#include "qninet/rtl/Classes.h"

namespace qninet {

/// The package description a design environment shows in its package list.
QNINET_API String QNInetPackageDescription();

/// A component editor: the design environment makes one for a selected component and offers
/// its verbs on the component's context menu.
class QNINET_API TComponentEditor : public TObject {
  QNINET_OBJECT(TComponentEditor, TObject)
public:
  /// An editor of `AComponent`.
  explicit TComponentEditor(TComponent* AComponent) : FComponent(AComponent) {}
  /// The component being edited.
  TComponent* Component() const { return FComponent; }
  /// Runs verb `Index`; the base has none and does nothing.
  virtual void ExecuteVerb(int Index);
  /// The menu text of verb `Index`; the base has none and returns an empty text.
  virtual String GetVerb(int Index);
  /// How many verbs the editor adds to the menu; the base adds none.
  virtual int GetVerbCount();

private:
  TComponent* FComponent;
};

enum TPropertyAttribute : std::uint8_t {
  paValueList,
  paSubProperties,
  paDialog,
  paMultiSelect,
  paAutoUpdate,
  paSortList,
  paReadOnly
};
using TPropertyAttributes = TSet<TPropertyAttribute>;

/// A property editor for one published string property of one object in the inspector.
class QNINET_API TStringProperty : public TObject {
  QNINET_OBJECT(TStringProperty, TObject)
public:
  /// An editor of property `AProp` of `AInstance`.
  TStringProperty(TPersistent* AInstance, const TPropInfo& AProp) : FInstance(AInstance), FProp(&AProp) {}
  /// The object whose property is edited.
  TPersistent* Instance() const { return FInstance; }
  /// The property edited.
  const TPropInfo& Prop() const { return *FProp; }
  /// How the inspector treats the property; the base: a plain editable text.
  virtual TPropertyAttributes GetAttributes();
  /// The text the inspector shows; the base: the property's value.
  virtual String GetValue();
  /// Writes text typed in the inspector; raises `EConvertError` for a read-only property.
  virtual void SetValue(const String& Value);
  /// The ellipsis button's action; the base does nothing.
  virtual void Edit();

private:
  TPersistent* FInstance;
  const TPropInfo* FProp;
};

/// A registered component editor class and how to make one for a component.
struct TComponentEditorClass {
  /// The class's name.
  const char* Name;
  /// Makes an editor of `AComponent`.
  std::unique_ptr<TComponentEditor> (*Create)(TComponent* AComponent);
};
/// A registered property editor class and how to make one for a property of an object.
struct TPropertyEditorClass {
  /// The class's name.
  const char* Name;
  /// Makes an editor of property `AProp` of `AInstance`.
  std::unique_ptr<TStringProperty> (*Create)(TPersistent* AInstance, const TPropInfo& AProp);
};

/// What a design environment implements; `Register` calls it once, in the package's order.
class QNINET_API TDesignRegistrar {
public:
  virtual ~TDesignRegistrar();
  /// Puts `Classes` on palette page `Page`, in their order.
  virtual void RegisterComponents(const String& Page, const std::vector<TComponentClassRef>& Classes) = 0;
  /// Uses `Editor` for components of `ComponentClass` and its descendants.
  virtual void RegisterComponentEditor(const TClassInfo& ComponentClass,
                                       const TComponentEditorClass& Editor) = 0;
  /// Uses `Editor` for properties of type `PropertyType` named `PropertyName` on
  /// `ComponentClass` and its descendants.
  virtual void RegisterPropertyEditor(const char* PropertyType, const TClassInfo& ComponentClass,
                                      const String& PropertyName, const TPropertyEditorClass& Editor) = 0;
};

/// Adds the about command to the context menu of every component of the package.
class QNINET_API TQNInetComponentEditor : public TComponentEditor {
  QNINET_OBJECT(TQNInetComponentEditor, TComponentEditor)
public:
  /// An editor of `AComponent`.
  using TComponentEditor::TComponentEditor;
  /// Shows the about box, whatever the index.
  void ExecuteVerb(int Index) override;
  /// "About QNInternet" for index 0, an empty text for any other.
  String GetVerb(int Index) override;
  /// 1.
  int GetVerbCount() override;
};

/// The inspector's editor of the socket components' `About` property.
class QNINET_API TQNInetAboutProperty : public TStringProperty {
  QNINET_OBJECT(TQNInetAboutProperty, TStringProperty)
public:
  /// An editor of property `AProp` of `AInstance`.
  using TStringProperty::TStringProperty;
  /// A dialog (ellipsis button) over read-only text.
  TPropertyAttributes GetAttributes() override;
  /// "About QNInternet...", whatever the property holds.
  String GetValue() override;
  /// Shows the about box.
  void Edit() override;
};

/// A palette picture: a 24 x 24 SVG image named after its class in capital letters.
struct TPaletteResource {
  /// The component class's name in capitals.
  const char* Name;
  /// The SVG document.
  std::string_view Svg;
};
/// Every palette picture of the package, in the palette table's order (the DNS resolver's last).
QNINET_API const std::vector<TPaletteResource>& QNInetPaletteResources();
/// The picture named `Name` (exact, capital letters), or an empty view.
QNINET_API std::string_view FindPaletteResource(std::string_view Name);

/// Installs the package into a design environment: the palette page with its classes, the
/// component editors, then the property editor.
QNINET_API void RegisterQNInet(TDesignRegistrar& Registrar);

/// The registered class named `Name` (case ignored), or null.
QNINET_API const TComponentClassRef* FindQNInetClass(std::string_view Name);
/// A new, unowned component of the registered class named `ClassName` (case ignored), or null:
/// the factory a form file of the package's components is read with.
QNINET_API TComponent* CreateQNInetComponent(const std::string& ClassName);

}  // namespace qninet

/// The entry point a host finds with `dlsym(handle, "Register")` after loading the package.
extern "C" QNINET_API void Register(qninet::TDesignRegistrar* Registrar);
