#include "qninet/rtl/FormFile.h"

#include <nlohmann/json.hpp>

#include "qninet/rtl/Collections.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

namespace {

using nlohmann::json;

// A value that is no object: enumerations and sets by their value names.
json simple_value(const TPropInfo& p, const Variant& v) {
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
    case tkClass:
    case tkMethod:
      return nullptr;
    default:
      return ToUtf8(v.AsString());
  }
}

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
  return simple_value(p, p.Get(obj));
}

bool is_empty_object(const json& j) {
  return j.is_null() || (j.is_object() && j.empty()) || (j.is_array() && j.empty());
}

json write_properties(const TPersistent& obj) {
  json props = json::object();
  for (const TPropInfo& p : GetPropList(obj)) {
    if (p.Kind == tkMethod || !p.IsStored(obj)) continue;
    json v = write_value(obj, p);
    // An empty list or object is left out, unless its property says it is kept: an emptied
    // list whose default is not empty must read back empty.
    if (p.Kind == tkClass && is_empty_object(v) && !p.StoredFn) continue;
    props[p.Name] = std::move(v);
  }
  return props;
}

// Reading runs twice: a check of the whole text that changes nothing, then the same walk that
// sets the values. `Obj` is null while checking a collection's items, which do not exist yet.
struct Reader {
  bool Apply = false;
  std::string Path;  // the property being read, e.g. "Addresses[1].Text"

  [[noreturn]] void bad(const std::string& what) const {
    throw EReadError(FromUtf8(Path.empty() ? what : "property " + Path + ": " + what));
  }

  void properties(TPersistent* obj, const TClassInfo& cls, const json& props) {
    if (!props.is_object()) bad("an object of properties is expected");
    const std::string outer = Path;
    if (!Apply)
      for (const auto& [name, value] : props.items())
        if (!cls.FindProperty(name)) {
          Path = outer.empty() ? name : outer + "." + name;
          bad("the class " + std::string(cls.Name()) + " has no such property");
        }
    // Published order, not the file's: a later property may depend on an earlier one.
    for (const TPropInfo& p : cls.Properties()) {
      const auto it = props.find(p.Name);
      if (it == props.end()) continue;
      Path = outer.empty() ? p.Name : outer + "." + p.Name;
      value(obj, p, *it);
    }
    Path = outer;
  }

  void lines(TStrings* list, const json& v) {
    if (!v.is_array()) bad("a list of lines is expected");
    for (const auto& line : v)
      if (!line.is_string()) bad("a line is no text");
    if (!Apply || !list) return;
    list->BeginUpdate();
    list->Clear();
    for (const auto& line : v) list->Add(FromUtf8(line.get<std::string>()));
    list->EndUpdate();
  }

  void items(TCollection& coll, const json& v) {
    if (!v.is_array()) bad("a list of items is expected");
    const std::string outer = Path;
    if (Apply) {
      coll.BeginUpdate();
      coll.Clear();
    }
    for (std::size_t i = 0; i < v.size(); ++i) {
      Path = outer + "[" + std::to_string(i) + "]";
      properties(Apply ? coll.Add() : nullptr, coll.ItemClass(), v[i]);
    }
    if (Apply) coll.EndUpdate();
    Path = outer;
  }

  void value(TPersistent* obj, const TPropInfo& p, const json& v) {
    if (p.Kind == tkClass) {
      TPersistent* child = obj ? p.GetObject(*obj) : nullptr;
      if (!child) {
        if (!obj && !v.is_object() && !v.is_array()) bad("an object or a list is expected");
        return;
      }
      if (auto* list = dynamic_cast<TStrings*>(child)) return lines(list, v);
      if (auto* coll = dynamic_cast<TCollection*>(child)) return items(*coll, v);
      return properties(child, child->ClassInfo(), v);
    }
    if (p.Kind == tkMethod) bad("an event handler is not stored");
    Variant x;
    switch (p.Kind) {
      case tkBoolean:
        if (!v.is_boolean()) bad("true or false is expected");
        x = Variant(v.get<bool>());
        break;
      case tkInteger:
      case tkInt64:
        if (!v.is_number_integer()) bad("a whole number is expected");
        if ((v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(p.MaxValue)) ||
            (!v.is_number_unsigned() && (v.get<Int64>() < p.MinValue || v.get<Int64>() > p.MaxValue)))
          bad(v.dump() + " is out of range (" + std::to_string(p.MinValue) + " to " +
              std::to_string(p.MaxValue) + ")");
        x = Variant(v.get<Int64>());
        break;
      case tkFloat:
        if (!v.is_number()) bad("a number is expected");
        x = Variant(v.get<double>());
        break;
      case tkEnumeration: {
        const int ord = v.is_string() ? p.Enum->OrdinalOf(v.get<std::string>()) : -1;
        if (ord < 0) bad("an unknown value name " + v.dump());
        x = Variant(Int64{ord});
        break;
      }
      case tkSet: {
        if (!v.is_array()) bad("a list of value names is expected");
        std::uint64_t bits = 0;
        for (const auto& name : v) {
          const int ord = name.is_string() ? p.Enum->OrdinalOf(name.get<std::string>()) : -1;
          if (ord < 0) bad("an unknown value name " + name.dump());
          bits |= std::uint64_t{1} << ord;
        }
        x = Variant(static_cast<Int64>(bits));
        break;
      }
      default:
        if (!v.is_string()) bad("a text is expected");
        x = Variant(FromUtf8(v.get<std::string>()));
    }
    if (!Apply || !obj || !p.Set) return;
    try {
      p.Set(*obj, x);
    } catch (const EReadError&) {
      throw;
    } catch (const Exception& e) {
      bad(ToUtf8(e.Message()));  // a value its property refuses, such as an invalid Name
    }
  }
};

