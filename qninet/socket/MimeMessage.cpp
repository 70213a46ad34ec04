#include "qninet/socket/MimeMessage.h"

#include <algorithm>
#include <random>

#include "qninet/core/TextEncoding.h"
#include "qninet/sys/CodePage.h"
#include "qninet/sys/Idna.h"

namespace qninet::smtp {

namespace {

const char kHex[] = "0123456789ABCDEF";
const std::string kBoundary = "----------VeltraxonSMTP";
const std::string kMailer = "X-Mailer: Veltraxon mailer (https://qninet.example.org/)";

[[noreturn]] void fail(const String& text) { throw Exception(text); }

// The fixed text and 24 random letters and digits (about 143 bits), drawn again while the text
// occurs in a line already written. An attachment cannot know the random part in advance, so
// its content meets it only by a chance too small to count; base64 lines cannot hold it at all.
std::string pick_boundary(std::initializer_list<const std::vector<std::string>*> written) {
  static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::random_device source;
  std::uniform_int_distribution<int> pick(0, 61);
  for (;;) {
    std::string boundary = kBoundary + "_";
    for (int i = 0; i < 24; ++i) boundary += kAlphabet[pick(source)];
    const auto holds = [&](const std::string& line) { return line.find(boundary) != std::string::npos; };
    if (std::none_of(written.begin(), written.end(),
                     [&](const auto* lines) { return std::any_of(lines->begin(), lines->end(), holds); }))
      return boundary;
  }
}

String charset_error(const String& what, const String& charset) {
  return what + u" cannot be written in " + charset + u"; set CharSet";
}

/// The text of a body line or file name in the charset: US-ASCII passes unchanged.
bool in_charset(StringView text, const String& charset, std::string& out) {
  if (is_ascii(text)) {
    out = ToBytes(text);
    return true;
  }
  return sys::encode_text(text, ToUtf8(charset), out);
}

bool is_8bit(const std::string& encoding) { return SameText(FromBytes(encoding), u"8bit"); }

// RFC 6152 section 3: 8-bit data must not go to a server that does not offer 8BITMIME, so such
// a part is converted; quoted-printable carries any text, and a file as it streams.
std::string part_encoding(const std::string& encoding, const MessageParts& p, Message& m) {
  if (!is_8bit(encoding)) return encoding;
  if (!p.EightBitMime) return "quoted-printable";
  m.EightBit = true;
  return encoding;
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

}  // namespace

std::string wire_address(StringView address, bool utf8) {
  const String clean = header_value(address);
  if (is_ascii(clean)) return ToBytes(clean);
  if (utf8) return ToUtf8(clean);
  // RFC 6531 section 3.2: without SMTPUTF8 only the domain has an ASCII form (its A-labels).
  const auto at = clean.rfind(u'@');
  if (at == String::npos || !is_ascii(StringView(clean).substr(0, at)))
    fail(u"The address " + clean +
         u" has a local part outside ASCII and the server does not offer SMTPUTF8; nothing was sent");
  const auto domain = sys::to_ascii_domain(ToUtf8(clean.substr(at + 1)));
  if (!domain) fail(u"The address " + clean + u" has no valid domain name: " + domain.failure().Text);
  return ToBytes(clean.substr(0, at + 1)) + *domain;
}

String lead_zero(Integer value, Integer length) {
  String s = IntToStr(value);
  while (static_cast<Integer>(s.size()) < length) s.insert(s.begin(), u'0');
  return s;
}

// ---------------------------------------------------------------------------------------------
// Transfer encodings

// Quoted-printable needs two bytes of look-ahead (a CRLF pair, a blank before a line break), so
// it holds the last two bytes of a block back until the next block or the end shows them.
void LineEncoder::Feed(std::string_view bytes, const LineSink& sink) {
  switch (FKind) {
    case Kind::Base64:
      while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), kBase64LineBytes - FHeld.size());
        FHeld.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (FHeld.size() == kBase64LineBytes) {
          sink(base64_encode(FHeld));
          FHeld.clear();
        }
      }
      break;
    case Kind::QuotedPrintable:
      FHeld.append(bytes);
      FTotal += bytes.size();
      quoted_printable(false, sink);
      break;
    case Kind::Raw:
      for (char c : bytes) {
        if (c == '\n' && FAfterCR) {
          FAfterCR = false;
          continue;
        }
        FAfterCR = c == '\r';
        if (c == '\r' || c == '\n') {
          sink(FLine);
          FLine.clear();
        } else {
          FLine += c;
        }
      }
      break;
  }
}

void LineEncoder::Finish(const LineSink& sink) {
  switch (FKind) {
    case Kind::Base64:
      if (!FHeld.empty()) sink(base64_encode(FHeld));
      break;
    case Kind::QuotedPrintable:
      quoted_printable(true, sink);
      // The part's delimiter takes the line break before it, so a text without a final CRLF
      // ends with a soft break to add none.
      if (!FLine.empty() || FTotal == 0 || !FEndsWithCRLF) {
        FLine += '=';
        sink(FLine);
      }
      break;
    case Kind::Raw:
      if (!FLine.empty()) sink(FLine);
      break;
  }
  FHeld.clear();
  FLine.clear();
}

