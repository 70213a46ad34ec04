// `qninet save CLASS [Prop=value]...`: a form file with one component, written to standard output.
// `qninet run FORM.json [COMPONENT]`: loads a form and runs one of its components.

#include <fstream>
#include <iostream>
#include <sstream>

#include "WebContentRun.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/GuiConsole.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/design/QNIReg.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIRdap.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qniimage.h"
#include "qninet/web/qniupdate.h"
#include "qninet/web/qnixtract.h"

namespace qninet::tool {
namespace {

using nlohmann::json;

// "Prop=value" as the JSON the form reader takes, typed by the property: a value that does not
// fit its type is left as text, so that the reader refuses it naming the property.
json typed_value(const TPropInfo& p, TPersistent* child, const std::string& text) {
  switch (p.Kind) {
    case tkBoolean:
      if (SameText(FromUtf8(text), u"true")) return true;
      if (SameText(FromUtf8(text), u"false")) return false;
      break;
    case tkInteger:
    case tkInt64: {
      std::size_t used = 0;
      try {
        const long long v = std::stoll(text, &used);
        if (used == text.size()) return v;
      } catch (const std::logic_error&) {
      }
      break;
    }
    case tkFloat: {
      std::size_t used = 0;
      try {
        const double v = std::stod(text, &used);
        if (used == text.size()) return v;
      } catch (const std::logic_error&) {
      }
      break;
    }
    case tkSet: {
      json names = json::array();
      std::stringstream in(text);
      for (std::string name; std::getline(in, name, ',');)
        if (!name.empty()) names.push_back(name);
      return names;
    }
    case tkClass:
      if (dynamic_cast<TStrings*>(child)) {  // one line after another, split at commas
        json lines = json::array();
        std::stringstream in(text);
        for (std::string line; std::getline(in, line, ',');) lines.push_back(line);
        return lines;
      }
      break;
    default:
      break;
  }
  return text;
}

// Adds "Prop=value" (Prop may be Owner.Name) to `props`; false after reporting a bad one.
bool add_assignment(Run& run, TPersistent& obj, const std::string& arg, json& props) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return run.Fail(exBadInput, arg, "Prop=value is expected"), false;
  const std::string path = arg.substr(0, eq), text = arg.substr(eq + 1);
  TPersistent* at = &obj;
  json* into = &props;
  std::size_t start = 0;
  for (;;) {
    const auto dot = path.find('.', start);
    const std::string name = path.substr(start, dot - start);
    const TPropInfo* p = at ? FindPropInfo(*at, name) : nullptr;
    if (!p) return run.Fail(exBadInput, path, "no such property (see qninet props)"), false;
    TPersistent* child = p->Kind == tkClass ? p->GetObject(*at) : nullptr;
    if (dot == std::string::npos) {
      (*into)[name] = typed_value(*p, child, text);
      return true;
    }
    if (!child || dynamic_cast<TStrings*>(child))
      return run.Fail(exBadInput, path, name + " has no properties of its own"), false;
    into = &(*into)[name];
    at = child;
    start = dot + 1;
  }
}

bool is_url_assignment(const std::string& arg) {
  return arg.size() > 4 && SameText(FromUtf8(arg.substr(0, 4)), u"URL=");
}

int run_save(Run& run, const std::string& className, const std::vector<std::string>& assignments) {
  const TComponentClassRef* ref = FindQNInetClass(className);
  if (!ref) return run.Fail(exBadInput, className, "no such class on the palette (see qninet palette)");
  std::unique_ptr<TComponent> c(ref->Create(nullptr));
  std::string name = ref->Class->Name();
  c->SetName(FromUtf8(name.substr(name[0] == 'T' ? 1 : 0) + "1"));
  auto* web = dynamic_cast<TQNCustomWebComponent*>(c.get());
  json props = json::object();
  std::string url;
  for (const std::string& a : assignments) {
    // A web component's URL is no property of its own: it sets the service, host, port, path
    // and credentials, which the form keeps.
    if (web && is_url_assignment(a))
      url = a.substr(4);
    else if (!add_assignment(run, *c, a, props))
      return exBadInput;
  }
  try {
    ReadObjectFromJSON(*c, json{{"Class", name}, {"Properties", props}}.dump());
    if (!url.empty()) web->SetURL(FromUtf8(url));
  } catch (const Exception& e) {
    return run.Fail(exBadInput, url.empty() ? "" : "URL=" + url, e.what());
  }
  // The shared options come last, so that they win over what a property set on the way.
  if (auto* socket = dynamic_cast<TQNInetBase*>(c.get())) {
    if (const int code = run.Configure(*socket)) return code;
  } else if (web) {
    if (!run.Options().Host.empty() || run.Options().Port)
      return run.Fail(exBadInput, name, "--host and --port are for socket components; give URL=... instead");
    if (const int code = run.Configure(*web)) return code;
  }
  std::cout << WriteObjectToJSON(*c) << '\n';
  run.WroteJson();
  return exOk;
}

int run_form(Run& run, const std::string& file, const std::string& component) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return run.Fail(exBadInput, file, "cannot read the form file");
  std::ostringstream text;
  text << in.rdbuf();
  // Only the component run is kept: the others are checked and dropped as they are read.
  std::unique_ptr<TComponent> kept;
  try {
    kept = ReadFormComponent(text.str(), file, CreateQNInetComponent, FromUtf8(component));
  } catch (const Exception& e) {
    return run.Fail(exBadInput, "", e.what());
  }
  if (!kept) return run.Fail(exBadInput, file, "no component named " + component);
  TComponent* c = kept.get();
  const std::string name = ToUtf8(c->Name().empty() ? FromUtf8(c->ClassInfo().Name()) : c->Name());
  run.Json()["Component"] = name;
  if (auto* socket = dynamic_cast<TQNInetBase*>(c)) {
    if (const int code = run.Configure(*socket)) return code;
    String answer;
    if (const int code = run.Execute(*socket, answer)) return code;
    return run.PrintAnswer(answer);
  }
  if (auto* web = dynamic_cast<TQNCustomWebComponent*>(c)) {
    if (const int code = run.Configure(*web)) return code;
    // A remote image loads into a picture; a form without one gets one of ours to show.
    auto* image = dynamic_cast<TQNRemoteImage*>(web);
    TImage picture(nullptr);
    if (image && !image->Image()) image->SetImage(&picture);
    // On the console the news window is printed on standard output, where --json writes.
    auto* news = dynamic_cast<TQNWebDirect*>(web);
    if (news && run.Options().Json && &gui::Services() == &gui::console_services())
      news->SetShowMode(omNever);
    const bool ok = web->Execute();
    const std::string status = ToUtf8(EnumInfoOf(static_cast<TQNIStatus*>(nullptr)).NameOf(web->Status()));
    run.Json()["Status"] = status;
    const std::string why = web->LastErrorText().empty() ? status : ToUtf8(web->LastErrorText());
    const bool done = ok && web->Status() != isFailed && web->Status() != isNotFound;
    const int code = web->Status() == isNotFound ? run.Fail(exNotFound, name, "not found: " + why)
                     : !done                     ? run.Fail(exFailed, name, why)
                                                 : exOk;
    // The results as the component's own sub-command prints them; a component without results
    // of its own (the updater, the translator) or one that failed says its final status.
    const TStrings* results = nullptr;
    const char* field = nullptr;
    if (auto* files = dynamic_cast<TQNRemoteFiles*>(web)) results = files->FileList(), field = "files";
    if (auto* x = dynamic_cast<TQNInfoExtractor*>(web)) results = x->ExtractedInfo(), field = "ExtractedInfo";
    if (image) {
      run.Json()["runs"] = nlohmann::ordered_json::array(
          {report_picture(run, 1, web->Status(), image->Image()->Picture()->Graphic())});
    } else if (!done) {
      if (!run.Options().Json) std::cout << status << '\n';
    } else if (results) {
      run.Json()[field] = lines_json(*results);
      if (!run.Options().Json)
        for (int i = 0; i < results->Count(); ++i) std::cout << ToUtf8(results->Strings(i)) << '\n';
    } else if (auto* feed = dynamic_cast<TQNIRSSParser*>(web)) {
      return report_feed(run, *feed, name);
    } else if (news) {
      report_news(run, *news);
    } else if (auto* rdap = dynamic_cast<TQNRdapClient*>(web)) {
      report_rdap(run, *rdap);
    } else if (auto* ups = dynamic_cast<TQNUPSTracker*>(web)) {
      report_shipment(run, *ups);
    } else if (!run.Options().Json) {
      std::cout << status << '\n';
    }
    if (image) image->SetImage(nullptr);
    return code;
  }
  return run.Fail(exBadInput, name, "the component has nothing to execute");
}

