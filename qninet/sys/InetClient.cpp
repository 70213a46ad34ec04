// HTTP exchanges and FTP sessions on the pump of CurlTransfer.

#include "qninet/sys/InetClient.h"

#include "qninet/sys/Files.h"

#include <ctime>

#include "qninet/sys/CurlTransfer.h"
#include "qninet/sys/Settings.h"
#include "qninet/sys/UrlParser.h"

namespace qninet::sys {
namespace {

Failure out_of_memory() { return failure_of(CURLE_OUT_OF_MEMORY, "Out of memory"); }

// The parts go to libcurl one by one: nothing is joined into a text to be parsed again.
Result<CURLU*> make_curl_url(const InetTarget& target) {
  CURLU* u = curl_url();
  if (!u) return out_of_memory();
  const std::string host = target.Host.find(':') != std::string::npos ? "[" + target.Host + "]" : target.Host;
  const std::string port = std::to_string(target.Port);
  CURLUcode rc = curl_url_set(u, CURLUPART_SCHEME, target.Scheme.c_str(), 0);
  if (rc == CURLUE_OK) rc = curl_url_set(u, CURLUPART_HOST, host.c_str(), 0);
  if (rc == CURLUE_OK) rc = curl_url_set(u, CURLUPART_PORT, port.c_str(), 0);
  if (rc == CURLUE_OK) rc = curl_url_set(u, CURLUPART_PATH, target.Path.c_str(), 0);
  if (rc == CURLUE_OK && !target.Query.empty())
    rc = curl_url_set(u, CURLUPART_QUERY, target.Query.c_str(), 0);
  if (rc != CURLUE_OK) {
    curl_url_cleanup(u);
    return failure_of(CURLE_URL_MALFORMAT, std::string("Cannot use the address: ") + curl_url_strerror(rc));
  }
  return u;
}

// How failures name the peer: "host:port", "[v6]:port".
std::string endpoint_text(const std::string& host, std::uint16_t port) {
  const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return h + ":" + std::to_string(port);
}

// The system's proxy (and its exceptions) when the caller named none.
void apply_system_proxy(CURL* easy, const InetOptions& options) {
  if (!options.ProxyHost.empty()) return;
  const ProxySetting setting = proxy_setting();
  if (setting.Enabled.value_or(false) && setting.Server && !setting.Server->empty()) {
    std::string server;
    for (char16_t c : *setting.Server) server.push_back(static_cast<char>(c < 0x80 ? c : '?'));
    curl_easy_setopt(easy, CURLOPT_PROXY, server.c_str());
  } else {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  }
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      curl_easy_setopt(easy, CURLOPT_NOPROXY, v);
      break;
    }
  }
}

// Credentials answer the challenge of a 401 or 407 with the strongest scheme it offers (Basic,
// Digest, NTLM): nothing is sent before the server or the proxy asks for it.
void set_http_credentials(CURL* easy, const InetCredentials& c) {
  const bool user = !c.User.empty();
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
  curl_easy_setopt(easy, CURLOPT_USERNAME, user ? c.User.c_str() : nullptr);
  curl_easy_setopt(easy, CURLOPT_PASSWORD, user ? c.Password.c_str() : nullptr);
  const bool proxyUser = !c.ProxyUser.empty();
  curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
  curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser ? c.ProxyUser.c_str() : nullptr);
  curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyUser ? c.ProxyPassword.c_str() : nullptr);
}

curl_slist* header_list(std::string_view text) {
  curl_slist* list = nullptr;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string line(trim_ascii(text.substr(start, end - start)));
    if (!line.empty()) list = curl_slist_append(list, line.c_str());
    start = end + 1;
  }
  return list;
}

