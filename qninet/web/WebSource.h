#pragma once
// The sources of the web engine: one interface to look a remote file up, to read it and to list
// a folder, with one implementation per service (HTTP and HTTPS, FTP, a file path). The updater's
// compare-and-download run, and every component built on it, works on this interface only.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/SysUtils.h"
#include "qninet/web/WebTypes.h"

namespace qninet {

/// Where a source connects and how, filled from a web component's properties.
struct QNINET_API TQNWebEndpoint {
  TQNIService Service = isHTTP;
  String Host;
  std::uint16_t Port = 80;
  String User, Password;
  String Agent;
  /// A named HTTP proxy (host and port); an empty host uses the system's setting.
  String ProxyHost;
  std::uint16_t ProxyPort = 0;
  String ProxyUser, ProxyPassword;
  /// HTTP: ask the user on a 401 or 407 (`QNInAskLogon`) instead of failing.
  bool LoginPrompt = false;
  /// Milliseconds a connect, a stall or the wait for an answer may last; 0 waits for ever.
  Cardinal Timeout = 60000;
  /// HTTPS: one more CA file to trust; empty: `QNINET_CA_FILE` when set.
  String CAFile;
  /// Set from anywhere (a signal handler too) to stop the transfer at its next step.
  const std::atomic<bool>* Cancel = nullptr;
};

/// One entry of a folder listing.
struct QNINET_API TQNWebDirEntry {
  std::string Name;  ///< the bytes the server or the file system gave
  bool Directory = false;
};

/// A folder read whole.
struct QNINET_API TQNWebFolder {
  /// The same for every path that reaches this folder (FTP: its absolute path; a file path: its
  /// device and inode), so a listing can refuse to enter a folder twice.
  std::string Identity;
  std::vector<TQNWebDirEntry> Entries;
};

/// The outcome of a look-up.
enum TQNWebLookup : std::uint8_t { wlFound, wlNotFound, wlFailed };

/// A remote file's service: look it up without transferring it, open it at an offset, read it.
class QNINET_API TQNWebSource {
public:
  virtual ~TQNWebSource();
  TQNWebSource(const TQNWebSource&) = delete;
  TQNWebSource& operator=(const TQNWebSource&) = delete;

  /// Makes the source ready (FTP connects and logs in); false with `LastError`.
  virtual bool Connect() = 0;
  /// Learns the size (0 when none was given, `kQNIUnknownSize` for a length that is no
  /// number) and the last-write time (0 when none) of `name` without transferring its content.
  /// `wlNotFound` and `wlFailed` leave a reason in `LastError`.
  virtual TQNWebLookup Lookup(const String& name, std::uint64_t& size, TFileTime& time) = 0;
  /// Starts reading `name` at byte `offset`; false with `LastError`.
  virtual bool Open(const String& name, std::uint64_t offset) = 0;
  /// Reads up to `size` bytes of the open file into `buffer`; `read` is 0 at its end. False
  /// with `LastError` when the transfer broke (a reset, a close before the announced length,
  /// a time-out, a cancel, a file that changed while it was read).
  virtual bool Read(char* buffer, std::size_t size, std::size_t& read) = 0;

  /// Reads a folder whole, its entries in the order the service gives them (a path: "." and
  /// ".." too). `folder` is bytes (UTF-8 as a rule), absolute or relative to `CurrentFolder`.
  /// False with `LastError` when it cannot be read; a service without folders (HTTP) lists
  /// nothing.
  virtual bool ListFolder(const std::string& folder, TQNWebFolder& out);
  /// Where relative folders start (FTP: the login directory); empty when the service has none.
  virtual std::string CurrentFolder() const { return {}; }
  /// The Content-Type of the last answer (HTTP); empty when the service gives none.
  const String& ContentType() const { return FContentType; }

  const String& LastError() const { return FLastError; }
  /// The endpoint, with the credentials a logon prompt changed.
  const TQNWebEndpoint& Endpoint() const { return FEndpoint; }

protected:
  explicit TQNWebSource(TQNWebEndpoint endpoint) : FEndpoint(std::move(endpoint)) {}
  /// Stores the reason and returns false.
  bool Fail(const String& text) {
    FLastError = text;
    return false;
  }
  TQNWebEndpoint FEndpoint;
  String FLastError;
  String FContentType;
};

/// HTTP and HTTPS: a HEAD (a GET where HEAD is refused) with the 401/407 logon loop, then a GET
/// with a Range from the offset. 404 and 410 are not found; any other status from 400 fails.
QNINET_API std::unique_ptr<TQNWebSource> MakeHttpSource(const TQNWebEndpoint& endpoint);
/// FTP: one logged-in session; the listing (MLSD, else LIST) for the look-up, REST and RETR.
QNINET_API std::unique_ptr<TQNWebSource> MakeFtpSource(const TQNWebEndpoint& endpoint);
/// A file path (a local disk or a mounted share). `Open` raises `EFOpenError` when the file
/// cannot be opened, as for any local file.
QNINET_API std::unique_ptr<TQNWebSource> MakeFileSource(const TQNWebEndpoint& endpoint);
/// The source of the endpoint's service.
QNINET_API std::unique_ptr<TQNWebSource> MakeWebSource(const TQNWebEndpoint& endpoint);

/// Reads a Content-Length text: its decimal value, or `kQNIUnknownSize` when it is no number
/// or too large.
QNINET_API std::uint64_t parse_content_length(const String& text);

}  // namespace qninet
