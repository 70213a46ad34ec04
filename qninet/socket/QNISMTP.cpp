#include "qninet/socket/QNISMTP.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <utility>

#include "qninet/core/TextEncoding.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/MimeMessage.h"
#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/TimeZone.h"

namespace qninet {

// ---------------------------------------------------------------------------------------------
// The sender

QNINET_DEFINE_ENUM_INFO(TQNISMTPPriority, "spHighest", "spHigh", "spNormal", "spLow", "spLowest")
QNINET_DEFINE_ENUM_INFO(TQNISMTPAuthMethod, "amLogin", "amPlain", "amCramMD5", "amAuto", "amXOAuth2",
                        "amOAuthBearer")

namespace {

// Data lines are gathered and sent in pieces of about this size; the server answers only the
// final period line (RFC 5321 section 4.1.1.4), so nothing needs to wait for a reply.
constexpr std::size_t kSendPiece = 64 * 1024;

std::string bytes_of(const String& s) { return ToBytes(s); }

[[noreturn]] void fail(const String& text) { throw Exception(text); }

/// The bias in force in minutes west of UTC: the standard or daylight bias, or the zone's real
/// current offset when the platform reports neither.
Integer bias_in_force(const sys::TTimeZoneInfo& zone) {
  switch (zone.State) {
    case sys::tzsStandard:
      return zone.Bias + zone.StandardBias;
    case sys::tzsDaylight:
      return zone.Bias + zone.DaylightBias;
    default:
      return -zone.CurrentOffsetMinutes;
  }
}

// The file stays open from the preparation to the end of the message; a read error on the way
// raises inside the message data, which then is never ended.
std::function<std::size_t(char*, std::size_t)> open_attachment(const TQNIEMailAttachment& a) {
  auto file = std::make_shared<sys::FileHandle>();
  if (const auto opened = file->Open(ToUtf8(a.FileName()), sys::FileOpenMode::Read); !opened)
    fail(u"Attachment " + a.FileName() + u" cannot be read: " + opened.failure().Text);
  const String name = a.FileName();
  return [file, name](char* buffer, std::size_t size) -> std::size_t {
    const auto n = file->Read(buffer, size);
    if (n < 0) fail(u"Attachment " + name + u" cannot be read");
    return static_cast<std::size_t>(n);
  };
}

std::mt19937& random_generator() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}
std::mutex g_random_mutex;

}  // namespace

TQNISMTP::TQNISMTP(TComponent* AOwner)
    : TQNInetBase(AOwner),
      FFrom(std::make_unique<TQNIEMailAddress>()),
      FRecipients(std::make_unique<TQNIEMailAddresses>(this)),
      FCC(std::make_unique<TQNIEMailAddresses>(this)),
      FBCC(std::make_unique<TQNIEMailAddresses>(this)),
      FReplyTo(std::make_unique<TQNIEMailAddresses>(this)),
      FBody(std::make_unique<TStringList>()),
      FDate(Now()),
      FLogin(std::make_unique<TQNILogin>()),
      FAttachments(std::make_unique<TQNIEMailAttachments>(this)),
      FIncoming(std::make_unique<TSmtpReplyFrame>()) {
  SetPort(25);
}

TQNISMTP::~TQNISMTP() {
  StopAsyncRun();
  FFrom.reset();
  FRecipients.reset();
  FCC.reset();
  FBCC.reset();
  FReplyTo.reset();
  FBody.reset();
  FLogin.reset();
  FAttachments.reset();
}

String TQNISMTP::local_name() {
  const String host = GetLocalHost();
  return host.empty() ? String(u"localhost") : host;
}

