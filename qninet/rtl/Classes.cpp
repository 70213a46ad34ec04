#include "qninet/rtl/Classes.h"

#include <algorithm>
#include <string>

#include "qninet/rtl/TypInfo.h"

namespace qninet {

int TEnumInfo::OrdinalOf(std::string_view name) const {
  for (std::size_t i = 0; i < Values.size(); ++i)
    if (name == Values[i]) return static_cast<int>(i);
  return -1;
}

String TEnumInfo::NameOf(int ordinal) const {
  if (ordinal < 0 || ordinal >= static_cast<int>(Values.size())) return IntToStr(ordinal);
  return FromUtf8(Values[static_cast<std::size_t>(ordinal)]);
}

bool TPropInfo::IsStored(const TObject& obj) const {
  if (StoredFn) return StoredFn(obj);
  if (Kind == tkMethod || Kind == tkClass) return Kind == tkClass;
  if (!Set) return false;
  if (Default.IsUnassigned()) return true;
  return !(Get(obj) == Default);
}

TClassInfo::TClassInfo(const char* name, const TClassInfo* parent, TPropList (*own)())
    : FName(name), FParent(parent), FOwn(own) {}

const TPropList& TClassInfo::Properties() const {
  std::call_once(FOnce, [this] {
    if (FParent) FAll = FParent->Properties();
    if (FOwn) {
      for (auto& p : FOwn()) {
        // A class may republish a base property; the new declaration takes the base's place.
        auto same = std::find_if(FAll.begin(), FAll.end(),
                                 [&](const TPropInfo& q) { return std::string_view(q.Name) == p.Name; });
        if (same != FAll.end())
          *same = std::move(p);
        else
          FAll.push_back(std::move(p));
      }
    }
  });
  return FAll;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const auto& p : Properties())
    if (SameText(FromUtf8(p.Name), FromUtf8(name))) return &p;
  return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->FParent)
    if (c == &other) return true;
  return false;
}

TObject::~TObject() = default;

const TClassInfo& TObject::StaticClassInfo() {
  static const TClassInfo info("TObject", nullptr, nullptr);
  return info;
}

QNINET_CLASS_INFO(TPersistent)

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const {
  const String source = Source ? Source->ClassName() : String(u"nil");
  throw EConvertError(Format(u"Cannot assign a %s to a %s", source, ClassName()));
}

QNINET_CLASS_INFO(TComponent, Published("Name", &Self::Name, &Self::SetName),
                  Published("Tag", &Self::Tag, &Self::SetTag, 0))

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState.Include(csDestroying);
  // Tell everyone who asked; each may drop its reference to us.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    other->remove_notification(this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    RemoveComponent(c);
    delete c;
  }
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(Format(u"List index out of bounds (%d)", index));
  return FComponents[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  const auto& list = FOwner->FComponents;
  const auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(StringView name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, name)) return c;
  return nullptr;
}

namespace {
bool is_identifier(StringView s) {
  if (s.empty()) return false;
  auto alpha = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; };
  if (!alpha(s[0])) return false;
  return std::all_of(s.begin() + 1, s.end(),
                     [&](char16_t c) { return alpha(c) || (c >= u'0' && c <= u'9'); });
}
}  // namespace

void TComponent::SetName(const String& value) {
  if (value == FName) return;
  if (!value.empty() && !is_identifier(value))
    throw EComponentError(u"'" + value + u"' is not a valid component name");
  if (FOwner && !value.empty()) {
    TComponent* other = FOwner->FindComponent(value);
    if (other && other != this) throw EComponentError(Format(u"A component named %s already exists", value));
  }
  FName = value;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
    AComponent->FreeNotification(this);
  }
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  remove_notification(AComponent);
  if (AComponent) AComponent->remove_notification(this);
}

void TComponent::remove_notification(TComponent* AComponent) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  // From the back: destroying the owned components goes newest first, which stays linear.
  const auto it = std::find(FComponents.rbegin(), FComponents.rend(), AComponent);
  if (it == FComponents.rend()) return;
  FComponents.erase(std::next(it).base());
  AComponent->FOwner = nullptr;
  Notification(AComponent, opRemove);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::BeginLoading() { FComponentState.Include(csLoading).Include(csReading); }

void TComponent::EndLoading() {
  FComponentState.Exclude(csReading);
  Loaded();
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::SetDesigning(bool value, bool children) {
  if (value)
    FComponentState.Include(csDesigning);
  else
    FComponentState.Exclude(csDesigning);
  if (children)
    for (TComponent* c : FComponents) c->SetDesigning(value, true);
}

Variant GetPropValue(const TObject& obj, std::string_view name) {
  const TPropInfo* p = FindPropInfo(obj, name);
  if (!p) throw EConvertError(u"Unknown property: " + FromUtf8(name));
  return p->Get(obj);
}

void SetPropValue(TObject& obj, std::string_view name, const Variant& value) {
  const TPropInfo* p = FindPropInfo(obj, name);
  if (!p) throw EConvertError(u"Unknown property: " + FromUtf8(name));
  if (!p->Set) throw EConvertError(u"Property is read-only: " + FromUtf8(name));
  if (p->Kind == tkInteger || p->Kind == tkInt64) {
    // The setter would wrap a value its type cannot hold (70000 into a port).
    const Int64 n = value.AsInt64();
    if (n < p->MinValue || n > p->MaxValue)
      throw EConvertError(FromUtf8("property " + std::string(name) + ": " + std::to_string(n) +
                                   " is out of range (" + std::to_string(p->MinValue) + " to " +
                                   std::to_string(p->MaxValue) + ")"));
  }
  p->Set(obj, value);
}

}  // namespace qninet
