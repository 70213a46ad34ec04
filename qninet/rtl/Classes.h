#pragma once
// The object model: class information with published properties, persistent objects that copy
// with Assign, and components that own components.

#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qninet/rtl/SysUtils.h"
#include "qninet/rtl/Variant.h"

namespace qninet {

class TObject;
class TPersistent;

enum TTypeKind : std::uint8_t {
  tkInteger,
  tkInt64,
  tkBoolean,
  tkEnumeration,
  tkSet,
  tkFloat,
  tkString,
  tkClass,
  tkMethod
};

/// The names of an enumeration's values, in ordinal order.
struct QNINET_API TEnumInfo {
  /// The enumeration's name.
  const char* Name;
  /// The value names, indexed by ordinal.
  std::vector<const char*> Values;
  /// The ordinal of a value name (exact match), or -1.
  int OrdinalOf(std::string_view name) const;
  /// The name of value `ordinal`; empty when out of range.
  String NameOf(int ordinal) const;
};

/// One published property. `Get`/`Set` carry ordinal, text and float values as a `Variant`
/// (enumerations as their ordinal, sets as their bits); class properties expose their object.
struct QNINET_API TPropInfo {
  /// The property's name as form files and `props` write it.
  const char* Name = "";
  /// The kind of value: integer, enumeration, set, text, float, class...
  TTypeKind Kind = tkInteger;
  /// The C++ type's name, as a form file's reader shows it.
  const char* TypeName = "";
  /// Reads the property of an object.
  std::function<Variant(const TObject&)> Get;
  std::function<void(TObject&, const Variant&)> Set;      ///< empty for a read-only property
  std::function<TPersistent*(const TObject&)> GetObject;  ///< tkClass only
  Variant Default;                                        ///< unassigned: the value is always stored
  std::function<bool(const TObject&)> StoredFn;           ///< empty: stored when not the default
  const TEnumInfo* Enum = nullptr;                        ///< tkEnumeration and tkSet
  Int64 MinValue = std::numeric_limits<Int64>::min();     ///< tkInteger and tkInt64: the type's range
  /// tkInteger and tkInt64: the type's largest value.
  Int64 MaxValue = std::numeric_limits<Int64>::max();

  /// Whether a form file keeps the property's current value of `obj`.
  bool IsStored(const TObject& obj) const;
  /// Sets `StoredFn` and returns the property, to chain in a property list.
  TPropInfo& StoredWhen(std::function<bool(const TObject&)> fn) {
    StoredFn = std::move(fn);
    return *this;
  }
};
using TPropList = std::vector<TPropInfo>;

/// Run-time class information: the name, the base class and the published properties.
class QNINET_API TClassInfo {
public:
  /// Registers a class: its name, its base class's information (or none) and its own published properties.
  TClassInfo(const char* name, const TClassInfo* parent, TPropList (*own)());
  /// The class's name.
  const char* Name() const { return FName; }
  /// The base class's information, or none for `TObject`.
  const TClassInfo* Parent() const { return FParent; }
  /// The published properties, the base classes' first, each class's in declaration order.
  const TPropList& Properties() const;
  /// The published property of that name (exact match), this class's or a base class's, or none.
  const TPropInfo* FindProperty(std::string_view name) const;
  /// Whether this class is `other` or derives from it.
  bool InheritsFrom(const TClassInfo& other) const;

private:
  const char* FName;
  const TClassInfo* FParent;
  TPropList (*FOwn)();
  mutable std::once_flag FOnce;
  mutable TPropList FAll;
};

/// Declares the run-time class information of a class; pair it with `QNINET_CLASS_INFO`.
#define QNINET_OBJECT(Class, Base)                                                     \
public:                                                                                \
  using inherited = Base;                                                              \
  static const ::qninet::TClassInfo& StaticClassInfo();                                \
  const ::qninet::TClassInfo& ClassInfo() const override { return StaticClassInfo(); } \
                                                                                       \
private:

/// Defines the class information of `Class` with its own published properties, built inside
/// with `Published(...)` where `Self` names the class.
#define QNINET_CLASS_INFO(Class, ...)                                                    \
  const ::qninet::TClassInfo& Class::StaticClassInfo() {                                 \
    static const ::qninet::TClassInfo info(#Class, &Class::inherited::StaticClassInfo(), \
                                           []() -> ::qninet::TPropList {                 \
                                             using Self [[maybe_unused]] = Class;        \
                                             return ::qninet::TPropList{__VA_ARGS__};    \
                                           });                                           \
    return info;                                                                         \
  }

/// The root of the class tree: run-time class information, no copies.
class QNINET_API TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
  /// The class information of `TObject`.
  static const TClassInfo& StaticClassInfo();
  /// The class information of the object's most derived class.
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  /// The name of the object's most derived class.
  String ClassName() const { return FromUtf8(ClassInfo().Name()); }
  /// Whether the object's class is `c` or derives from it.
  bool InheritsFrom(const TClassInfo& c) const { return ClassInfo().InheritsFrom(c); }
};