// "FILE: COMPONENT: " before a message, each part when known.
String where(std::string_view source, const std::string& component) {
  std::string out;
  if (!source.empty()) out += std::string(source) + ": ";
  if (!component.empty()) out += component + ": ";
  return FromUtf8(out);
}

// The component's name in the form (its Name, else its class) for messages.
std::string component_label(const json& doc) {
  if (!doc.is_object()) return {};
  const auto props = doc.find("Properties");
  if (props != doc.end() && props->is_object()) {
    const auto name = props->find("Name");
    if (name != props->end() && name->is_string() && !name->get<std::string>().empty()) return *name;
  }
  const auto cls = doc.find("Class");
  return cls != doc.end() && cls->is_string() ? cls->get<std::string>() : std::string();
}

json parse(std::string_view text, std::string_view source) {
  return ParseJsonBounded(text, source, "Invalid form file");
}

void read_component(TPersistent& obj, const json& doc, std::string_view source) {
  const std::string label = component_label(doc);
  try {
    if (!doc.is_object() || !doc.contains("Properties"))
      throw EReadError(u"Invalid form file: no properties");
    Reader check;
    check.properties(&obj, obj.ClassInfo(), doc["Properties"]);
  } catch (const EReadError& e) {
    throw EReadError(where(source, label) + e.Message());
  }
  auto* component = dynamic_cast<TComponent*>(&obj);
  if (component) component->BeginLoading();
  try {
    Reader apply;
    apply.Apply = true;
    apply.properties(&obj, obj.ClassInfo(), doc["Properties"]);
  } catch (const EReadError& e) {
    if (component) component->EndLoading();
    throw EReadError(where(source, label) + e.Message());
  } catch (...) {
    if (component) component->EndLoading();
    throw;
  }
  if (component) component->EndLoading();
}

}  // namespace

std::string PropertyValueToJSON(const TPropInfo& p, const Variant& v) { return simple_value(p, v).dump(); }

std::string WriteObjectToJSON(const TPersistent& obj) {
  json doc;
  doc["Class"] = obj.ClassInfo().Name();
  doc["Properties"] = write_properties(obj);
  return doc.dump(2);
}

void ReadObjectFromJSON(TPersistent& obj, std::string_view text, std::string_view source) {
  read_component(obj, parse(text, source), source);
}

namespace {

// Hands each component of a form to `take` as soon as it is made and loaded, so the whole text's
// value is never held beside the components; raises for a form of none.
void for_each_component(std::string_view text, std::string_view source, const TComponentFactory& make,
                        const std::function<void(std::unique_ptr<TComponent>)>& take) {
  bool any = false;
  ForEachJsonBounded(text, source, "Invalid form file", [&](json&& item) {
    const std::string label = component_label(item);
    const auto cls = item.is_object() ? item.find("Class") : item.end();
    if (!item.is_object() || cls == item.end() || !cls->is_string())
      throw EReadError(where(source, label) + u"Invalid form file: no class");
    std::unique_ptr<TComponent> c(make(cls->get<std::string>()));
    if (!c) throw EReadError(where(source, label) + FromUtf8("unknown class " + cls->get<std::string>()));
    read_component(*c, item, source);
    any = true;
    take(std::move(c));
  });
  if (!any) throw EReadError(where(source, "") + u"Invalid form file: no component");
}

}  // namespace

std::vector<std::unique_ptr<TComponent>> ReadFormFromJSON(std::string_view text, std::string_view source,
                                                          const TComponentFactory& make) {
  std::vector<std::unique_ptr<TComponent>> out;
  for_each_component(text, source, make, [&](std::unique_ptr<TComponent> c) {
    if (out.size() == kMaxFormComponents)
      throw EReadError(where(source, "") + FromUtf8("Invalid form file: more than " +
                                                    std::to_string(kMaxFormComponents) + " components"));
    out.push_back(std::move(c));
  });
  return out;
}

std::unique_ptr<TComponent> ReadFormComponent(std::string_view text, std::string_view source,
                                              const TComponentFactory& make, const String& name) {
  std::unique_ptr<TComponent> kept;
  bool first = true;
  for_each_component(text, source, make, [&](std::unique_ptr<TComponent> c) {
    if (name.empty() ? first : SameText(c->Name(), name)) kept = std::move(c);
    first = false;  // anything not kept is destroyed here, before the next is read
  });
  return kept;
}

}  // namespace qninet
