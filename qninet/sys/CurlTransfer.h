#pragma once
// The pump under every transfer of this layer (internal to it): one easy handle in a multi
// handle, driven on the caller's thread. When the caller wants bytes and none are waiting, the
// transfer is unpaused and the multi handle driven until libcurl hands over data; the write
// callback keeps up to a few receive buffers of it and pauses the transfer only when a chunk
// would not fit, until the caller has read them all.

#include <curl/curl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/FailureText.h"
#include "qninet/sys/InetClient.h"

namespace qninet::sys {

/// A multi handle: it owns the connection pool of the transfers that use it.
struct CurlMulti {
  CurlMulti();
  ~CurlMulti();
  CurlMulti(const CurlMulti&) = delete;
  CurlMulti& operator=(const CurlMulti&) = delete;
  CURLM* Handle = nullptr;
};

/// The options every easy handle gets: agent, protocols, proxy (HTTP only), certificates, and
/// the trace when one is set.
void apply_common_options(CURL* easy, const InetOptions& options, bool useProxy);

/// Receives libcurl's account of every transfer: `kind` '*' for its notes, '>' for the headers
/// (or FTP commands) sent, '<' for those received. nullptr (the default) traces nothing.
using TransferTrace = void (*)(char kind, const char* data, std::size_t size);
void set_transfer_trace(TransferTrace trace);

class CurlTransfer {
public:
  CurlTransfer(CURLM* multi, CURL* easy, const InetOptions& options);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  /// Names the peer in failures ("host:port", "[v6]:port").
  void SetEndpoint(std::string endpoint) { FEndpoint = std::move(endpoint); }

  /// Sets the callbacks and starts (the caller set the other options before). With `collect`
  /// the whole body goes there, up to `collectLimit` bytes.
  Status Start(std::string* collect = nullptr, std::size_t collectLimit = 0);
  /// Takes the easy handle out of the multi handle; an unfinished transfer's connection closes.
  void Stop();

  /// HTTP: parse status lines and headers; `rangeFrom` is the offset a Range asked for;
  /// `checkLength` checks the body against Content-Length here (libcurl would refuse a length
  /// that is no number before the caller could learn of it).
  void SetHttp(bool follow, std::uint64_t rangeFrom, bool checkLength);

  /// Drives the transfer until the whole head of the final answer arrived (within the
  /// time-out) or it ended; a failure when no complete head came.
  Status WaitHead();
  /// Drives the transfer to its end.
  Status WaitDone();
  /// Fills the buffer with body bytes; less than `size` only at the end of the data.
  Result<std::size_t> Read(char* buffer, std::size_t size);

  bool Started() const { return FStarted; }
  bool Done() const { return FDone; }
  bool SawStatus() const { return FSawStatus; }
  std::uint32_t StatusCode() const { return FStatus; }
  const std::vector<std::pair<std::string, std::string>>& Headers() const { return FHeaders; }
  /// libcurl's list for CURLOPT_HTTPHEADER, owned here.
  curl_slist*& HeaderList() { return FHeaderList; }
  /// The failure of an ended transfer, in the vocabulary every transfer speaks, after the
  /// endpoint.
  Failure Failed() const;

private:
  template <class Pred>
  void pump(Pred satisfied, bool headDeadline);
  void collect_messages();
  void finish_head();
  void fail(CURLcode code, std::string text);
  static size_t on_write(char* data, size_t, size_t n, void* user);
  static size_t on_header(char* data, size_t, size_t n, void* user);

  CURLM* FMulti;
  CURL* FEasy;
  std::uint32_t FTimeoutMs;
  std::optional<std::chrono::steady_clock::time_point> FDeadline;
  const std::atomic<bool>* FCancel;
  bool FAdded = false;
  bool FStarted = false;
  bool FDone = false;
  bool FPaused = false;
  bool FProgress = false;
  bool FHttp = false;
  bool FFollowing = false;
  bool FCheckLength = false;
  CURLcode FResult = CURLE_OK;
  std::string FErrorText;
  std::string FEndpoint;
  std::vector<char> FSpill;
  std::size_t FSpillPos = 0;
  std::uint64_t FSkip = 0;
  std::uint64_t FRangeFrom = 0;
  std::string* FCollect = nullptr;
  std::size_t FCollectLimit = 0;
  std::uint32_t FStatus = 0;
  bool FSawStatus = false;
  bool FHeadDone = false;
  bool FChallenged = false;  ///< a 401 or 407 head ended; final unless libcurl answers it
  std::size_t FHeadBytes = 0;
  std::vector<std::pair<std::string, std::string>> FHeaders;
  std::optional<std::uint64_t> FExpected;
  std::uint64_t FWireBytes = 0;
  curl_slist* FHeaderList = nullptr;
  char FErrorBuffer[CURL_ERROR_SIZE]{};
};

}  // namespace qninet::sys