/// An object that can be copied from another with `Assign` and stored with its owner.
class QNINET_API TPersistent : public TObject {
  QNINET_OBJECT(TPersistent, TObject)
public:
  /// Copies `Source` into this object. The default hands the call to `Source->AssignTo` and
  /// raises `EConvertError` "Cannot assign a X to a Y" when neither side knows the other.
  virtual void Assign(const TPersistent* Source);
  /// The object that owns this one in a form file's nesting, or none.
  virtual TPersistent* GetOwner() const { return nullptr; }

protected:
  /// Copies this object into `Dest`; the default raises `EConvertError` through `AssignError`.
  virtual void AssignTo(TPersistent* Dest) const;
  /// Raises `EConvertError` "Cannot assign a X to a Y".
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

enum TComponentStateItem : std::uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
using TComponentState = TSet<TComponentStateItem>;
enum TOperation : std::uint8_t { opInsert, opRemove };

/// A component: it may have an owner, which destroys it, and it owns the components created
/// with it as their owner. Components created with an owner are destroyed by that owner.
class QNINET_API TComponent : public TPersistent {
  QNINET_OBJECT(TComponent, TPersistent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TComponent(TComponent* AOwner);
  /// Tells every free-notified component, destroys the owned components, leaves the owner.
  ~TComponent() override;

  /// The component that owns this one, or none.
  TComponent* Owner() const { return FOwner; }
  /// The number of components this one owns.
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  /// Raises `EListError` for an index out of range.
  TComponent* Components(int index) const;
  /// This component's index among its owner's components; -1 without an owner.
  int ComponentIndex() const;
  /// The owned component of that name (case-insensitive), or none.
  TComponent* FindComponent(StringView name) const;

  /// The component's name, unique among its owner's components; may be empty.
  const String& Name() const { return FName; }
  /// Raises `EComponentError` for a name that is no identifier or is taken within the owner.
  void SetName(const String& value);
  /// A number the application keeps with the component; the library never reads it.
  Integer Tag() const { return FTag; }
  /// Sets `Tag`.
  void SetTag(Integer value) { FTag = value; }
  /// Loading, designing, destroying: what the component is going through.
  TComponentState ComponentState() const { return FComponentState; }

  /// `AComponent` is told (`Notification(this, opRemove)`) when this component is destroyed,
  /// and the other way round.
  void FreeNotification(TComponent* AComponent);
  /// Undoes `FreeNotification` between this component and `AComponent`.
  void RemoveFreeNotification(TComponent* AComponent);
  /// Makes this component the owner of `AComponent`, taking it from its previous owner.
  void InsertComponent(TComponent* AComponent);
  /// Gives up the ownership of `AComponent` without destroying it.
  void RemoveComponent(TComponent* AComponent);
  /// Destroys the owned components now. A descendant whose `Notification` must see them go
  /// calls this in its own destructor, while it is still itself.
  void DestroyComponents();

  /// Loading state: a form reader sets it before the properties and calls `Loaded` after.
  void BeginLoading();
  /// Ends the reading of properties and calls `Loaded`.
  void EndLoading();
  /// Puts the component (and, with `children`, those it owns) in or out of the designing state.
  void SetDesigning(bool value, bool children = true);

  TPersistent* GetOwner() const override { return FOwner; }

protected:
  /// Called when `AComponent`, which this one owns or watches, is inserted or is being removed
  /// or destroyed; the default does nothing.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  /// Called after a form reader has set every property; the base leaves the loading state.
  virtual void Loaded();

private:
  void remove_notification(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;    // owned
  std::vector<TComponent*> FFreeNotifies;  // references
  String FName;
  Integer FTag = 0;
  TComponentState FComponentState;
};

}  // namespace qninet
