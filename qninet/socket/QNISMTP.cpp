#include "qninet/socket/QNISMTP.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "qninet/sys/Files.h"

#include "qninet/core/qniutil.h"
#include "qninet/core/qniutil.h"
#include "qninet/sys/CodePage.h"

namespace qninet {

// ---------------------------------------------------------------------------------------------
// Addresses

void TQNIEMailAddress::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNIEMailAddress*>(Source)) {
    FAddress = src->FAddress;
    FName = src->FName;
    return;
  }
  inherited::Assign(Source);
}

String TQNIEMailAddress::Text() const {
  if (FName.empty() || FName == UpperCase(FAddress)) return FAddress;
  return FName + u" <" + FAddress + u">";
}

void TQNIEMailAddress::SetText(const String& value) {
  FAddress.clear();
  FName.clear();
  const auto split = [&](char16_t open, bool nameInside) {
    const auto p = value.find(open);
    if (p == String::npos) return;
    const String inside = Trim(StringView(value).substr(p + 1, value.size() - p - 2));
    const String before = Trim(StringView(value).substr(0, p));
    FAddress = nameInside ? before : inside;
    FName = nameInside ? inside : before;
  };
  if (!value.empty() && value.back() == u'>')
    split(u'<', false);
  else if (!value.empty() && value.back() == u')')
    split(u'(', true);
  else
    FAddress = value;
  while (FName.size() >= 2 && ((FName.front() == u'"' && FName.back() == u'"') ||
                               (FName.front() == u'\'' && FName.back() == u'\'')))
    FName = FName.substr(1, FName.size() - 2);
}

String TQNIEMailAddresses::EMailAddresses() const {
  String result;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) result += u", ";
    result += Items(i)->Text();
  }
  return result;
}

void TQNIEMailAddresses::SetEMailAddresses(const String& value) {
  Clear();
  std::size_t start = 0;
  int quotes = 0;
  const auto take = [&](std::size_t end) {
    const String entry = Trim(StringView(value).substr(start, end - start));
    if (!entry.empty()) Add()->SetText(entry);
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'"')
      ++quotes;
    else if (value[i] == u',' && quotes != 1) {
      take(i);
      start = i + 1;
      quotes = 0;
    }
  }
  take(value.size());
}

void TQNIEMailAddresses::FillTStrings(TStrings* AStrings) const {
  if (AStrings == nullptr) return;
  for (int i = 0; i < Count(); ++i) AStrings->Add(Items(i)->Text());
}

// ---------------------------------------------------------------------------------------------
// Attachments and login

void TQNIEMailAttachment::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNIEMailAttachment*>(Source)) {
    FAttachmentName = src->FAttachmentName;
    FContentType = src->FContentType;
    FEncoding = src->FEncoding;
    FFileName = src->FFileName;
    return;
  }
  inherited::Assign(Source);
}

String TQNIEMailAttachment::GetAttachmentName() const {
  return FAttachmentName.empty() ? ExtractFileName(FFileName) : FAttachmentName;
}

void TQNIEMailAttachment::DetectContentType() { FContentType = ContentTypeByFile(FFileName); }

void TQNILogin::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TQNILogin*>(Source)) {
    FUserID = src->FUserID;
    FPassword = src->FPassword;
    FUseLogin = src->FUseLogin;
    return;
  }
  inherited::Assign(Source);
}

QNINET_CLASS_INFO(TQNIEMailAddress, Published("Address", &Self::Address, &Self::SetAddress),
                  Published("Name", &Self::Name, &Self::SetName),
                  // The combined form is computed from the two above; storing it as well
                  // would parse it again on loading and could change the name.
                  Published("Text", &Self::Text, &Self::SetText).StoredWhen([](const TObject&) {
                    return false;
                  }))
QNINET_CLASS_INFO(TQNIEMailAddresses)
QNINET_CLASS_INFO(TQNIEMailAttachment,
                  Published("AttachmentName", &Self::AttachmentName, &Self::SetAttachmentName),
                  Published("ContentType", &Self::ContentType, &Self::SetContentType),
                  Published("Encoding", &Self::Encoding, &Self::SetEncoding),
                  Published("FileName", &Self::FileName, &Self::SetFileName))
