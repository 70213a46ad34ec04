#include "qninet/socket/QNISMTP.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "qninet/core/TextEncoding.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/TimeZone.h"

namespace qninet {

// ---------------------------------------------------------------------------------------------
// Pure pieces of the dialogue

namespace smtp {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view without_break(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

Reply parse_reply(std::string_view reply) {
  Reply result;
  std::size_t pos = 0;
  std::string_view last;
  while (pos < reply.size()) {
    auto nl = reply.find('\n', pos);
    if (nl == std::string_view::npos) nl = reply.size() - 1;
    const auto line = without_break(reply.substr(pos, nl + 1 - pos));
    pos = nl + 1;
    if (!result.Text.empty()) result.Text += ' ';
    result.Text += line;
    last = line;
  }
  if (last.size() >= 3 && is_digit(last[0]) && is_digit(last[1]) && is_digit(last[2]))
    result.Code = std::string(last.substr(0, 3));
  return result;
}

bool reply_matches(const Reply& reply, std::string_view expected) {
  return expected.empty() || reply.Code == expected;
}

std::string dot_stuff(std::string_view line) {
  if (!line.empty() && line.front() == '.') return "." + std::string(line);
  return std::string(line);
}

}  // namespace smtp

// ---------------------------------------------------------------------------------------------
// The sender

QNINET_DEFINE_ENUM_INFO(TQNISMTPPriority, "spHighest", "spHigh", "spNormal", "spLow", "spLowest")

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

std::string read_attachment(const TQNIEMailAttachment& a) {
  const std::string path = ToUtf8(a.FileName());
  sys::FileHandle file;
  if (const auto opened = file.Open(path, sys::FileOpenMode::Read); !opened)
    fail(u"Attachment " + a.FileName() + u" cannot be read: " + opened.failure().Text);
  std::string content;
  char buffer[65536];
  for (;;) {
    const auto n = file.Read(buffer, sizeof buffer);
    if (n < 0) fail(u"Attachment " + a.FileName() + u" cannot be read");
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return content;
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
      FAttachments(std::make_unique<TQNIEMailAttachments>(this)) {
  SetPort(25);
}

TQNISMTP::~TQNISMTP() {
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
      FIncoming.Clear();
      FOutgoing.clear();
      FInData = false;
      FAuthenticated = false;
      if (!read_reply("220")) raise_reply("220");
    }
    const std::string host = bytes_of(smtp::header_value(local_name()));
    if (FLogin->UseLogin()) {
      // AUTH is an extension (RFC 4954): servers offer it only after EHLO. A server that
      // does not know EHLO answers 5xx, and HELO follows (RFC 5321 section 3.2).
      if (!send_bytes("EHLO " + host, "250")) {
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

void TQNISMTP::Disconnect() {
  if (!Connected()) {
    inherited::Disconnect();
    return;
  }
  FInData = false;
  FOutgoing.clear();
  // RFC 5321 section 4.1.1.10: the server answers QUIT with 221.
  const bool ok = send_bytes("QUIT", "221");
  inherited::Disconnect();
  FIncoming.Clear();
  FAuthenticated = false;
  if (!ok) raise_reply("221");
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
  FIncoming.Clear();
  FAuthenticated = false;
  try {
    inherited::Disconnect();
  } catch (...) {
  }
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

bool TQNISMTP::send_bytes(std::string_view text, std::string_view expected) {
  if (FInData) {
    // One text may hold several lines ("\r\n" and a delimiter); each is stuffed alone.
    std::size_t start = 0;
    for (;;) {
      const auto end = text.find("\r\n", start);
      FOutgoing += smtp::dot_stuff(text.substr(start, end == std::string_view::npos ? end : end - start));
      FOutgoing += "\r\n";
      if (end == std::string_view::npos) break;
      start = end + 2;
    }
    return FOutgoing.size() < kSendPiece || flush();
  }
  FOutgoing += text;
  FOutgoing += "\r\n";
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
  const TReceiveEnd end = ReceiveFramed(FIncoming);
  if (end == reComplete) {
    const smtp::Reply reply = smtp::parse_reply(FIncoming.TakeReply());
    FLastCode = reply.Code;
    FLastReply = FromBytes(reply.Text);
    return smtp::reply_matches(reply, expected);
  }
  FLastCode.clear();
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

smtp::Message TQNISMTP::prepare() {
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
  parts.ReadFile = read_attachment;
  return smtp::build_message(parts);
}

void TQNISMTP::Send() {
  const smtp::Message m = prepare();
  FInData = false;
  command("RSET", "");
  if (FLogin->UseLogin() && !FAuthenticated) {
    // The account goes as UTF-8, so no character is cut to its low byte.
    command("auth LOGIN", "334");
    command(base64_encode(ToUtf8(FLogin->UserID())), "334");
    command(base64_encode(ToUtf8(FLogin->Password())), "235");
    FAuthenticated = true;
  }
  command("MAIL FROM:<" + m.From + ">", "250");
  for (const std::string& r : m.Recipients) command("RCPT TO:<" + r + ">", "250");
  command("DATA", "354");
  FInData = true;
  for (const std::string& line : m.Data)
    if (!send_bytes(line, "250")) raise_reply("250");
  FInData = false;
  command("\r\n.", "250");
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
