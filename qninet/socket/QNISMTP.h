#pragma once
// The mail sender: the SMTP dialogue on the socket engine. The value types are in MailTypes;
// the message itself is built by the library's MIME writer.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/MailTypes.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// The priority of a message; its ordinal plus one is the "X-Priority" number (1 to 5).
enum TQNISMTPPriority : std::uint8_t { spHighest, spHigh, spNormal, spLow, spLowest };
QNINET_DECLARE_ENUM_INFO(TQNISMTPPriority)

/// How the sender logs in when `Login.UseLogin` is set: AUTH LOGIN, AUTH PLAIN, AUTH CRAM-MD5,
/// or the strongest of these that the server's EHLO answer offers (LOGIN when it names none);
/// with an `AccessToken`, `amAuto` takes OAUTHBEARER, then XOAUTH2, when the server offers them.
/// `amXOAuth2` and `amOAuthBearer` (RFC 7628) send `AccessToken` for `Login.UserID`.
enum TQNISMTPAuthMethod : std::uint8_t { amLogin, amPlain, amCramMD5, amAuto, amXOAuth2, amOAuthBearer };
QNINET_DECLARE_ENUM_INFO(TQNISMTPAuthMethod)

class TSmtpReplyFrame;

namespace smtp {
struct Message;

/// What an EHLO answer offers (RFC 5321 section 4.1.1.1): STARTTLS, the AUTH keyword with its
/// mechanisms in upper case (the old "AUTH=" form too), SMTPUTF8 and 8BITMIME.
struct Extensions {
  /// Whether the server offers STARTTLS.
  bool StartTLS = false;
  /// Whether the server offers AUTH.
  bool Auth = false;
  /// The AUTH mechanisms offered, in upper case.
  std::vector<std::string> AuthMechanisms;
  /// Whether the server offers SMTPUTF8.
  bool Smtputf8 = false;
  /// Whether the server offers 8BITMIME.
  bool EightBitMime = false;
};
}  // namespace smtp

/// Sends one mail message with attachments over SMTP on the socket engine. `Execute` follows
/// the engine's rule: the message's own input (line breaks, attachments that cannot be opened,
/// texts the charset cannot hold) raises before connecting, as does a connection that cannot be
/// made; from the connection on, every failure is reported. Every command's reply is read and
/// checked; a refusal (of the greeting too) ends the message with the text "Error " and the
/// expected code, ":" and the server's reply, which `Execute` returns (and `LastError` holds);
/// a server that accepts and never greets gives "no greeting from HOST:PORT within N s". A message that was
/// accepted makes `Execute` return an empty text, even when the reply to QUIT is then missing or wrong: that
/// is noted in `LastError` as a warning
/// ("Warning: ..."), since the message is delivered and must not be sent again.
/// With `UseTLS` at `tlsImplicit` the connection is TLS from the first byte (port 465); at
/// `tlsStartTLS` the sender says EHLO, requires STARTTLS in the answer, upgrades and says EHLO
/// again. When TLS was asked for and the connection is not encrypted, no credential is sent.
/// Addresses outside ASCII go as UTF-8 with SMTPUTF8 (RFC 6531) when the server offers it;
/// otherwise a domain goes as A-labels and a local part outside ASCII is refused before MAIL. A
/// part in "8bit" goes with BODY=8BITMIME (RFC 6152) when offered, else as quoted-printable.
class QNINET_API TQNISMTP : public TQNInetBase {
  QNINET_OBJECT(TQNISMTP, TQNInetBase)
public:
  /// Port 25, CharSet "us-ascii", Encoding "7bit", Priority spNormal, Date now.
  explicit TQNISMTP(TComponent* AOwner);
  ~TQNISMTP() override;