QNINET_CLASS_INFO(TQNIEMailAttachments)
QNINET_CLASS_INFO(TQNILogin, Published("UserID", &Self::UserID, &Self::SetUserID),
                  Published("Password", &Self::Password, &Self::SetPassword),
                  Published("UseLogin", &Self::UseLogin, &Self::SetUseLogin))

// ---------------------------------------------------------------------------------------------
// Pure pieces of the dialogue and the message

namespace smtp {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool continues(std::string_view line) {
  return line.size() >= 4 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]) && line[3] == '-';
}

std::string_view without_break(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

const char kHex[] = "0123456789ABCDEF";

String lead_zero(Integer value, Integer length) {
  String s = IntToStr(value);
  while (static_cast<Integer>(s.size()) < length) s.insert(s.begin(), u'0');
  return s;
}

}  // namespace

std::optional<std::size_t> complete_reply_length(std::string_view received) {
  std::size_t pos = 0;
  while (pos < received.size()) {
    const auto nl = received.find('\n', pos);
    if (nl == std::string_view::npos) return std::nullopt;
    const auto line = without_break(received.substr(pos, nl + 1 - pos));
    pos = nl + 1;
    if (!continues(line)) return pos;
  }
  return std::nullopt;
}

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

std::vector<std::string> base64_lines(std::string_view bytes) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::string> lines;
  std::string line;
  line.reserve(76);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    line += table[(v >> 18) & 63];
    line += table[(v >> 12) & 63];
    line += n > 1 ? table[(v >> 6) & 63] : '=';
    line += n > 2 ? table[v & 63] : '=';
    if (line.size() == 76) {
      lines.push_back(std::move(line));
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::vector<std::string> quoted_printable_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string line;
  const auto soft_break = [&] {
    line += '=';
    lines.push_back(std::move(line));
    line.clear();
  };
  // Appends one encoded unit, breaking softly first when the line would pass 76 characters
  // with the "=" of a soft break.
  const auto put = [&](const std::string& unit) {
    if (line.size() + unit.size() > 75) soft_break();
    line += unit;
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      ++i;
      continue;
    }
    const bool atLineEnd =
        i + 1 == bytes.size() || (bytes[i + 1] == '\r' && i + 2 < bytes.size() && bytes[i + 2] == '\n');
    const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
    if (literal)
      put(std::string(1, static_cast<char>(c)));
    else
      put(std::string{'=', kHex[c >> 4], kHex[c & 15]});
  }
  // The part's delimiter takes the line break before it, so a text without a final CRLF ends
  // with a soft break to add none.
  if (!line.empty() || bytes.empty() || !bytes.ends_with("\r\n")) soft_break();
  return lines;
}

std::vector<std::string> raw_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

std::vector<std::string> encoded_lines(std::string_view bytes, std::string_view encoding) {
  const String name = FromUtf8(encoding);
  if (SameText(name, u"base64")) return base64_lines(bytes);
  if (SameText(name, u"quoted-printable")) return quoted_printable_lines(bytes);
  return raw_lines(bytes);
}

std::string dot_stuff(std::string_view line) {
  if (!line.empty() && line.front() == '.') return "." + std::string(line);
  return std::string(line);
}

String header_value(StringView text) {
  String result(text);
  for (char16_t& c : result)
    if (c == u'\r' || c == u'\n') c = u' ';
  return result;
}

bool is_ascii(StringView text) {
  for (char16_t c : text)
    if (c >= 0x80) return false;
  return true;
}

bool header_text(StringView text, std::string_view charset, std::string& out) {
  out.clear();
  const String clean = header_value(text);
  if (is_ascii(clean)) {
    out = ToBytes(clean);
    return true;
  }
  const std::string prefix = "=?" + std::string(charset) + "?B?";
  // RFC 2047 section 2: an encoded word is at most 75 characters long.
  const std::size_t room = prefix.size() + 2 < 75 ? 75 - prefix.size() - 2 : 4;
  const std::size_t maxBytes = std::max<std::size_t>(3, room / 4 * 3);
  std::string word;
  const auto flush = [&] {
    if (word.empty()) return;
    if (!out.empty()) out += "\r\n ";
    out += prefix + ToBytes(Encode64(FromBytes(word))) + "?=";
    word.clear();
  };
  for (std::size_t i = 0; i < clean.size(); ++i) {
    // A surrogate pair is one character; a word never splits one.
    const std::size_t n = (clean[i] >= 0xD800 && clean[i] < 0xDC00 && i + 1 < clean.size()) ? 2 : 1;
    std::string bytes;
    if (!sys::encode_text(StringView(clean).substr(i, n), charset, bytes)) return false;
    if (word.size() + bytes.size() > maxBytes) flush();
    word += bytes;
    i += n - 1;
  }
  flush();
  return true;
}

