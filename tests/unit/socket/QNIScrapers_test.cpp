#include <gtest/gtest.h>

#include <optional>

#include "harness/ScriptedServer.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIWeath.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;

namespace {

const std::string kPath =
    "/cgi-bin/tracking?template_type=plugin&action=track&language=english&cntry_code=us&tracknumbers=";

const char* kTrackingPage =
    "<html><body>\n<!-- shipment info -->\n<table>\n<tr><td>Status</td><td>Delivered</td></tr>\n</table>\n"
    "<!-- BEGIN Scan Activity -->\n<table>\n<tr><td>Dec 4</td><td>Memphis, TN</td></tr>\n"
    "</table>\n<!-- END Scan Activity --></body></html>\n";

Script Answer(std::string reply) { return Script().ReadUntil("\r\n\r\n").Send(std::move(reply)).Close(); }

}  // namespace

// Blanks inside a cell shrink to one. (Empty cells, entities and the line breaks between
// tags: the nginx fixture rows.)
TEST(ScraperText, BlanksShrinkAndMissingOrMisorderedMarkersGiveNothing) {
  EXPECT_EQ(ToUtf8(HTMLTableToLines(u"<tr>\t<td>Signed  by </td><td>A</td></tr>")), "Signed by=A\r\n");
  EXPECT_EQ(TextBetweenMarkers(u"a[x]b", u"[", u"]"), u"x");
  EXPECT_EQ(TextBetweenMarkers(u"no begin here]", u"[", u"]"), u"");
  EXPECT_EQ(TextBetweenMarkers(u"] then [", u"[", u"]"), u"");
}

// Through a proxy the request names the whole address, each blank in the number encoded; the
// page is returned unchanged without OnAfterExecute; the lists are cleared before each request.
// (The page's tables as the two lists, and the direct request: the nginx fixture rows.)
TEST(FedExTracker, ProxyFormThePageAndListsClearedBeforeEachRequest) {
  ScriptedServer server(
      std::vector<Script>{Answer(kTrackingPage), Answer("HTTP/1.0 200 OK\r\n\r\nno tables")});
  TQNFedExTracker t(nullptr);
  t.SetTrackingNumber(u"12 34  5678");  // every blank, each one
  t.Proxy()->SetUseProxy(true);
  EXPECT_EQ(ToUtf8(t.GetQuery()),
            "GET http://www.fedex.com" + kPath + "12%2034%20%205678 HTTP/1.0\r\nHost: www.fedex.com\r\n");
  t.Proxy()->SetUseProxy(false);
  t.SetHost(u"127.0.0.1");
  t.SetPort(server.Port());
  EXPECT_EQ(ToUtf8(t.Execute()), kTrackingPage);
  EXPECT_EQ(ToUtf8(t.Activity()->Text()), "Dec 4=Memphis, TN\r\n");
  t.Execute();
  EXPECT_EQ(t.ShipmentInfo()->Count() + t.Activity()->Count(), 0);
}

TEST(WeatherInfo, TemperatureAfterTheMarker) {
  const std::pair<const char16_t*, std::optional<Integer>> cases[] = {
      // (72, -5 and no marker: the nginx rows' fixture pages)
      {u"<td CLASS=obsTempTextA>0&deg;F</td>", 0},              // a reading, unlike the pages below
      {u"<td class=obsTempTextA>72&deg;F</td>", std::nullopt},  // the marker is case-sensitive
      {u"CLASS=obsTempTextA>-&deg;", std::nullopt},
      {u"CLASS=obsTempTextA>5-3", std::nullopt},
      {u"CLASS=obsTempTextA>", std::nullopt}};
  for (const auto& [page, reading] : cases) {
    SCOPED_TRACE(ToUtf8(page));
    EXPECT_EQ(WeatherReading(page), reading);
    EXPECT_EQ(WeatherTemperature(page), reading.value_or(0));
  }
}

// A dotted address still names the host; the port only in the absolute form. (The page's path
// from the zip: the nginx rows; IPv6 literals in brackets: the HTTP client's Host line test.)
TEST(WeatherInfo, RequestLineAndHostLine) {
  TQNWeatherInfo w(nullptr);
  w.SetZip(u"10 001");
  w.SetHost(u"127.0.0.1");
  w.SetPort(8080);
  EXPECT_EQ(
      ToUtf8(w.GetQuery()),
      "GET /weather/local/10%20001?lswe=10%20001&lswa=WeatherLocalUndeclared&GO=GO&whatprefs= HTTP/1.0\r\n"
      "Host: 127.0.0.1\r\n\r\n");
  w.Proxy()->SetUseProxy(true);
  w.Proxy()->SetServer(u"proxy.local");
  EXPECT_TRUE(w.GetQuery().starts_with(u"GET http://127.0.0.1:8080/weather/local/10%20001?"));
}
