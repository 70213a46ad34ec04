#pragma once
// The mail sender's value types (addresses, attachments, login settings), the pure pieces of
// the SMTP dialogue and the MIME message, and the sender component.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/sys/TimeZone.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// One mail address: the mailbox and its display name.
class QNINET_API TQNIEMailAddress : public TCollectionItem {
  QNINET_OBJECT(TQNIEMailAddress, TCollectionItem)
public:
  /// Joins `Collection` when one is given; the sender's `From` stands alone.
  explicit TQNIEMailAddress(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  /// Copies `Address` and `Name` from another address; anything else is refused.
  void Assign(const TPersistent* Source) override;

  const String& Address() const { return FAddress; }
  void SetAddress(const String& value) { FAddress = value; }
  const String& Name() const { return FName; }
  void SetName(const String& value) { FName = value; }
  /// `Address` alone when `Name` is empty or is the address in capitals; otherwise
  /// "Name <Address>" (the name unquoted).
  String Text() const;
  /// Parses "Name <address>", "address (Name)" or a bare address (kept as written); quotes
  /// around the name are stripped, pair by pair.
  void SetText(const String& value);

private:
  String FAddress;
  String FName;
};

/// An owned list of addresses, parsed from and joined to a comma-separated text.
class QNINET_API TQNIEMailAddresses : public TCollectionOf<TQNIEMailAddress> {
  QNINET_OBJECT(TQNIEMailAddresses, TCollection)
public:
  /// An empty list; `AOwner` is what the list reports as its owner.
  explicit TQNIEMailAddresses(TPersistent* AOwner) : TCollectionOf(AOwner), FQNIControl(AOwner) {}
  TPersistent* QNIControl() const { return FQNIControl; }
  /// Assigns the contents of `value` to the item at `Index` (raises `EListError` when out of range).
  void SetItems(int Index, const TQNIEMailAddress* value) { Items(Index)->Assign(value); }
  /// The items' `Text`, joined with ", "; empty for an empty list.
  String EMailAddresses() const;
  /// Replaces every item by the entries of a comma-separated list. A comma inside one open
  /// double quote belongs to the entry; empty entries add nothing; ";" is no separator.
  void SetEMailAddresses(const String& value);
  /// Appends every item's `Text`, in order, to `AStrings` (not cleared first).
  void FillTStrings(TStrings* AStrings) const;

private:
  TPersistent* FQNIControl;
};

/// One file attached to a message, with its MIME attributes.
class QNINET_API TQNIEMailAttachment : public TCollectionItem {
  QNINET_OBJECT(TQNIEMailAttachment, TCollectionItem)
public:
  explicit TQNIEMailAttachment(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  /// Copies AttachmentName, ContentType, Encoding and FileName; anything else is refused.
  void Assign(const TPersistent* Source) override;
  /// `AttachmentName`, or when it is empty the last path component of `FileName`.
  String GetAttachmentName() const;
  /// Sets `ContentType` to what the system registers for `FileName` (`ContentTypeByFile`).
  void DetectContentType();

  const String& AttachmentName() const { return FAttachmentName; }
  void SetAttachmentName(const String& value) { FAttachmentName = value; }
  const String& ContentType() const { return FContentType; }
  void SetContentType(const String& value) { FContentType = value; }
  const String& Encoding() const { return FEncoding; }
  void SetEncoding(const String& value) { FEncoding = value; }
  const String& FileName() const { return FFileName; }
  void SetFileName(const String& value) { FFileName = value; }

private:
  String FAttachmentName;
  String FContentType;
  String FEncoding;
  String FFileName;
};

/// An owned list of attachments.
class QNINET_API TQNIEMailAttachments : public TCollectionOf<TQNIEMailAttachment> {
  QNINET_OBJECT(TQNIEMailAttachments, TCollection)
public:
  explicit TQNIEMailAttachments(TPersistent* AOwner) : TCollectionOf(AOwner), FQNIControl(AOwner) {}
  TPersistent* QNIControl() const { return FQNIControl; }
  /// Assigns the contents of `value` to the item at `Index` (raises `EListError` when out of range).
  void SetItems(int Index, const TQNIEMailAttachment* value) { Items(Index)->Assign(value); }

private:
  TPersistent* FQNIControl;
};

/// The account for authenticated sending.
class QNINET_API TQNILogin : public TPersistent {
  QNINET_OBJECT(TQNILogin, TPersistent)
public:
  TQNILogin() = default;
  /// Copies UserID, Password and UseLogin from another login; anything else is refused.
  void Assign(const TPersistent* Source) override;

