#pragma once
// A web component's connection as one value: the published properties of the web components
// read and write it, and the library's sources work on it.

#include <atomic>
#include <optional>
#include <string_view>

#include "qninet/core/QNInProxy.h"
#include "qninet/core/Url.h"
#include "qninet/rtl/SysUtils.h"
#include "qninet/web/WebTypes.h"

namespace qninet {

class TQNUpdatePin;

/// A web component's connection, as one value: where (one parsed URL: scheme, host, port,
/// credentials, path and query) and how (agent, proxy, time-outs, CA file). The published
/// properties read and write it; a source reads it, and a logon prompt edits its credentials.
struct QNINET_API TQNWebConnection {
  TQNIService Service = isHTTP;  ///< HTTP, HTTPS, FTP, or a local file (`isNetwork`)
  Url Target;                    ///< the URL, parsed; for `isNetwork` the file's path
  String Agent;                  ///< the User-Agent header's text, the component's name
  /// The proxy and its credentials (a named HTTP proxy, or none: the system's setting); none
  /// at all when null.
  TQNInetProxy* Proxy = nullptr;
  /// HTTP: ask the user on a 401 or 407 (`QNInAskLogon`) instead of failing.
  bool LoginPrompt = false;
  /// Milliseconds a connect, a stall or the wait for an answer may last; 0 waits for ever.
  Cardinal Timeout = 60000;
  /// Seconds one run, page fetch or service call may take in all; 0: no bound.
  Cardinal MaxTime = 0;
  /// HTTPS: one more CA file to trust; empty: `QNINET_CA_FILE` when set.
  String CAFile;
  /// Set from anywhere (a signal handler too) to stop the transfer at its next step.
  const std::atomic<bool>* Cancel = nullptr;
  /// The digest and signature a download must match before it replaces a local file; none
  /// when null.
  TQNUpdatePin* Pin = nullptr;
};

/// The service of a URL's scheme (http, https, ftp, file), or none.
QNINET_API std::optional<TQNIService> ServiceOfScheme(std::string_view scheme);

/// The remote object's name as `RemoteFileName` reads it: HTTP's path and query as a request
/// names them (escapes kept), a file's or FTP's decoded path.
QNINET_API String RemoteName(const TQNWebConnection& connection);
/// Stores a remote name in the target's path (and query, for HTTP: cut at "?", a fragment
/// dropped), percent-encoded once; HTTP keeps the escapes the name already has.
QNINET_API void SetRemoteName(TQNWebConnection& connection, const String& name);

}  // namespace qninet
