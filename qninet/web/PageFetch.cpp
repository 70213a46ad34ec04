// The page fetch of the web components: one URL's whole body in one call, outside any run.

#include <chrono>
#include <optional>
#include <vector>

#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/qniupdate.h"

namespace qninet {
namespace {

constexpr std::size_t kFetchBlock = 1 << 20;

// Copies what `read` gives into the stream, block by block, until it gives 0 bytes. A body that
// never ends or trickles meets the transfer's deadline.
template <class Reader>
sys::Status copy_body(Reader& reader, TStream& out) {
  std::vector<char> buffer(kFetchBlock);
  for (;;) {
    auto got = reader.Read(buffer.data(), buffer.size());
    if (!got) return got.failure();
    if (*got == 0) return {};
    out.WriteBuffer(buffer.data(), static_cast<Int64>(*got));
  }
}

}  // namespace

bool TQNCustomWebComponent::ReadHTTPGetResponse(const String& URL, TStream* Stream) {
  String ignored;
  return fetch_page(URL, Stream, ignored);
}

bool TQNCustomWebComponent::fetch_page(const String& URL, TStream* Stream, String& ContentType) {
  Stream->Seek(0, soBeginning);
  Stream->SetSize(0);
  ContentType.clear();
  const auto fail = [&](const String& why) {
    Stream->SetSize(0);
    Stream->Seek(0, soBeginning);
    SetLastErrorText(why);
    return false;
  };
  String why;
  const auto url = Url::Parse(ToUtf8(URL), &why);
  if (!url) return fail(why);
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (FMaxTime > 0) deadline = std::chrono::steady_clock::now() + std::chrono::seconds(FMaxTime);
  const TQNWebEndpoint e = endpoint();
  sys::InetOptions o;
  o.Deadline = deadline;
  o.Agent = ToUtf8(e.Agent);
  o.TimeoutMs = e.Timeout;
  o.CaFile = ToUtf8(e.CAFile);
  o.Cancel = e.Cancel;
  sys::Status done;
  if (url->Scheme() == "http" || url->Scheme() == "https") {
    o.ProxyHost = ToUtf8(e.ProxyHost);
    o.ProxyPort = e.ProxyPort;
    sys::HttpTransfer transfer(std::move(o));
    sys::HttpRequest request;
    request.Target = {url->Scheme(), url->Host(), url->Port(), url->Path(), url->Query()};
    request.Credentials = {url->User(), url->Password(), ToUtf8(e.ProxyUser), ToUtf8(e.ProxyPassword)};
    done = transfer.Send(request);
    if (done) {
      ContentType = FromUtf8(transfer.Header("Content-Type").value_or(""));
      done = copy_body(transfer, *Stream);
    }
  } else if (url->Scheme() == "ftp") {
    sys::FtpSession session(std::move(o), url->Host(), url->Port(), url->HasUser() ? url->User() : "",
                            url->Password());
    done = session.Login();
    if (done) done = session.Open(url->DecodedPath(), 0);
    if (done) done = copy_body(session, *Stream);
  } else {
    return fail(u"Not an http, https or ftp URL: " + URL);
  }
  // A cancel ends this fetch only, as it ends one run of Execute.
  clear_cancel();
  if (!done && deadline && std::chrono::steady_clock::now() >= *deadline)
    return fail(Format(strQNInETimeLimit, static_cast<Int64>(FMaxTime)));
  if (!done) return fail(done.failure().Text);
  // A longer earlier content must not trail the body.
  Stream->SetSize(Stream->Position());
  Stream->Seek(0, soBeginning);
  SetLastErrorText({});
  return true;
}

String TQNCustomWebComponent::ReadHTTPGetResponseString(const String& URL) {
  TMemoryStream stream;
  String contentType;
  if (!fetch_page(URL, &stream, contentType) || stream.Size() == 0) return {};
  return sys::decode_page_text(stream.Bytes(), sys::content_type_charset(ToUtf8(contentType)));
}

}  // namespace qninet