  /// Opens the connection unless it is open (then reads the "220" greeting) and greets with
  /// "HELO " and the local host name, or "EHLO " when `Login.UseLogin` or the message needs an
  /// extension (an address outside ASCII, a part in 8bit), falling back to HELO when the server
  /// refuses EHLO. On a connection already open it greets again, and a server that refuses the
  /// second greeting with a 5xx reply keeps the session of the first. Raises
  /// "Error 220: ..." or "Error 250: ..." after closing the connection, "no greeting from
  /// HOST:PORT within N s", and the engine's connection errors (`Execute` reports the first
  /// three, made after the connection).
  void Connect() override;
  /// Writes "QUIT" when the connection is open, then closes it. Raises "Error 221: ..." (after
  /// closing) when the server does not answer "221".
  void Disconnect() override;
  /// Writes the transaction and the message on the open connection: RSET, the login when
  /// asked for, MAIL FROM, RCPT TO for Recipients, CC and BCC, DATA, the MIME message, ".".
  /// Everything is prepared first: text that CharSet cannot represent, an address that the
  /// server cannot take (a local part outside ASCII without SMTPUTF8, a domain that is no valid
  /// IDN) or an attachment file that cannot be opened raise `Exception` before the transaction.
  /// The attachments are read and encoded block by block while the message goes out; a read
  /// error on the way raises before the final period, so the server drops the message. A
  /// refusal raises "Error NNN: <reply>".
  void Send();
  /// Switching to or from `tlsImplicit` moves the port between 25 and 465 when it holds the
  /// other mode's default.
  void SetUseTLS(TQNITLSMode value) override;

  /// The sender, owned.
  TQNIEMailAddress* From() const { return FFrom.get(); }
  /// Copies the given address into the component's own (so do the other object setters).
  void SetFrom(const TQNIEMailAddress* value) {
    RefuseWriteWhileRunning(*this);
    FFrom->Assign(value);
  }
  /// The primary recipients, owned.
  TQNIEMailAddresses* Recipients() const { return FRecipients.get(); }
  /// Sets `Recipients`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetRecipients(const TQNIEMailAddresses* value) {
    RefuseWriteWhileRunning(*this);
    FRecipients->Assign(value);
  }
  /// The copy recipients, named in the Cc header; owned.
  TQNIEMailAddresses* CC() const { return FCC.get(); }
  /// Sets `CC`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetCC(const TQNIEMailAddresses* value) {
    RefuseWriteWhileRunning(*this);
    FCC->Assign(value);
  }
  /// The blind copy recipients, named in no header; owned.
  TQNIEMailAddresses* BCC() const { return FBCC.get(); }
  /// Sets `BCC`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetBCC(const TQNIEMailAddresses* value) {
    RefuseWriteWhileRunning(*this);
    FBCC->Assign(value);
  }
  /// The addresses for replies (Reply-To), owned.
  TQNIEMailAddresses* ReplyTo() const { return FReplyTo.get(); }
  /// Sets `ReplyTo`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetReplyTo(const TQNIEMailAddresses* value) {
    RefuseWriteWhileRunning(*this);
    FReplyTo->Assign(value);
  }
  /// The subject line.
  const String& Subject() const { return FSubject; }
  /// Sets `Subject`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetSubject(const String& value) {
    RefuseWriteWhileRunning(*this);
    FSubject = value;
  }
  /// The message text, one line a string; owned.
  TStrings* Body() const { return FBody.get(); }
  /// Copies the lines of the given list.
  void SetBody(const TStrings* value) {
    RefuseWriteWhileRunning(*this);
    FBody->Assign(value);
  }
  /// The body's character set as the Content-Type names it; "us-ascii" by default.
  const String& CharSet() const { return FCharSet; }
  /// Sets `CharSet`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetCharSet(const String& value) {
    RefuseWriteWhileRunning(*this);
    FCharSet = value;
  }
  /// The body's Content-Transfer-Encoding.
  const String& Encoding() const { return FEncoding; }
  /// Sets `Encoding`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetEncoding(const String& value) {
    RefuseWriteWhileRunning(*this);
    FEncoding = value;
  }
  /// The X-Priority header's value, from highest to lowest.
  TQNISMTPPriority Priority() const { return FPriority; }
  /// Sets `Priority`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetPriority(TQNISMTPPriority value) {
    RefuseWriteWhileRunning(*this);
    FPriority = value;
  }
  /// The Date header's time; the creation time by default.
  TDateTime Date() const { return FDate; }
  /// Sets `Date`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetDate(TDateTime value) {
    RefuseWriteWhileRunning(*this);
    FDate = value;
  }
  /// The account to log in with, owned; no user name: no AUTH.
  TQNILogin* Login() const { return FLogin.get(); }
  /// Sets `Login`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLogin(const TQNILogin* value) {
    RefuseWriteWhileRunning(*this);
    FLogin->Assign(value);
  }
  /// The AUTH method: LOGIN, PLAIN, CRAM-MD5, XOAUTH2, OAUTHBEARER, or the strongest offered (`amAuto`).
  TQNISMTPAuthMethod AuthMethod() const { return FAuthMethod; }
  /// Sets `AuthMethod`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAuthMethod(TQNISMTPAuthMethod value) {
    RefuseWriteWhileRunning(*this);
    FAuthMethod = value;
  }
  /// The OAuth 2.0 bearer token for XOAUTH2 and OAUTHBEARER; getting it (and a fresh one when
  /// it expires) is the application's job.
  const String& AccessToken() const { return FAccessToken; }
  /// Sets `AccessToken`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAccessToken(const String& value) {
    RefuseWriteWhileRunning(*this);
    FAccessToken = value;
  }
  /// The files to attach, owned.
  TQNIEMailAttachments* Attachments() const { return FAttachments.get(); }
  /// Sets `Attachments`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAttachments(const TQNIEMailAttachments* value) {
    RefuseWriteWhileRunning(*this);
    FAttachments->Assign(value);
  }

