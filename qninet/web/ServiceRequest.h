#pragma once
// One request to a web service on a web component's connection, outside any run: an ordinary
// source of the target's service, sent a method and a body, with the component's time limit
// and cancel flag. The answer's status and announced size are known before its body is read,
// so a client can tell an error answer from a result and report progress against the real
// size.

#include <cstdint>
#include <memory>

#include "qninet/rtl/Streams.h"
#include "qninet/web/WebSource.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// The most a service's XML answer may hold; a longer one is no answer of the service.
inline constexpr std::uint64_t kQNServiceAnswerLimit = 8 << 20;

/// One exchange with a web service, on the component's connection (agent, time-out, proxy, CA
/// file, `MaxTime` counted from the call's making, cancel flag) with `Target` as its URL.
/// Redirects are followed.
class QNINET_API TQNServiceCall {
public:
  TQNServiceCall(TQNCustomWebComponent& component, Url Target);
  /// Ends the call; a cancel ends this call only, as it ends one run of Execute.
  ~TQNServiceCall();
  TQNServiceCall(const TQNServiceCall&) = delete;
  TQNServiceCall& operator=(const TQNServiceCall&) = delete;

  /// Sends the request and waits for the head of the answer; fails for a target that is no
  /// http or https URL, or when no answer came (an unreachable server, a refused certificate,
  /// a time-out).
  TQNIOutcome Send(const TQNWebRequest& Request);
  /// The source of the exchange: the answer's status, headers and body.
  TQNWebSource& Source() const { return *FSource; }
  /// Reads the rest of the body into `Stream`, reporting each block to `Progress` (when set);
  /// fails when the transfer broke or was stopped, or when the body grew beyond `Limit` bytes.
  TQNIOutcome ReadAll(TStream& Stream, const TQNWebProgress& Progress, std::uint64_t Limit = 0);
  /// `Outcome` unless the component's `MaxTime` ran out, which then says so.
  TQNIOutcome Bounded(TQNIOutcome Outcome);

private:
  TQNCustomWebComponent& FComponent;
  TQNWebConnection FConnection;
  TQNDeadlineWatch FWatch;
  std::unique_ptr<TQNWebSource> FSource;
};

}  // namespace qninet