bool header_phrase(StringView name, std::string_view charset, std::string& out) {
  const String clean = header_value(name);
  if (!is_ascii(clean)) return header_text(clean, charset, out);
  static constexpr std::u16string_view specials = u"()<>[]:;@\\,.\"";
  if (clean.find_first_of(specials) == String::npos) {
    out = ToBytes(clean);
    return true;
  }
  out = "\"";
  for (char16_t c : clean) {
    if (c == u'"' || c == u'\\') out += '\\';
    out += static_cast<char>(c);
  }
  out += '"';
  return true;
}

bool header_mailbox(const TQNIEMailAddress& item, std::string_view charset, std::string& out) {
  const std::string address = ToBytes(header_value(item.Address()));
  if (item.Name().empty() || item.Name() == UpperCase(item.Address())) {
    out = address;
    return true;
  }
  std::string phrase;
  if (!header_phrase(item.Name(), charset, phrase)) return false;
  out = phrase + " <" + address + ">";
  return true;
}

bool header_mailbox_list(const TQNIEMailAddresses& list, std::string_view charset, std::size_t prefixLength,
                         std::string& out) {
  out.clear();
  std::size_t lineLength = prefixLength;
  for (int i = 0; i < list.Count(); ++i) {
    std::string mailbox;
    if (!header_mailbox(*list.Items(i), charset, mailbox)) return false;
    if (i > 0) {
      out += ',';
      ++lineLength;
      if (lineLength + 1 + mailbox.size() > 76) {
        out += "\r\n";
        lineLength = 0;
      }
      out += ' ';
      ++lineLength;
    }
    out += mailbox;
    const auto lastBreak = mailbox.rfind('\n');
    lineLength =
        lastBreak == std::string::npos ? lineLength + mailbox.size() : mailbox.size() - lastBreak - 1;
  }
  return true;
}

String zone_text(const sys::TTimeZoneInfo& zone) {
  Integer bias = 0;
  switch (zone.State) {
    case sys::tzsStandard:
      bias = zone.Bias + zone.StandardBias;
      break;
    case sys::tzsDaylight:
      bias = zone.Bias + zone.DaylightBias;
      break;
    default:
      bias = -zone.CurrentOffsetMinutes;
      break;
  }
  if (bias == 0) return u"GMT";
  const Integer minutes = bias < 0 ? -bias : bias;
  return String(bias < 0 ? u"+" : u"-") + lead_zero(minutes / 60, 2) + lead_zero(minutes % 60, 2);
}

String format_date(TDateTime value, const String& zone) {
  static const char16_t* const days[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
  static const char16_t* const months[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                           u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, msec);
  return String(days[DayOfWeek(value) - 1]) + u", " + IntToStr(day) + u" " + months[month - 1] + u" " +
         IntToStr(year) + u" " + lead_zero(hour, 2) + u":" + lead_zero(minute, 2) + u":" +
         lead_zero(second, 2) + u" " + zone;
}

}  // namespace smtp

// ---------------------------------------------------------------------------------------------
// The sender

QNINET_DEFINE_ENUM_INFO(TQNISMTPPriority, "spHighest", "spHigh", "spNormal", "spLow", "spLowest")

namespace {

const std::string kBoundary = "----------VeltraxonSMTP";
const std::string kDelimiter = "--" + kBoundary;
const std::string kMailer = "X-Mailer: Veltraxon mailer (https://qninet.example.org/)";
// Data lines are gathered and sent in pieces of about this size; the server answers only the
// final period line (RFC 5321 section 4.1.1.4), so nothing needs to wait for a reply.
constexpr std::size_t kSendPiece = 64 * 1024;
constexpr std::size_t kMaxReply = 1024 * 1024;

std::string bytes_of(const String& s) { return ToBytes(s); }

[[noreturn]] void fail(const String& text) { throw Exception(text); }

String charset_error(const String& what, const String& charset) {
  return what + u" cannot be written in " + charset + u"; set CharSet";
}

/// The text of a body line or file name in the charset: US-ASCII passes unchanged.
bool in_charset(StringView text, const String& charset, std::string& out) {
  if (smtp::is_ascii(text)) {
    out = ToBytes(text);
    return true;
  }
  return sys::encode_text(text, ToUtf8(charset), out);
}

std::string envelope_address(const TQNIEMailAddress& item) {
  const String address = smtp::header_value(item.Address());
  if (!smtp::is_ascii(address))
    fail(u"The address " + address + u" cannot be sent: only US-ASCII addresses are supported");
  return ToBytes(address);
}

/// A parameter value in double quotes, with quotes and backslashes escaped.
std::string quoted_parameter(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::mt19937& random_generator() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}
std::mutex g_random_mutex;

}  // namespace

