// The HTTP/FTP client layer over libcurl's multi interface. Each transfer pulls its data on
// the caller's thread: when the caller wants bytes and none are waiting, the transfer is
// unpaused and the multi handle driven until libcurl hands over one chunk; the write callback
// then pauses the transfer until the caller has read that chunk. So a transfer holds at most one
// chunk of its own beside libcurl's receive buffer, whatever block size the caller reads in.

#include "qninet/sys/InetClient.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qninet/sys/Settings.h"

namespace qninet::sys {

namespace {

using Clock = std::chrono::steady_clock;

thread_local int tl_error = 0;
thread_local String tl_error_text;

void set_error(int code, const std::string& text) {
  tl_error = code;
  tl_error_text = FromUtf8(text);
}

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string trim_ascii(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

// Percent-encodes every byte of `path` that is not unreserved and not in `keep`.
std::string percent_encode(const std::string& path, const char* keep) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       (c != 0 && std::strchr(keep, c) != nullptr);
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

// An HTTP path keeps an existing escape (and its query) as written.
std::string encode_path(const std::string& path) { return percent_encode(path, "-._~!$&'()*+,;=:@%?#/"); }

// FTP path segments must not carry '?' or '#', which would end the path of the URL.
std::string encode_ftp_path(const std::string& path) { return percent_encode(path, "-._~!$&'()*+,=:@/"); }

std::string host_for_url(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Handles

struct InetObject {
  enum class Kind : std::uint8_t { Root, Connection, Request, Url, FtpFind, FtpFile };
  explicit InetObject(Kind k) : kind(k) {}
  virtual ~InetObject() {
    // Children go first; each unhooks itself from this list.
    while (!children.empty()) delete children.back();
    if (parent) {
      auto& list = parent->children;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
  }
  void adopt(InetObject* child) {
    child->parent = this;
    children.push_back(child);
  }
  Kind kind;
  InetObject* parent = nullptr;
  std::vector<InetObject*> children;
};

namespace {

struct Root final : InetObject {
  Root() : InetObject(Kind::Root) {}
  std::string agent;
  std::string proxy;    // "host[:port]", or empty for none
  std::string noProxy;  // from the environment with the preconfigured settings
  std::uint32_t timeoutMs = 0;
};

class Transfer;

// A multi handle with the transfers that use it: it owns the connection pool, so the
// requests of one connection handle share their connections.
struct Multi {
  Multi() { handle = curl_multi_init(); }
  ~Multi() {
    if (handle) curl_multi_cleanup(handle);
  }
  CURLM* handle = nullptr;
};

struct Connection final : InetObject {
  Connection() : InetObject(Kind::Connection) {}
  ~Connection() override;
  Root* root = nullptr;
  std::string host;
  std::uint16_t port = 0;
  std::string user, password, proxyUser, proxyPassword;
  InetService service = InetService::Http;
  Multi multi;
  CURL* ftpEasy = nullptr;      // the one FTP session of this connection
  Transfer* ftpBusy = nullptr;  // the open FTP file using ftpEasy
  std::string ftpDirectory = "/";
};

std::string ca_file() {
  const char* extra = std::getenv("QNINET_CA_FILE");
  return extra && *extra ? std::string(extra) : std::string();
}

// One transfer on an easy handle inside a multi handle.
class Transfer {
public:
  Transfer(CURLM* multi, CURL* easy, bool ownsEasy, std::uint32_t timeoutMs)
      : FMulti(multi), FEasy(easy), FOwnsEasy(ownsEasy), FTimeoutMs(timeoutMs) {}
  ~Transfer() {
    Stop();
    if (FOwnsEasy && FEasy) curl_easy_cleanup(FEasy);
    if (FHeaderList) curl_slist_free_all(FHeaderList);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  CURL* Easy() const { return FEasy; }

  /// Sets the callbacks and starts the transfer (options must be set before).
  bool Start(std::string* collect = nullptr, std::size_t collectLimit = 0) {
    Stop();
    FDone = false;
    FResult = CURLE_OK;
    FPaused = false;
    FSpill.clear();
    FSpillPos = 0;
    FCollect = collect;
    FCollectLimit = collectLimit;
    FStatus = 0;
    FHeaders.clear();
    FHeadDone = false;
    FSawStatus = false;
    FBodyBytes = 0;
    FErrorBuffer[0] = 0;
    curl_easy_setopt(FEasy, CURLOPT_WRITEFUNCTION, &Transfer::on_write);
    curl_easy_setopt(FEasy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(FEasy, CURLOPT_HEADERFUNCTION, &Transfer::on_header);
    curl_easy_setopt(FEasy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(FEasy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(FEasy, CURLOPT_ERRORBUFFER, FErrorBuffer);
    curl_easy_setopt(FEasy, CURLOPT_NOSIGNAL, 1L);
    FExpected.reset();
    FWireBytes = 0;
    curl_easy_setopt(FEasy, CURLOPT_BUFFERSIZE, static_cast<long>(kInetReceiveBuffer));
    if (FTimeoutMs > 0) {
      curl_easy_setopt(FEasy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FTimeoutMs));
      curl_easy_setopt(FEasy, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>((FTimeoutMs + 999) / 1000));
    } else {
      curl_easy_setopt(FEasy, CURLOPT_CONNECTTIMEOUT_MS, 0L);
    }
    const CURLMcode rc = curl_multi_add_handle(FMulti, FEasy);
    if (rc != CURLM_OK) {
      set_error(static_cast<int>(rc), curl_multi_strerror(rc));
      FDone = true;
      FResult = CURLE_FAILED_INIT;
      return false;
    }
    FAdded = true;
    FStarted = true;
    return true;
  }

  /// Removes the easy handle from the multi handle; an unfinished transfer's connection is
  /// closed by libcurl.
  void Stop() {
    if (FAdded) {
      curl_multi_remove_handle(FMulti, FEasy);
      FAdded = false;
    }
  }

  bool Started() const { return FStarted; }
  bool Done() const { return FDone; }
  CURLcode Result() const { return FResult; }
  bool HeadDone() const { return FHeadDone; }
  bool SawStatus() const { return FSawStatus; }
  std::uint32_t Status() const { return FStatus; }
  const std::vector<std::pair<std::string, std::string>>& Headers() const { return FHeaders; }
  /// The offset a Range asked for; a 200 answer then has that many bytes skipped.
  void SetRangeFrom(std::uint64_t n) { FRangeFrom = n; }
  void SetFollowing(bool v) { FFollowing = v; }
  void SetHttp(bool v) { FHttp = v; }
  curl_slist*& HeaderList() { return FHeaderList; }

  /// Drives the transfer until the head of the final answer arrived or it ended.
  void WaitHead() {
    pump([this] { return FHeadDone || FSpillPos < FSpill.size(); });
  }
  /// Drives the transfer until it ended.
  void WaitDone() {
    pump([] { return false; });
  }

  /// Fills the buffer with body bytes, driving the transfer while it runs; less than `size`
  /// only at the end of the data. False on failure.
  bool Read(char* buffer, std::size_t size, std::size_t& read) {
    read = 0;
    while (read < size) {
      if (FSpillPos >= FSpill.size()) pump([this] { return FSpillPos < FSpill.size(); });
      if (FSpillPos >= FSpill.size()) break;
      const std::size_t n = std::min(size - read, FSpill.size() - FSpillPos);
      std::memcpy(buffer + read, FSpill.data() + FSpillPos, n);
      FSpillPos += n;
      read += n;
    }
    if (read < size && FDone && FResult != CURLE_OK) {
      report_failure();
      read = 0;
      return false;
    }
    return true;
  }

  void report_failure() const {
    std::string text = FErrorBuffer[0] ? std::string(FErrorBuffer) : std::string(curl_easy_strerror(FResult));
    set_error(static_cast<int>(FResult), text);
  }

private:
  template <class Pred>
  void pump(Pred satisfied) {
    auto lastProgress = Clock::now();
    FProgress = false;
    while (!satisfied() && !FDone) {
      if (FPaused && FSpillPos >= FSpill.size()) {
        FPaused = false;
        FSpill.clear();
        FSpillPos = 0;
        curl_easy_pause(FEasy, CURLPAUSE_CONT);
        if (satisfied()) break;
      }
      int running = 0;
      curl_multi_perform(FMulti, &running);
      collect_messages();
      if (!FDone && FExpected && FWireBytes >= *FExpected) {
        // The whole announced body is here: the end of the data, whatever the connection does.
        Stop();
        FDone = true;
        FResult = CURLE_OK;
      }
      if (satisfied() || FDone) break;
      const auto now = Clock::now();
      if (FProgress) {
        FProgress = false;
        lastProgress = now;
      } else if (FTimeoutMs > 0 && now - lastProgress > std::chrono::milliseconds(FTimeoutMs)) {
        Stop();
        FDone = true;
        FResult = CURLE_OPERATION_TIMEDOUT;
        std::snprintf(FErrorBuffer, sizeof FErrorBuffer, "No data for %u ms",
                      static_cast<unsigned>(FTimeoutMs));
        break;
      }
      curl_multi_poll(FMulti, nullptr, 0, 100, nullptr);
    }
  }

  void collect_messages() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(FMulti, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
      if (!t) continue;
      const CURLcode result = msg->data.result;
      t->FDone = true;
      t->FResult = result;
      t->Stop();
      if (result == CURLE_OK && t->FExpected && t->FWireBytes < *t->FExpected) {
        t->FResult = CURLE_PARTIAL_FILE;
        std::snprintf(
            t->FErrorBuffer, sizeof t->FErrorBuffer, "The connection closed after %llu of %llu bytes",
            static_cast<unsigned long long>(t->FWireBytes), static_cast<unsigned long long>(*t->FExpected));
      }
      if (t->FHttp && !t->FHeadDone) {
        // A proxy that refused the CONNECT leaves its code here, not in a status line.
        long connectCode = 0;
        curl_easy_getinfo(t->FEasy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (connectCode >= 400 && !t->FSawStatus) {
          t->FStatus = static_cast<std::uint32_t>(connectCode);
          t->FSawStatus = true;
          t->FHeadDone = true;
        }
        if (t->FSawStatus && !t->FHeadDone) t->finish_head();
      }
    }
  }

  static size_t on_write(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->FProgress = true;
    if (t->FCollect) {
      if (t->FCollect->size() + n > t->FCollectLimit) return 0;
      t->FCollect->append(data, n);
      return n;
    }
    if (t->FSpillPos < t->FSpill.size()) {
      t->FPaused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (t->FHttp && t->FSawStatus && !t->FHeadDone) t->finish_head();
    std::size_t len = n;
    if (t->FExpected) {
      // Bytes beyond the announced length are not the body.
      const std::uint64_t room = *t->FExpected - std::min(*t->FExpected, t->FWireBytes);
      if (len > room) len = static_cast<std::size_t>(room);
    }
    t->FWireBytes += len;
    if (t->FSkip > 0) {
      const std::size_t s = static_cast<std::size_t>(std::min<std::uint64_t>(t->FSkip, len));
      t->FSkip -= s;
      data += s;
      len -= s;
    }
    t->FSpill.assign(data, data + len);
    t->FSpillPos = 0;
    t->FBodyBytes += len;
    return n;
  }

  // The head is complete: with the length checked here, learn what it announces.
  void finish_head() {
    FHeadDone = true;
    FExpected.reset();
    // A server that ignored the Range sends the whole body: its first bytes are skipped.
    FSkip = FRangeFrom > 0 && FStatus == 200 ? FRangeFrom : 0;
    if (!FCheckLength || FStatus < 200 || FStatus == 204 || FStatus == 304) return;
    bool chunked = false;
    const std::string* length = nullptr;
    for (const auto& h : FHeaders) {
      if (h.first == "transfer-encoding" && lower_ascii(h.second).find("chunked") != std::string::npos)
        chunked = true;
      if (h.first == "content-length") length = &h.second;
    }
    if (chunked || !length || length->empty()) return;
    for (char c : *length)
      if (c < '0' || c > '9') return;
    FExpected = std::strtoull(length->c_str(), nullptr, 10);
  }

public:
  /// Checks the body against the announced Content-Length here instead of in libcurl, which
  /// would refuse a length that is no number before the caller could learn of it.
  void SetCheckLength(bool v) { FCheckLength = v; }

private:
  static size_t on_header(char* data, size_t, size_t n, void* user) {
    auto* t = static_cast<Transfer*>(user);
    t->FProgress = true;
    if (!t->FHttp) return n;
    std::string_view line(data, n);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
      // A new answer (after a redirect or an interim 1xx): its head replaces the last one.
      t->FHeaders.clear();
      t->FHeadDone = false;
      t->FSawStatus = true;
      const auto sp = line.find(' ');
      t->FStatus = sp == std::string_view::npos
                       ? 0
                       : static_cast<std::uint32_t>(std::atoi(std::string(line.substr(sp + 1, 3)).c_str()));
      return n;
    }
    const std::string text = trim_ascii(line);
    if (text.empty()) {
      if (t->FStatus >= 200) {
        bool redirect = false;
        if (t->FFollowing && (t->FStatus == 301 || t->FStatus == 302 || t->FStatus == 303 ||
                              t->FStatus == 307 || t->FStatus == 308)) {
          for (const auto& h : t->FHeaders)
            if (h.first == "location") redirect = true;
        }
        if (!redirect) t->finish_head();
      }
      return n;
    }
    const auto colon = text.find(':');
    if (colon != std::string::npos)
      t->FHeaders.emplace_back(lower_ascii(trim_ascii(std::string_view(text).substr(0, colon))),
                               trim_ascii(std::string_view(text).substr(colon + 1)));
    return n;
  }

  CURLM* FMulti;
  CURL* FEasy;
  bool FOwnsEasy;
  std::uint32_t FTimeoutMs;
  bool FAdded = false;
  bool FStarted = false;
  bool FDone = false;
  bool FPaused = false;
  bool FProgress = false;
  bool FHttp = false;
  bool FFollowing = false;
  CURLcode FResult = CURLE_OK;
  std::vector<char> FSpill;
  std::size_t FSpillPos = 0;
  std::uint64_t FSkip = 0;
  std::uint64_t FRangeFrom = 0;
  std::uint64_t FBodyBytes = 0;
  std::string* FCollect = nullptr;
  std::size_t FCollectLimit = 0;
  std::uint32_t FStatus = 0;
  bool FSawStatus = false;
  bool FHeadDone = false;
  std::vector<std::pair<std::string, std::string>> FHeaders;
  bool FCheckLength = false;
  std::optional<std::uint64_t> FExpected;
  std::uint64_t FWireBytes = 0;
  curl_slist* FHeaderList = nullptr;
  char FErrorBuffer[CURL_ERROR_SIZE]{};
};

Connection::~Connection() {
  // Children (requests, files) go before the multi handle and the FTP session they use.
  while (!children.empty()) delete children.back();
  if (ftpEasy) curl_easy_cleanup(ftpEasy);
}

// The options every easy handle of a root gets.
void apply_root_options(CURL* easy, const Root& root, bool useProxy) {
  curl_easy_setopt(easy, CURLOPT_USERAGENT, root.agent.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_PROXY, useProxy ? root.proxy.c_str() : "");
  if (useProxy && !root.noProxy.empty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, root.noProxy.c_str());
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Certificates are always verified: the system's store, plus the named extra CA file.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string extra = ca_file();
  if (!extra.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, extra.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
}

// ---------------------------------------------------------------------------------------------

struct Request final : InetObject {
  Request() : InetObject(Kind::Request) {}
  ~Request() override { transfer.reset(); }
  Connection* connection = nullptr;
  std::string verb, url, version;
  std::uint32_t flags = 0;
  std::string extraHeaders;
  std::string body;
  std::string user, password, proxyUser, proxyPassword;
  std::unique_ptr<Transfer> transfer;
  std::uint64_t delivered = 0;  // body bytes handed to the caller since the last send
};

struct UrlHandle final : InetObject {
  UrlHandle() : InetObject(Kind::Url) {}
  ~UrlHandle() override { transfer.reset(); }
  Multi multi;
  std::unique_ptr<Transfer> transfer;
};

struct FtpFind final : InetObject {
  FtpFind() : InetObject(Kind::FtpFind) {}
  std::vector<FtpFindData> entries;
  std::size_t next = 0;
};

struct FtpFile final : InetObject {
  FtpFile() : InetObject(Kind::FtpFile) {}
  ~FtpFile() override {
    if (transfer) {
      transfer.reset();
      if (connection && connection->ftpBusy) connection->ftpBusy = nullptr;
    }
  }
  Connection* connection = nullptr;
  std::string path;  // absolute
  std::uint64_t offset = 0;
  std::unique_ptr<Transfer> transfer;
};

template <class T>
T* as(InetHandle h, InetObject::Kind k) {
  return h && h->kind == k ? static_cast<T*>(h) : nullptr;
}

void set_http_credentials(CURL* easy, const std::string& user, const std::string& password,
                          const std::string& proxyUser, const std::string& proxyPassword) {
  if (!user.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
  } else {
    curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
  }
  if (!proxyUser.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
  } else {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, nullptr);
  }
}

curl_slist* header_list(const std::string& text) {
  curl_slist* list = nullptr;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim_ascii(std::string_view(text).substr(start, end - start));
    if (!line.empty()) list = curl_slist_append(list, line.c_str());
    start = end + 1;
  }
  return list;
}

// Sets up and sends one HTTP transfer of a request, with an optional Range start.
bool send_http(Request& r, std::uint64_t rangeFrom) {
  Root& root = *r.connection->root;
  if (!r.transfer) {
    CURL* easy = curl_easy_init();
    if (!easy) {
      set_error(CURLE_FAILED_INIT, "Cannot make an HTTP handle");
      return false;
    }
    r.transfer = std::make_unique<Transfer>(r.connection->multi.handle, easy, true, root.timeoutMs);
  }
  Transfer& t = *r.transfer;
  t.Stop();
  CURL* easy = t.Easy();
  apply_root_options(easy, root, true);
  curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                   r.version == "HTTP/1.0" ? static_cast<long>(CURL_HTTP_VERSION_1_0)
                                           : static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
  if (r.verb == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (r.verb == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, r.body.c_str());
    if (r.verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
  }
  if (t.HeaderList()) {
    curl_slist_free_all(t.HeaderList());
    t.HeaderList() = nullptr;
  }
  t.HeaderList() = header_list(r.extraHeaders);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.HeaderList());
  const std::string range = rangeFrom > 0 ? std::to_string(rangeFrom) + "-" : std::string();
  curl_easy_setopt(easy, CURLOPT_RANGE, rangeFrom > 0 ? range.c_str() : nullptr);
  set_http_credentials(easy, r.user, r.password, r.proxyUser, r.proxyPassword);
  // An HTTP/1.0 answer ends at its length or at the close; the length is checked here.
  const bool checkLength = r.version == "HTTP/1.0" && r.verb != "HEAD";
  curl_easy_setopt(easy, CURLOPT_IGNORE_CONTENT_LENGTH, checkLength ? 1L : 0L);
  t.SetCheckLength(checkLength);
  t.SetHttp(true);
  t.SetFollowing(true);
  t.SetRangeFrom(rangeFrom);
  r.delivered = 0;
  if (!t.Start()) return false;
  t.WaitHead();
  if (!t.SawStatus()) {
    t.report_failure();
    return false;
  }
  return true;
}

// The FTP session of a connection: one easy handle kept for the connection's life, so libcurl
// keeps its control connection between searches, directory changes and downloads.
CURL* ftp_easy(Connection& c) {
  if (!c.ftpEasy) c.ftpEasy = curl_easy_init();
  return c.ftpEasy;
}

std::string ftp_url(const Connection& c, const std::string& absolutePath) {
  // "%2F" makes the path absolute instead of relative to the login directory (RFC 1738 3.2.2).
  std::string rest = absolutePath;
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  return "ftp://" + host_for_url(c.host) + ":" + std::to_string(c.port) + "/%2F" + encode_ftp_path(rest);
}

void prepare_ftp(Connection& c, CURL* easy, const std::string& url) {
  apply_root_options(easy, *c.root, false);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
  curl_easy_setopt(easy, CURLOPT_USERNAME, c.user.empty() ? "anonymous" : c.user.c_str());
  curl_easy_setopt(easy, CURLOPT_PASSWORD, c.user.empty() ? "qninet@" : c.password.c_str());
  curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
  curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L);
  curl_easy_setopt(easy, CURLOPT_FTP_USE_EPSV, 1L);
}

// Runs one FTP command sequence to its end on the connection's session.
bool ftp_run(Connection& c, const std::string& url, bool nobody, const char* custom, std::string* collect) {
  if (c.ftpBusy) {
    set_error(0, "An FTP transfer is in progress on this connection");
    return false;
  }
  CURL* easy = ftp_easy(c);
  if (!easy) return false;
  prepare_ftp(c, easy, url);
  curl_easy_setopt(easy, CURLOPT_NOBODY, nobody ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, custom);
  Transfer t(c.multi.handle, easy, false, c.root->timeoutMs);
  if (!t.Start(collect, 64u * 1024 * 1024)) return false;
  t.WaitDone();
  if (t.Result() != CURLE_OK) {
    t.report_failure();
    return false;
  }
  return true;
}

std::string resolve_ftp_path(const std::string& current, const std::string& path) {
  std::string full = !path.empty() && path.front() == '/' ? path : current + "/" + path;
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

bool wildcard_match(std::string_view pattern, std::string_view name) {
  // Iterative glob with backtracking to the last '*'.
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// "YYYYMMDDHHMMSS[.sss]" in UTC (RFC 3659 2.3) to a file time.
bool parse_mlsd_time(const std::string& text, TFileTime& out) {
  if (text.size() < 14) return false;
  for (int i = 0; i < 14; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  std::tm tm{};
  tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(text.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(text.substr(6, 2));
  tm.tm_hour = std::stoi(text.substr(8, 2));
  tm.tm_min = std::stoi(text.substr(10, 2));
  tm.tm_sec = std::stoi(text.substr(12, 2));
  const std::time_t secs = timegm(&tm);
  std::int64_t ns = 0;
  if (text.size() > 15 && text[14] == '.') {
    std::string frac = text.substr(15, 9);
    while (frac.size() < 9) frac.push_back('0');
    ns = std::atoll(frac.c_str());
  }
  out = UnixToFileTime(secs, ns);
  return true;
}

}  // namespace

bool ftp_wildcard_match(const String& pattern, const String& name) {
  std::string p = ToUtf8(pattern);
  if (p == "*.*") p = "*";
  return wildcard_match(p, ToUtf8(name));
}

bool parse_mlsd_line(const std::string& raw, FtpFindData& data) {
  const std::string line = trim_ascii(raw);
  const auto space = line.find(' ');
  if (space == std::string::npos) return false;
  const std::string facts = line.substr(0, space);
  const std::string name = line.substr(space + 1);
  if (name.empty()) return false;
  data = FtpFindData{};
  data.Name = FromUtf8(name);
  data.Attributes = kFileAttributeNormal;
  std::size_t start = 0;
  while (start < facts.size()) {
    std::size_t end = facts.find(';', start);
    if (end == std::string::npos) end = facts.size();
    const std::string fact = facts.substr(start, end - start);
    const auto eq = fact.find('=');
    if (eq != std::string::npos) {
      const std::string key = lower_ascii(fact.substr(0, eq));
      const std::string value = fact.substr(eq + 1);
      if (key == "type") {
        const std::string v = lower_ascii(value);
        if (v == "cdir" || v == "pdir") return false;  // the listed folder and its parent
        if (v == "dir") data.Attributes = kFileAttributeDirectory;
      } else if (key == "size" || key == "sizd") {
        data.Size = std::strtoull(value.c_str(), nullptr, 10);
      } else if (key == "modify") {
        parse_mlsd_time(value, data.LastWriteTime);
      }
    }
    start = end + 1;
  }
  return true;
}

bool parse_list_line(const std::string& raw, FtpFindData& data, int currentYear) {
  // "drwxr-xr-x 2 owner group 4096 Jan  1 12:00 name" or "... Jan  1  2023 name".
  const std::string line = trim_ascii(raw);
  if (line.size() < 10 || std::strchr("-dl", line[0]) == nullptr) return false;
  std::vector<std::string> fields;
  std::size_t pos = 0;
  for (int i = 0; i < 8 && pos < line.size(); ++i) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    std::size_t end = line.find(' ', pos);
    if (end == std::string::npos) return false;
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  while (pos < line.size() && line[pos] == ' ') ++pos;
  if (fields.size() != 8 || pos >= line.size()) return false;
  std::string name = line.substr(pos);
  if (line[0] == 'l') {
    const auto arrow = name.find(" -> ");
    if (arrow != std::string::npos) name.erase(arrow);
  }
  if (name == "." || name == "..") return false;
  static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  int month = -1;
  for (int m = 0; m < 12; ++m)
    if (lower_ascii(fields[5]) == months[m]) month = m;
  if (month < 0) return false;
  data = FtpFindData{};
  data.Name = FromUtf8(name);
  data.Attributes = line[0] == 'd' ? kFileAttributeDirectory : kFileAttributeNormal;
  data.Size = std::strtoull(fields[4].c_str(), nullptr, 10);
  std::tm tm{};
  tm.tm_mon = month;
  tm.tm_mday = std::atoi(fields[6].c_str());
  const std::string& t = fields[7];
  if (t.find(':') != std::string::npos) {
    tm.tm_year = currentYear - 1900;
    tm.tm_hour = std::atoi(t.c_str());
    tm.tm_min = std::atoi(t.c_str() + t.find(':') + 1);
    // Without a year the date lies within the last six months: a "future" date is last year's.
    if (timegm(&tm) > std::time(nullptr) + 86400) tm.tm_year -= 1;
  } else {
    tm.tm_year = std::atoi(t.c_str()) - 1900;
  }
  data.LastWriteTime = UnixToFileTime(timegm(&tm));
  return true;
}

// ---------------------------------------------------------------------------------------------

InetHandle inet_open(const String& agent, const String& proxy, std::uint32_t timeoutMs) {
  try {
    global_init();
    auto root = std::make_unique<Root>();
    root->agent = ToUtf8(agent);
    root->timeoutMs = timeoutMs;
    if (!proxy.empty()) {
      root->proxy = ToUtf8(proxy);
    } else {
      const ProxySetting setting = proxy_setting();
      if (setting.Enabled.value_or(false) && setting.Server && !setting.Server->empty())
        root->proxy = ToUtf8(*setting.Server);
      for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
          root->noProxy = v;
          break;
        }
      }
    }
    set_error(0, "");
    return root.release();
  } catch (...) {
    set_error(0, "Out of memory");
    return nullptr;
  }
}

InetHandle inet_connect(InetHandle rootHandle, const String& host, std::uint16_t port, const String& user,
                        const String& password, InetService service) {
  try {
    Root* root = as<Root>(rootHandle, InetObject::Kind::Root);
    if (!root || host.empty()) {
      set_error(0, root ? "No host" : "Not a root handle");
      return nullptr;
    }
    auto c = std::make_unique<Connection>();
    c->root = root;
    c->host = ToUtf8(host);
    c->port = port;
    c->user = ToUtf8(user);
    c->password = ToUtf8(password);
    c->service = service;
    if (!c->multi.handle) return nullptr;
    if (service == InetService::Ftp) {
      // Log in now, as the caller expects a connection handle to stand for a session.
      if (!ftp_run(*c, ftp_url(*c, "/"), true, nullptr, nullptr)) {
        // Without "%2F" support some servers refuse "CWD /"; the login itself is what counts.
        if (tl_error != CURLE_REMOTE_ACCESS_DENIED) return nullptr;
      }
      char* entry = nullptr;
      if (curl_easy_getinfo(c->ftpEasy, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry &&
          *entry == '/')
        c->ftpDirectory = entry;
    }
    Connection* raw = c.release();
    root->adopt(raw);
    return raw;
  } catch (...) {
    set_error(0, "Out of memory");
    return nullptr;
  }
}

InetHandle http_open_request(InetHandle connection, const String& verb, const String& object,
                             const String& version, std::uint32_t flags) {
  try {
    Connection* c = as<Connection>(connection, InetObject::Kind::Connection);
    if (!c || c->service != InetService::Http) {
      set_error(0, "Not an HTTP connection");
      return nullptr;
    }
    auto r = std::make_unique<Request>();
    r->connection = c;
    r->verb = verb.empty() ? "GET" : ToUtf8(verb);
    r->version = ToUtf8(version);
    r->flags = flags;
    std::string path = ToUtf8(object);
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    const bool secure = (flags & inetFlagSecure) != 0;
    r->url = std::string(secure ? "https://" : "http://") + host_for_url(c->host) + ":" +
             std::to_string(c->port) + encode_path(path);
    r->user = c->user;
    r->password = c->password;
    r->proxyUser = c->proxyUser;
    r->proxyPassword = c->proxyPassword;
    Request* raw = r.release();
    c->adopt(raw);
    return raw;
  } catch (...) {
    set_error(0, "Out of memory");
    return nullptr;
  }
}

bool http_send_request(InetHandle request, const String& headers, const void* body, std::size_t length) {
  try {
    Request* r = as<Request>(request, InetObject::Kind::Request);
    if (!r) return false;
    r->extraHeaders = ToBytes(headers);
    r->body.assign(static_cast<const char*>(body ? body : ""), body ? length : 0);
    return send_http(*r, 0);
  } catch (...) {
    return false;
  }
}

bool http_query_status_code(InetHandle request, std::uint32_t& code) {
  Request* r = as<Request>(request, InetObject::Kind::Request);
  if (!r || !r->transfer || !r->transfer->SawStatus()) return false;
  code = r->transfer->Status();
  return true;
}

bool http_query_header(InetHandle request, const String& name, String& value) {
  Request* r = as<Request>(request, InetObject::Kind::Request);
  Transfer* t = r ? r->transfer.get() : nullptr;
  if (!t) {
    if (auto* u = as<UrlHandle>(request, InetObject::Kind::Url)) t = u->transfer.get();
  }
  if (!t || !t->SawStatus()) return false;
  const std::string key = lower_ascii(ToUtf8(name));
  for (auto it = t->Headers().rbegin(); it != t->Headers().rend(); ++it) {
    if (it->first == key) {
      value = FromBytes(it->second);
      return true;
    }
  }
  return false;
}

bool http_query_content_length(InetHandle request, String& text) {
  return http_query_header(request, u"Content-Length", text);
}

bool http_query_last_modified(InetHandle request, TFileTime& time) {
  String text;
  if (!http_query_header(request, u"Last-Modified", text)) return false;
  const time_t secs = curl_getdate(ToBytes(text).c_str(), nullptr);
  if (secs < 0) return false;
  time = UnixToFileTime(secs);
  return true;
}

bool inet_set_credential(InetHandle handle, InetCredential which, const String& value) {
  std::string* slot = nullptr;
  if (Request* r = as<Request>(handle, InetObject::Kind::Request)) {
    switch (which) {
      case InetCredential::UserName:
        slot = &r->user;
        break;
      case InetCredential::Password:
        slot = &r->password;
        break;
      case InetCredential::ProxyUserName:
        slot = &r->proxyUser;
        break;
      case InetCredential::ProxyPassword:
        slot = &r->proxyPassword;
        break;
    }
  } else if (Connection* c = as<Connection>(handle, InetObject::Kind::Connection)) {
    switch (which) {
      case InetCredential::UserName:
        slot = &c->user;
        break;
      case InetCredential::Password:
        slot = &c->password;
        break;
      case InetCredential::ProxyUserName:
        slot = &c->proxyUser;
        break;
      case InetCredential::ProxyPassword:
        slot = &c->proxyPassword;
        break;
    }
  }
  if (!slot) return false;
  *slot = ToUtf8(value);
  return true;
}

namespace {

bool start_ftp_file(FtpFile& f) {
  Connection& c = *f.connection;
  if (c.ftpBusy && c.ftpBusy != f.transfer.get()) {
    set_error(0, "An FTP transfer is in progress on this connection");
    return false;
  }
  CURL* easy = ftp_easy(c);
  if (!easy) return false;
  if (!f.transfer) f.transfer = std::make_unique<Transfer>(c.multi.handle, easy, false, c.root->timeoutMs);
  f.transfer->Stop();
  prepare_ftp(c, easy, ftp_url(c, f.path));
  // REST before RETR (RFC 3659 5) continues a partial download.
  curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(f.offset));
  c.ftpBusy = f.transfer.get();
  return f.transfer->Start();
}

}  // namespace

bool inet_read(InetHandle handle, void* buffer, std::size_t size, std::size_t& read) {
  read = 0;
  try {
    Transfer* t = nullptr;
    if (Request* r = as<Request>(handle, InetObject::Kind::Request)) {
      t = r->transfer.get();
      if (!t || !t->Started()) return false;
      const bool ok = t->Read(static_cast<char*>(buffer), size, read);
      r->delivered += read;
      return ok;
    }
    if (UrlHandle* u = as<UrlHandle>(handle, InetObject::Kind::Url)) {
      t = u->transfer.get();
    } else if (FtpFile* f = as<FtpFile>(handle, InetObject::Kind::FtpFile)) {
      if (!f->transfer || !f->transfer->Started())
        if (!start_ftp_file(*f)) return false;
      t = f->transfer.get();
      const bool ok = t->Read(static_cast<char*>(buffer), size, read);
      if (t->Done() && f->connection->ftpBusy == t) f->connection->ftpBusy = nullptr;
      return ok;
    }
    if (!t) return false;
    return t->Read(static_cast<char*>(buffer), size, read);
  } catch (...) {
    return false;
  }
}

bool inet_set_read_position(InetHandle handle, std::uint64_t offset) {
  try {
    if (Request* r = as<Request>(handle, InetObject::Kind::Request)) {
      if (!r->transfer || !r->transfer->Started()) return false;
      if (offset == r->delivered) return true;
      // A Range request (RFC 9110 14.2) for the rest; a server that ignores it sends the
      // whole body again, and the bytes before the offset are skipped.
      if (!send_http(*r, offset)) return false;
      Transfer& t = *r->transfer;
      if (t.Status() == 206) {
        String range;
        if (!http_query_header(handle, u"Content-Range", range)) return false;
        const std::string text = ToBytes(range);
        const auto sp = text.find(' ');
        const std::uint64_t start =
            std::strtoull(text.c_str() + (sp == std::string::npos ? 0 : sp + 1), nullptr, 10);
        if (start != offset) {
          set_error(0, "The server sent another range");
          return false;
        }
      } else if (t.Status() != 200) {
        set_error(0, "The server refused the range");
        return false;
      }
      r->delivered = offset;
      return true;
    }
    if (FtpFile* f = as<FtpFile>(handle, InetObject::Kind::FtpFile)) {
      f->offset = offset;
      if (f->transfer && f->transfer->Started()) return start_ftp_file(*f);
      return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

InetHandle inet_open_url(InetHandle rootHandle, const String& url, const String& headers, std::uint32_t) {
  try {
    Root* root = as<Root>(rootHandle, InetObject::Kind::Root);
    if (!root) return nullptr;
    auto u = std::make_unique<UrlHandle>();
    CURL* easy = curl_easy_init();
    if (!easy || !u->multi.handle) {
      if (easy) curl_easy_cleanup(easy);
      return nullptr;
    }
    u->transfer = std::make_unique<Transfer>(u->multi.handle, easy, true, root->timeoutMs);
    const std::string text = ToUtf8(url);
    const bool ftp = lower_ascii(text.substr(0, 6)) == "ftp://";
    apply_root_options(easy, *root, !ftp);
    curl_easy_setopt(easy, CURLOPT_URL, text.c_str());
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    u->transfer->HeaderList() = header_list(ToBytes(headers));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, u->transfer->HeaderList());
    u->transfer->SetHttp(!ftp);
    u->transfer->SetFollowing(true);
    if (!u->transfer->Start()) return nullptr;
    u->transfer->WaitHead();
    if (u->transfer->Done() && u->transfer->Result() != CURLE_OK && !u->transfer->SawStatus()) {
      u->transfer->report_failure();
      return nullptr;
    }
    UrlHandle* raw = u.release();
    root->adopt(raw);
    return raw;
  } catch (...) {
    return nullptr;
  }
}

InetHandle ftp_find_first(InetHandle connection, const String& pattern, FtpFindData& data) {
  try {
    Connection* c = as<Connection>(connection, InetObject::Kind::Connection);
    if (!c || c->service != InetService::Ftp) return nullptr;
    const std::string text = ToUtf8(pattern);
    const auto slash = text.rfind('/');
    std::string dir = slash == std::string::npos
                          ? c->ftpDirectory
                          : resolve_ftp_path(c->ftpDirectory, text.substr(0, slash + 1));
    std::string mask = slash == std::string::npos ? text : text.substr(slash + 1);
    if (mask.empty()) mask = "*";
    if (mask == "*.*") mask = "*";
    std::string listing;
    std::string url = ftp_url(*c, dir);
    if (url.back() != '/') url.push_back('/');
    std::vector<FtpFindData> entries;
    if (ftp_run(*c, url, false, "MLSD", &listing)) {
      std::size_t start = 0;
      while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        FtpFindData d;
        if (parse_mlsd_line(listing.substr(start, end - start), d)) entries.push_back(d);
        start = end + 1;
      }
    } else {
      listing.clear();
      if (!ftp_run(*c, url, false, nullptr, &listing)) return nullptr;
      std::time_t now = std::time(nullptr);
      std::tm tm{};
      gmtime_r(&now, &tm);
      std::size_t start = 0;
      while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        FtpFindData d;
        if (parse_list_line(listing.substr(start, end - start), d, tm.tm_year + 1900)) entries.push_back(d);
        start = end + 1;
      }
    }
    auto find = std::make_unique<FtpFind>();
    for (auto& e : entries)
      if (wildcard_match(mask, ToUtf8(e.Name))) find->entries.push_back(std::move(e));
    if (find->entries.empty()) {
      set_error(CURLE_REMOTE_FILE_NOT_FOUND, "No file matches " + text);
      return nullptr;
    }
    data = find->entries[0];
    find->next = 1;
    FtpFind* raw = find.release();
    c->adopt(raw);
    return raw;
  } catch (...) {
    return nullptr;
  }
}

bool inet_find_next(InetHandle handle, FtpFindData& data) {
  FtpFind* f = as<FtpFind>(handle, InetObject::Kind::FtpFind);
  if (!f || f->next >= f->entries.size()) return false;
  data = f->entries[f->next++];
  return true;
}

bool ftp_get_current_directory(InetHandle connection, String& directory) {
  Connection* c = as<Connection>(connection, InetObject::Kind::Connection);
  if (!c || c->service != InetService::Ftp) return false;
  directory = FromUtf8(c->ftpDirectory);
  return true;
}

bool ftp_set_current_directory(InetHandle connection, const String& directory) {
  try {
    Connection* c = as<Connection>(connection, InetObject::Kind::Connection);
    if (!c || c->service != InetService::Ftp) return false;
    const std::string target = resolve_ftp_path(c->ftpDirectory, ToUtf8(directory));
    std::string url = ftp_url(*c, target);
    if (url.back() != '/') url.push_back('/');
    if (!ftp_run(*c, url, true, nullptr, nullptr)) return false;
    c->ftpDirectory = target;
    return true;
  } catch (...) {
    return false;
  }
}

InetHandle ftp_open_file(InetHandle connection, const String& path, std::uint32_t) {
  try {
    Connection* c = as<Connection>(connection, InetObject::Kind::Connection);
    if (!c || c->service != InetService::Ftp || c->ftpBusy) return nullptr;
    auto f = std::make_unique<FtpFile>();
    f->connection = c;
    f->path = resolve_ftp_path(c->ftpDirectory, ToUtf8(path));
    FtpFile* raw = f.release();
    c->adopt(raw);
    return raw;
  } catch (...) {
    return nullptr;
  }
}

bool inet_close(InetHandle handle) {
  if (!handle) return false;
  delete handle;
  return true;
}

int inet_last_error() { return tl_error; }
String inet_last_error_text() { return tl_error_text; }

bool copy_file_permissions(const std::string& from, const std::string& to) {
  struct stat st {};
  mode_t mode;
  if (::stat(from.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("Umask:", 0) == 0)
        mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    mode = 0666 & ~mask;
  }
  return ::chmod(to.c_str(), mode) == 0;
}

}  // namespace qninet::sys
