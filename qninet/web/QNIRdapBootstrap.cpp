// The RDAP client's bootstrap (RFC 9224): IANA's registries, cached in the user's cache folder
// until the expiry their answer gave, and the service that serves a query.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "qninet/core/Url.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/sys/Desktop.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/InetClient.h"
#include "qninet/web/QNIRdapParts.h"
#include "qninet/web/ServiceRequest.h"

namespace qninet {

using rdap::network_of;
using rdap::parse_prefix;
using rdap::refusal;

namespace {

using json = nlohmann::json;

// Bootstrap registries are small (IANA's dns.json is some 40 KiB).
constexpr std::uint64_t kRegistryLimit = 4 << 20;
constexpr std::int64_t kDefaultRegistryLifetime = 24 * 60 * 60;

// How well `entry` covers the query: the number of labels, the prefix length or the inverse
// width of the AS range; below 0 when it does not.
long long match_of(TQNRdapQueryKind kind, const std::string& entry, const std::string& query) {
  if (kind == rqDomain || kind == rqNameserver) {
    std::string e = entry;
    for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (e.empty()) return -1;
    if (query != e &&
        !(query.size() > e.size() && query.ends_with(e) && query[query.size() - e.size() - 1] == '.'))
      return -1;
    return 1 + static_cast<long long>(std::count(e.begin(), e.end(), '.'));
  }
  if (kind == rqIP) {
    const auto q = parse_prefix(query);
    const auto p = parse_prefix(entry);
    if (!q || !p || q->first.V6 != p->first.V6 || p->second > q->second) return -1;
    return network_of(q->first, p->second) == network_of(p->first, p->second) ? p->second : -1;
  }
  const auto dash = entry.find('-');
  const unsigned long long n = std::stoull(query);
  char* end = nullptr;
  const unsigned long long low = std::strtoull(entry.c_str(), &end, 10);
  const unsigned long long high =
      dash == std::string::npos ? low : std::strtoull(entry.c_str() + dash + 1, nullptr, 10);
  if (n < low || n > high) return -1;
  return (1LL << 33) - static_cast<long long>(high - low);
}

// The base URL of the longest match, https preferred (RFC 9224 3 and 5); empty when none.
std::string best_service(const json& registry, TQNRdapQueryKind kind, const std::string& query) {
  long long best = -1;
  std::string url;
  for (const json& service : JsonElements(&registry, "services")) {
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() || !service[1].is_array())
      continue;
    for (const json& entry : service[0]) {
      if (!entry.is_string()) continue;
      const long long m = match_of(kind, entry.get_ref<const std::string&>(), query);
      if (m <= best) continue;
      std::string chosen;
      for (const json& u : service[1])
        if (u.is_string() && (chosen.empty() || u.get_ref<const std::string&>().starts_with("https:")))
          if (chosen.empty() || !chosen.starts_with("https:")) chosen = u.get_ref<const std::string&>();
      if (chosen.empty()) continue;
      best = m;
      url = chosen;
    }
  }
  return url;
}

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Until when an answer may be reused: Cache-Control's max-age, else Expires, else a day; 0 when
// it must not be kept (RFC 9111 5.2.2).
std::int64_t expiry_of(const TQNWebSource& answer) {
  const std::string control = ToUtf8(LowerCase(answer.Header("Cache-Control")));
  if (control.find("no-store") != std::string::npos || control.find("no-cache") != std::string::npos)
    return 0;
  if (const auto at = control.find("max-age="); at != std::string::npos)
    return now_seconds() + std::strtoll(control.c_str() + at + 8, nullptr, 10);
  if (const auto expires = sys::parse_http_date(ToUtf8(answer.Header("Expires"))))
    return sys::file_time_to_unix(*expires);
  return now_seconds() + kDefaultRegistryLifetime;
}

std::string cache_file(const std::string& bootstrap, const char* file) {
  std::string name;
  for (char c : bootstrap)
    name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
  return sys::user_cache_directory() + "/qninet/rdap/" + name + file;
}

}  // namespace

// A bootstrap registry from the cache while it is fresh, else from `BootstrapURL` (then cached
// until the expiry its answer gives).
TQNIOutcome TQNRdapClient::registry(const char* file, TFetch& out) {
  const std::string bootstrap = ToUtf8(FBootstrapURL);
  const std::string cached = cache_file(bootstrap, file);
  if (sys::file_exists(cached)) {
    try {
      TMemoryStream stream;
      stream.LoadFromFile(FromUtf8(cached));
      const std::string_view bytes = stream.Bytes();
      const std::size_t line = bytes.find('\n');
      if (line != std::string_view::npos && std::strtoll(bytes.data(), nullptr, 10) > now_seconds()) {
        out.Object = ParseJsonBounded(bytes.substr(line + 1), cached, "Invalid bootstrap registry");
        return {};
      }
    } catch (const Exception&) {
      // An unreadable or spoilt copy is fetched again.
    }
  }
  const std::string url = bootstrap + (bootstrap.ends_with('/') ? "" : "/") + file;
  String why;
  auto target = Url::Parse(url, &why);
  if (!target) return TQNIOutcome::Failed(FromUtf8(url) + u": " + why);
  FRequestURL = FromUtf8(url);
  TQNServiceCall call(*this, std::move(*target));
  TQNWebRequest request;
  request.MaxRedirects = kQNRdapMaxRedirects;
  if (const TQNIOutcome sent = call.Send(request); !sent) return sent;
  TMemoryStream body;
  if (const TQNIOutcome whole = call.ReadAll(body, {}, kRegistryLimit); !whole) return whole;
  if (const std::uint32_t code = call.Source().StatusCode(); code >= 400)
    return TQNIOutcome::Failed(FRequestURL + u": " + refusal(code, std::string(body.Bytes())));
  try {
    out.Object = ParseJsonBounded(body.Bytes(), url, "Invalid bootstrap registry");
  } catch (const Exception& e) {
    return TQNIOutcome::Failed(e.Message());
  }
  if (const std::int64_t expires = expiry_of(call.Source()); expires > now_seconds()) {
    try {
      if (sys::make_directories(cached.substr(0, cached.rfind('/'))))
        ReplaceFileContents(FromUtf8(cached), std::to_string(expires) + "\n" + std::string(body.Bytes()));
    } catch (const Exception&) {
      // A cache that cannot be written costs a fetch next time, nothing more.
    }
  }
  return {};
}

TQNIOutcome TQNRdapClient::service_for(TQNRdapQueryKind kind, const std::string& query, std::string& base) {
  const char* file = kind == rqAutnum ? "asn.json"
                     : kind == rqIP   ? (query.find(':') != std::string::npos ? "ipv6.json" : "ipv4.json")
                                      : "dns.json";
  if (kind == rqEntity)
    return TQNIOutcome::NotFound(u"no RDAP service for entity " + FromUtf8(query) + u" (BaseURL)");
  TFetch table;
  if (const TQNIOutcome read = registry(file, table); !read) return read;
  base = best_service(table.Object, kind, query);
  if (base.empty()) return TQNIOutcome::NotFound(u"no RDAP service for " + FromUtf8(query));
  return {};
}

}  // namespace qninet
