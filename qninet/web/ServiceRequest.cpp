// Service requests on the HTTP transfer of the system layer.

#include "qninet/web/ServiceRequest.h"

#include <vector>

#include "qninet/core/Url.h"
#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

namespace qninet {

struct TQNServiceCall::Impl {
  explicit Impl(sys::InetOptions options) : Transfer(std::move(options)) {}
  sys::HttpTransfer Transfer;
  bool Sent = false;
};

namespace {

// The component's settings as the transfer takes them; a proxy server text may carry a port.
sys::InetOptions options_of(const TQNCustomWebComponent& c) {
  sys::InetOptions o;
  o.Agent = ToUtf8(c.Agent());
  o.TimeoutMs = c.Timeout();
  o.CaFile = ToUtf8(c.CAFile());
  const TQNInetProxy& proxy = *c.Proxy();
  if (proxy.UseProxy() && !proxy.Server().empty()) {
    const auto port =
        static_cast<std::uint16_t>(proxy.Port() > 0 && proxy.Port() <= 65535 ? proxy.Port() : 0);
    if (const auto hp = HostPort::Parse(ToUtf8(proxy.Server()), port)) {
      o.ProxyHost = hp->Host;
      o.ProxyPort = hp->Port;
    }
  }
  return o;
}

}  // namespace

TQNServiceCall::TQNServiceCall(const TQNCustomWebComponent& settings)
    : FImpl(std::make_unique<Impl>(options_of(settings))) {
  // The proxy's credentials go with each request; keep them here for Send.
  FProxyUser = ToUtf8(settings.Proxy()->User());
  FProxyPassword = ToUtf8(settings.Proxy()->Password());
}

TQNServiceCall::~TQNServiceCall() = default;

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
    FError = sent.failure().Text;
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
    FError = got.failure().Text;
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
