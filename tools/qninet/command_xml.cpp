// `qninet xml [--json] FILE`: loads a file with the XML engine and prints its tree.

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "qninet/sys/Files.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet::tool {
namespace {

struct XmlOptions {
  std::string File;
  bool Json = false;
};

std::string escaped(const String& text) {
  std::string out;
  for (char c : ToUtf8(text)) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string kind_name(TQNXMLItemKind kind) {
  return ToUtf8(EnumInfoOf(static_cast<TQNXMLItemKind*>(nullptr)).NameOf(kind));
}

// Both printers walk with an explicit stack: documents may nest a million levels deep.
void print_plain(const TQNXMLItem& root, std::ostream& out) {
  std::vector<std::pair<const TQNXMLItem*, std::size_t>> work{{&root, 0}};
  while (!work.empty()) {
    auto [item, depth] = work.back();
    work.pop_back();
    out << std::string(depth * 2, ' ') << kind_name(item->Kind()) << ' ' << escaped(item->TagName());
    if (item->ValueAssigned()) out << " = \"" << escaped(item->GetTagValue()) << '"';
    if (!item->Attributes().empty()) out << " [" << escaped(item->Attributes()) << ']';
    out << '\n';
    const TQNXMLItems& kids = *item->Items();
    for (int i = kids.Count(); i-- > 0;) work.emplace_back(kids[i], depth + 1);
  }
}

std::string json_text(const String& s) {
  return nlohmann::json(ToUtf8(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void print_json(const TQNXMLItem& root, std::ostream& out) {
  // An entry is an item to open, or (item == nullptr) the closing of an Items array.
  struct Step {
    const TQNXMLItem* Item;
    bool First;
  };
  std::vector<Step> work{{&root, true}};
  while (!work.empty()) {
    const Step step = work.back();
    work.pop_back();
    if (!step.Item) {
      out << "]}";
      continue;
    }
    if (!step.First) out << ',';
    const TQNXMLItem& item = *step.Item;
    out << "{\"Kind\":" << json_text(FromUtf8(kind_name(item.Kind())))
        << ",\"TagName\":" << json_text(item.TagName())
        << ",\"Value\":" << (item.ValueAssigned() ? json_text(item.GetTagValue()) : std::string("null"))
        << ",\"Attributes\":" << json_text(item.Attributes()) << ",\"Items\":[";
    work.push_back({nullptr, false});
    const TQNXMLItems& kids = *item.Items();
    for (int i = kids.Count(); i-- > 0;) work.push_back({kids[i], i == 0});
  }
  out << '\n';
}

int run_xml(const XmlOptions& opts) {
  TQNXMLEngine engine(nullptr);
  try {
    engine.LoadFromFile(FromUtf8(opts.File));
  } catch (const EFOpenError& e) {
    std::cerr << "qninet xml: cannot open " << opts.File << ": " << e.what() << '\n';
    return 1;
  } catch (const Exception& e) {
    std::cerr << "qninet xml: cannot read " << opts.File << ": " << e.what() << '\n';
    return 1;
  }
  std::ostringstream out;
  if (opts.Json)
    print_json(*engine.RootItem(), out);
  else
    print_plain(*engine.RootItem(), out);
  std::cout << out.str();
  return 0;
}

const CommandRegistrar registrar(600, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand("xml", "Load an XML file with the forgiving XML engine and print its tree");
  auto opts = std::make_shared<XmlOptions>();
  cmd->add_flag("--json", opts->Json, "Print the tree as JSON");
  cmd->add_option("FILE", opts->File, "The XML file")->required();
  cmd->callback([&state, opts] { state.ExitCode = run_xml(*opts); });
});

constexpr const char* kDemoFeed =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
    "<rss version=\"2.0\">\n"
    "<channel><title>QNInet news</title>\n"
    "<!-- two items follow -->\n"
    "<item><title>Fish &amp; chips</title><link>http://127.0.0.1/1</link></item>\n"
    "<item><title>Caf\xC3\xA9 &lt;open&gt;</title><link>http://127.0.0.1/2</link></item>\n"
    "</channel>\n</rss>\n";

const DemoRegistrar demo(DemoStep{600, "XML engine", [](std::ostream& out) {
                                    const std::string path =
                                        sys::make_temp_file(sys::temp_directory(), "qninet-xml-");
                                    if (path.empty()) return false;
                                    {
                                      std::ofstream file(path, std::ios::binary);
                                      file << kDemoFeed;
                                    }
                                    out << "Loading a small feed from " << path << ":\n";
                                    TQNXMLEngine engine(nullptr);
                                    engine.LoadFromFile(FromUtf8(path));
                                    sys::remove_file(path);
                                    print_plain(*engine.RootItem(), out);
                                    const TQNXMLItem* title = engine.GetItemByTag(nullptr, u"title");
                                    const TQNXMLItem* second = engine.GetItemByTag(nullptr, u"item");
                                    return title && title->GetTagValue() == u"QNInet news" && second &&
                                           engine.GetItemByTag(nullptr, u"Comment") != nullptr;
                                  }});

}  // namespace
}  // namespace qninet::tool