protected:
  /// Refuses, before connecting, a value that goes into a command or a header line and holds
  /// CR or LF (an address, a name, the subject, the charset or an encoding, an attachment's
  /// name or type): it would start a line of its own. Raises `Exception` naming the value. Then
  /// prepares the message once, so an attachment file that cannot be opened ("Attachment F
  /// cannot be read: reason") or a text `CharSet` cannot hold raises here too.
  void BeforeExecute() override;
  /// One step: `Send`; returns an empty text. After a failure the connection is ended
  /// ("QUIT" unless inside the message data, then closed) before the exception goes on.
  String InternalExecute() override;
  /// Writes `Text` and CRLF. Outside the message data it then reads the server's reply and
  /// returns whether it carries `ExpectedCode` (an empty code accepts any reply); inside it
  /// (after DATA) lines are dot-stuffed and gathered, and no reply is read. Returns false
  /// when the connection fails; `LastReply` then says what happened.
  bool SendData(const String& Text, const String& ExpectedCode);
  /// "<" yyyymmddhhnn, eight random letters a..t, "@", Domain, ">".
  static String UniqueMessageID(const String& Domain);
  /// The decimal form of Value, padded with "0" on the left to at least Length characters.
  static String LeadZero(Integer Value, Integer Length);
  /// The zone text of the machine's current offset: "GMT", "+hhmm" or "-hhmm".
  static String GetTimeZoneString();
  /// The date header's text of Value with the machine's current zone text.
  static String EMailFormatDate(TDateTime Value);
  /// The server's last reply, or what went wrong while waiting for it.
  const String& LastReply() const { return FLastReply; }