const CommandRegistrar save(970, [](CLI::App& app, RunState& state) {
  auto cls = std::make_shared<std::string>();
  auto assignments = std::make_shared<std::vector<std::string>>();
  auto* cmd = add_command(app, state, "save", "Write a form file with one component of a palette class",
                          Offer{"the class's own", 60, true, "--host", true},
                          [cls, assignments](Run& r) { return run_save(r, *cls, *assignments); });
  cmd->add_option("CLASS", *cls, "The class, e.g. TQNWhoIs (case ignored)")->required();
  cmd->add_option("PROPERTIES", *assignments, "Prop=value, Owner.Prop=value (see qninet props CLASS)");
  set_help_footer(*cmd,
                  "The form goes to standard output; only values that differ from the class's defaults are\n"
                  "written. A value is read by its property's type: true/false, whole numbers, value names,\n"
                  "sets and string lists as NAME,NAME. A web component takes URL=... (it sets the service,\n"
                  "host, port, path and credentials). The shared options are applied after the properties.\n"
                  "A bad class, property or value exits 2 naming it.",
                  {"qninet save TQNWhoIs Domain=example.com --host 127.0.0.1 --port 4343 > whois.json",
                   "qninet save TQNWebUpdater URL=http://127.0.0.1:8080/notes.txt LocalFileName=notes.txt > "
                   "update.json"});
});

const CommandRegistrar run(980, [](CLI::App& app, RunState& state) {
  auto file = std::make_shared<std::string>();
  auto component = std::make_shared<std::string>();
  auto* cmd = add_command(app, state, "run", "Load a form file and execute one of its components",
                          Offer{nullptr, -1, false},
                          [file, component](Run& r) { return run_form(r, *file, *component); });
  cmd->add_option("FORM", *file, "The form file (from qninet save)")->required();
  cmd->add_option("COMPONENT", *component, "The component's Name (default: the first; case ignored)");
  set_help_footer(*cmd,
                  "A socket component's answer goes to standard output byte for byte; a web component's\n"
                  "results as its own sub-command prints them (rss, image, news, ls, extract, rdap, ups),\n"
                  "an updater's or translator's final status.\n"
                  "Exit codes: 0 done; 1 the component failed (its error on standard error); 3 it\n"
                  "ended isNotFound; 2 a form that cannot be read (the file, component and property named).",
                  {"qninet run whois.json", "qninet run update.json WebUpdater1"});
});

}  // namespace
}  // namespace qninet::tool