void LineEncoder::quoted_printable(bool atEnd, const LineSink& sink) {
  const std::string_view bytes = FHeld;
  // Appends one encoded unit, breaking softly first when the line would pass 76 characters
  // with the "=" of a soft break.
  const auto put = [&](const char* unit, std::size_t length) {
    if (FLine.size() + length > 75) {
      FLine += '=';
      sink(FLine);
      FLine.clear();
    }
    FLine.append(unit, length);
  };
  std::size_t i = 0;
  const std::size_t settled = atEnd ? bytes.size() : (bytes.size() > 2 ? bytes.size() - 2 : 0);
  for (; i < settled; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      sink(FLine);
      FLine.clear();
      ++i;
      continue;
    }
    const bool atLineEnd =
        i + 1 == bytes.size() || (bytes[i + 1] == '\r' && i + 2 < bytes.size() && bytes[i + 2] == '\n');
    const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
    if (literal) {
      const char unit = static_cast<char>(c);
      put(&unit, 1);
    } else {
      const char unit[3] = {'=', kHex[c >> 4], kHex[c & 15]};
      put(unit, 3);
    }
  }
  if (!bytes.empty()) FEndsWithCRLF = bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n";
  FHeld.erase(0, i);
}

namespace {

std::vector<std::string> encode_whole(LineEncoder::Kind kind, std::string_view bytes) {
  std::vector<std::string> lines;
  const LineSink sink = [&](std::string_view line) { lines.emplace_back(line); };
  LineEncoder encoder(kind);
  encoder.Feed(bytes, sink);
  encoder.Finish(sink);
  return lines;
}

}  // namespace

LineEncoder::Kind LineEncoder::KindOf(std::string_view encoding) {
  const String name = FromUtf8(encoding);
  if (SameText(name, u"base64")) return Kind::Base64;
  if (SameText(name, u"quoted-printable")) return Kind::QuotedPrintable;
  return Kind::Raw;
}

std::vector<std::string> quoted_printable_lines(std::string_view bytes) {
  return encode_whole(LineEncoder::Kind::QuotedPrintable, bytes);
}

std::vector<std::string> raw_lines(std::string_view bytes) {
  return encode_whole(LineEncoder::Kind::Raw, bytes);
}

std::vector<std::string> encoded_lines(std::string_view bytes, std::string_view encoding) {
  return encode_whole(LineEncoder::KindOf(encoding), bytes);
}

// ---------------------------------------------------------------------------------------------
// Header texts