void TQNISMTP::Connect() {
  const bool wasOpen = Connected();
  inherited::Connect();
  try {
    if (!wasOpen) {
      FIncoming->Clear();
      FOutgoing.clear();
      FInData = false;
      FAuthenticated = false;
      FOffered = {};
      bool greeted = false;
      try {
        greeted = read_reply("220");
      } catch (const ESocketError&) {
        // The server took the connection and said nothing: name what never came, and from whom.
        if (!WaitTimedOut()) throw;
        const platform::TClientSocket& socket = *ClientSocket();
        const String node = socket.Address().empty() ? socket.Host() : socket.Address();
        fail(FromUtf8(
            sys::no_greeting_text(ToUtf8(platform::EndpointText(node, socket.Port())), socket.Timeout())));
      }
      if (!greeted) raise_reply("220");
    }
    const std::string host = bytes_of(smtp::header_value(local_name()));
    // Extensions (AUTH, SMTPUTF8, 8BITMIME) are offered only after EHLO; a message that needs
    // none greets with HELO as it always did.
    const bool extended = FLogin->UseLogin() || wants_extensions();
    if (wasOpen) {
      // A kept connection greets again. RFC 5321 section 4.1.4 lets the server refuse a second
      // greeting (OpenSMTPD: "503 5.5.1 Already identified"); the session then keeps the first
      // one, and the RSET that opens each transaction starts it afresh all the same.
      if (send_bytes((extended ? "EHLO " : "HELO ") + host, "250")) {
        if (extended) FOffered = smtp::parse_ehlo(FLastRaw);
      } else if (FLastCode.empty() || FLastCode[0] != '5') {
        raise_reply("250");
      }
    } else if (UseTLS() == tlsStartTLS && !TLSActive()) {
      // RFC 3207: STARTTLS follows an EHLO that offers it, and the session starts afresh with
      // a new EHLO, forgetting what the clear-text answer said.
      greet_extended(host);
      if (!smtp::parse_ehlo(FLastRaw).StartTLS) fail(u"Error: the server does not offer STARTTLS");
      command("STARTTLS", "220");
      // Bytes after the 220 came in clear text and must not be read as part of the session.
      if (!FIncoming->Empty()) fail(u"Error: the server sent data before the TLS handshake");
      StartTLS();
      greet_extended(host);
    } else if (extended) {
      // A server that does not know EHLO answers 5xx, and HELO follows (RFC 5321 section 3.2).
      if (send_bytes("EHLO " + host, "250")) {
        FOffered = smtp::parse_ehlo(FLastRaw);
      } else {
        if (FLastCode.empty() || FLastCode[0] != '5') raise_reply("250");
        command("HELO " + host, "250");
      }
    } else {
      command("HELO " + host, "250");
    }
  } catch (...) {
    abandon();
    throw;
  }
}

void TQNISMTP::greet_extended(const std::string& host) {
  command("EHLO " + host, "250");
  FOffered = smtp::parse_ehlo(FLastRaw);
}

bool TQNISMTP::wants_extensions() const {
  const auto outside_ascii = [](const TQNIEMailAddresses& list) {
    for (int i = 0; i < list.Count(); ++i)
      if (!is_ascii(list.Items(i)->Address())) return true;
    return false;
  };
  const auto eight_bit = [](const String& encoding) { return SameText(encoding, u"8bit"); };
  if (!is_ascii(FFrom->Address()) || eight_bit(FEncoding)) return true;
  for (const TQNIEMailAddresses* list : {FRecipients.get(), FCC.get(), FBCC.get(), FReplyTo.get()})
    if (outside_ascii(*list)) return true;
  for (int i = 0; i < FAttachments->Count(); ++i)
    if (eight_bit(FAttachments->Items(i)->Encoding())) return true;
  return false;
}

// RFC 8314: 465 is the port of mail submission over implicit TLS.
void TQNISMTP::SetUseTLS(TQNITLSMode value) {
  RefuseWriteWhileRunning(*this);
  SetUseTLSMovingPort(value, 25, 465);
}

void TQNISMTP::Disconnect() {
  if (!Connected()) {
    inherited::Disconnect();
    return;
  }
  FInData = false;
  FOutgoing.clear();
  // RFC 5321 section 4.1.1.10: the server answers QUIT with 221. Once a message was accepted,
  // whatever happens at QUIT does not undo its delivery.
  const bool accepted = std::exchange(FAccepted, false);
  bool ok = false;
  try {
    ok = send_bytes("QUIT", "221");
  } catch (const Exception& e) {
    FLastCode.clear();
    FLastReply = e.Message();
  }
  inherited::Disconnect();
  FIncoming->Clear();
  FAuthenticated = false;
  if (ok) return;
  if (!accepted) raise_reply("221");
  SetLastError(u"Warning: the message was accepted, but the reply to QUIT failed: " + FLastReply);
}