std::string resolve_ftp_path(const std::string& current, const std::string& path) {
  const std::string full = !path.empty() && path.front() == '/' ? path : current + "/" + path;
  // Normalise "." and ".." and doubled slashes.
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string seg = full.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct HttpTransfer::Impl {
  explicit Impl(InetOptions o) : options(std::move(o)) {}
  ~Impl() {
    transfer.reset();
    if (easy) curl_easy_cleanup(easy);
    if (url) curl_url_cleanup(url);
  }
  InetOptions options;
  CurlMulti multi;
  CURL* easy = nullptr;
  CURLU* url = nullptr;
  std::unique_ptr<CurlTransfer> transfer;
};

HttpTransfer::HttpTransfer(InetOptions options) : FImpl(std::make_unique<Impl>(std::move(options))) {}
HttpTransfer::~HttpTransfer() = default;

Status HttpTransfer::Send(const HttpRequest& r) {
  Impl& m = *FImpl;
  if (!m.multi.Handle) return out_of_memory();
  if (!m.easy) {
    m.easy = curl_easy_init();
    if (!m.easy) return out_of_memory();
    m.transfer = std::make_unique<CurlTransfer>(m.multi.Handle, m.easy, m.options);
  }
  CurlTransfer& t = *m.transfer;
  t.Stop();
  t.SetEndpoint(endpoint_text(r.Target.Host, r.Target.Port));
  auto url = make_curl_url(r.Target);
  if (!url) return url.failure();
  if (m.url) curl_url_cleanup(m.url);
  m.url = *url;
  CURL* easy = m.easy;
  apply_common_options(easy, m.options, true);
  apply_system_proxy(easy, m.options);
  curl_easy_setopt(easy, CURLOPT_CURLU, m.url);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, r.FollowRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, r.MaxRedirects);
  // Ranges are HTTP/1.1's: lighttpd ignores one in an HTTP/1.0 request and sends the whole file,
  // so a resumed download asks in HTTP/1.1 (its answer is still read as an HTTP/1.0 one).
  const bool wire10 = r.Http10 && r.RangeFrom == 0;
  const long version = wire10    ? CURL_HTTP_VERSION_1_0
                       : r.Http2 ? CURL_HTTP_VERSION_2TLS
                                 : CURL_HTTP_VERSION_1_1;
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, version);
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
  if (r.Method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (r.Method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.Body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, r.Body.c_str());
    if (r.Method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.Method.c_str());
  }
  if (t.HeaderList()) curl_slist_free_all(t.HeaderList());
  t.HeaderList() = header_list(r.Headers);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.HeaderList());
  const std::string range = r.RangeFrom > 0 ? std::to_string(r.RangeFrom) + "-" : std::string();
  curl_easy_setopt(easy, CURLOPT_RANGE, r.RangeFrom > 0 ? range.c_str() : nullptr);
  set_http_credentials(easy, r.Credentials);
  // An HTTP/1.0 answer ends at its length or at the close; the length is checked here, so that
  // a length that is no number reaches the caller instead of failing inside libcurl.
  const bool checkLength = r.Http10 && r.Method != "HEAD";
  curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, r.Http10 ? 1L : 0L);
  t.SetHttp(r.FollowRedirects, r.RangeFrom, checkLength);
  if (auto started = t.Start(); !started) return started;
  if (auto head = t.WaitHead(); !head) return head;
  if (r.RangeFrom > 0 && t.StatusCode() == 206) {
    // Content-Range: bytes FIRST-LAST/TOTAL (RFC 9110 14.4).
    const std::string range = Header("Content-Range").value_or("");
    const auto sp = range.find(' ');
    const std::uint64_t first =
        std::strtoull(range.c_str() + (sp == std::string::npos ? 0 : sp + 1), nullptr, 10);
    if (first != r.RangeFrom) {
      t.Stop();
      return failure_of(CURLE_RANGE_ERROR, "The server sent another range (" + range + ")");
    }
  }
  return {};
}

bool HttpTransfer::AnswerBegan() const { return FImpl->transfer && FImpl->transfer->SawStatus(); }

std::uint32_t HttpTransfer::StatusCode() const {
  return FImpl->transfer && FImpl->transfer->SawStatus() ? FImpl->transfer->StatusCode() : 0;
}

std::optional<std::string> HttpTransfer::Header(std::string_view name) const {
  if (!FImpl->transfer) return std::nullopt;
  const std::string key = lower_ascii(name);
  const auto& headers = FImpl->transfer->Headers();
  for (auto it = headers.rbegin(); it != headers.rend(); ++it)
    if (it->first == key) return it->second;
  return std::nullopt;
}

Result<std::size_t> HttpTransfer::Read(char* buffer, std::size_t size) {
  if (!FImpl->transfer || !FImpl->transfer->Started()) return failure_of(0, "No request was sent");
  return FImpl->transfer->Read(buffer, size);
}

// ---------------------------------------------------------------------------------------------