String header_value(StringView text) {
  String result(text);
  for (char16_t& c : result)
    if (c == u'\r' || c == u'\n') c = u' ';
  return result;
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
    out += prefix + base64_encode(word) + "?=";
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

bool header_mailbox(const TQNIEMailAddress& item, std::string_view charset, std::string& out, bool utf8) {
  const std::string address = wire_address(item.Address(), utf8);
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
                         std::string& out, bool utf8) {
  out.clear();
  std::size_t lineLength = prefixLength;
  for (int i = 0; i < list.Count(); ++i) {
    std::string mailbox;
    if (!header_mailbox(*list.Items(i), charset, mailbox, utf8)) return false;
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

// ---------------------------------------------------------------------------------------------
// Dates

String zone_text(Integer bias) {
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

// ---------------------------------------------------------------------------------------------
// The message

namespace {

// The header lines from Message-Id to MIME-Version, in the order the message carries them.
void put_headers(const MessageParts& p, const std::string& charset, std::vector<std::string>& d) {
  const String charsetName = FromBytes(charset);
  const auto mailboxes = [&](const TQNIEMailAddresses& list, const char* prefix) {
    std::string text;
    if (!header_mailbox_list(list, charset, std::string_view(prefix).size(), text, p.Utf8Addresses))
      fail(charset_error(u"A display name", charsetName));
    d.push_back(prefix + text);
  };
  d.push_back("Message-Id: " + ToBytes(header_value(p.MessageId)));
  if (p.ReplyTo->Count() > 0) {
    // RFC 5322 section 3.6 allows one Reply-To field; it carries the whole list.
    std::string line = "Reply-To: ";
    for (int i = 0; i < p.ReplyTo->Count(); ++i)
      line += (i > 0 ? ", <" : "<") + wire_address(p.ReplyTo->Items(i)->Address(), p.Utf8Addresses) + ">";
    d.push_back(line);
  }
  d.push_back("Date: " + ToBytes(p.Date));
  if (!p.From->Address().empty()) {
    std::string from;
    if (!header_mailbox(*p.From, charset, from, p.Utf8Addresses))
      fail(charset_error(u"The sender's name", charsetName));
    d.push_back("From: " + from);
  }
  if (p.Recipients->Count() > 0) mailboxes(*p.Recipients, "To: ");
  if (p.CC->Count() > 0) mailboxes(*p.CC, "Cc: ");
  d.push_back("X-Priority: " + std::to_string(p.Priority));
  d.push_back(kMailer);
  if (!p.Subject.empty()) {
    std::string subject;
    if (!header_text(p.Subject, charset, subject)) fail(charset_error(u"The subject", charsetName));
    d.push_back("Subject: " + subject);
  }
  d.push_back("MIME-Version: 1.0");
}

// The text part's lines, in the charset and the transfer encoding it announces.
std::vector<std::string> text_part(const MessageParts& p, const std::string& charset,
                                   const std::string& encoding) {
  std::vector<std::string> body, lines;
  for (int i = 0; i < p.Body->Count(); ++i) {
    std::string bytes;
    if (!in_charset(p.Body->Strings(i), p.CharSet, bytes))
      fail(charset_error(u"Body text", FromBytes(charset)));
    lines.push_back(std::move(bytes));
  }
  const String encodingName = FromBytes(encoding);
  if (SameText(encodingName, u"base64") || SameText(encodingName, u"quoted-printable")) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return encoded_lines(text, encoding);
  }
  for (const std::string& line : lines) {
    // A line holding line breaks of its own goes out as the lines it holds.
    if (line.find_first_of("\r\n") == std::string::npos)
      body.push_back(line);
    else
      for (std::string& piece : raw_lines(line)) body.push_back(std::move(piece));
  }
  return body;
}

Message::Attachment attachment_part(const MessageParts& p, const TQNIEMailAttachment& a,
                                    const std::string& charset, Message& m) {
  Message::Attachment part;
  std::string name;
  if (!header_text(a.GetAttachmentName(), charset, name))
    fail(charset_error(u"The attachment name " + a.GetAttachmentName(), FromBytes(charset)));
  // An empty type or encoding would make the header lines unreadable; base64 is the one
  // encoding that carries any file intact.
  const std::string type =
      a.ContentType().empty() ? "application/octet-stream" : ToBytes(header_value(a.ContentType()));
  part.Encoding = a.Encoding().empty() ? "base64" : part_encoding(ToBytes(header_value(a.Encoding())), p, m);
  part.Head.push_back("Content-Type: " + type + "; name=" + quoted_parameter(name));
  part.Head.push_back("Content-Transfer-Encoding: " + part.Encoding);
  part.Head.push_back("Content-Disposition: attachment; filename=" + quoted_parameter(name) + "\r\n");
  // Opened now, so a file that cannot be read stops the message before anything is sent.
  part.Read = p.OpenFile(a);
  return part;
}

}  // namespace

Message build_message(const MessageParts& p) {
  Message m;
  const std::string charset = ToBytes(header_value(p.CharSet));
  const auto envelope = [&](const TQNIEMailAddress& item) {
    m.Utf8 = m.Utf8 || (p.Utf8Addresses && !is_ascii(item.Address()));
    return wire_address(item.Address(), p.Utf8Addresses);
  };
  m.From = envelope(*p.From);
  for (const TQNIEMailAddresses* list : {p.Recipients, p.CC, p.BCC})
    for (int i = 0; i < list->Count(); ++i) m.Recipients.push_back(envelope(*list->Items(i)));
  for (int i = 0; i < p.ReplyTo->Count(); ++i) envelope(*p.ReplyTo->Items(i));

  auto& d = m.Data;
  put_headers(p, charset, d);
  const std::string encoding = part_encoding(ToBytes(header_value(p.Encoding)), p, m);
  std::vector<std::string> body = text_part(p, charset, encoding);

  const bool multipart = p.Attachments->Count() > 0;
  std::string delimiter;
  if (multipart) {
    const std::string boundary = pick_boundary({&d, &body});
    delimiter = "--" + boundary;
    d.push_back("Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
    d.push_back("\r\n" + delimiter);
  }
  d.push_back("Content-Type: Text/Plain; charset=" + charset);
  d.push_back("Content-Transfer-Encoding: " + encoding);
  d.push_back("");
  for (std::string& line : body) d.push_back(std::move(line));
  if (!multipart) return m;
  d.push_back(delimiter);
  for (int i = 0; i < p.Attachments->Count(); ++i) {
    Message::Attachment part = attachment_part(p, *p.Attachments->Items(i), charset, m);
    part.After = "\r\n" + delimiter + (i + 1 < p.Attachments->Count() ? "" : "--");
    m.Attachments.push_back(std::move(part));
  }
  return m;
}

void Message::Write(const LineSink& sink) const {
  for (const std::string& line : Data) sink(line);
  std::vector<char> block(kReadBlock);
  for (const Attachment& part : Attachments) {
    for (const std::string& line : part.Head) sink(line);
    LineEncoder encoder(LineEncoder::KindOf(part.Encoding));
    for (;;) {
      const std::size_t n = part.Read(block.data(), block.size());
      if (n == 0) break;
      encoder.Feed(std::string_view(block.data(), n), sink);
    }
    encoder.Finish(sink);
    sink(part.After);
  }
}

}  // namespace qninet::smtp