void TQNISMTP::abandon() noexcept {
  try {
    if (Connected() && !FInData) {
      FOutgoing.clear();
      send_bytes("QUIT", "");
    }
  } catch (...) {
  }
  // Closing inside the message data leaves it unfinished, so the server discards it.
  FInData = false;
  FOutgoing.clear();
  FIncoming->Clear();
  FAuthenticated = false;
  try {
    inherited::Disconnect();
  } catch (...) {
  }
}

void TQNISMTP::BeforeExecute() {
  const auto check = [](const String& value, const String& what) {
    if (value.find_first_of(u"\r\n") != String::npos) fail(what + u" holds a line break; nothing was sent");
  };
  const auto check_address = [&](const TQNIEMailAddress& a, const String& what) {
    check(a.Address(),
          what + u" address \"" + a.Address().substr(0, a.Address().find_first_of(u"\r\n")) + u"\"");
    check(a.Name(), what + u" name");
  };
  check_address(*FFrom, u"The sender's");
  const std::pair<const TQNIEMailAddresses*, const char16_t*> lists[] = {
      {FRecipients.get(), u"A recipient's"},
      {FCC.get(), u"A CC recipient's"},
      {FBCC.get(), u"A BCC recipient's"},
      {FReplyTo.get(), u"A reply-to"}};
  for (const auto& [list, what] : lists)
    for (int i = 0; i < list->Count(); ++i) check_address(*list->Items(i), what);
  check(FSubject, u"The subject");
  check(FCharSet, u"The charset");
  check(FEncoding, u"The encoding");
  const bool bearer = FAuthMethod == amXOAuth2 || FAuthMethod == amOAuthBearer;
  if (FLogin->UseLogin() && bearer && FAccessToken.empty())
    fail(String(FAuthMethod == amXOAuth2 ? u"XOAUTH2" : u"OAUTHBEARER") +
         u" needs an AccessToken; nothing was sent");
  check(FAccessToken, u"The access token");
  for (int i = 0; i < FAttachments->Count(); ++i) {
    const TQNIEMailAttachment& a = *FAttachments->Items(i);
    check(a.GetAttachmentName(), u"An attachment's name");
    check(a.ContentType(), u"An attachment's content type");
    check(a.Encoding(), u"An attachment's encoding");
  }
  // The message is made of local input only: an attachment that cannot be opened or a text the
  // charset cannot hold is refused here, before connecting. What depends on the server (whether
  // it takes UTF-8 addresses) waits for its answer to EHLO.
  prepare(true);
  inherited::BeforeExecute();
}

String TQNISMTP::InternalExecute() {
  try {
    Send();
  } catch (...) {
    abandon();
    throw;
  }
  return String();
}

bool TQNISMTP::SendData(const String& Text, const String& ExpectedCode) {
  return send_bytes(bytes_of(Text), bytes_of(ExpectedCode));
}

void TQNISMTP::trace_lines(TQNITraceKind kind, std::string_view text) {
  for (std::size_t start = 0; start < text.size();) {
    const auto end = std::min(text.find("\r\n", start), text.size());
    if (end > start) Trace(kind, FromBytes(text.substr(start, end - start)));
    start = end + 2;
  }
}

bool TQNISMTP::send_bytes(std::string_view text, std::string_view expected) {
  if (FInData) {
    // One text may hold several lines ("\r\n" and a delimiter); each is stuffed alone.
    std::size_t start = 0;
    for (;;) {
      const auto end = text.find("\r\n", start);
      const std::size_t before = FOutgoing.size();
      FOutgoing += smtp::dot_stuff(text.substr(start, end == std::string_view::npos ? end : end - start));
      FOutgoing += "\r\n";
      if (Tracing()) Trace(trData, FromBytes(std::string_view(FOutgoing).substr(before)));
      if (end == std::string_view::npos) break;
      start = end + 2;
    }
    return FOutgoing.size() < kSendPiece || flush();
  }
  if (Tracing()) trace_lines(trSent, text);
  FOutgoing.append(text).append("\r\n");
  return flush() && read_reply(expected);
}

bool TQNISMTP::send_secret(std::string_view shown, std::string_view secret, std::string_view expected) {
  // A log keeps the mechanism and drops the credential (a base64 password reads as plain).
  if (Tracing()) Trace(trSent, FromBytes(shown) + u"***");
  FOutgoing.append(shown).append(secret).append("\r\n");
  return flush() && read_reply(expected);
}

