#include "qninet/sys/CurlTransfer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

namespace qninet::sys {
namespace {

using Clock = std::chrono::steady_clock;

// A head this large is no answer worth waiting for.
constexpr std::size_t kMaxHeadBytes = 256 * 1024;

// What the transfer holds for the caller before it pauses libcurl: a few receive buffers, so
// one drive of the multi handle drains the socket and the caller's small reads seldom pause
// and resume the transfer (each pause makes libcurl copy a chunk aside and stops the reading).
constexpr std::size_t kSpillLimit = 4 * kInetReceiveBuffer;

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool is_redirect(std::uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

CurlMulti::CurlMulti() {
  global_init();
  Handle = curl_multi_init();
}

CurlMulti::~CurlMulti() {
  if (Handle) curl_multi_cleanup(Handle);
}

namespace {

std::atomic<TransferTrace> g_trace{nullptr};

int on_debug(CURL*, curl_infotype type, char* data, size_t size, void*) {
  const TransferTrace trace = g_trace.load();
  const char kind = type == CURLINFO_TEXT         ? '*'
                    : type == CURLINFO_HEADER_OUT ? '>'
                    : type == CURLINFO_HEADER_IN  ? '<'
                                                  : 0;
  if (trace && kind) trace(kind, data, size);
  return 0;
}

}  // namespace

void set_transfer_trace(TransferTrace trace) { g_trace = trace; }

void apply_common_options(CURL* easy, const InetOptions& options, bool useProxy) {
  if (g_trace.load()) {
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &on_debug);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  }
  curl_easy_setopt(easy, CURLOPT_USERAGENT, options.Agent.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (!useProxy) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
  } else if (!options.ProxyHost.empty()) {
    const bool v6 = options.ProxyHost.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + options.ProxyHost + "]" : options.ProxyHost;
    curl_easy_setopt(easy, CURLOPT_PROXY, host.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPORT, static_cast<long>(options.ProxyPort));
  }
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Certificates are always verified: the system's store, plus the named extra CA file.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  std::string extra = options.CaFile;
  if (extra.empty()) {
    const char* env = std::getenv("QNINET_CA_FILE");
    if (env) extra = env;
  }
  if (!extra.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, extra.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
}

// ---------------------------------------------------------------------------------------------

CurlTransfer::CurlTransfer(CURLM* multi, CURL* easy, const InetOptions& options)
    : FMulti(multi),
      FEasy(easy),
      FTimeoutMs(options.TimeoutMs),
      FDeadline(options.Deadline),
      FCancel(options.Cancel) {}

CurlTransfer::~CurlTransfer() {
  Stop();
  if (FHeaderList) curl_slist_free_all(FHeaderList);
}

void CurlTransfer::SetHttp(bool follow, std::uint64_t rangeFrom, bool checkLength) {
  FHttp = true;
  FFollowing = follow;
  FRangeFrom = rangeFrom;
  FCheckLength = checkLength;
}

Status CurlTransfer::Start(std::string* collect, std::size_t collectLimit) {
  Stop();
  FDone = false;
  FResult = CURLE_OK;
  FErrorText.clear();
  FPaused = false;
  FSpill.clear();
  FSpillPos = 0;
  FCollect = collect;
  FCollectLimit = collectLimit;
  FStatus = 0;
  FHeaders.clear();
  FHeadDone = false;
  FChallenged = false;
  FSawStatus = false;
  FHeadBytes = 0;
  FExpected.reset();
  FWireBytes = 0;
  FSkip = 0;
  FErrorBuffer[0] = 0;
  curl_easy_setopt(FEasy, CURLOPT_WRITEFUNCTION, &CurlTransfer::on_write);
  curl_easy_setopt(FEasy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(FEasy, CURLOPT_HEADERFUNCTION, &CurlTransfer::on_header);
  curl_easy_setopt(FEasy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(FEasy, CURLOPT_PRIVATE, this);
  curl_easy_setopt(FEasy, CURLOPT_ERRORBUFFER, FErrorBuffer);
  curl_easy_setopt(FEasy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(FEasy, CURLOPT_BUFFERSIZE, static_cast<long>(kInetReceiveBuffer));
  curl_easy_setopt(FEasy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FTimeoutMs));
  if (FTimeoutMs > 0)
    curl_easy_setopt(FEasy, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>((FTimeoutMs + 999) / 1000));
  const CURLMcode rc = curl_multi_add_handle(FMulti, FEasy);
  if (rc != CURLM_OK) {
    FDone = true;
    FResult = CURLE_FAILED_INIT;
    FErrorText = curl_multi_strerror(rc);
    return Failed();
  }
  FAdded = true;
  FStarted = true;
  return {};
}

void CurlTransfer::Stop() {
  if (FAdded) {
    curl_multi_remove_handle(FMulti, FEasy);
    FAdded = false;
  }
}

void CurlTransfer::fail(CURLcode code, std::string text) {
  Stop();
  FDone = true;
  FResult = code;
  FErrorText = std::move(text);
}

// libcurl's codes and texts in the one vocabulary of every transfer; the one place they are
// read, so a cut body or a refused connect reads the same whichever request met it.
Failure CurlTransfer::Failed() const {
  if (FResult == CURLE_ABORTED_BY_CALLBACK && FErrorText == "Cancelled")
    return failure_of(FResult, FErrorText);
  const std::string own = !FErrorText.empty() ? FErrorText : FErrorBuffer;
  std::string text;
  switch (FResult) {
    case CURLE_COULDNT_CONNECT: {
      long os = 0;
      curl_easy_getinfo(FEasy, CURLINFO_OS_ERRNO, &os);
      text = os == 0 || os == ECONNREFUSED
                 ? std::string(kConnectionRefused)
                 : std::system_category().message(static_cast<int>(os));  // thread-safe
      break;
    }
    case CURLE_OPERATION_TIMEDOUT:
      // Our own waits say which one ended; libcurl's connect time-out is the connect.
      if (!FErrorText.empty()) {
        text = FErrorText;
      } else {
        // libcurl's connect phase includes a greeting (FTP): a peer that took the connection
        // and said nothing is a wait for data, not a connect.
        curl_off_t connected = 0;
        curl_easy_getinfo(FEasy, CURLINFO_CONNECT_TIME_T, &connected);
        text = connected > 0 ? waiting_for_data_text(FTimeoutMs) : std::string(kConnectionTimedOut);
      }
      break;
    case CURLE_PARTIAL_FILE: {
      curl_off_t got = 0, expected = -1;
      curl_easy_getinfo(FEasy, CURLINFO_SIZE_DOWNLOAD_T, &got);
      curl_easy_getinfo(FEasy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
      if (FExpected) {
        got = static_cast<curl_off_t>(FWireBytes);
        expected = static_cast<curl_off_t>(*FExpected);
      }
      text = closed_early_text(static_cast<std::uint64_t>(got),
                               expected > 0 ? static_cast<std::uint64_t>(expected) : 0);
      break;
    }
    case CURLE_PEER_FAILED_VERIFICATION: {
      constexpr std::string_view prefix = "SSL certificate problem: ";
      text = certificate_text(own.starts_with(prefix) ? own.substr(prefix.size()) : own);
      break;
    }
    default:
      text = !own.empty() ? own : curl_easy_strerror(FResult);
  }
  return failure_of(static_cast<int>(FResult), FEndpoint.empty() ? text : at_endpoint(FEndpoint, text));
}

Status CurlTransfer::WaitHead() {
  pump([this] { return FHeadDone || FSpillPos < FSpill.size(); }, true);
  if (FHeadDone) return {};
  if (FDone && FResult == CURLE_OK)
    fail(CURLE_WEIRD_SERVER_REPLY, FSawStatus ? "The server closed the connection inside the answer's head"
                                              : "The server closed the connection without an answer");
  return Failed();
}

Status CurlTransfer::WaitDone() {
  pump([] { return false; }, false);
  if (FResult != CURLE_OK) return Failed();
  return {};
}

Result<std::size_t> CurlTransfer::Read(char* buffer, std::size_t size) {
  // A cancel ends the transfer before the next block, even when bytes for it are waiting here.
  if (FCancel && FCancel->load() && (FSpillPos < FSpill.size() || !FDone)) {
    FSpill.clear();
    FSpillPos = 0;
    fail(CURLE_ABORTED_BY_CALLBACK, "Cancelled");
    return Failed();
  }
  std::size_t read = 0;
  while (read < size) {
    if (FSpillPos >= FSpill.size()) pump([this] { return FSpillPos < FSpill.size(); }, false);
    if (FSpillPos >= FSpill.size()) break;
    const std::size_t n = std::min(size - read, FSpill.size() - FSpillPos);
    std::memcpy(buffer + read, FSpill.data() + FSpillPos, n);
    FSpillPos += n;
    read += n;
  }
  if (read < size && FDone && FResult != CURLE_OK) return Failed();
  return read;
}

template <class Pred>
void CurlTransfer::pump(Pred satisfied, bool headDeadline) {
  const auto start = Clock::now();
  auto lastProgress = start;
  const auto limit = std::chrono::milliseconds(FTimeoutMs);
  FProgress = false;
  while (!satisfied() && !FDone) {
    if (FCancel && FCancel->load()) {
      fail(CURLE_ABORTED_BY_CALLBACK, "Cancelled");
      break;
    }
    // Checked before every wait, so a peer that stalls, never answers or never takes what is
    // sent cannot hold the caller past it.
    if (FDeadline && Clock::now() >= *FDeadline) {
      fail(CURLE_OPERATION_TIMEDOUT, "Connection timed out (the time limit is up)");
      break;
    }
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
    } else if (FTimeoutMs > 0 && now - lastProgress > limit) {
      // Before the connect completed this is the connect's time-out, after it a silent peer.
      curl_off_t connected = 0;
      curl_easy_getinfo(FEasy, CURLINFO_CONNECT_TIME_T, &connected);
      fail(CURLE_OPERATION_TIMEDOUT,
           connected > 0 ? waiting_for_data_text(FTimeoutMs) : std::string(kConnectionTimedOut));
      break;
    }
    // A head that trickles in never stalls; it still has to be complete within the time-out.
    if (headDeadline && FTimeoutMs > 0 && now - start > limit) {
      fail(CURLE_OPERATION_TIMEDOUT, whole_answer_text(FTimeoutMs));
      break;
    }
    int waitMs = 100;
    if (FDeadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*FDeadline - now).count();
      waitMs = static_cast<int>(std::clamp<long long>(left + 1, 1, waitMs));
    }
    curl_multi_poll(FMulti, nullptr, 0, waitMs, nullptr);
  }
}

void CurlTransfer::collect_messages() {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(FMulti, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    CurlTransfer* t = nullptr;
    curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
    if (!t) continue;
    t->FDone = true;
    t->FResult = msg->data.result;
    t->Stop();
    if (t->FChallenged && !t->FHeadDone) t->finish_head();  // a challenge nobody answered
    if (t->FResult == CURLE_OK && t->FExpected && t->FWireBytes < *t->FExpected) {
      t->FResult = CURLE_PARTIAL_FILE;
    }
    if (t->FHttp && !t->FHeadDone && !t->FSawStatus) {
      // A proxy that refused the CONNECT leaves its code here, not in a status line.
      long connectCode = 0;
      curl_easy_getinfo(t->FEasy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
      if (connectCode >= 400) {
        t->FStatus = static_cast<std::uint32_t>(connectCode);
        t->FSawStatus = true;
        t->FHeadDone = true;
      }
    }
  }
}

size_t CurlTransfer::on_write(char* data, size_t, size_t n, void* user) {
  auto* t = static_cast<CurlTransfer*>(user);
  t->FProgress = true;
  if (t->FCollect) {
    if (t->FCollect->size() + n > t->FCollectLimit) {
      t->FErrorText = too_large_text(t->FCollectLimit);
      return 0;
    }
    t->FCollect->append(data, n);
    return n;
  }
  // Read bytes are dropped only when all are read, so nothing is ever moved inside the spill.
  if (t->FSpillPos >= t->FSpill.size()) {
    t->FSpill.clear();
    t->FSpillPos = 0;
  } else if (t->FSpill.size() + n > kSpillLimit) {
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
    const auto s = static_cast<std::size_t>(std::min<std::uint64_t>(t->FSkip, len));
    t->FSkip -= s;
    data += s;
    len -= s;
  }
  if (t->FSpill.capacity() < kSpillLimit) t->FSpill.reserve(kSpillLimit);
  t->FSpill.insert(t->FSpill.end(), data, data + len);
  return n;
}

// The head is complete: learn what it announces.
void CurlTransfer::finish_head() {
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

size_t CurlTransfer::on_header(char* data, size_t, size_t n, void* user) {
  auto* t = static_cast<CurlTransfer*>(user);
  t->FProgress = true;
  if (!t->FHttp) return n;
  t->FHeadBytes += n;
  if (t->FHeadBytes > kMaxHeadBytes) {
    t->FErrorText = "The answer's head is larger than " + std::to_string(kMaxHeadBytes / 1024) + " KiB";
    return 0;
  }
  std::string_view line(data, n);
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    // A new answer (after a redirect or an interim 1xx): its head replaces the last one.
    t->FHeaders.clear();
    t->FHeadDone = false;
    t->FChallenged = false;
    t->FSawStatus = true;
    const auto sp = line.find(' ');
    t->FStatus = sp == std::string_view::npos
                     ? 0
                     : static_cast<std::uint32_t>(std::atoi(std::string(line.substr(sp + 1, 3)).c_str()));
    return n;
  }
  const std::string text = std::string(trim_ascii(line));
  if (text.empty()) {
    if (t->FSawStatus && t->FStatus >= 200) {
      bool redirect = false;
      if (t->FFollowing && is_redirect(t->FStatus))
        for (const auto& h : t->FHeaders)
          if (h.first == "location") redirect = true;
      // libcurl may answer a challenge with a new request; the challenge is the final answer
      // only once its body comes or the transfer ends (see on_write, collect_messages).
      if (t->FStatus == 401 || t->FStatus == 407)
        t->FChallenged = true;
      else if (!redirect)
        t->finish_head();
    }
    return n;
  }
  const auto colon = text.find(':');
  if (colon != std::string::npos)
    t->FHeaders.emplace_back(lower_ascii(trim_ascii(std::string_view(text).substr(0, colon))),
                             std::string(trim_ascii(std::string_view(text).substr(colon + 1))));
  return n;
}

}  // namespace qninet::sys
