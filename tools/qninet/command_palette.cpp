// `qninet palette`: load the package as a design environment does and show what `Register`
// installs. `qninet props CLASS`: the published properties of a palette class with their types
// and the values a new component starts with.

#include <dlfcn.h>

#include <cstdint>
#include <iostream>
#include <map>

#include "Options.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/design/QNIReg.h"

namespace qninet::tool {
namespace {

// The package's soname: the loader finds the copy this program runs with.
constexpr const char* kDefaultPackage = "libQNInetXE.so.0";

// A design environment that keeps what the package registers, with a sample component of each
// editor's class so that the editors can be asked for their verbs and values.
struct Environment : TDesignRegistrar {
  struct ComponentEditor {
    const TClassInfo* Class;
    std::string Editor;
    std::vector<std::string> Verbs;
  };
  struct PropertyEditor {
    std::string Type, Name, Editor, Value;
    const TClassInfo* Class;
    TPropertyAttributes Attributes;
  };
  std::string Page;
  std::vector<TComponentClassRef> Classes;
  std::vector<ComponentEditor> ComponentEditors;
  std::vector<PropertyEditor> PropertyEditors;
  TComponent Samples{nullptr};

  void RegisterComponents(const String& page, const std::vector<TComponentClassRef>& classes) override {
    Page = ToUtf8(page);
    Classes.insert(Classes.end(), classes.begin(), classes.end());
  }
  void RegisterComponentEditor(const TClassInfo& c, const TComponentEditorClass& e) override {
    ComponentEditor entry{&c, e.Name, {}};
    auto editor = e.Create(sample_of(c));
    for (int i = 0; i < editor->GetVerbCount(); ++i) entry.Verbs.push_back(ToUtf8(editor->GetVerb(i)));
    ComponentEditors.push_back(std::move(entry));
  }
  void RegisterPropertyEditor(const char* type, const TClassInfo& c, const String& name,
                              const TPropertyEditorClass& e) override {
    PropertyEditor entry{type, ToUtf8(name), e.Name, "", &c, {}};
    TComponent* sample = sample_of(c);
    if (const TPropInfo* prop = sample ? sample->ClassInfo().FindProperty(entry.Name) : nullptr) {
      auto editor = e.Create(sample, *prop);
      entry.Value = ToUtf8(editor->GetValue());
      entry.Attributes = editor->GetAttributes();
    }
    PropertyEditors.push_back(std::move(entry));
  }
  // A new component of the first palette class that is (or descends from) `c`, or none.
  TComponent* sample_of(const TClassInfo& c) {
    for (const TComponentClassRef& ref : Classes)
      if (ref.Class->InheritsFrom(c)) return ref.Create(&Samples);
    return nullptr;
  }
};

std::string attribute_names(TPropertyAttributes a) {
  static const char* const names[] = {"value-list",  "sub-properties", "dialog",   "multi-select",
                                      "auto-update", "sort-list",      "read-only"};
  std::string out;
  for (std::size_t i = 0; i < std::size(names); ++i)
    if (a.Contains(static_cast<TPropertyAttribute>(i)))
      out += (out.empty() ? "" : ",") + std::string(names[i]);
  return out;
}

std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

int run_palette(Run& run, const std::string& package) {
  void* handle = dlopen(package.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return run.Fail(exBadInput, package, dlerror());
  auto* entry = reinterpret_cast<void (*)(TDesignRegistrar*)>(dlsym(handle, "Register"));
  if (!entry) {
    dlclose(handle);
    return run.Fail(exBadInput, package, "the package exports no Register");
  }
  int code = exOk;
  {
    Environment env;
    entry(&env);
    if (run.Options().Json) {
      auto& j = run.Json();
      j["Package"] = ToUtf8(QNInetPackageDescription());
      j["Page"] = env.Page;
      auto classes = nlohmann::ordered_json::array();
      for (const auto& c : env.Classes) {
        const std::string picture = upper(c.Class->Name());
        classes.push_back(
            {{"Class", c.Class->Name()},
             {"Picture", FindPaletteResource(picture).empty() ? nullptr : nlohmann::json(picture)}});
      }
      j["Classes"] = classes;
      auto editors = nlohmann::ordered_json::array();
      for (const auto& e : env.ComponentEditors)
        editors.push_back({{"Editor", e.Editor}, {"Class", e.Class->Name()}, {"Verbs", e.Verbs}});
      j["ComponentEditors"] = editors;
      auto props = nlohmann::ordered_json::array();
      for (const auto& p : env.PropertyEditors)
        props.push_back({{"Editor", p.Editor},
                         {"Class", p.Class->Name()},
                         {"Type", p.Type},
                         {"Property", p.Name},
                         {"Value", p.Value},
                         {"Attributes", attribute_names(p.Attributes)}});
      j["PropertyEditors"] = props;
    } else {
      std::cout << "package: " << ToUtf8(QNInetPackageDescription()) << '\n' << "page " << env.Page << '\n';
      for (const auto& c : env.Classes) {
        const std::string picture = upper(c.Class->Name());
        std::cout << "  " << c.Class->Name() << "  "
                  << (FindPaletteResource(picture).empty() ? "(no picture)" : "picture " + picture) << '\n';
      }
      for (const auto& e : env.ComponentEditors) {
        std::cout << "component editor " << e.Editor << " for " << e.Class->Name() << " and descendants:";
        for (const auto& v : e.Verbs) std::cout << " \"" << v << '"';
        std::cout << '\n';
      }
      for (const auto& p : env.PropertyEditors)
        std::cout << "property editor " << p.Editor << " for " << p.Type << " property " << p.Name << " of "
                  << p.Class->Name() << " and descendants: \"" << p.Value << "\" ("
                  << attribute_names(p.Attributes) << ")\n";
    }
    if (env.Classes.empty()) code = run.Fail(exFailed, package, "Register installed no component");
  }
  dlclose(handle);
  return code;
}

// Texts in quotes, so that an empty one shows; value names bare.
std::string value_text(const nlohmann::ordered_json& v, const std::string& type) {
  if (v.is_null()) return "";
  if (v.is_string()) return type == "String" ? '"' + v.get<std::string>() + '"' : v.get<std::string>();
  if (v.is_array()) {
    std::string out = "[";
    for (const auto& e : v) out += (out.size() > 1 ? "," : "") + e.get<std::string>();
    return out + "]";
  }
  return v.dump();
}

// How `props` states a number property: its unit, and how many of the values the component
// keeps make one (the time properties kept in thousandths are stated in seconds).
struct Unit {
  const char* Name;
  int PerUnit = 1;
};
const Unit* unit_of(const std::string& name) {
  static const std::map<std::string, Unit> kUnits{
      {"Timeout", {"seconds", 1000}}, {"Interval", {"seconds", 1000}}, {"RetryDelay", {"seconds", 1000}},
      {"MaxTime", {"seconds"}},       {"MaxAnswerSize", {"bytes"}},    {"RemoteFileSize", {"bytes"}},
      {"MaxSize", {"bytes"}},         {"TimeZoneBias", {"minutes"}}};
  const auto it = kUnits.find(name);
  return it == kUnits.end() ? nullptr : &it->second;
}

// The properties of `obj`, nested objects' as "Owner.Name" after their owner.
void list_properties(const TObject& obj, const std::string& prefix, nlohmann::ordered_json& out) {
  for (const TPropInfo& p : GetPropList(obj)) {
    // A read-only value is not read: a time client's DateTime would run a query.
    const Unit* unit =
        p.Kind == tkInteger || p.Kind == tkInt64 || p.Kind == tkFloat ? unit_of(p.Name) : nullptr;
    out.push_back({{"Name", prefix + p.Name},
                   {"Type", p.TypeName},
                   {"Default", p.Set ? nlohmann::ordered_json::parse(PropertyValueToJSON(p, p.Get(obj)))
                                     : nlohmann::ordered_json()}});
    if (unit) {
      // The value stays as the component keeps it (what save NAME=VALUE takes); its size is
      // stated in the unit the program speaks.
      out.back()["Unit"] = unit->Name;
      const auto& value = out.back()["Default"];
      if (unit->PerUnit != 1 && value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (n % unit->PerUnit == 0)
          out.back()["InUnit"] = n / unit->PerUnit;
        else
          out.back()["InUnit"] = static_cast<double>(n) / unit->PerUnit;
      }
    }
    if (p.Kind == tkClass)
      if (const TPersistent* nested = p.GetObject(obj)) list_properties(*nested, prefix + p.Name + ".", out);
  }
}

int run_props(Run& run, const std::string& name) {
  const TComponentClassRef* ref = FindQNInetClass(name);
  if (!ref) return run.Fail(exBadInput, name, "no such class on the palette (see qninet palette)");
  std::unique_ptr<TComponent> sample(ref->Create(nullptr));
  auto props = nlohmann::ordered_json::array();
  list_properties(*sample, "", props);
  if (run.Options().Json) {
    run.Json()["Class"] = ref->Class->Name();
    run.Json()["Properties"] = props;
    return exOk;
  }
  std::size_t width[2] = {0, 0};
  for (const auto& p : props) {
    width[0] = std::max(width[0], p["Name"].get<std::string>().size());
    width[1] = std::max(width[1], p["Type"].get<std::string>().size());
  }
  for (const auto& p : props) {
    const std::string n = p["Name"], t = p["Type"];
    std::cout << n << std::string(width[0] + 2 - n.size(), ' ') << t;
    std::string d = value_text(p["Default"], t);
    if (p.contains("InUnit")) {
      d += " (" + p["InUnit"].dump() + " " + p["Unit"].get<std::string>() + ")";
    } else if (p.contains("Unit")) {
      d += (d.empty() ? "" : " ") + p["Unit"].get<std::string>();
    }
    if (!d.empty()) std::cout << std::string(width[1] + 2 - t.size(), ' ') << d;
    std::cout << '\n';
  }
  return exOk;
}

const CommandRegistrar palette(950, [](CLI::App& app, RunState& state) {
  auto package = std::make_shared<std::string>(kDefaultPackage);
  auto* cmd = add_command(app, state, "palette",
                          "Load the package as a design environment does and show what it registers", Offer{},
                          [package](Run& r) { return run_palette(r, *package); });
  cmd->add_option("--package", *package, "The package to load (default: the one this program runs with)");
  set_help_footer(*cmd,
                  "Prints the package description, the palette page with its classes in order (and each\n"
                  "one's picture), the component editors with their verbs and the property editors with\n"
                  "the value they show. A package that cannot be loaded or has no Register exits 2.",
                  {"qninet palette", "qninet palette --json --package ./libQNInetXE.so"});
});

const CommandRegistrar props(960, [](CLI::App& app, RunState& state) {
  auto name = std::make_shared<std::string>();
  auto* cmd = add_command(app, state, "props", "List the published properties of a palette class", Offer{},
                          [name](Run& r) { return run_props(r, *name); });
  cmd->add_option("CLASS", *name, "The class, e.g. TQNWhoIs (case ignored)")->required();
  set_help_footer(*cmd,
                  "Prints one property a line: name, type and the value a new component starts with,\n"
                  "as save NAME=VALUE takes it, and its size in its unit (Timeout 60000 (60 seconds),\n"
                  "MaxTime 0 seconds); the properties of an owned object follow it as Owner.Name.\n"
                  "--json gives {\"status\", \"Class\", \"Properties\": [{Name, Type, Default, and Unit\n"
                  "where it has one, with InUnit where Default counts smaller steps}]}. An unknown class\n"
                  "exits 2.",
                  {"qninet props TQNWhoIs"});
});

}  // namespace
}  // namespace qninet::tool
