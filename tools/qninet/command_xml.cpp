// `qninet xml [--json] FILE`: loads a file with the XML engine and prints its tree.

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "Options.h"
#include "qninet/rtl/Streams.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet::tool {
namespace {

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

// Up to this depth an item is indented by two blanks a level; deeper, its depth is written as
// a number, so a line's length never grows with the nesting.
constexpr std::size_t kIndentedLevels = 64;

// Both printers walk with an explicit stack (documents may nest a million levels deep) and
// write each item as they reach it, holding no text of the tree.
void print_plain(const TQNXMLItem& root, std::ostream& out) {
  static const std::string blanks(kIndentedLevels * 2, ' ');
  std::vector<std::pair<const TQNXMLItem*, std::size_t>> work{{&root, 0}};
  while (!work.empty()) {
    auto [item, depth] = work.back();
    work.pop_back();
    if (depth <= kIndentedLevels)
      out.write(blanks.data(), static_cast<std::streamsize>(depth * 2));
    else
      out << depth << ' ';
    out << kind_name(item->Kind()) << ' ' << escaped(item->TagName());
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
}

int run_xml(Run& run, const std::string& file) {
  TQNXMLEngine engine(nullptr);
  if (file == "-") {
    std::ostringstream bytes;
    bytes << std::cin.rdbuf();
    TStringStream in(bytes.str());
    engine.LoadFromStream(0, &in);
  } else {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return run.Fail(exBadInput, file, "no such file");
    try {
      engine.LoadFromFile(FromUtf8(file));
    } catch (const Exception& e) {
      return run.Fail(exBadInput, file, std::string("cannot open: ") + e.what());
    }
  }
  std::ostream& out = std::cout;
  if (run.Options().Json) {
    // The tree may be a million levels deep: it is written by its own printer, not as a field.
    out << "{\"status\":\"ok\",\"RootItem\":";
    print_json(*engine.RootItem(), out);
    out << "}\n";
    run.WroteJson();
  } else {
    print_plain(*engine.RootItem(), out);
  }
  out.flush();
  return exOk;
}

const CommandRegistrar registrar(600, [](CLI::App& app, RunState& state) {
  auto file = std::make_shared<std::string>();
  auto* cmd =
      add_command(app, state, "xml", "Load an XML file with the forgiving XML engine and print its tree",
                  Offer{}, [file](Run& run) { return run_xml(run, *file); });
  cmd->add_option("FILE", *file, "The XML file; - reads standard input")->required();
  cmd->footer(
      "Prints one item a line, indented by depth (deeper than 64 levels: the depth as a number):\n"
      "kind, tag name, = \"value\", [attributes].\n"
      "--json gives {\"status\", \"RootItem\"}, each item with Kind, TagName, Value, Attributes\n"
      "and Items.");
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
                                    out << "Loading a small feed:\n";
                                    TStringStream feed{std::string_view(kDemoFeed)};
                                    TQNXMLEngine engine(nullptr);
                                    engine.LoadFromStream(0, &feed);
                                    print_plain(*engine.RootItem(), out);
                                    const TQNXMLItem* title = engine.GetItemByTag(nullptr, u"title");
                                    const TQNXMLItem* second = engine.GetItemByTag(nullptr, u"item");
                                    return title && title->GetTagValue() == u"QNInet news" && second &&
                                           engine.GetItemByTag(nullptr, u"Comment") != nullptr;
                                  }});

}  // namespace
}  // namespace qninet::tool
