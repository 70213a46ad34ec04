#pragma once
// Form files: a component's published properties as JSON. Only values that differ from their
// defaults are written; nested objects, string lists and collections are written inside.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

/// A property's value as form files write it, as JSON text: enumerations and sets by their value
/// names; "null" for an object or a method.
QNINET_API std::string PropertyValueToJSON(const TPropInfo& p, const Variant& v);
/// The JSON text of `obj`'s stored published properties: {"Class": ..., "Properties": {...}}.
QNINET_API std::string WriteObjectToJSON(const TPersistent& obj);
/// Sets `obj`'s published properties from a text made by `WriteObjectToJSON`, in published
/// order, with a component in its loading state until `Loaded`. Raises `EReadError` for text
/// that is no such JSON, a property the class does not publish, or a value of the wrong kind,
/// naming `source` (a file name; empty omits it), the component and the property; the whole
/// text is checked before any property is set, so a refused text changes nothing. A value that
/// its property itself refuses (an invalid `Name`) raises `EReadError` too, once the properties
/// before it are set.
QNINET_API void ReadObjectFromJSON(TPersistent& obj, std::string_view json, std::string_view source = {});

/// Makes a new, unowned component of the class named, or returns null for a class it does not know.
using TComponentFactory = std::function<TComponent*(const std::string& ClassName)>;
/// The most components `ReadFormFromJSON` makes of one form file. A component holds some
/// kilobytes made from a few dozen bytes of text, so without it a small file could fill memory.
inline constexpr std::size_t kMaxFormComponents = 1024;
/// The components of a form file: one object as `WriteObjectToJSON` writes, or a list of them.
/// Each is made by `make` and loaded whole before it is handed back; `EReadError` as above, for
/// an unknown class, or for a list of more than `kMaxFormComponents`.
QNINET_API std::vector<std::unique_ptr<TComponent>> ReadFormFromJSON(std::string_view json,
                                                                     std::string_view source,
                                                                     const TComponentFactory& make);
/// Reads a form file as `ReadFormFromJSON` does, loading and checking every component, but
/// keeps only one: the first when `Name` is empty, else the last whose `Name` it is (case
/// ignored); null when none has it. Each other component is destroyed as soon as it is loaded,
/// so a form of any length costs the memory of one or two components.
QNINET_API std::unique_ptr<TComponent> ReadFormComponent(std::string_view json, std::string_view source,
                                                         const TComponentFactory& make, const String& Name);

}  // namespace qninet
