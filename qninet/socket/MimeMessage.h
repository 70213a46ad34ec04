#pragma once
// The mail message as it goes on the wire, built without a socket: transfer encodings, header
// texts, the date header, and the whole MIME message with its attachments.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Strings.h"
#include "qninet/socket/MailTypes.h"

namespace qninet::smtp {

/// Takes each encoded line as it is made.
using LineSink = std::function<void(std::string_view Line)>;

/// A transfer encoder fed block by block: the lines it hands on are those that the whole-text
/// functions below give for all the blocks together.
class QNINET_API LineEncoder {
public:
  enum class Kind { Base64, QuotedPrintable, Raw };
  /// The encoder for a transfer encoding's name (any case): base64, quoted-printable, else raw.
  static Kind KindOf(std::string_view encoding);
  explicit LineEncoder(Kind kind) : FKind(kind) {}
  void Feed(std::string_view bytes, const LineSink& sink);
  /// Hands on the last lines; the encoder is spent afterwards.
  void Finish(const LineSink& sink);

  static constexpr std::size_t kBase64LineBytes = 57;  // 76 characters

private:
  void quoted_printable(bool atEnd, const LineSink& sink);
  Kind FKind;
  std::string FHeld;  // bytes not yet encoded
  std::string FLine;  // the line being made
  std::size_t FTotal = 0;
  bool FAfterCR = false;
  bool FEndsWithCRLF = false;
};

/// Quoted-printable (RFC 2045 section 6.7) in lines of at most 76 characters. CRLF pairs
/// become line breaks, a lone CR or LF is encoded; a text that does not end with CRLF ends
/// with a soft break, so the decoded part is exactly `bytes`.
QNINET_API std::vector<std::string> quoted_printable_lines(std::string_view bytes);
/// The lines of `bytes`, split at CRLF, LF or CR; a final line break adds no empty line.
QNINET_API std::vector<std::string> raw_lines(std::string_view bytes);
/// The lines of `bytes` in the transfer encoding named (ignoring case): "base64",
/// "quoted-printable", anything else raw.
QNINET_API std::vector<std::string> encoded_lines(std::string_view bytes, std::string_view encoding);
/// `text` with every CR and LF replaced by a blank, so a header value cannot add a line.
QNINET_API String header_value(StringView text);
/// Header text: `text` itself when it is US-ASCII, otherwise RFC 2047 encoded words in
/// `charset` (Base64 form, at most 75 characters each, folded with CRLF and a blank).
/// Returns false when `charset` cannot represent the text.
QNINET_API bool header_text(StringView text, std::string_view charset, std::string& out);
/// A display name as a header phrase: encoded words when it is not US-ASCII, a quoted
/// string when it holds a special character (RFC 5322 section 3.2.3), else as it is.
/// Returns false when `charset` cannot represent it.
QNINET_API bool header_phrase(StringView name, std::string_view charset, std::string& out);
/// An address as the envelope and the headers carry it: US-ASCII as it is; otherwise UTF-8 when
/// `utf8` (the server takes SMTPUTF8, RFC 6531), else with the domain as A-labels. Raises
/// `Exception` for a local part outside ASCII without `utf8`, or a domain that is no valid IDN.
QNINET_API std::string wire_address(StringView address, bool utf8);
/// A mailbox for a header line: the address alone when `Text` gives it alone, otherwise the
/// phrase of the name and the address in angle brackets; the address as `wire_address` makes it.
QNINET_API bool header_mailbox(const TQNIEMailAddress& item, std::string_view charset, std::string& out,
                               bool utf8 = false);
/// The mailboxes joined with ", ", folded with CRLF and a blank when a line would pass 76
/// characters. Returns false when a name cannot be written in `charset`.
QNINET_API bool header_mailbox_list(const TQNIEMailAddresses& list, std::string_view charset,
                                    std::size_t prefixLength, std::string& out, bool utf8 = false);

/// The decimal form of `value`, padded with "0" on the left to at least `length` characters.
QNINET_API String lead_zero(Integer value, Integer length);
/// "GMT" for a zero bias, otherwise "+hhmm" east or "-hhmm" west of UTC; `bias` counts minutes
/// west of UTC (UTC = local time + bias).
QNINET_API String zone_text(Integer bias);
/// The date header's text: "Tue, 5 Mar 2024 09:07:03 " and the zone text.
QNINET_API String format_date(TDateTime value, const String& zone);

/// What a message is made of.
struct MessageParts {
  const TQNIEMailAddress* From = nullptr;
  const TQNIEMailAddresses* Recipients = nullptr;
  const TQNIEMailAddresses* CC = nullptr;
  const TQNIEMailAddresses* BCC = nullptr;
  const TQNIEMailAddresses* ReplyTo = nullptr;
  String Subject;
  const TStrings* Body = nullptr;
  String CharSet;
  String Encoding;   ///< of the text part
  int Priority = 3;  ///< the "X-Priority" number
  String MessageId;  ///< "<...>", whole
  String Date;       ///< the Date header's text
  const TQNIEMailAttachments* Attachments = nullptr;
  bool Utf8Addresses = false;  ///< the server takes SMTPUTF8: addresses outside ASCII go as UTF-8
  bool EightBitMime = true;    ///< the server takes 8BITMIME; else a part in "8bit" goes quoted-printable
  /// Opens an attachment's file and gives its reader, which fills a buffer with the next block
  /// and returns the count (0 at the end); both raise when the file cannot be read.
  std::function<std::function<std::size_t(char* Buffer, std::size_t Size)>(const TQNIEMailAttachment&)>
      OpenFile;
};

/// The message as it goes on the wire; the attachments are read only while it is written.
struct Message {
  std::string From;                     ///< the envelope sender
  std::vector<std::string> Recipients;  ///< To, Cc and Bcc, in that order
  std::vector<std::string> Data;        ///< the header lines and the text part
  struct Attachment {
    std::vector<std::string> Head;  ///< the part's header lines
    std::string Encoding;
    std::function<std::size_t(char* Buffer, std::size_t Size)> Read;
    std::string After;  ///< the delimiter that closes the part
  };
  std::vector<Attachment> Attachments;
  bool Utf8 = false;      ///< an address goes as UTF-8: MAIL FROM needs SMTPUTF8
  bool EightBit = false;  ///< a part goes in 8bit: MAIL FROM needs BODY=8BITMIME

  /// Hands every line after DATA, before the final period line, to `sink` in order, reading
  /// and encoding the attachments block by block; a reader's exception passes through.
  void Write(const LineSink& sink) const;

  static constexpr std::size_t kReadBlock = 64 * 1024;
};

/// Builds the envelope and the message: the header lines (Message-Id, Reply-To, Date, From, To,
/// Cc, X-Priority, X-Mailer, Subject, MIME-Version), the text part in `CharSet` and `Encoding`,
/// and with attachments a multipart/mixed body with each file in its own encoding. Raises
/// `Exception` when `wire_address` refuses an address, when `CharSet` cannot represent a text,
/// or from `OpenFile`.
QNINET_API Message build_message(const MessageParts& Parts);

}  // namespace qninet::smtp
