#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qninet::harness {

/// A loopback HTTPS stand-in (Python's http.server with ssl, a certificate from a TestCA) for
/// the web services the translator and the UPS tracker talk to. The translator's five
/// operations answer under any base path; the appId picks an error answer: "bad-app-id" (HTTP
/// 400 with the service's error page), "server-fault" (HTTP 500 with a fault document),
/// "no-element" (HTTP 200 with a page but no result), "huge" (a result of 9 MiB), "declared" (answers with an
/// XML declaration), "empty" (language lists without entries), "truncated" (Speak announces twice the audio
/// it sends). Translate answers the text reversed; Detect "de" for a text with an umlaut or ß, else "en".
/// POST /ups.app/xml/Track answers a track response for the tracking number, except "1Z500" (HTTP 500),
/// "1ZINVALID" (an error document), "1ZNOPACKAGE" (a shipment without a package) and "1ZTWOPACKAGES" (two
/// packages). Under /auth/basic/ and /auth/digest/ (GET and HEAD) any name answers "protected "
/// and its path, only to the user "joe" with the password "pw" in that scheme (Digest: MD5 with
/// qop "auth"); any other request gets a 401 with the scheme's challenge.
class ServiceFixture {
public:
  /// One request as the fixture received it.
  struct Request {
    std::string Method;
    std::string Target;  ///< path and query, as sent
    std::string Body;
    std::string ContentType;
    std::string Authorization;  ///< the Authorization header, empty when none came
  };

  /// Starts the server and waits (bounded) until it accepts connections. Throws
  /// std::runtime_error with the log tail when python3 or openssl is missing or it does not
  /// come up.
  ServiceFixture();
  ~ServiceFixture();
  ServiceFixture(const ServiceFixture&) = delete;
  ServiceFixture& operator=(const ServiceFixture&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// "https://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;
  /// The CA file a client trusts to reach the fixture.
  std::string CaFile() const { return FCA.CaCert().string(); }
  /// The bytes Speak answers with.
  void SetAudio(std::string_view bytes) const;
  /// Every request received so far, in order.
  std::vector<Request> Requests() const;
  /// Stops the server. Idempotent.
  void Stop();

private:
  TestCA FCA;
  TempDir FDir{"qninet-services"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
