#include "qninet/design/Palette.h"

#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNISMTP.h"
#include "qninet/socket/QNISNTP.h"
#include "qninet/socket/QNITime.h"
#include "qninet/socket/QNIWeath.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIRdap.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qniimage.h"
#include "qninet/web/qniupdate.h"
#include "qninet/web/qnixtract.h"

namespace qninet {

namespace {

template <class C>
constexpr TComponentClassRef ref() {
  return {&C::StaticClassInfo(), [](TComponent* owner) -> TComponent* { return new C(owner); }};
}

// Tile colours: the socket components blue, the web components green, the trackers, the mail
// sender and the translator each their own.
constexpr const char* kSocket = "#1f4e9c";
constexpr const char* kWeb = "#2e7d32";

}  // namespace

std::span<const TPaletteEntry> QNInetPalette() {
  static const TPaletteEntry palette[] = {
      {ref<TQNWhoIs>(), true, u"WHOIS records of domains and IPv4 addresses", kSocket, "WHO"},
      {ref<TQNInetDateTime>(), true, u"date and time from a daytime server", kSocket, "DT"},
      {ref<TQNUPSTracker>(), true, u"UPS parcel tracking", "#5b3a1a", "UPS"},
      {ref<TQNFedExTracker>(), true, u"FedEx parcel tracking", "#4d148c", "FDX"},
      {ref<TQNIHTTPClient>(), true, u"HTTP pages with HEAD, GET and POST", kSocket, "HTTP"},
      {ref<TQNWebUpdater>(), true, u"downloads a remote file when it has changed", kWeb, "UPD"},
      {ref<TQNWebDirect>(), true, u"a tree of product news, new entries marked", kWeb, "NEWS"},
      {ref<TQNRemoteImage>(), true, u"a picture from the web, refreshed on a timer", kWeb, "IMG"},
      {ref<TQNInfoExtractor>(), true, u"links and mail addresses from a web page", kWeb, "@"},
      {ref<TQNWeatherInfo>(), true, u"the current temperature for a postal code", kSocket,
       "\xc2\xb0"
       "C"},
      {ref<TQNRemoteFiles>(), true, u"listings of remote directories", kWeb, "DIR"},
      {ref<TQNISMTP>(), true, u"mail with attachments over SMTP", "#b23c17", "MAIL"},
      {ref<TQNIRSSParser>(), true, u"RSS and RDF feeds", nullptr, nullptr},
      {ref<TQNInetSNTP>(), true, u"date and time from an SNTP server", nullptr, nullptr},
      {ref<TQNMSTranslator>(), true, u"translation, language detection and speech", "#00838f",
       "A\xe2\x86\x92"
       "B"},
      {ref<TQNRdapClient>(), true, u"RDAP records of domains, addresses and AS numbers", kWeb, "RDAP"},
      {ref<TQNIDNSResolver>(), false, u"DNS queries over TCP, the reply unparsed", kSocket, "DNS"},
  };
  return palette;
}

}  // namespace qninet
