#include "qninet/sys/TlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

namespace {

// The descriptor and the last system error of a read or write, which SSL_get_error does not keep.
struct Channel {
  int Fd = -1;
  int LastErrno = 0;
  bool Eof = false;  // the peer closed its side
};

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a closed peer; this
// one sends with MSG_NOSIGNAL and keeps errno, and a kernel time-out ends the call.
int channel_write(BIO* bio, const char* data, int count) {
  auto* c = static_cast<Channel*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::send(c->Fd, data, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    c->LastErrno = errno;
    return -1;
  }
}

int channel_read(BIO* bio, char* data, int count) {
  auto* c = static_cast<Channel*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::recv(c->Fd, data, static_cast<std::size_t>(count), 0);
    if (n == 0) c->Eof = true;
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    c->LastErrno = errno;
    return -1;
  }
}

// OpenSSL asks BIO_CTRL_EOF whether a read of 0 was the peer's close; only then does
// SSL_OP_IGNORE_UNEXPECTED_EOF make a close without close_notify a clean end of the data.
long channel_ctrl(BIO* bio, int cmd, long, void*) {
  if (cmd == BIO_CTRL_FLUSH) return 1;
  if (cmd == BIO_CTRL_EOF) return static_cast<Channel*>(BIO_get_data(bio))->Eof ? 1 : 0;
  return 0;
}

int channel_create(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* channel_method() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qninet socket");
    BIO_meth_set_write(m, channel_write);
    BIO_meth_set_read(m, channel_read);
    BIO_meth_set_ctrl(m, channel_ctrl);
    BIO_meth_set_create(m, channel_create);
    return m;
  }();
  return method;
}

bool is_address_literal(const std::string& host) {
  unsigned char buffer[16];
  return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string name_text(const X509_NAME* name) {
  BIO* out = name ? BIO_new(BIO_s_mem()) : nullptr;
  if (!out) return {};
  // RFC 2253 with UTF-8 kept as it is, so a name outside ASCII reads as written.
  X509_NAME_print_ex(out, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out, &data);
  std::string text(data, size > 0 ? static_cast<std::size_t>(size) : 0);
  BIO_free(out);
  return text;
}

std::u16string openssl_reason() {
  const unsigned long e = ERR_peek_last_error();
  const char* reason = e ? ERR_reason_error_string(e) : nullptr;
  return utf8_to_utf16(reason ? reason : "unknown error");
}

}  // namespace

struct TlsSession::State {
  Channel Io;
  SSL_CTX* Context = nullptr;
  SSL* Ssl = nullptr;
  bool Usable = false;  // the handshake succeeded and no fatal error came since
  ~State() {
    if (Ssl) SSL_free(Ssl);
    if (Context) SSL_CTX_free(Context);
  }

  // The failure behind a call that returned `rc`; a fatal one ends the session.
  Failure failure(int rc, const char16_t* what) {
    const int kind = SSL_get_error(Ssl, rc);
    Usable = false;
    if (kind == SSL_ERROR_SYSCALL && Io.LastErrno != 0) {
      // A kernel time-out reads as a time-out, not as "try again".
      const int code = (Io.LastErrno == EAGAIN || Io.LastErrno == EWOULDBLOCK) ? ETIMEDOUT : Io.LastErrno;
      if (code == ETIMEDOUT) return failure_of(code, kConnectionTimedOut);
      return Failure{code, system_error_text(code)};
    }
    if (kind == SSL_ERROR_SYSCALL) return Failure{ECONNRESET, std::u16string(what) + u"connection closed"};
    return Failure{EPROTO, what + openssl_reason()};
  }
};

TlsSession::TlsSession(int fd) : FState(std::make_unique<State>()) { FState->Io.Fd = fd; }

TlsSession::~TlsSession() = default;

