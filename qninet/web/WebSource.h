#pragma once
// The sources of the web engine: one interface to look a remote file up, to read it, to send
// a request and to list a folder, with one implementation per service (HTTP and HTTPS, FTP, a
// file path). The updater's run, the page fetch and the service calls all work on it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "qninet/core/Outcome.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/SysUtils.h"
#include "qninet/web/WebConnection.h"
#include "qninet/web/WebTypes.h"

namespace qninet {

/// A request with a method and a body (HTTP) to the connection's target.
struct QNINET_API TQNWebRequest {
  std::string Method = "GET";
  std::string ContentType;  ///< the body's Content-Type; empty sends none
  std::string Body;
  /// More header fields, name and value; a name or value holding a line break, a NUL or a
  /// name holding a colon is refused before anything is sent.
  std::vector<std::pair<std::string, std::string>> Headers;
  /// False for a request that carries a key in `Headers`: libcurl keeps such fields on a
  /// redirect to another host, so the 3xx answer comes back instead.
  bool FollowRedirects = true;
  long MaxRedirects = 10;  ///< redirects followed before the request fails
};

/// Called after each block of a body with the bytes so far and the announced size (0 when
/// none was announced); set the flag to stop.
using TQNWebProgress = std::function<void(std::uint64_t current, std::uint64_t maximum, bool& abort)>;

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

/// A remote object's service: look it up without transferring it, open it at an offset, read
/// it; HTTP also sends a request with a method and a body and gives the answer's status. Every
/// step returns an outcome whose text says why it was not found or failed.
class QNINET_API TQNWebSource {
public:
  virtual ~TQNWebSource();
  TQNWebSource(const TQNWebSource&) = delete;
  TQNWebSource& operator=(const TQNWebSource&) = delete;

  /// Makes the source ready (FTP connects and logs in).
  virtual TQNIOutcome Connect() = 0;
  /// Learns the size (0 when none was given, `kQNIUnknownSize` for a length that is no
  /// number) and the last-write time (0 when none) of the connection's object without
  /// transferring its content.
  virtual TQNIOutcome Lookup(std::uint64_t& size, TFileTime& time) = 0;
  /// Starts reading the connection's object at byte `offset`.
  virtual TQNIOutcome Open(std::uint64_t offset) = 0;
  /// Sends `request` to the connection's target and waits for the answer's head; any status
  /// is an answer (`StatusCode`, `Header`), its body read with `Read`. A service without
  /// methods reads its object, as `Open(0)` does.
  virtual TQNIOutcome Send(const TQNWebRequest& request);
  /// Reads up to `size` bytes of the open body into `buffer`; `read` is 0 at its end. Fails
  /// when the transfer broke (a reset, a close before the announced length, a time-out, a
  /// file that changed while it was read); a cancel is `Cancelled`.
  virtual TQNIOutcome Read(char* buffer, std::size_t size, std::size_t& read) = 0;
  /// Reads the rest of the body into `out` in blocks of `kQNIBlockSize`, reporting each to
  /// `progress` (when set); fails when it grows beyond `limit` bytes (0: no limit).
  TQNIOutcome ReadAll(TStream& out, std::uint64_t limit = 0, const TQNWebProgress& progress = {});

  /// Reads a folder whole, its entries in the order the service gives them (a path: "." and
  /// ".." too). `folder` is bytes (UTF-8 as a rule), absolute or relative to `CurrentFolder`.
  /// A service without folders (HTTP) lists nothing.
  virtual TQNIOutcome ListFolder(const std::string& folder, TQNWebFolder& out);
  /// Where relative folders start (FTP: the login directory); empty when the service has none.
  virtual std::string CurrentFolder() const { return {}; }
  /// The status of the last answer (HTTP), else 0.
  virtual std::uint32_t StatusCode() const { return 0; }
  /// A header of the last answer by name (HTTP), else empty.
  virtual String Header(const char* name) const;
  /// The last answer's Content-Length, or 0 when it announced none.
  std::uint64_t AnnouncedSize() const;
  /// The Content-Type of the last answer (HTTP); empty when the service gives none.
  String ContentType() const { return Header("Content-Type"); }

  /// The connection the source works on; a logon prompt changes its credentials.
  TQNWebConnection& Connection() const { return FConnection; }

protected:
  explicit TQNWebSource(TQNWebConnection& connection) : FConnection(connection) {}
  TQNWebConnection& FConnection;
};

/// Starts a watch that sets `cancel` once `seconds` are up (0: never), so a transfer that
/// trickles or stalls still ends; `Fired` ends the watch and says whether the time ran out.
class QNINET_API TQNDeadlineWatch {
public:
  TQNDeadlineWatch(Cardinal seconds, std::atomic<bool>& cancel);
  ~TQNDeadlineWatch();
  TQNDeadlineWatch(const TQNDeadlineWatch&) = delete;
  TQNDeadlineWatch& operator=(const TQNDeadlineWatch&) = delete;
  bool Fired();

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

/// HTTP and HTTPS: a HEAD (a GET where HEAD is refused) with the 401/407 logon loop, then a GET
/// with a Range from the offset. 404 and 410 are not found; any other status from 400 fails.
QNINET_API std::unique_ptr<TQNWebSource> MakeHttpSource(TQNWebConnection& connection);
/// FTP: one logged-in session; the listing (MLSD, else LIST) for the look-up, REST and RETR.
QNINET_API std::unique_ptr<TQNWebSource> MakeFtpSource(TQNWebConnection& connection);
/// A file path (a local disk or a mounted share): the target's decoded path. `Open` raises
/// `EFOpenError` when the file cannot be opened, as for any local file.
QNINET_API std::unique_ptr<TQNWebSource> MakeFileSource(TQNWebConnection& connection);
/// The source of the connection's service; it works on `connection`, which must outlive it.
QNINET_API std::unique_ptr<TQNWebSource> MakeWebSource(TQNWebConnection& connection);

/// Reads a Content-Length text: its decimal value, or `kQNIUnknownSize` when it is no number
/// or too large.
QNINET_API std::uint64_t parse_content_length(const String& text);

}  // namespace qninet