  const String& UserID() const { return FUserID; }
  void SetUserID(const String& value) { FUserID = value; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& value) { FPassword = value; }
  bool UseLogin() const { return FUseLogin; }
  void SetUseLogin(bool value) { FUseLogin = value; }

private:
  String FUserID;
  String FPassword;
  bool FUseLogin = false;
};

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
  struct Prepared;
  Prepared prepare() const;
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

  std::string FIncoming;  // received bytes not yet taken as a reply
  std::string FOutgoing;  // message lines gathered for one send
  bool FInData = false;
  bool FAuthenticated = false;  // this connection has logged in (RFC 4954: AUTH only once)
  String FLastReply;
  std::string FLastCode;
};

/// The pure pieces of the mail dialogue and message: byte strings in, byte strings out.
namespace smtp {

/// One reply of the server: its three-digit code (from the last line) and its lines joined
/// with a blank, each keeping its code.
struct Reply {
  std::string Code;
  std::string Text;
};

/// The length of the first complete reply at the start of `received` (through the CRLF or LF
/// of its last line: a line that is not "NNN-..."), or nothing while it is incomplete.
QNINET_API std::optional<std::size_t> complete_reply_length(std::string_view received);
/// Parses one complete reply, as `complete_reply_length` delimits it.
QNINET_API Reply parse_reply(std::string_view reply);
/// Whether the reply carries `expected`; an empty expectation accepts any reply.
QNINET_API bool reply_matches(const Reply& reply, std::string_view expected);

/// Base64 in lines of 76 characters (RFC 2045 section 6.8), without line breaks.
QNINET_API std::vector<std::string> base64_lines(std::string_view bytes);
/// Quoted-printable (RFC 2045 section 6.7) in lines of at most 76 characters. CRLF pairs
/// become line breaks, a lone CR or LF is encoded; a text that does not end with CRLF ends
/// with a soft break, so the decoded part is exactly `bytes`.
QNINET_API std::vector<std::string> quoted_printable_lines(std::string_view bytes);
/// The lines of `bytes`, split at CRLF, LF or CR; a final line break adds no empty line.
QNINET_API std::vector<std::string> raw_lines(std::string_view bytes);
/// The lines of `bytes` in the transfer encoding named (ignoring case): "base64",
/// "quoted-printable", anything else raw.
QNINET_API std::vector<std::string> encoded_lines(std::string_view bytes, std::string_view encoding);
/// A message line as the DATA phase carries it: one more "." before a leading "."
/// (RFC 5321 section 4.5.2).
QNINET_API std::string dot_stuff(std::string_view line);

/// `text` with every CR and LF replaced by a blank, so a header value cannot add a line.
QNINET_API String header_value(StringView text);
/// Whether every character is US-ASCII.
QNINET_API bool is_ascii(StringView text);
/// Header text: `text` itself when it is US-ASCII, otherwise RFC 2047 encoded words in
/// `charset` (Base64 form, at most 75 characters each, folded with CRLF and a blank).
/// Returns false when `charset` cannot represent the text.
QNINET_API bool header_text(StringView text, std::string_view charset, std::string& out);
/// A display name as a header phrase: encoded words when it is not US-ASCII, a quoted
/// string when it holds a special character (RFC 5322 section 3.2.3), else as it is.
/// Returns false when `charset` cannot represent it.
QNINET_API bool header_phrase(StringView name, std::string_view charset, std::string& out);
/// A mailbox for a header line: the address alone when `Text` gives it alone, otherwise the
/// phrase of the name and the address in angle brackets.
QNINET_API bool header_mailbox(const TQNIEMailAddress& item, std::string_view charset, std::string& out);
/// The mailboxes joined with ", ", folded with CRLF and a blank when a line would pass 76
/// characters. Returns false when a name cannot be written in `charset`.
QNINET_API bool header_mailbox_list(const TQNIEMailAddresses& list, std::string_view charset,
                                    std::size_t prefixLength, std::string& out);

/// "GMT" for a zero offset, otherwise "+hhmm" east or "-hhmm" west of UTC. The offset comes
/// from the standard or daylight bias in force, or the zone's real current offset when the
/// platform reports neither.
QNINET_API String zone_text(const sys::TTimeZoneInfo& zone);
/// The date header's text: "Tue, 5 Mar 2024 09:07:03 " and the zone text.
QNINET_API String format_date(TDateTime value, const String& zone);

}  // namespace smtp

}  // namespace qninet
