#pragma once
// One request to a web service, made on a web component's connection settings outside any
// run: the answer's status and announced size are known before its body is read, so a client
// can tell an error answer from a result and report progress against the real size.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qninet/rtl/Streams.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// What to send: a complete http:// or https:// URL, the method, and for a POST its body.
struct QNINET_API TQNServiceRequest {
  String URL;
  std::string Method = "GET";
  std::string ContentType;  ///< the body's Content-Type; empty sends none
  std::string Body;
};

/// The most a service's XML answer may hold; a longer one is no answer of the service.
inline constexpr std::uint64_t kQNServiceAnswerLimit = 8 << 20;

/// Called after each block of the body with the bytes so far and the announced size (0 when
/// none was announced); set the flag to stop.
using TQNServiceProgress = std::function<void(std::uint64_t current, std::uint64_t maximum, bool& abort)>;

/// One exchange with a web service, on the `Agent`, `Timeout`, `Proxy` (when it names a
/// server, else the system's setting) and `CAFile` of a web component. Redirects are followed.
class QNINET_API TQNServiceCall {
public:
  explicit TQNServiceCall(TQNCustomWebComponent& settings);
  ~TQNServiceCall();
  TQNServiceCall(const TQNServiceCall&) = delete;
  TQNServiceCall& operator=(const TQNServiceCall&) = delete;

  /// Sends the request and waits for the head of the answer. False, with `Error`, for a URL
  /// that is no http or https URL, or when no answer came (an unreachable server, a refused
  /// certificate, a time-out).
  bool Send(const TQNServiceRequest& Request);
  /// The status code of the answer (0 before one).
  std::uint32_t StatusCode() const;
  /// The answer's Content-Length, or 0 when it announced none.
  std::uint64_t AnnouncedSize() const;
  /// Reads up to `Size` body bytes into `Buffer`; `Read` is 0 at the end. False, with `Error`,
  /// when the transfer broke or the component's `MaxTime` (counted from the call's making) is
  /// up.
  bool Read(char* Buffer, std::size_t Size, std::size_t& Read);
  /// Reads the rest of the body into `Stream` in blocks of `kQNIBlockSize`, reporting each to
  /// `Progress` (when set). False, with `Error`, when the transfer broke or was stopped, or when
  /// the body grew beyond `Limit` bytes (0: no limit).
  bool ReadAll(TStream& Stream, const TQNServiceProgress& Progress, std::uint64_t Limit = 0);
  /// Why the last step failed, or empty.
  const String& Error() const { return FError; }

private:
  struct Impl;
  TQNCustomWebComponent& FComponent;
  std::unique_ptr<Impl> FImpl;
  std::string FProxyUser, FProxyPassword;
  String FError;
};

}  // namespace qninet
