#pragma once
// Form files: a component's published properties as JSON. Only values that differ from their
// defaults are written; nested objects, string lists and collections are written inside.

#include <string>

#include "qninet/rtl/Classes.h"

namespace qninet {

/// The JSON text of `obj`'s stored published properties: {"Class": ..., "Properties": {...}}.
QNINET_API std::string WriteObjectToJSON(const TPersistent& obj);
/// Sets `obj`'s published properties from a text made by `WriteObjectToJSON`, in published
/// order, with a component in its loading state until `Loaded`. Raises `EReadError` for text
/// that is no such JSON, a property the class does not publish, or a value of the wrong kind.
QNINET_API void ReadObjectFromJSON(TPersistent& obj, std::string_view json);

}  // namespace qninet