bool TQNISMTP::flush() {
  if (FOutgoing.empty()) return true;
  const Integer sent = SendToSocket(FromBytes(FOutgoing));
  const bool ok = sent == static_cast<Integer>(FOutgoing.size());
  FOutgoing.clear();
  if (!ok) {
    FLastCode.clear();
    FLastReply = u"the connection was lost while sending";
  }
  return ok;
}

bool TQNISMTP::read_reply(std::string_view expected) {
  const TReceiveEnd end = ReceiveFramed(*FIncoming);
  if (end == reComplete) {
    FLastRaw = FIncoming->TakeReply();
    if (Tracing()) trace_lines(trReceived, FLastRaw);
    const smtp::Reply reply = smtp::parse_reply(FLastRaw);
    FLastCode = reply.Code;
    FLastReply = FromBytes(reply.Text);
    return smtp::reply_matches(reply, expected);
  }
  FLastCode.clear();
  FLastRaw.clear();
  FLastReply = end == reTooLong  ? u"the server's reply has no end"
               : end == reClosed ? u"the server closed the connection"
                                 : u"no reply from the server";
  return false;
}

void TQNISMTP::raise_reply(std::string_view expected) const {
  if (expected.empty()) fail(u"Error: " + FLastReply);
  fail(u"Error " + FromBytes(expected) + u": " + FLastReply);
}

void TQNISMTP::command(std::string_view line, std::string_view expected) {
  if (!send_bytes(line, expected)) raise_reply(expected);
}

void TQNISMTP::secret_command(std::string_view shown, std::string_view secret, std::string_view expected) {
  if (!send_secret(shown, secret, expected)) raise_reply(expected);
}

smtp::Message TQNISMTP::prepare(bool local) {
  smtp::MessageParts parts;
  parts.From = FFrom.get();
  parts.Recipients = FRecipients.get();
  parts.CC = FCC.get();
  parts.BCC = FBCC.get();
  parts.ReplyTo = FReplyTo.get();
  parts.Subject = FSubject;
  parts.Body = FBody.get();
  parts.CharSet = FCharSet;
  parts.Encoding = FEncoding;
  parts.Priority = static_cast<int>(FPriority) + 1;
  parts.MessageId = UniqueMessageID(smtp::header_value(local_name()));
  parts.Date = EMailFormatDate(FDate);
  parts.Attachments = FAttachments.get();
  parts.OpenFile = open_attachment;
  parts.Utf8Addresses = local || FOffered.Smtputf8;
  parts.EightBitMime = local || FOffered.EightBitMime;
  return smtp::build_message(parts);
}

void TQNISMTP::Send() {
  const smtp::Message m = prepare(false);
  FInData = false;
  FAccepted = false;
  command("RSET", "");
  if (FLogin->UseLogin() && !FAuthenticated) {
    authenticate();
    FAuthenticated = true;
  }
  // RFC 6152 section 2 and RFC 6531 section 3.4: the parameters that declare what follows.
  command("MAIL FROM:<" + m.From + ">" + (m.EightBit ? " BODY=8BITMIME" : "") + (m.Utf8 ? " SMTPUTF8" : ""),
          "250");
  for (const std::string& r : m.Recipients) command("RCPT TO:<" + r + ">", "250");
  command("DATA", "354");
  FInData = true;
  m.Write([this](std::string_view line) {
    if (!send_bytes(line, "250")) raise_reply("250");
  });
  FInData = false;
  command("\r\n.", "250");
  FAccepted = true;
}

