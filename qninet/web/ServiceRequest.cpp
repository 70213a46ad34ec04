// Service requests on an ordinary source.

#include "qninet/web/ServiceRequest.h"

#include "qninet/core/QNInCnst.h"

namespace qninet {

namespace {

TQNWebConnection with_target(const TQNWebConnection& c, Url target) {
  TQNWebConnection out = c;
  out.Service = ServiceOfScheme(target.Scheme()).value_or(isHTTP);
  out.Target = std::move(target);
  out.LoginPrompt = false;
  return out;
}

}  // namespace

TQNServiceCall::TQNServiceCall(TQNCustomWebComponent& component, Url Target)
    : FComponent(component),
      FConnection(with_target(component.Connection(), std::move(Target))),
      FWatch(FConnection.MaxTime, component.cancel_flag()),
      FSource(MakeWebSource(FConnection)) {}

TQNServiceCall::~TQNServiceCall() {
  FWatch.Fired();
  FComponent.clear_cancel();
}

TQNIOutcome TQNServiceCall::Bounded(TQNIOutcome Outcome) {
  if (Outcome || !FWatch.Fired()) return Outcome;
  return TQNIOutcome::Failed(Format(strQNInETimeLimit, static_cast<Int64>(FConnection.MaxTime)));
}

TQNIOutcome TQNServiceCall::Send(const TQNWebRequest& Request) {
  const std::string& scheme = FConnection.Target.Scheme();
  if (scheme != "http" && scheme != "https")
    return TQNIOutcome::Failed(u"Not an http or https URL: " +
                               FromUtf8(scheme + "://" + FConnection.Target.Host()));
  TQNIOutcome sent = FSource->Connect();
  if (sent) sent = FSource->Send(Request);
  return Bounded(std::move(sent));
}

TQNIOutcome TQNServiceCall::ReadAll(TStream& Stream, const TQNWebProgress& Progress, std::uint64_t Limit) {
  return Bounded(FSource->ReadAll(Stream, Limit, Progress));
}

}  // namespace qninet
