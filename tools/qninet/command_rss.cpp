// `qninet rss`: a news feed's channels and their items.

#include <iostream>

#include "Loopback.h"
#include "WebContentRun.h"
#include "qninet/web/QNIRSS.h"

namespace qninet::tool {
namespace {

struct Field {
  const char* Name;
  const String* Value;
};

std::vector<Field> channel_fields(const TQNIRSSChannel& c) {
  return {{"Title", &c.Title},
          {"Link", &c.Link},
          {"Description", &c.Description},
          {"Language", &c.Language},
          {"Copyright", &c.Copyright},
          {"Rating", &c.Rating},
          {"ManagingEditor", &c.ManagingEditor},
          {"WebMaster", &c.WebMaster},
          {"PubDate", &c.PubDate},
          {"LastBuildDate", &c.LastBuildDate},
          {"Category", &c.Category},
          {"Generator", &c.Generator},
          {"Docs", &c.Docs},
          {"Ttl", &c.Ttl}};
}

std::vector<Field> item_fields(const TQNIRSSItem& i) {
  return {{"Title", &i.Title},
          {"Link", &i.Link},
          {"Description", &i.Description},
          {"Creator", &i.Creator},
          {"Date", &i.Date}};
}

nlohmann::ordered_json channels_json(const TQNIRSSChannels& channels) {
  auto list = nlohmann::ordered_json::array();
  for (int c = 0; c < channels.Count(); ++c) {
    const TQNIRSSChannel& ch = *channels.GetItem(c);
    nlohmann::ordered_json j;
    for (const Field& f : channel_fields(ch)) j[f.Name] = ToUtf8(*f.Value);
    auto items = nlohmann::ordered_json::array();
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      nlohmann::ordered_json item;
      for (const Field& f : item_fields(*ch.Items()->GetItem(i))) item[f.Name] = ToUtf8(*f.Value);
      items.push_back(std::move(item));
    }
    j["Items"] = std::move(items);
    list.push_back(std::move(j));
  }
  return list;
}

// "channel TITLE", its other fields indented, then "item TITLE" with its fields below.
void print_channels(std::ostream& out, const TQNIRSSChannels& channels) {
  for (int c = 0; c < channels.Count(); ++c) {
    const TQNIRSSChannel& ch = *channels.GetItem(c);
    out << "channel " << ToUtf8(ch.Title) << '\n';
    for (const Field& f : channel_fields(ch))
      if (f.Value != &ch.Title && !f.Value->empty())
        out << "  " << f.Name << ": " << ToUtf8(*f.Value) << '\n';
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      const TQNIRSSItem& it = *ch.Items()->GetItem(i);
      out << "  item " << ToUtf8(it.Title) << '\n';
      for (const Field& f : item_fields(it))
        if (f.Value != &it.Title && !f.Value->empty())
          out << "    " << f.Name << ": " << ToUtf8(*f.Value) << '\n';
    }
  }
}

struct Options {
  std::string Target;
  bool Decode = false;  // the default; the flag stays for the lines that give it
  bool Raw = false;
};

int run_rss(Run& run, const Options& o) {
  const std::string& target = o.Target;
  TQNIRSSParser parser(nullptr);
  parser.SetDecodeEntities(!o.Raw);
  if (const int code = configure_web(run, parser, target)) return code;
  if (const int code = execute_web(run, parser, target)) return code;
  return report_feed(run, parser, target);
}

}  // namespace

int report_feed(Run& run, const TQNIRSSParser& parser, const std::string& about) {
  // An HTML page or a plain text parses to nothing: that is no empty feed but no feed.
  if (parser.Channels()->Count() == 0)
    return run.Fail(exFailed, about, "not a feed (no RSS, RDF or Atom channel in it)");
  run.Json()["channels"] = channels_json(*parser.Channels());
  if (!run.Options().Json) print_channels(std::cout, *parser.Channels());
  return exOk;
}

namespace {

const CommandRegistrar registrar(410, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(
      app, state, "rss", "Read a news feed (RSS 0.9x/2.0, RSS 1.0/RDF or Atom 1.0): channels and items",
      Offer{.Timeout = 60, .Proxy = true, .CaCert = true}, [o](Run& run) { return run_rss(run, *o); });
  auto* raw = cmd->add_flag(
      "--raw", o->Raw, "Keep the character references (&amp;, &#233;, &eacute;...) as the feed writes them");
  cmd->add_flag("--decode", o->Decode, "Decode the character references (the default)")->excludes(raw);
  cmd->add_option("URL_OR_PATH", o->Target,
                  "http://, https://, ftp:// or file:// URL of the feed, or a file path")
      ->required();
  set_help_footer(
      *cmd,
      "Prints \"channel TITLE\" and \"  item TITLE\" lines with the other fields indented below them;\n"
      "--json gives {\"status\", \"channels\": [{Title, Link, ..., Items: [{Title, Link, Description,\n"
      "Creator, Date}]}]}. Character references are decoded (CDATA excepted) unless --raw; dates\n"
      "are kept as written. An item's Date is its dc:date, else its pubDate; its Creator its\n"
      "dc:creator, else its author. An Atom feed reads as one channel and its entries as items\n"
      "(the alternate link, summary or content, the author's name or the feed's, updated or\n"
      "published). A page or text with no channel is \"not a feed\" (exit 1).",
      {"qninet rss http://127.0.0.1:8080/news.rss", "qninet rss --raw --json feed.xml"});
});

const char* kDemoFeed =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
    "<title>Loopback news</title>\n<link>http://127.0.0.1/</link>\n"
    "<description><![CDATA[Stories from <this> machine]]></description>\n"
    "<!-- it's a comment -->\n<item>\n<title>Caf\xC3\xA9 "
    "opens</title>\n<link>http://127.0.0.1/1</link>\n</item>\n"
    "<item><title>Second story</title><link>http://127.0.0.1/2</link></item>\n</channel>\n</rss>\n";

const DemoRegistrar demo(DemoStep{
    410, "RSS parser: a feed from a loopback web server", [](std::ostream& out) {
      const auto server = loopback::ServeFile("/news.rss", kDemoFeed, "application/rss+xml");
      const loopback::DirectConnections direct;
      TQNIRSSParser parser(nullptr);
      parser.SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(server->Port()) + "/news.rss"));
      parser.SetTimeout(5000);
      const bool ok = parser.Execute();
      out << "http://127.0.0.1:" << server->Port() << "/news.rss:\n";
      print_channels(out, *parser.Channels());
      const TQNIRSSChannel* ch = parser.Channels()->GetItem(0);
      return ok && ch && ch->Description == u"Stories from <this> machine" && ch->Items()->Count() == 2;
    }});

}  // namespace
}  // namespace qninet::tool
