#include "qninet/core/QNInAbout.h"

#include "qninet/rtl/Forms.h"

namespace qninet {

String AboutQNInetText() {
  static const char16_t* const lines[][2] = {
      {u"TQNWhoIs", u"WHOIS records of domains and IPv4 addresses"},
      {u"TQNInetDateTime", u"date and time from a daytime server"},
      {u"TQNUPSTracker", u"UPS parcel tracking"},
      {u"TQNFedExTracker", u"FedEx parcel tracking"},
      {u"TQNIHTTPClient", u"HTTP pages with HEAD, GET and POST"},
      {u"TQNWebUpdater", u"downloads a remote file when it has changed"},
      {u"TQNWebDirect", u"a tree of product news, new entries marked"},
      {u"TQNRemoteImage", u"a picture from the web, refreshed on a timer"},
      {u"TQNInfoExtractor", u"links and mail addresses from a web page"},
      {u"TQNWeatherInfo", u"the current temperature for a postal code"},
      {u"TQNRemoteFiles", u"listings of remote directories"},
      {u"TQNISMTP", u"mail with attachments over SMTP"},
      {u"TQNIRSSParser", u"RSS and RDF feeds"},
      {u"TQNInetSNTP", u"date and time from an SNTP server"},
      {u"TQNMSTranslator", u"translation, language detection and speech"},
  };
  String text = u"QNInternet components for internet clients:";
  for (const auto& [name, what] : lines) {
    text += u"\n";
    text += name;
    text += u" - ";
    text += what;
  }
  return text;
}

void AboutQNInet() {
  Application().MessageBox(AboutQNInetText(), u"About QNInternet", gui::mbOK | gui::mbIconInformation);
}

}  // namespace qninet
