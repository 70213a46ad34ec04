#pragma once
// The mail sender: the SMTP dialogue on the socket engine. The value types are in MailTypes,
// the message itself is built by MimeMessage.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/MailTypes.h"
#include "qninet/socket/MimeMessage.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// The priority of a message; its ordinal plus one is the "X-Priority" number (1 to 5).
enum TQNISMTPPriority : std::uint8_t { spHighest, spHigh, spNormal, spLow, spLowest };
QNINET_DECLARE_ENUM_INFO(TQNISMTPPriority)

/// Sends one mail message with attachments over SMTP on the socket engine. Every command's
/// reply is read and checked; a refusal ends the message with an exception whose text is
/// "Error " and the expected code, ":" and the server's reply, which `Execute` returns (and
/// `LastError` holds). A message that was accepted makes `Execute` return an empty text.
class QNINET_API TQNISMTP : public TQNInetBase {
  QNINET_OBJECT(TQNISMTP, TQNInetBase)
public:
  /// Port 25, CharSet "us-ascii", Encoding "7bit", Priority spNormal, Date now.
  explicit TQNISMTP(TComponent* AOwner);
  ~TQNISMTP() override;

  /// Opens the connection unless it is open (then reads the "220" greeting) and greets with
  /// "HELO " and the local host name, or "EHLO " when `Login.UseLogin` (falling back to HELO
  /// when the server refuses EHLO). Raises "Error 220: ..." or "Error 250: ..." after closing
  /// the connection, and the engine's connection errors.
  void Connect() override;
  /// Writes "QUIT" when the connection is open, then closes it. Raises "Error 221: ..." (after
  /// closing) when the server does not answer "221".
  void Disconnect() override;
  /// Writes the transaction and the message on the open connection: RSET, the login when
  /// asked for, MAIL FROM, RCPT TO for Recipients, CC and BCC, DATA, the MIME message, ".".
  /// Everything is prepared first: text that CharSet cannot represent, an address that is not
  /// US-ASCII or an attachment file that cannot be read raise `Exception` before anything is
  /// sent. A refusal raises "Error NNN: <reply>".
  void Send();

  TQNIEMailAddress* From() const { return FFrom.get(); }
  /// Copies the given address into the component's own (so do the other object setters).
  void SetFrom(const TQNIEMailAddress* value) { FFrom->Assign(value); }
  TQNIEMailAddresses* Recipients() const { return FRecipients.get(); }
  void SetRecipients(const TQNIEMailAddresses* value) { FRecipients->Assign(value); }
  TQNIEMailAddresses* CC() const { return FCC.get(); }
  void SetCC(const TQNIEMailAddresses* value) { FCC->Assign(value); }
  TQNIEMailAddresses* BCC() const { return FBCC.get(); }
  void SetBCC(const TQNIEMailAddresses* value) { FBCC->Assign(value); }
  TQNIEMailAddresses* ReplyTo() const { return FReplyTo.get(); }
  void SetReplyTo(const TQNIEMailAddresses* value) { FReplyTo->Assign(value); }
  const String& Subject() const { return FSubject; }
  void SetSubject(const String& value) { FSubject = value; }
  TStrings* Body() const { return FBody.get(); }
  /// Copies the lines of the given list.
  void SetBody(const TStrings* value) { FBody->Assign(value); }
  const String& CharSet() const { return FCharSet; }
  void SetCharSet(const String& value) { FCharSet = value; }
  const String& Encoding() const { return FEncoding; }
  void SetEncoding(const String& value) { FEncoding = value; }
  TQNISMTPPriority Priority() const { return FPriority; }
  void SetPriority(TQNISMTPPriority value) { FPriority = value; }
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime value) { FDate = value; }
  TQNILogin* Login() const { return FLogin.get(); }
  void SetLogin(const TQNILogin* value) { FLogin->Assign(value); }
  TQNIEMailAttachments* Attachments() const { return FAttachments.get(); }
  void SetAttachments(const TQNIEMailAttachments* value) { FAttachments->Assign(value); }

protected:
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
  smtp::Message prepare();
  bool send_bytes(std::string_view line, std::string_view expected);
  bool flush();
  bool read_reply(std::string_view expected);
  [[noreturn]] void raise_reply(std::string_view expected) const;
  void command(std::string_view line, std::string_view expected);
  void abandon() noexcept;
  String local_name();

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

  TSmtpReplyFrame FIncoming;  // received bytes not yet taken as a reply
  std::string FOutgoing;      // message lines gathered for one send
  bool FInData = false;
  bool FAuthenticated = false;  // this connection has logged in (RFC 4954: AUTH only once)
  String FLastReply;
  std::string FLastCode;
};

/// The pure pieces of the dialogue: byte strings in, byte strings out.
namespace smtp {

/// One reply of the server: its three-digit code (from the last line) and its lines joined
/// with a blank, each keeping its code.
struct Reply {
  std::string Code;
  std::string Text;
};

/// Parses one complete reply, as `complete_reply_length` delimits it.
QNINET_API Reply parse_reply(std::string_view reply);
/// Whether the reply carries `expected`; an empty expectation accepts any reply.
QNINET_API bool reply_matches(const Reply& reply, std::string_view expected);
/// A message line as the DATA phase carries it: one more "." before a leading "."
/// (RFC 5321 section 4.5.2).
QNINET_API std::string dot_stuff(std::string_view line);

}  // namespace smtp

}  // namespace qninet