struct FtpSession::Impl {
  Impl(InetOptions o, std::string h, std::uint16_t p, std::string u, std::string pw)
      : options(std::move(o)), host(std::move(h)), port(p), user(std::move(u)), password(std::move(pw)) {}
  ~Impl() {
    file.reset();
    if (easy) curl_easy_cleanup(easy);
    if (url) curl_url_cleanup(url);
  }
  // Points the session's one easy handle (one control connection) at a path.
  Status prepare(const std::string& absolutePath) {
    if (!multi.Handle) return out_of_memory();
    if (!easy && !(easy = curl_easy_init())) return out_of_memory();
    file.reset();
    // "%2F" makes the path absolute instead of relative to the login directory (RFC 1738 3.2.2).
    std::string rest = absolutePath;
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    auto u = make_curl_url(InetTarget{"ftp", host, port, "/%2F" + percent_encode(rest, "!$&'()*+,=:@/"), {}});
    if (!u) return u.failure();
    if (url) curl_url_cleanup(url);
    url = *u;
    apply_common_options(easy, options, false);
    curl_easy_setopt(easy, CURLOPT_CURLU, url);
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.empty() ? "anonymous" : user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, user.empty() ? "qninet@" : password.c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 1L);
    return {};
  }
  // Runs one command sequence to its end.
  Status run(const std::string& absolutePath, bool nobody, const char* custom, std::string* collect) {
    if (auto ready = prepare(absolutePath); !ready) return ready;
    curl_easy_setopt(easy, CURLOPT_NOBODY, nobody ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, custom);
    CurlTransfer t(multi.Handle, easy, options);
    t.SetEndpoint(endpoint_text(host, port));
    if (auto started = t.Start(collect, 64u * 1024 * 1024); !started) return started;
    return t.WaitDone();
  }

  InetOptions options;
  std::string host;
  std::uint16_t port;
  std::string user, password;
  std::string directory = "/";
  CurlMulti multi;
  CURL* easy = nullptr;
  CURLU* url = nullptr;
  std::unique_ptr<CurlTransfer> file;  // the download in progress
};

FtpSession::FtpSession(InetOptions options, std::string host, std::uint16_t port, std::string user,
                       std::string password)
    : FImpl(std::make_unique<Impl>(std::move(options), std::move(host), port, std::move(user),
                                   std::move(password))) {}
FtpSession::~FtpSession() = default;

Status FtpSession::Login() {
  Impl& m = *FImpl;
  if (m.host.empty()) return failure_of(0, "No host");
  if (auto done = m.run("/", true, nullptr, nullptr); !done) {
    // Without "%2F" support some servers refuse "CWD /"; the login itself is what counts.
    if (done.failure().Code != CURLE_REMOTE_ACCESS_DENIED) return done;
  }
  char* entry = nullptr;
  if (curl_easy_getinfo(m.easy, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry == '/')
    m.directory = entry;
  return {};
}

Result<std::vector<FtpEntry>> FtpSession::Find(const std::string& pattern) {
  const auto slash = pattern.rfind('/');
  const std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  auto listed = List(slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1));
  if (!listed) return listed;
  std::vector<FtpEntry> entries;
  for (FtpEntry& e : *listed)
    if (ftp_wildcard_match(mask.empty() ? "*" : mask, e.Name)) entries.push_back(std::move(e));
  return entries;
}

Result<std::vector<FtpEntry>> FtpSession::List(const std::string& folder) {
  Impl& m = *FImpl;
  std::string dir = Resolve(folder);
  if (dir.back() != '/') dir.push_back('/');
  std::string listing;
  std::vector<FtpEntry> entries;
  auto lines = [&](auto parse) {
    std::size_t start = 0;
    while (start < listing.size()) {
      std::size_t end = listing.find('\n', start);
      if (end == std::string::npos) end = listing.size();
      FtpEntry e;
      if (parse(std::string_view(listing).substr(start, end - start), e)) entries.push_back(std::move(e));
      start = end + 1;
    }
  };
  if (m.run(dir, false, "MLSD", &listing)) {
    lines([](std::string_view line, FtpEntry& e) { return parse_mlsd_line(line, e); });
  } else {
    listing.clear();
    if (auto listed = m.run(dir, false, nullptr, &listing); !listed) return listed.failure();
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    lines(
        [&](std::string_view line, FtpEntry& e) { return parse_list_line(line, e, tm.tm_year + 1900, now); });
  }
  return entries;
}

const std::string& FtpSession::Directory() const { return FImpl->directory; }

std::string FtpSession::Resolve(const std::string& path) const {
  return path.empty() ? FImpl->directory : resolve_ftp_path(FImpl->directory, path);
}

Status FtpSession::Open(const std::string& path, std::uint64_t offset) {
  Impl& m = *FImpl;
  if (auto ready = m.prepare(resolve_ftp_path(m.directory, path)); !ready) return ready;
  // REST before RETR (RFC 3659 5) continues a partial download.
  curl_easy_setopt(m.easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
  m.file = std::make_unique<CurlTransfer>(m.multi.Handle, m.easy, m.options);
  m.file->SetEndpoint(endpoint_text(m.host, m.port));
  return m.file->Start();
}

Result<std::size_t> FtpSession::Read(char* buffer, std::size_t size) {
  if (!FImpl->file) return failure_of(0, "No FTP file is open");
  return FImpl->file->Read(buffer, size);
}

std::optional<std::int64_t> parse_http_date(const std::string& text) {
  const time_t secs = curl_getdate(text.c_str(), nullptr);
  // Beyond 9999-12-31 a file time would overflow; no server means such a date.
  constexpr time_t kLastSecond = 253402300799;
  if (secs < 0 || secs > kLastSecond) return std::nullopt;
  return unix_to_file_time(secs);
}

}  // namespace qninet::sys
