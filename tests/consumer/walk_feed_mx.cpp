// A program built against the installed package: it walks a feed's channels and items with
// range-for loops, then asks a DNS server for a domain's MX records and reads them typed.
//   walk_feed_mx [FEED-FILE [DOMAIN SERVER [PORT]]]   (no file or "": a sample feed)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qninet/socket/QNIDNS.h"
#include "qninet/web/QNIRSS.h"

using namespace qninet;

int main(int argc, char** argv) {
  TQNIRSSChannels channels;
  if (argc > 1 && *argv[1]) {  // "" keeps the sample feed
    TStringList lines;
    lines.LoadFromFile(FromUtf8(argv[1]));
    ParseRSSText(lines.Text(), channels, true);
  } else {
    ParseRSSText(
        u"<rss><channel><title>News</title><item><title>One</title><link>https://example.test/1</link>"
        u"</item><item><title>Two</title></item></channel></rss>",
        channels, true);
  }
  std::size_t items = 0;
  for (const TQNIRSSChannel& channel : channels) {
    std::printf("%s (%zu items)\n", ToUtf8(channel.Title).c_str(), channel.Items()->size());
    for (const TQNIRSSItem& item : *channel.Items()) {
      std::printf("  %s %s\n", ToUtf8(item.Title).c_str(), ToUtf8(item.Link).c_str());
      ++items;
    }
  }
  if (argc < 4) return items > 0 ? 0 : 1;

  TQNIDNSResolver resolver(nullptr);
  resolver.SetTransport(dtUDP);
  resolver.SetHost(FromUtf8(argv[3]));
  resolver.SetPort(argc > 4 ? std::atoi(argv[4]) : 53);
  resolver.SetTimeout(5000);
  resolver.SetRequests({irMX});
  resolver.SetDomain(FromUtf8(argv[2]));
  resolver.Execute();
  if (!resolver.LastError().empty() || resolver.Results().empty()) {
    std::fprintf(stderr, "%s\n", ToUtf8(resolver.LastError()).c_str());
    return 1;
  }
  const TQNIDNSResult& result = resolver.Results().front();
  std::printf("MX %s: %s\n", argv[2], ToUtf8(DNSRCodeName(result.RCode())).c_str());
  for (const TQNIDNSRecord& record : result.Reply.Answers)
    if (const auto mx = record.MX())
      std::printf("  %u %s\n", static_cast<unsigned>(mx->Preference), ToUtf8(mx->Exchange).c_str());
  return result.RCode() == 0 ? 0 : 1;
}