/// The message as it goes on the wire, built before anything is sent.
struct TQNISMTP::Prepared {
  std::string From;
  std::vector<std::string> Recipients;
  std::vector<std::string> Data;  // the lines after DATA, before the final period line
};

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
      FIncoming.clear();
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
  FIncoming.clear();
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
  FIncoming.clear();
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
  char buffer[4096];
  for (;;) {
    if (const auto length = smtp::complete_reply_length(FIncoming)) {
      const smtp::Reply reply = smtp::parse_reply(std::string_view(FIncoming).substr(0, *length));
      FIncoming.erase(0, *length);
      FLastCode = reply.Code;
      FLastReply = FromBytes(reply.Text);
      return smtp::reply_matches(reply, expected);
    }
    if (FIncoming.size() > kMaxReply) {
      FLastCode.clear();
      FLastReply = u"the server's reply has no end";
      return false;
    }
    const Integer n = ReceiveFromSocket(buffer, static_cast<Integer>(sizeof buffer));
    if (n <= 0) {
      FLastCode.clear();
      FLastReply = n == 0 ? u"the server closed the connection" : u"no reply from the server";
      return false;
    }
    FIncoming.append(buffer, static_cast<std::size_t>(n));
  }
}

void TQNISMTP::raise_reply(std::string_view expected) const {
  if (expected.empty()) fail(u"Error: " + FLastReply);
  fail(u"Error " + FromBytes(expected) + u": " + FLastReply);
}

void TQNISMTP::command(std::string_view line, std::string_view expected) {
  if (!send_bytes(line, expected)) raise_reply(expected);
}

