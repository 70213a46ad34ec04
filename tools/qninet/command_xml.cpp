// `qninet xml [--json] FILE`: loads a file with the XML engine and prints its tree.

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Options.h"
#include "qninet/rtl/Streams.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet::tool {
namespace {

// Hands `text` to `write` as UTF-8 a piece at a time, so a text of any length needs no copy
// of its own.
template <class Write>
void in_pieces(StringView text, Write&& write) {
  constexpr std::size_t kPiece = 1 << 16;
  while (!text.empty()) {
    std::size_t n = std::min(text.size(), kPiece);
    if (n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] < 0xDC00) --n;  // keep a pair whole
    write(ToUtf8(String(text.substr(0, n))));
    text.remove_prefix(n);
  }
}

// `text` with CR, LF, TAB, the double quote and the backslash escaped.
void write_escaped(std::ostream& out, StringView text) {
  in_pieces(text, [&](const std::string& utf8) {
    std::string piece;
    for (char c : utf8) {
      switch (c) {
        case '\r':
          piece += "\\r";
          break;
        case '\n':
          piece += "\\n";
          break;
        case '\t':
          piece += "\\t";
          break;
        case '"':
          piece += "\\\"";
          break;
        case '\\':
          piece += "\\\\";
          break;
        default:
          piece += c;
      }
    }
    out << piece;
  });
}

void write_json_text(std::ostream& out, StringView text) {
  out << '"';
  in_pieces(text, [&](const std::string& utf8) {
    const std::string quoted =
        nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out.write(quoted.data() + 1, static_cast<std::streamsize>(quoted.size() - 2));
  });
  out << '"';
}

std::string kind_name(TQNXMLItemKind kind) {
  return ToUtf8(EnumInfoOf(static_cast<TQNXMLItemKind*>(nullptr)).NameOf(kind));
}

// Up to this depth an item is indented by two blanks a level; deeper, its depth is written as
// a number, so a line's length never grows with the nesting.
constexpr std::size_t kIndentedLevels = 64;

// The decoded value; a value with nothing to decode is written from where it lies.
template <class Write>
void write_value(std::ostream& out, const TQNXMLNodeView& item, Write&& write) {
  if ((item.Value.empty() || item.Value[0] != u'"') && item.Value.find(u'&') == StringView::npos)
    write(out, item.Value);
  else
    write(out, XMLTagValue(item.Value));
}

// Both printers walk the engine's node table (documents may nest a million levels deep) and
// write each item as they reach it, making no item and holding no text of the tree.
void print_plain(const TQNXMLItem& root, std::ostream& out) {
  static const std::string blanks(kIndentedLevels * 2, ' ');
  TQNXMLEngine::WalkTree(
      root,
      [&](const TQNXMLNodeView& item, std::size_t depth) {
        if (depth <= kIndentedLevels)
          out.write(blanks.data(), static_cast<std::streamsize>(depth * 2));
        else
          out << depth << ' ';
        out << kind_name(item.Kind) << ' ';
        write_escaped(out, item.TagName);
        if (item.ValueAssigned) {
          out << " = \"";
          write_value(out, item, write_escaped);
          out << '"';
        }
        if (!item.Attributes.empty()) {
          out << " [";
          write_escaped(out, item.Attributes);
          out << ']';
        }
        out << '\n';
      },
      nullptr);
}

void print_json(const TQNXMLItem& root, std::ostream& out) {
  // Whether the item being written at each depth has items written already.
  std::vector<char> started{0};
  TQNXMLEngine::WalkTree(
      root,
      [&](const TQNXMLNodeView& item, std::size_t) {
        if (std::exchange(started.back(), char{1})) out << ',';
        out << "{\"Kind\":\"" << kind_name(item.Kind) << "\",\"TagName\":";
        write_json_text(out, item.TagName);
        out << ",\"Value\":";
        if (item.ValueAssigned)
          write_value(out, item, write_json_text);
        else
          out << "null";
        out << ",\"Attributes\":";
        write_json_text(out, item.Attributes);
        out << ",\"Items\":[";
        started.push_back(0);
      },
      [&] {
        out << "]}";
        started.pop_back();
      });
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
  // Text with no element in it (a plain text, an empty file) parses to no tree worth printing.
  bool element = false;
  TQNXMLEngine::WalkTree(
      *engine.RootItem(),
      [&element](const TQNXMLNodeView& item, std::size_t) {
        element = element || (item.Kind == ikProperty && !item.TagName.empty() && item.TagName[0] != u'?' &&
                              item.TagName[0] != u'!');
      },
      nullptr);
  if (!element) return run.Fail(exFailed, file, "no XML element found");
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
  set_help_footer(
      *cmd,
      "Prints one item a line, indented by depth (deeper than 64 levels: the depth as a number):\n"
      "kind, tag name, = \"value\", [attributes].\n"
      "--json gives {\"status\", \"RootItem\"}, each item with Kind, TagName, Value, Attributes\n"
      "and Items. Input with no element in it exits 1 (\"no XML element found\").",
      {"qninet xml feed.xml", "curl -s http://127.0.0.1:8080/feed.xml | qninet xml --json -"});
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
