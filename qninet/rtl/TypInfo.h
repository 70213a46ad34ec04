#pragma once
// Declaring published properties and reaching them by name.
//
//   QNINET_CLASS_INFO(TQNInetProxy,
//     Published("Server", &Self::Server, &Self::SetServer),
//     Published("Port", &Self::Port, &Self::SetPort, 0))

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "qninet/rtl/AsyncRun.h"
#include "qninet/rtl/Classes.h"

namespace qninet {

/// Declares the value names of an enumeration for published properties; define them in the
/// unit's source with `QNINET_DEFINE_ENUM_INFO` in the same namespace.
#define QNINET_DECLARE_ENUM_INFO(E) QNINET_API const ::qninet::TEnumInfo& EnumInfoOf(E*);
#define QNINET_DEFINE_ENUM_INFO(E, ...)                       \
  const ::qninet::TEnumInfo& EnumInfoOf(E*) {                 \
    static const ::qninet::TEnumInfo info{#E, {__VA_ARGS__}}; \
    return info;                                              \
  }

namespace typinfo_detail {

template <class T>
struct is_set : std::false_type {};
template <class E>
struct is_set<TSet<E>> : std::true_type {
  using element = E;
};

template <class V>
constexpr TTypeKind kind_of() {
  if constexpr (std::is_same_v<V, bool>)
    return tkBoolean;
  else if constexpr (std::is_enum_v<V>)
    return tkEnumeration;
  else if constexpr (is_set<V>::value)
    return tkSet;
  else if constexpr (std::is_same_v<V, Int64>)
    return tkInt64;
  else if constexpr (std::is_integral_v<V>)
    return tkInteger;
  else if constexpr (std::is_floating_point_v<V>)
    return tkFloat;
  else if constexpr (std::is_same_v<V, String>)
    return tkString;
  else
    static_assert(sizeof(V) == 0, "no published kind for this type");
}

template <class V>
const char* type_name_of() {
  if constexpr (std::is_same_v<V, bool>)
    return "Boolean";
  else if constexpr (std::is_enum_v<V>)
    return EnumInfoOf(static_cast<V*>(nullptr)).Name;
  else if constexpr (is_set<V>::value)
    return "Set";
  else if constexpr (std::is_same_v<V, Int64>)
    return "Int64";
  else if constexpr (std::is_integral_v<V>)
    return "Integer";
  else if constexpr (std::is_floating_point_v<V>)
    return "Double";
  else
    return "String";
}

template <class V>
Variant to_variant(const V& v) {
  if constexpr (std::is_same_v<V, bool>)
    return Variant(v);
  else if constexpr (std::is_enum_v<V>)
    return Variant(static_cast<Int64>(v));
  else if constexpr (is_set<V>::value)
    return Variant(static_cast<Int64>(v.Bits()));
  else if constexpr (std::is_integral_v<V>)
    return Variant(static_cast<Int64>(v));
  else if constexpr (std::is_floating_point_v<V>)
    return Variant(static_cast<double>(v));
  else
    return Variant(v);
}

template <class V>
V from_variant(const Variant& v) {
  if constexpr (std::is_same_v<V, bool>)
    return v.AsBoolean();
  else if constexpr (std::is_enum_v<V>)
    return static_cast<V>(v.AsInt64());
  else if constexpr (is_set<V>::value)
    return V::FromBits(static_cast<std::uint64_t>(v.AsInt64()));
  else if constexpr (std::is_integral_v<V>)
    return static_cast<V>(v.AsInt64());
  else if constexpr (std::is_floating_point_v<V>)
    return static_cast<V>(v.AsFloat());
  else
    return v.AsString();
}

template <class V>
const TEnumInfo* enum_of() {
  if constexpr (std::is_enum_v<V>)
    return &EnumInfoOf(static_cast<V*>(nullptr));
  else if constexpr (is_set<V>::value)
    return &EnumInfoOf(static_cast<typename is_set<V>::element*>(nullptr));
  else
    return nullptr;
}

template <class C, class R>
TPropInfo value_property(const char* name, R (C::*get)() const) {
  using V = std::remove_cvref_t<R>;
  TPropInfo p;
  p.Name = name;
  p.Kind = kind_of<V>();
  p.TypeName = type_name_of<V>();
  p.Enum = enum_of<V>();
  p.Get = [get](const TObject& o) { return to_variant<V>((static_cast<const C&>(o).*get)()); };
  if constexpr (std::is_same_v<V, String>) p.Default = Variant(String());
  if constexpr (std::is_integral_v<V> && !std::is_same_v<V, bool>) {
    // A form file must not wrap a value the property's type cannot hold (70000 into a port).
    p.MinValue = static_cast<Int64>(std::numeric_limits<V>::min());
    p.MaxValue = static_cast<Int64>(
        std::min<std::uint64_t>(std::numeric_limits<V>::max(), std::numeric_limits<Int64>::max()));
  }
  return p;
}

}  // namespace typinfo_detail

/// A value property (ordinal, set, float or text) with a reader and a writer; without a default
/// an ordinal is always stored and a text is stored when not empty.
template <class C, class R, class A>
TPropInfo Published(const char* name, R (C::*get)() const, void (C::*set)(A)) {
  using V = std::remove_cvref_t<R>;
  TPropInfo p = typinfo_detail::value_property(name, get);
  p.Set = [set](TObject& o, const Variant& v) {
    RefuseWriteWhileRunning(o);
    (static_cast<C&>(o).*set)(typinfo_detail::from_variant<V>(v));
  };
  return p;
}

/// A value property with its default: a form file does not keep the default value.
template <class C, class R, class A, class D>
requires(!std::is_pointer_v<std::remove_cvref_t<R>>) TPropInfo
    Published(const char* name, R (C::*get)() const, void (C::*set)(A), const D& def) {
  using V = std::remove_cvref_t<R>;
  TPropInfo p = Published(name, get, set);
  p.Default = typinfo_detail::to_variant<V>(static_cast<V>(def));
  return p;
}

/// A property shown but never written by a form reader.
template <class C, class R>
TPropInfo PublishedReadOnly(const char* name, R (C::*get)() const) {
  return typinfo_detail::value_property(name, get);
}

/// An object property: the owner keeps its own object, a form file nests its properties.
template <class C, class T>
requires std::derived_from<T, TPersistent> TPropInfo Published(const char* name, T* (C::*get)() const) {
  TPropInfo p;
  p.Name = name;
  p.Kind = tkClass;
  p.TypeName = T::StaticClassInfo().Name();
  p.GetObject = [get](const TObject& o) -> TPersistent* { return (static_cast<const C&>(o).*get)(); };
  p.Get = [get](const TObject& o) { return Variant((static_cast<const C&>(o).*get)() != nullptr); };
  return p;
}

/// An event: listed in order, reads as whether a handler is set, never kept by a form file.
template <class C, class F>
TPropInfo PublishedEvent(const char* name, const F& (C::*get)() const) {
  TPropInfo p;
  p.Name = name;
  p.Kind = tkMethod;
  p.TypeName = "Event";
  p.Get = [get](const TObject& o) { return Variant(static_cast<bool>((static_cast<const C&>(o).*get)())); };
  p.StoredFn = [](const TObject&) { return false; };
  return p;
}

/// The published properties of an object, base classes first.
inline const TPropList& GetPropList(const TObject& obj) { return obj.ClassInfo().Properties(); }
/// The property of that name (case-insensitive), or none.
inline const TPropInfo* FindPropInfo(const TObject& obj, std::string_view name) {
  return obj.ClassInfo().FindProperty(name);
}
/// Raises `EConvertError` "Unknown property: X" when there is no such property.
QNINET_API Variant GetPropValue(const TObject& obj, std::string_view name);
/// Raises `EConvertError` for an unknown or read-only property.
QNINET_API void SetPropValue(TObject& obj, std::string_view name, const Variant& value);

}  // namespace qninet