Status TlsSession::Handshake(const std::string& host, const std::string& ca_file) {
  State& s = *FState;
  ERR_clear_error();
  s.Context = SSL_CTX_new(TLS_client_method());
  if (!s.Context) return Failure{EPROTO, u"TLS setup failed: " + openssl_reason()};
  SSL_CTX_set_min_proto_version(s.Context, TLS1_2_VERSION);
  // Many servers close without close_notify; the framing rules judge whether an answer is whole.
  SSL_CTX_set_options(s.Context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_default_verify_paths(s.Context);
  const char* from_environment = std::getenv("QNINET_CA_FILE");
  for (const std::string& file : {ca_file, std::string(from_environment ? from_environment : "")}) {
    if (file.empty()) continue;
    if (SSL_CTX_load_verify_locations(s.Context, file.c_str(), nullptr) != 1)
      return Failure{ENOENT, u"Cannot load the CA file " + utf8_to_utf16(file) + u": " + openssl_reason()};
  }
  SSL_CTX_set_verify(s.Context, SSL_VERIFY_PEER, nullptr);
  s.Ssl = SSL_new(s.Context);
  BIO* bio = s.Ssl ? BIO_new(channel_method()) : nullptr;
  if (!bio) return Failure{ENOMEM, u"TLS setup failed: " + openssl_reason()};
  BIO_set_data(bio, &s.Io);
  SSL_set_bio(s.Ssl, bio, bio);

  std::string name = host;
  if (name.size() > 1 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (name.empty()) return Failure{EDESTADDRREQ, u"TLS needs the server's name or address"};
  if (is_address_literal(name)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s.Ssl), name.c_str());
  } else {
    SSL_set_tlsext_host_name(s.Ssl, name.c_str());
    SSL_set1_host(s.Ssl, name.c_str());
  }
  const int rc = SSL_connect(s.Ssl);
  if (rc == 1) {
    s.Usable = true;
    return {};
  }
  const long verdict = SSL_get_verify_result(s.Ssl);
  if (verdict != X509_V_OK) {
    s.Usable = false;
    return failure_of(static_cast<int>(verdict), certificate_text(X509_verify_cert_error_string(verdict)));
  }
  return s.failure(rc, u"TLS handshake failed: ");
}

Result<std::size_t> TlsSession::Send(const void* data, std::size_t count) {
  State& s = *FState;
  const char* p = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < count) {
    ERR_clear_error();
    s.Io.LastErrno = 0;
    std::size_t n = 0;
    const int rc = SSL_write_ex(s.Ssl, p + sent, count - sent, &n);
    if (rc != 1) return s.failure(rc, u"TLS send failed: ");
    sent += n;
  }
  return sent;
}

Result<std::size_t> TlsSession::Receive(void* data, std::size_t count) {
  State& s = *FState;
  ERR_clear_error();
  s.Io.LastErrno = 0;
  std::size_t n = 0;
  const int rc = SSL_read_ex(s.Ssl, data, count, &n);
  if (rc == 1) return n;
  if (SSL_get_error(s.Ssl, rc) == SSL_ERROR_ZERO_RETURN) return std::size_t{0};
  return s.failure(rc, u"TLS receive failed: ");
}

TlsDetails TlsSession::Details() const {
  const State& s = *FState;
  TlsDetails d;
  if (!s.Ssl || !s.Usable) return d;
  // OpenSSL says "TLSv1.3"; a log reads "TLS 1.3".
  d.Version = SSL_get_version(s.Ssl);
  if (d.Version.starts_with("TLSv")) d.Version.replace(0, 4, "TLS ");
  d.Cipher = SSL_get_cipher_name(s.Ssl);
  if (X509* peer = SSL_get1_peer_certificate(s.Ssl)) {
    d.Subject = name_text(X509_get_subject_name(peer));
    d.Issuer = name_text(X509_get_issuer_name(peer));
    X509_free(peer);
  }
  return d;
}

bool TlsSession::Pending() const { return FState->Ssl && SSL_pending(FState->Ssl) > 0; }

void TlsSession::Shutdown() {
  if (!FState->Usable) return;
  FState->Usable = false;
  ERR_clear_error();
  SSL_shutdown(FState->Ssl);
}

}  // namespace qninet::sys
