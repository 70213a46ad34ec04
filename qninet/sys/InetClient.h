#pragma once
// HTTP, HTTPS and FTP transfers over libcurl, with plain types. Each transfer pulls its data in
// the caller's block size with bounded memory: libcurl receives into its own buffer of
// `kInetReceiveBuffer` bytes, a transfer holds at most four such buffers the caller has not
// read yet, and it is paused while they are full. HTTPS verifies the server against the system's
// certificate store plus an optional CA file. Failures come back as results, never as
// exceptions.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/sys/FtpListing.h"
#include "qninet/sys/Result.h"

namespace qninet::sys {

/// libcurl's receive buffer for every transfer (never the caller's block size).
inline constexpr std::size_t kInetReceiveBuffer = 64 * 1024;
/// Failure codes a caller tells apart: no byte for the time-out, and a cancel.
inline constexpr int kInetTimedOut = 28;
inline constexpr int kInetCancelled = 42;

/// What every transfer of a source shares.
struct InetOptions {
  std::string Agent;
  /// An HTTP proxy ("host" or an IPv6 literal, and a port); empty host: the system's
  /// preconfigured proxy with its no_proxy list. FTP never goes through it.
  std::string ProxyHost;
  std::uint16_t ProxyPort = 0;
  /// Bounds every connect, every stall of a body (no byte for that long) and the whole wait
  /// for an answer's head; 0 waits for ever.
  std::uint32_t TimeoutMs = 0;
  /// When set, every transfer ends by then whatever the peer does (connecting, sending or
  /// stalled), failing with `kInetTimedOut`.
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  /// One more CA file to trust; empty: QNINET_CA_FILE when set.
  std::string CaFile;
  /// Set from anywhere (a signal handler too) to stop the transfer at its next step.
  const std::atomic<bool>* Cancel = nullptr;
};

/// A parsed URL as libcurl takes it: no text is joined and split again on the way.
struct InetTarget {
  std::string Scheme;  ///< "http", "https" or "ftp"
  std::string Host;    ///< a name or an address; IPv6 without brackets
  std::uint16_t Port = 0;
  std::string Path;   ///< percent-encoded, starting with "/"
  std::string Query;  ///< percent-encoded, without "?"; empty for none
};

/// Credentials for the server and for the proxy; an empty user name sends none. They are sent
/// only in answer to a 401 or 407, in the strongest scheme its challenge offers (Basic, Digest,
/// NTLM); the answer that follows is the final one.
struct InetCredentials {
  std::string User, Password;
  std::string ProxyUser, ProxyPassword;
};

/// One HTTP request.
struct HttpRequest {
  std::string Method = "GET";  ///< "GET", "HEAD", "POST" or another verb (sent with the body)
  InetTarget Target;
  bool Http10 = false;  ///< HTTP/1.0 (the answer ends at its length or at the close)
  bool Http2 = false;   ///< HTTPS: HTTP/2 when libcurl and the server offer it, else HTTP/1.1
  bool FollowRedirects = true;
  std::string Headers;  ///< extra header lines, CRLF separated
  std::string Body;
  InetCredentials Credentials;
  std::uint64_t RangeFrom = 0;  ///< > 0: ask for the bytes from there on
  long MaxRedirects = 10;       ///< redirects followed before the transfer fails
};

/// One HTTP exchange at a time: sending again drops the last answer. Redirects are followed
/// unless the request says not to.
class HttpTransfer {
public:
  explicit HttpTransfer(InetOptions options);
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  /// Sends the request and waits for the whole head of the final answer (up to its empty
  /// line). A connection that closes, resets or stays silent before that, a head larger than
  /// 256 KiB, a time-out or a cancel is a failure. With `RangeFrom` a 206 must start there and
  /// a 200 has its first bytes skipped.
  Status Send(const HttpRequest& request);
  /// Whether the last send saw the start of an answer (a status line).
  bool AnswerBegan() const;
  /// The status code of the last answer (0 before one).
  std::uint32_t StatusCode() const;
  /// A header of the last answer by name (case-insensitive), or nothing.
  std::optional<std::string> Header(std::string_view name) const;
  /// Reads up to `size` body bytes; 0 at the clean end. A reset, a close before the announced
  /// length, a time-out or a cancel is a failure.
  Result<std::size_t> Read(char* buffer, std::size_t size);

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

/// One FTP control connection, logged in once, serving searches and downloads in turn.
class FtpSession {
public:
  /// Nothing is sent before `Login`. An empty user logs in as anonymous.
  FtpSession(InetOptions options, std::string host, std::uint16_t port, std::string user,
             std::string password);
  ~FtpSession();
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  /// Connects and logs in; learns the directory relative paths start from.
  Status Login();
  /// The entries of a folder matching the last part of `pattern` (absolute, or relative to
  /// the login directory; * and ? allowed). MLSD, with LIST as the fall-back. An empty list
  /// when nothing matches.
  Result<std::vector<FtpEntry>> Find(const std::string& pattern);
  /// Every entry of `folder` (absolute, or relative to the login directory), in the server's
  /// order; a failure when the folder cannot be entered.
  Result<std::vector<FtpEntry>> List(const std::string& folder);
  /// The login directory: where relative paths start.
  const std::string& Directory() const;
  /// `path` made absolute against the login directory, without ".", ".." or doubled "/".
  std::string Resolve(const std::string& path) const;
  /// Starts downloading a file in binary from `offset` (REST before RETR).
  Status Open(const std::string& path, std::uint64_t offset);
  /// Reads up to `size` bytes of the open file; 0 at its end.
  Result<std::size_t> Read(char* buffer, std::size_t size);

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

/// An HTTP date (RFC 9110 5.6.7, and the older forms) as 100-ns units since 1601 UTC.
std::optional<std::int64_t> parse_http_date(const std::string& text);

}  // namespace qninet::sys
