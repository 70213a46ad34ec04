#include "qninet/rtl/FormFile.h"

#include <nlohmann/json.hpp>

#include "qninet/rtl/Collections.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

namespace {

using nlohmann::json;

json write_properties(const TPersistent& obj);

json write_value(const TPersistent& obj, const TPropInfo& p) {
  if (p.Kind == tkClass) {
    const TPersistent* child = p.GetObject(obj);
    if (!child) return nullptr;
    if (const auto* list = dynamic_cast<const TStrings*>(child)) {
      json lines = json::array();
      for (int i = 0; i < list->Count(); ++i) lines.push_back(ToUtf8(list->Strings(i)));
      return lines;
    }
    if (const auto* coll = dynamic_cast<const TCollection*>(child)) {
      json items = json::array();
      for (int i = 0; i < coll->Count(); ++i) items.push_back(write_properties(*coll->Items(i)));
      return items;
    }
    return write_properties(*child);
  }
  const Variant v = p.Get(obj);
  switch (p.Kind) {
    case tkBoolean:
      return v.AsBoolean();
    case tkInteger:
    case tkInt64:
      return v.AsInt64();
    case tkFloat:
      return v.AsFloat();
    case tkEnumeration:
      return ToUtf8(p.Enum->NameOf(static_cast<int>(v.AsInt64())));
    case tkSet: {
      json names = json::array();
      const auto bits = static_cast<std::uint64_t>(v.AsInt64());
      for (std::size_t i = 0; i < p.Enum->Values.size() && i < 64; ++i)
        if ((bits >> i) & 1U) names.push_back(p.Enum->Values[i]);
      return names;
    }
    default:
      return ToUtf8(v.AsString());
  }
}

bool is_empty_object(const json& j) {
  return j.is_null() || (j.is_object() && j.empty()) || (j.is_array() && j.empty());
}

json write_properties(const TPersistent& obj) {
  json props = json::object();
  for (const TPropInfo& p : GetPropList(obj)) {
    if (p.Kind == tkMethod || !p.IsStored(obj)) continue;
    json v = write_value(obj, p);
    if (p.Kind == tkClass && is_empty_object(v)) continue;
    props[p.Name] = std::move(v);
  }
  return props;
}

[[noreturn]] void bad(const TPropInfo& p, const char* what) {
  throw EReadError(Format(u"Invalid value for property %s: %s", FromUtf8(p.Name), FromUtf8(what)));
}

void read_properties(TPersistent& obj, const json& props);

void read_value(TPersistent& obj, const TPropInfo& p, const json& v) {
  if (p.Kind == tkClass) {
    TPersistent* child = p.GetObject(obj);
    if (!child) return;
    if (auto* list = dynamic_cast<TStrings*>(child)) {
      if (!v.is_array()) bad(p, "a list of lines is expected");
      list->BeginUpdate();
      list->Clear();
      for (const auto& line : v) {
        if (!line.is_string()) bad(p, "a line is no text");
        list->Add(FromUtf8(line.get<std::string>()));
      }
      list->EndUpdate();
      return;
    }
    if (auto* coll = dynamic_cast<TCollection*>(child)) {
      if (!v.is_array()) bad(p, "a list of items is expected");
      coll->BeginUpdate();
      coll->Clear();
      for (const auto& item : v) read_properties(*coll->Add(), item);
      coll->EndUpdate();
      return;
    }
    read_properties(*child, v);
    return;
  }
  if (!p.Set) return;
  switch (p.Kind) {
    case tkBoolean:
      if (!v.is_boolean()) bad(p, "true or false is expected");
      p.Set(obj, Variant(v.get<bool>()));
      break;
    case tkInteger:
    case tkInt64:
      if (!v.is_number_integer()) bad(p, "a whole number is expected");
      p.Set(obj, Variant(v.get<Int64>()));
      break;
    case tkFloat:
      if (!v.is_number()) bad(p, "a number is expected");
      p.Set(obj, Variant(v.get<double>()));
      break;
    case tkEnumeration: {
      const int ord = v.is_string() ? p.Enum->OrdinalOf(v.get<std::string>()) : -1;
      if (ord < 0) bad(p, "an unknown value name");
      p.Set(obj, Variant(Int64{ord}));
      break;
    }
    case tkSet: {
      if (!v.is_array()) bad(p, "a list of value names is expected");
      std::uint64_t bits = 0;
      for (const auto& name : v) {
        const int ord = name.is_string() ? p.Enum->OrdinalOf(name.get<std::string>()) : -1;
        if (ord < 0) bad(p, "an unknown value name");
        bits |= std::uint64_t{1} << ord;
      }
      p.Set(obj, Variant(static_cast<Int64>(bits)));
      break;
    }
    default:
      if (!v.is_string()) bad(p, "a text is expected");
      p.Set(obj, Variant(FromUtf8(v.get<std::string>())));
  }
}

void read_properties(TPersistent& obj, const json& props) {
  if (!props.is_object()) throw EReadError(u"Invalid form file: an object is expected");
  for (const auto& [name, value] : props.items())
    if (!FindPropInfo(obj, name)) throw EReadError(Format(u"Property %s does not exist", FromUtf8(name)));
  // Published order, not the file's: a later property may depend on an earlier one.
  for (const TPropInfo& p : GetPropList(obj)) {
    const auto it = props.find(p.Name);
    if (it != props.end()) read_value(obj, p, *it);
  }
}

}  // namespace

std::string WriteObjectToJSON(const TPersistent& obj) {
  json doc;
  doc["Class"] = obj.ClassInfo().Name();
  doc["Properties"] = write_properties(obj);
  return doc.dump(2);
}

void ReadObjectFromJSON(TPersistent& obj, std::string_view text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw EReadError(u"Invalid form file: " + FromUtf8(e.what()));
  }
  if (!doc.is_object() || !doc.contains("Properties")) throw EReadError(u"Invalid form file: no properties");
  auto* component = dynamic_cast<TComponent*>(&obj);
  if (component) component->BeginLoading();
  try {
    read_properties(obj, doc["Properties"]);
  } catch (...) {
    if (component) component->EndLoading();
    throw;
  }
  if (component) component->EndLoading();
}

}  // namespace qninet