private:
  /// The message of the current properties; `local` checks what needs no server (every
  /// address may then go as UTF-8).
  smtp::Message prepare(bool local);
  bool send_bytes(std::string_view line, std::string_view expected);
  /// Sends `shown` followed by the credential `secret`; a trace shows "***" in its place.
  bool send_secret(std::string_view shown, std::string_view secret, std::string_view expected);
  bool flush();
  bool read_reply(std::string_view expected);
  [[noreturn]] void raise_reply(std::string_view expected) const;
  void command(std::string_view line, std::string_view expected);
  void secret_command(std::string_view shown, std::string_view secret, std::string_view expected);
  void trace_lines(TQNITraceKind kind, std::string_view text);
  void abandon() noexcept;
  String local_name();
  void greet_extended(const std::string& host);
  void authenticate();
  void bearer_login(std::string_view mechanism, const std::string& response, std::string_view after);
  bool wants_extensions() const;

  std::unique_ptr<TQNIEMailAddress> FFrom;
  std::unique_ptr<TQNIEMailAddresses> FRecipients;
  std::unique_ptr<TQNIEMailAddresses> FCC;
  std::unique_ptr<TQNIEMailAddresses> FBCC;
  std::unique_ptr<TQNIEMailAddresses> FReplyTo;
  String FSubject;
  std::unique_ptr<TStringList> FBody;
  String FCharSet = u"us-ascii";
  String FEncoding = u"7bit";
  TQNISMTPPriority FPriority = spNormal;
  TDateTime FDate = 0;
  std::unique_ptr<TQNILogin> FLogin;
  std::unique_ptr<TQNIEMailAttachments> FAttachments;
  TQNISMTPAuthMethod FAuthMethod = amLogin;
  String FAccessToken;

  std::unique_ptr<TSmtpReplyFrame> FIncoming;  // received bytes not yet taken as a reply
  std::string FOutgoing;                       // message lines gathered for one send
  bool FInData = false;
  bool FAuthenticated = false;  // this connection has logged in (RFC 4954: AUTH only once)
  bool FAccepted = false;       // the server took the last message (250 after its data)
  String FLastReply;
  std::string FLastCode;
  std::string FLastRaw;       // the last reply as it came
  smtp::Extensions FOffered;  // what the last EHLO answer offered
};

/// The pure pieces of the dialogue: byte strings in, byte strings out.
namespace smtp {

/// One reply of the server: its three-digit code (from the last line) and its lines joined
/// with a blank, each keeping its code.
struct Reply {
  /// The three-digit code.
  std::string Code;
  /// The lines' texts joined with a blank.
  std::string Text;
};

/// Parses one complete reply, as `complete_reply_length` delimits it.
QNINET_API Reply parse_reply(std::string_view reply);
/// Whether the reply carries `expected`; an empty expectation accepts any reply.
QNINET_API bool reply_matches(const Reply& reply, std::string_view expected);
/// What the EHLO answer `reply` offers.
QNINET_API Extensions parse_ehlo(std::string_view reply);
/// The strongest method of those offered that the sender speaks: with a token OAUTHBEARER, then
/// XOAUTH2; then CRAM-MD5 (the password never travels), PLAIN, LOGIN; LOGIN when `offered` has
/// no AUTH keyword at all, and nothing when it names only others.
QNINET_API std::optional<TQNISMTPAuthMethod> strongest_auth(const Extensions& offered,
                                                            bool withToken = false);
/// XOAUTH2's client response before its base64: "user=" USER ^A "auth=Bearer " TOKEN ^A ^A.
QNINET_API std::string xoauth2_response(std::string_view user, std::string_view token);
/// OAUTHBEARER's client response (RFC 7628 section 3.1) before its base64: the GS2 header
/// "n,a=USER," (or "n,," without a user; "," and "=" in it escaped as RFC 5801 says), then
/// ^A "host=" HOST ^A "port=" PORT ^A "auth=Bearer " TOKEN ^A ^A.
QNINET_API std::string oauthbearer_response(std::string_view user, std::string_view host, int port,
                                            std::string_view token);
/// The "status" of the JSON error that a 334 challenge carries when a token is refused (RFC 7628
/// section 3.2.2), from the challenge's base64; empty when it is no such JSON.
QNINET_API std::string bearer_error_status(std::string_view challenge);
/// The bytes of base64 `text` (blanks ignored); nothing when it is not base64.
QNINET_API std::optional<std::string> base64_decode(std::string_view text);
/// The answer to a CRAM-MD5 challenge (RFC 2195), before its base64: the user, a blank and the
/// HMAC-MD5 of the challenge under the password in hex.
QNINET_API std::string cram_md5_answer(std::string_view user, std::string_view password,
                                       std::string_view challenge);
/// A message line as the DATA phase carries it: one more "." before a leading "."
/// (RFC 5321 section 4.5.2).
QNINET_API std::string dot_stuff(std::string_view line);

}  // namespace smtp

}  // namespace qninet