TQNISMTP::Prepared TQNISMTP::prepare() const {
  Prepared m;
  const std::string charset = bytes_of(smtp::header_value(FCharSet));
  const String charsetName = FromBytes(charset);
  m.From = envelope_address(*FFrom);
  for (const TQNIEMailAddresses* list : {FRecipients.get(), FCC.get(), FBCC.get()})
    for (int i = 0; i < list->Count(); ++i) m.Recipients.push_back(envelope_address(*list->Items(i)));
  for (int i = 0; i < FReplyTo->Count(); ++i) envelope_address(*FReplyTo->Items(i));

  const auto mailboxes = [&](const TQNIEMailAddresses& list, const char* prefix) {
    std::string text;
    if (!smtp::header_mailbox_list(list, charset, std::string_view(prefix).size(), text))
      fail(charset_error(u"A display name", charsetName));
    m.Data.push_back(prefix + text);
  };

  auto& d = m.Data;
  d.push_back("Message-Id: " +
              bytes_of(UniqueMessageID(smtp::header_value(const_cast<TQNISMTP*>(this)->local_name()))));
  if (FReplyTo->Count() > 0) {
    // RFC 5322 section 3.6 allows one Reply-To field; it carries the whole list.
    std::string line = "Reply-To: ";
    for (int i = 0; i < FReplyTo->Count(); ++i)
      line += (i > 0 ? ", <" : "<") + envelope_address(*FReplyTo->Items(i)) + ">";
    d.push_back(line);
  }
  d.push_back("Date: " + bytes_of(EMailFormatDate(FDate)));
  if (!FFrom->Address().empty()) {
    std::string from;
    if (!smtp::header_mailbox(*FFrom, charset, from)) fail(charset_error(u"The sender's name", charsetName));
    d.push_back("From: " + from);
  }
  if (FRecipients->Count() > 0) mailboxes(*FRecipients, "To: ");
  if (FCC->Count() > 0) mailboxes(*FCC, "Cc: ");
  d.push_back("X-Priority: " + std::to_string(static_cast<int>(FPriority) + 1));
  d.push_back(kMailer);
  if (!FSubject.empty()) {
    std::string subject;
    if (!smtp::header_text(FSubject, charset, subject)) fail(charset_error(u"The subject", charsetName));
    d.push_back("Subject: " + subject);
  }
  d.push_back("MIME-Version: 1.0");
  const bool multipart = FAttachments->Count() > 0;
  if (multipart) {
    d.push_back("Content-Type: multipart/mixed; boundary=\"" + kBoundary + "\"");
    d.push_back("\r\n" + kDelimiter);
  }
  const std::string encoding = bytes_of(smtp::header_value(FEncoding));
  d.push_back("Content-Type: Text/Plain; charset=" + charset);
  d.push_back("Content-Transfer-Encoding: " + encoding);
  d.push_back("");

  // The text part, in the charset and the transfer encoding it announces.
  std::vector<std::string> lines;
  for (int i = 0; i < FBody->Count(); ++i) {
    std::string bytes;
    if (!in_charset(FBody->Strings(i), FCharSet, bytes)) fail(charset_error(u"Body text", charsetName));
    lines.push_back(std::move(bytes));
  }
  const String encodingName = FromBytes(encoding);
  if (SameText(encodingName, u"base64") || SameText(encodingName, u"quoted-printable")) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    for (std::string& line : smtp::encoded_lines(text, encoding)) d.push_back(std::move(line));
  } else {
    for (const std::string& line : lines) {
      // A line holding line breaks of its own goes out as the lines it holds.
      if (line.find_first_of("\r\n") == std::string::npos)
        d.push_back(line);
      else
        for (std::string& piece : smtp::raw_lines(line)) d.push_back(std::move(piece));
    }
  }

  if (multipart) {
    d.push_back(kDelimiter);
    for (int i = 0; i < FAttachments->Count(); ++i) {
      const TQNIEMailAttachment& a = *FAttachments->Items(i);
      std::string content;
      {
        const std::string path = ToUtf8(a.FileName());
        sys::FileHandle file;
        String reason;
        if (!file.Open(path, sys::FileOpenMode::Read, reason))
          fail(u"Attachment " + a.FileName() + u" cannot be read: " + reason);
        char buffer[65536];
        for (;;) {
          const auto n = file.Read(buffer, sizeof buffer);
          if (n < 0) fail(u"Attachment " + a.FileName() + u" cannot be read");
          if (n == 0) break;
          content.append(buffer, static_cast<std::size_t>(n));
        }
      }
      std::string name;
      if (!smtp::header_text(a.GetAttachmentName(), charset, name))
        fail(charset_error(u"The attachment name " + a.GetAttachmentName(), charsetName));
      // An empty type or encoding would make the header lines unreadable; base64 is the one
      // encoding that carries any file intact.
      const std::string type = a.ContentType().empty() ? "application/octet-stream"
                                                       : bytes_of(smtp::header_value(a.ContentType()));
      const std::string partEncoding =
          a.Encoding().empty() ? "base64" : bytes_of(smtp::header_value(a.Encoding()));
      d.push_back("Content-Type: " + type + "; name=" + quoted_parameter(name));
      d.push_back("Content-Transfer-Encoding: " + partEncoding);
      d.push_back("Content-Disposition: attachment; filename=" + quoted_parameter(name) + "\r\n");
      for (std::string& line : smtp::encoded_lines(content, partEncoding)) d.push_back(std::move(line));
      d.push_back("\r\n" + kDelimiter + (i + 1 < FAttachments->Count() ? "" : "--"));
    }
  }
  return m;
}

void TQNISMTP::Send() {
  const Prepared m = prepare();
  FInData = false;
  command("RSET", "");
  if (FLogin->UseLogin() && !FAuthenticated) {
    // The account goes as UTF-8, so no character is cut to its low byte.
    command("auth LOGIN", "334");
    command(bytes_of(Encode64(FromBytes(ToUtf8(FLogin->UserID())))), "334");
    command(bytes_of(Encode64(FromBytes(ToUtf8(FLogin->Password())))), "235");
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

String TQNISMTP::LeadZero(Integer Value, Integer Length) {
  String s = IntToStr(Value);
  while (static_cast<Integer>(s.size()) < Length) s.insert(s.begin(), u'0');
  return s;
}

String TQNISMTP::GetTimeZoneString() { return smtp::zone_text(sys::time_zone_info()); }

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
