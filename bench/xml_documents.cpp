#include "xml_documents.h"

#include <random>

namespace xml_bench {
namespace {

const char* const kWords[] = {"network", "client",   "parser",  "engine",  "server", "update",
                              "feed",    "shipment", "weather", "package", "stream", "value",
                              "node",    "tree",     "market",  "auction", "price",  "person",
                              "region",  "item",     "query",   "time",    "mail",   "link"};

std::string words(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kWords[rng() % (sizeof kWords / sizeof *kWords)];
    if (rng() % 40 == 0) s += " &amp;";
  }
  return s;
}

}  // namespace

std::string feed_document(std::size_t bytes) {
  std::mt19937 rng(1);
  std::string d =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
      "<title>Generated feed</title>\n<link>http://127.0.0.1/</link>\n";
  for (int i = 0; d.size() < bytes; ++i) {
    d += "<item>\n  <title>" + words(rng, 6) + "</title>\n  <link>http://127.0.0.1/news/" +
         std::to_string(i) + "</link>\n  <description>" + words(rng, 30 + static_cast<int>(rng() % 30)) +
         "</description>\n  <pubDate>Mon, 17 May 2012 14:03:09 GMT</pubDate>\n  <guid "
         "isPermaLink=\"false\">id-" +
         std::to_string(i) + "</guid>\n  <category domain=\"http://127.0.0.1/c\">" + words(rng, 1) +
         "</category>\n</item>\n";
  }
  return d + "</channel>\n</rss>\n";
}

std::string xmark_document(std::size_t bytes) {
  std::mt19937 rng(2);
  std::string d = "<?xml version=\"1.0\" standalone=\"yes\"?>\n<site>\n<regions>\n<africa>\n";
  for (int i = 0; d.size() < bytes / 2; ++i) {
    d += "<item id=\"item" + std::to_string(i) + "\">\n<location>United States</location>\n<quantity>" +
         std::to_string(1 + rng() % 5) + "</quantity>\n<name>" + words(rng, 3) +
         "</name>\n<payment>Creditcard, Cash</payment>\n<description>\n<text>\n" + words(rng, 20) +
         " <keyword>" + words(rng, 2) + "</keyword> " + words(rng, 10) + " <bold>" + words(rng, 1) +
         "</bold>\n</text>\n"
         "</description>\n<shipping>Will ship internationally</shipping>\n<incategory category=\"category" +
         std::to_string(rng() % 100) + "\"/>\n<mailbox>\n<mail>\n<from>" + words(rng, 2) + "</from>\n<to>" +
         words(rng, 2) + "</to>\n<date>07/05/2000</date>\n<text>" + words(rng, 15) +
         "</text>\n</mail>\n</mailbox>\n"
         "</item>\n";
  }
  d += "</africa>\n</regions>\n<people>\n";
  for (int i = 0; d.size() < bytes; ++i) {
    d += "<person id=\"person" + std::to_string(i) + "\">\n<name>" + words(rng, 2) +
         "</name>\n<emailaddress>mailto:p" + std::to_string(i) +
         "@example.org</emailaddress>\n<phone>+0 (12) " + std::to_string(rng() % 100000) +
         "</phone>\n<address>\n<street>" + std::to_string(rng() % 100) +
         " Main St</street>\n<city>Springfield</city>\n<country>United States</country>\n<zipcode>" +
         std::to_string(rng() % 100000) + "</zipcode>\n</address>\n<profile income=\"" +
         std::to_string(rng() % 100000) + ".00\">\n<interest category=\"category" +
         std::to_string(rng() % 100) +
         "\"/>\n<education>College</education>\n<business>Yes</business>\n<age>" +
         std::to_string(18 + rng() % 60) + "</age>\n</profile>\n</person>\n";
  }
  return d + "</people>\n</site>\n";
}

std::string text_document(std::size_t bytes) {
  std::mt19937 rng(3);
  std::string d = "<?xml version=\"1.0\"?>\n<book>\n";
  while (d.size() < bytes)
    d += "<chapter><title>" + words(rng, 4) + "</title><p>" + words(rng, 700) + "</p></chapter>\n";
  return d + "</book>\n";
}

std::string markup_document(std::size_t bytes) {
  std::mt19937 rng(4);
  std::string d = "<?xml version=\"1.0\"?>\n<data>\n";
  for (int i = 0; d.size() < bytes; ++i)
    d += "<row id=\"" + std::to_string(i) + "\" k=\"v\"><a/><b x=\"1\"/><c>" + std::to_string(rng() % 1000) +
         "</c><d><e/></d></row>\n";
  return d + "</data>\n";
}

std::string document_named(const std::string& name, std::size_t bytes) {
  if (name == "feed") return feed_document(bytes);
  if (name == "xmark") return xmark_document(bytes);
  if (name == "text") return text_document(bytes);
  if (name == "markup") return markup_document(bytes);
  return {};
}

}  // namespace xml_bench
