// Service requests on the HTTP transfer of the system layer.

#include "qninet/web/ServiceRequest.h"

#include <chrono>
#include <optional>
#include <vector>

#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

namespace qninet {

struct TQNServiceCall::Impl {
  explicit Impl(sys::InetOptions options) : Transfer(std::move(options)) {}
  sys::HttpTransfer Transfer;
  bool Sent = false;
  /// When the component's MaxTime is up; the transfer ends there whatever the server does.
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  /// What a user reads for a failure: the time limit when it is up, else the failure's text.
  String Why(const sys::Failure& failure, Cardinal maxTime) const {
    if (Deadline && std::chrono::steady_clock::now() >= *Deadline)
      return Format(strQNInETimeLimit, static_cast<Int64>(maxTime));
    return failure.Text;
  }
};

namespace {

sys::InetOptions options_of(const TQNWebEndpoint& e, Cardinal maxTime) {
  sys::InetOptions o;
  if (maxTime > 0) o.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxTime);
  o.Agent = ToUtf8(e.Agent);
  o.TimeoutMs = e.Timeout;
  o.CaFile = ToUtf8(e.CAFile);
  o.ProxyHost = ToUtf8(e.ProxyHost);
  o.ProxyPort = e.ProxyPort;
  o.Cancel = e.Cancel;
  return o;
}

}  // namespace

TQNServiceCall::TQNServiceCall(TQNCustomWebComponent& settings) : FComponent(settings) {
  const TQNWebEndpoint e = settings.endpoint();
  sys::InetOptions options = options_of(e, settings.MaxTime());
  const auto deadline = options.Deadline;
  FImpl = std::make_unique<Impl>(std::move(options));
  FImpl->Deadline = deadline;
  // The proxy's credentials go with each request; keep them here for Send.
  FProxyUser = ToUtf8(e.ProxyUser);
  FProxyPassword = ToUtf8(e.ProxyPassword);
}

// A cancel ends this call only, as it ends one run of Execute.
TQNServiceCall::~TQNServiceCall() { FComponent.clear_cancel(); }

bool TQNServiceCall::Send(const TQNServiceRequest& Request) {
  FError.clear();
  FImpl->Sent = false;
  String why;
  const auto url = Url::Parse(ToUtf8(Request.URL), &why);
  if (!url) {
    FError = why;
    return false;
  }
  if (url->Scheme() != "http" && url->Scheme() != "https") {
    FError = u"Not an http or https URL: " + Request.URL;
    return false;
  }
  sys::HttpRequest r;
  r.Method = Request.Method;
  r.Target = {url->Scheme(), url->Host(), url->Port(), url->Path(), url->Query()};
  r.Credentials = {url->User(), url->Password(), FProxyUser, FProxyPassword};
  if (!Request.ContentType.empty()) r.Headers = "Content-Type: " + Request.ContentType;
  r.Body = Request.Body;
  if (const auto sent = FImpl->Transfer.Send(r); !sent) {
    FError = FImpl->Why(sent.failure(), FComponent.MaxTime());
    return false;
  }
  FImpl->Sent = true;
  return true;
}

std::uint32_t TQNServiceCall::StatusCode() const { return FImpl->Transfer.StatusCode(); }

std::uint64_t TQNServiceCall::AnnouncedSize() const {
  if (!FImpl->Sent) return 0;
  const auto length = FImpl->Transfer.Header("Content-Length");
  if (!length) return 0;
  const std::uint64_t size = parse_content_length(FromUtf8(*length));
  return size == kQNIUnknownSize ? 0 : size;
}

bool TQNServiceCall::Read(char* Buffer, std::size_t Size, std::size_t& Read) {
  Read = 0;
  if (!FImpl->Sent) {
    FError = u"Nothing was sent";
    return false;
  }
  auto got = FImpl->Transfer.Read(Buffer, Size);
  if (!got) {
    FError = FImpl->Why(got.failure(), FComponent.MaxTime());
    return false;
  }
  Read = *got;
  return true;
}

bool TQNServiceCall::ReadAll(TStream& Stream, const TQNServiceProgress& Progress, std::uint64_t Limit) {
  const std::uint64_t announced = AnnouncedSize();
  std::vector<char> buffer(kQNIBlockSize);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t got = 0;
    if (!Read(buffer.data(), buffer.size(), got)) return false;
    if (got == 0) return true;
    if (Limit > 0 && total + got > Limit) {
      FError = u"The answer is larger than " + IntToStr(static_cast<Int64>(Limit >> 20)) + u" MiB";
      return false;
    }
    Stream.WriteBuffer(buffer.data(), static_cast<Int64>(got));
    total += got;
    bool abort = false;
    if (Progress) Progress(total, announced, abort);
    if (abort) {
      FError = u"Cancelled";
      return false;
    }
  }
}

}  // namespace qninet