void TQNISMTP::authenticate() {
  // Whatever happened to the upgrade, the account never travels in clear when TLS was asked for.
  if (UseTLS() != tlsNone && !TLSActive())
    fail(u"Error: the connection is not encrypted; the login was not sent");
  TQNISMTPAuthMethod method = FAuthMethod;
  if (method == amAuto) {
    const auto strongest = smtp::strongest_auth(FOffered, !FAccessToken.empty());
    if (!strongest) fail(u"Error: the server offers no login method that this sender speaks");
    method = *strongest;
  }
  // The account goes as UTF-8, so no character is cut to its low byte.
  const std::string user = ToUtf8(FLogin->UserID());
  const std::string password = ToUtf8(FLogin->Password());
  const std::string token = ToUtf8(FAccessToken);
  switch (method) {
    case amXOAuth2:
      // Google's and Microsoft's form; after a refusal the client answers with an empty line.
      bearer_login("XOAUTH2", smtp::xoauth2_response(user, token), "");
      break;
    case amOAuthBearer:
      // RFC 7628 section 3.2.3: after a refusal the client answers with a single ^A.
      bearer_login(
          "OAUTHBEARER",
          smtp::oauthbearer_response(user, ToUtf8(Host().empty() ? Address() : Host()), Port(), token),
          "\x01");
      break;
    case amPlain:
      // RFC 4616: authorization identity (empty), NUL, user, NUL, password.
      secret_command("AUTH PLAIN ", base64_encode(std::string(1, '\0') + user + '\0' + password), "235");
      break;
    case amCramMD5: {
      command("AUTH CRAM-MD5", "334");
      const auto challenge =
          smtp::base64_decode(std::string_view(FLastRaw).substr(std::min<std::size_t>(4, FLastRaw.size())));
      if (!challenge) {
        send_bytes("*", "");  // RFC 4954 section 4: the client cancels the exchange
        fail(u"Error: the server's CRAM-MD5 challenge is not base64: " + FLastReply);
      }
      secret_command("", base64_encode(smtp::cram_md5_answer(user, password, *challenge)), "235");
      break;
    }
    default:
      command("auth LOGIN", "334");
      secret_command("", base64_encode(user), "334");
      secret_command("", base64_encode(password), "235");
      break;
  }
}

void TQNISMTP::bearer_login(std::string_view mechanism, const std::string& response, std::string_view after) {
  if (send_secret("AUTH " + std::string(mechanism) + " ", base64_encode(response), "235")) return;
  if (FLastCode != "334") raise_reply("235");
  // A refused token: the 334 challenge carries the error as base64 JSON (RFC 7628 section
  // 3.2.2), and the exchange must be finished before the server gives its final answer.
  const std::string status = smtp::bearer_error_status(std::string_view(FLastRaw).substr(4));
  if (send_bytes(base64_encode(std::string(after)), "235")) return;
  String text = u"Error 235: " + FLastReply;
  if (!status.empty()) text += u" (the token was refused: status " + FromUtf8(status) + u")";
  fail(text);
}

String TQNISMTP::UniqueMessageID(const String& Domain) {
  String letters;
  {
    std::lock_guard lock(g_random_mutex);
    std::uniform_int_distribution<int> pick(0, 19);
    for (int i = 0; i < 8; ++i) letters += static_cast<char16_t>(u'a' + pick(random_generator()));
  }
  return u"<" + FormatDateTime(u"yyyymmddhhnn", Now()) + letters + u"@" + Domain + u">";
}

String TQNISMTP::LeadZero(Integer Value, Integer Length) { return smtp::lead_zero(Value, Length); }

String TQNISMTP::GetTimeZoneString() { return smtp::zone_text(bias_in_force(sys::time_zone_info())); }

String TQNISMTP::EMailFormatDate(TDateTime Value) { return smtp::format_date(Value, GetTimeZoneString()); }

QNINET_CLASS_INFO(TQNISMTP, Published("Port", &Self::Port, &Self::SetPort, 25),
                  Published("AuthMethod", &Self::AuthMethod, &Self::SetAuthMethod, amLogin),
                  Published("AccessToken", &Self::AccessToken, &Self::SetAccessToken),
                  Published("From", &Self::From), Published("Recipients", &Self::Recipients),
                  Published("CC", &Self::CC), Published("BCC", &Self::BCC),
                  Published("ReplyTo", &Self::ReplyTo),
                  Published("Subject", &Self::Subject, &Self::SetSubject), Published("Body", &Self::Body),
                  Published("CharSet", &Self::CharSet, &Self::SetCharSet, u"us-ascii"),
                  Published("Encoding", &Self::Encoding, &Self::SetEncoding, u"7bit"),
                  Published("Priority", &Self::Priority, &Self::SetPriority, spNormal),
                  Published("Date", &Self::Date, &Self::SetDate), Published("Login", &Self::Login),
                  Published("Attachments", &Self::Attachments))

}  // namespace qninet
