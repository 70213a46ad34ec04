// The page fetch of the web components: one URL's whole body in one call, outside any run, on
// an ordinary source of the URL's service.

#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/WebSource.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

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
  auto url = Url::Parse(ToUtf8(URL), &why);
  if (!url) return fail(why);
  // The component's connection with this URL as its target; the component's own stays as it is.
  TQNWebConnection page = FConnection;
  const auto service = ServiceOfScheme(url->Scheme());
  if (!service || *service == isNetwork) return fail(u"Not an http, https or ftp URL: " + URL);
  page.Service = *service;
  page.Target = std::move(*url);
  page.LoginPrompt = false;
  TQNIOutcome done;
  {
    TQNDeadlineWatch watch(page.MaxTime, cancel_flag());
    auto source = MakeWebSource(page);
    done = source->Connect();
    if (done) done = source->Send({});
    if (done) {
      ContentType = source->ContentType();
      done = source->ReadAll(*Stream);
    }
    if (watch.Fired())
      done = TQNIOutcome::Failed(Format(strQNInETimeLimit, static_cast<Int64>(page.MaxTime)));
  }
  // A cancel ends this fetch only, as it ends one run of Execute.
  clear_cancel();
  if (!done) return fail(done.Text());
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
